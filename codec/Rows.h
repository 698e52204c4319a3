// Rows of decoded 64-field and 128-field messages.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/FieldRow.h"

class CCupPosPack;
class CCupPosPackExt;

/// Appends "TPDU", "Header", "Type", "Bit 1" and one "Bit %d" row per present field; returns 0.
std::int32_t BuildRows(FieldRowList& rows, const CCupPosPack& pack);
/// Appends the header rows, "MsgType", "Bit 1" and one "Bit %d" row per present field; returns 0.
std::int32_t BuildRows(FieldRowList& rows, const CCupPosPackExt& pack);

/// Writes the value text, whole: the hex of bytes, then, when text is not null, " -> " and the
/// bytes of text before its first zero byte, unchanged.
void SetHexValue(FieldRow& row, const std::uint8_t* bytes, std::size_t n,
                 const std::uint8_t* text = nullptr, std::size_t textLen = 0);
