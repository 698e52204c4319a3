// What a decoded message means: the meanings of field values, positional sub-rows and the summary
// row, from a table's dictionaries.
#pragma once

#include <span>
#include <string>
#include <string_view>

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
void ExplainRows(const FieldTable& table, const FieldTable& source,
                 std::span<const FieldValue> values, bool mask, FieldRowList& rows);
