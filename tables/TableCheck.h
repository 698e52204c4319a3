// Checks and completions that every loaded table goes through, whatever its file form.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "codec/FieldTable.h"

/// The largest length a field of a loaded table may have (a message holds at most 5120 bytes).
inline constexpr std::int32_t kMaxFieldLength = 9999;
/// The largest framing part, and the largest offset a detection test may look at.
inline constexpr std::int32_t kMaxFrameBytes = 256;
/// The longest separator between two fields of a MAC input text.
inline constexpr std::size_t kMaxMacSeparator = 8;

/// The largest length a variable field's prefix can state: 99 for LL, 999 for LLL, 9999 for
/// LLLL, 255 for a 1-byte binary prefix, 65535 for a 2-byte one.
[[nodiscard]] std::int32_t PrefixCapacity(const FieldDef& f);

/// Reports a length that the field's prefix cannot state; where names the field.
void CheckFieldLength(const FieldDef& f, const std::string& where,
                      std::vector<std::string>& problems);

/// The rows a loaded table shows unless it says otherwise: "Type" with the digit count, the
/// type's bytes as hex, and as text too when it is ASCII; "Bit 1" with the bitmap as stored.
void DefaultHeadRows(FieldTable& t, bool typeGiven, bool bitmapGiven);

/// Checks what only the whole table can show (the message type defined and fixed, a length
/// part first or after markers only, markers with their bytes, a trailer of markers and one
/// check byte last whose range starts inside the framing, detection tests inside the framing)
/// and fills the bitmap's entry.
void CompleteTable(FieldTable& t, std::vector<std::string>& problems);
