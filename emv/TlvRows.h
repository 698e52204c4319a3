// Sub-rows of TLV data (chip card data of field 55): one row per object, indented by nesting.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "codec/FieldRow.h"
#include "emv/Tlv.h"

/// What a TLV sub-row is, beyond its texts: enough for the JSON form and for tooltips.
struct TlvRowNote {
    std::uint32_t row = 0;       // the sub-row, an index into the rows
    std::uint32_t fieldRow = 0;  // the row of the field whose data it decodes; kNoFieldRow: none
    std::uint8_t depth = 0;      // 0: the top level of the data
    bool error = false;          // the row that says where decoding stopped
    std::uint32_t nameAt = 0;    // where the name (code page 936) starts in the row value
    std::uint32_t textAt = 0;    // where the decoded value starts in the row value; 0: nothing
    std::uint32_t offset = 0;    // error row: the first tag byte of the object that failed
    std::string_view name;       // English name (empty for an unknown tag); error row: the reason
    std::string_view shownName;  // the name the row value shows, in UTF-8
    // Both names are the dictionary's texts, which need no escaping in JSON.
};
inline constexpr std::uint32_t kNoFieldRow = 0xFFFFFFFF;

/// Sub-rows show objects down to this depth; a constructed object at it says "nesting deeper
/// than 8 not expanded" instead of listing its children (whose faults are still reported).
inline constexpr std::uint8_t kTlvShownDepth = 8;

/// The field that carries chip card data (TLV) in every ISO 8583 form: masking reads it as TLV
/// whether or not a table marks it so.
constexpr bool IsChipCardDataField(std::size_t field) { return field == 55; }

/// The name of the row that ends the sub-rows of data that does not decode, code page 936.
[[nodiscard]] std::string_view TlvErrorRowName(std::size_t indent);

/// Appends one row per object of list (decoded from data) down to kTlvShownDepth and, when
/// decoding stopped, one error row; name: the tag, indented by 2 spaces per level (plus indent
/// levels), length: the value's byte count, value: its hex, " -> " and the explanation (names in
/// code page 936). With mask, the card numbers of 5A, 56, 57 and 9F6B show only their first 6
/// and last 4 digits in every row whose value holds them (templates included), and the bytes
/// from where decoding stopped are hidden whole.
void AppendTlvRows(FieldRowList& rows, std::vector<TlvRowNote>& notes, std::uint32_t fieldRow,
                   std::span<const std::uint8_t> data, const TlvList& list, std::size_t indent,
                   bool mask);

/// Hides the card numbers of 5A, 56, 57 and 9F6B (and the bytes from where decoding stopped, when
/// it stopped) in a field row's value text, whose hex shows stored from
/// byte hexFrom on (the TLV data begins at stored byte dataFrom) and whose text part, if any,
/// begins with stored byte textFrom (SIZE_MAX: none).
void MaskTlvCardData(char* value, std::size_t len, std::span<const std::uint8_t> stored,
                     std::size_t hexFrom, std::size_t dataFrom, std::size_t textFrom,
                     const TlvList& list);

/// Rows without the TLV sub-rows, and per TLV field row (index into the returned rows) the
/// sub-rows as lines of text (code page 936): what the window shows when they are folded.
struct FoldedRows {
    FieldRowList rows;
    std::vector<std::pair<std::size_t, std::string>> tips;
};
[[nodiscard]] FoldedRows FoldTlvRows(const FieldRowList& rows, std::span<const TlvRowNote> notes);
