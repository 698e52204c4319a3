// Rendering command results for a terminal: the aligned row table and JSON texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "codec/FieldRow.h"
#include "codec/TextDecode.h"
#include "emv/TlvRows.h"

/// Appends bytes, decoded per encoding, as a JSON string literal; scratch is working space.
void AppendJsonText(std::string& out, std::string_view bytes, TextEncoding encoding,
                    std::string& scratch);

/// Appends the rows as a JSON array of {"name","length","value"} objects. The row of a TLV field
/// also carries "tlv":[{"tag","name","length","value","text","children":[…]}] made from its
/// sub-rows (tlv: their notes), and "tlvError":{"offset","reason"} when its data stops decoding.
void AppendRowsJson(std::string& out, const FieldRowList& rows, TextEncoding encoding,
                    std::string& scratch, std::span<const TlvRowNote> tlv = {});

/// Appends the TLV objects of the notes (all of one field, in row order) as a JSON array.
void AppendTlvJson(std::string& out, const FieldRowList& rows, std::span<const TlvRowNote> notes,
                   TextEncoding encoding, std::string& scratch);
/// Appends {"offset":K,"reason":"…"}.
void AppendTlvErrorJson(std::string& out, const TlvRowNote& error);

/// Columns a UTF-8 text takes in a terminal: wide East Asian characters 2, combining marks 0.
[[nodiscard]] std::size_t DisplayWidth(std::string_view utf8);

/// The rows as a table under the headings "域", "长度", "参数值", columns aligned by display
/// width, one line per row. Control characters of the texts show as '.'.
[[nodiscard]] std::string FormatRowsTable(const FieldRowList& rows, TextEncoding encoding);

/// Appends bytes as upper-case hex digits.
void AppendHex(std::string& out, std::span<const std::uint8_t> bytes);
