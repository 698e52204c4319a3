// What a decoded message means: the meanings of field values, positional sub-rows and the summary
// row, from a table's dictionaries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "codec/FieldRow.h"
#include "codec/FieldStore.h"
#include "codec/FieldTable.h"

/// Whether a table has anything to explain: meanings, sub-fields or transaction rules.
[[nodiscard]] bool TableExplains(const FieldTable& table);

/// A field's value as its dictionary compares it: the digits of BCD data (as many as the field
/// states), the characters of text, the hex of binary data. Empty for an absent field.
[[nodiscard]] std::string FieldValueText(const FieldDef& def, const FieldValue& value);

/// Adds to the rows of a message decoded with `table` what `source`'s fields say (source is table
/// itself, or the table named by its explainFrom): ": meaning" after each value that has one,
/// positional sub-rows after their field's row, and the summary row "交易" first when source
/// names transactions. With mask, the card fields (2, 35, 36) get no sub-rows or meanings and
/// the summary's card shows 6 + 4 digits only. Rows point into source, which outlives them.
/// What cannot be read of tagged sub-fields goes to warnings (when given), one line each.
void ExplainRows(const FieldTable& table, const FieldTable& source,
                 std::span<const FieldValue> values, bool mask, FieldRowList& rows,
                 std::vector<std::string>* warnings = nullptr);

/// The sub-fields of one field: how they open and which they are.
struct SubLayout {
    const TagSpec* tag = nullptr;
    const std::vector<SubField>* subfields = nullptr;
};

/// The sub-fields source gives field (which must have an explanation) in this message: those of
/// the first conditional layout whose tests all hold, else the field's own. depth counts layout
/// tests that read another field's sub-fields, which stop one level down.
[[nodiscard]] SubLayout ChooseSubLayout(const FieldTable& table, const FieldTable& source,
                                        std::span<const FieldValue> values, std::size_t field,
                                        int depth = 0);

/// Meanings of the TLV sub-rows that hold a country code (9F1A, 5F28) from source's country
/// list (field 19's values), so that one list serves the field and the tags.
void ExplainTagRows(const FieldTable& source, FieldRowList& rows);

/// A row's value without the meaning a decode put after it (": " and one of values' meanings).
[[nodiscard]] std::string_view WithoutMeaning(const std::vector<ValueMeaning>& values,
                                              std::string_view value);

/// The edit of one positional sub-row: its path ("60.2") and the value its row shows (a meaning
/// after ": " is dropped).
struct SubRowEdit {
    std::size_t row = 0;  ///< index of the row, for messages
    std::string path;
    std::string value;
    std::int8_t edited = -1;  ///< the row's FieldRow::edited
};

/// Field def's data rewritten by the sub-rows that differ from it: a positional one replaces its
/// slot, a tagged one its value and length. layout: the field's sub-fields in this message
/// (ChooseSubLayout). data is the field's value as FieldValueText gives it and becomes the new
/// one (same form). False with why (and failedRow, the row's index; otherRow the index of a row
/// it disagrees with, or SIZE_MAX) when a sub-row names no sub-field, does not fit, or disagrees
/// with another. changed: whether anything was rewritten.
[[nodiscard]] bool RewriteSubFields(const FieldDef& def, std::int32_t field, SubLayout layout,
                                    std::span<const SubRowEdit> edits, std::string& data,
                                    bool& changed, std::size_t& failedRow, std::size_t& otherRow,
                                    std::string& why);
