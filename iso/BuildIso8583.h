// Building an ISO 8583 message from the rows of the field list: rows in, message bytes out.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "iso/CommandResult.h"
#include "codec/FieldTable.h"

/// The shipped table of a name (FieldTable::explainFrom), whose sub-fields place a form's
/// sub-rows; null: none.
using ExplainTableFn = const FieldTable* (*)(std::string_view name);

/// The message bytes built from rows, or why a row cannot be packed.
struct BuiltMessage {
    bool ok = false;
    std::string bytes;      ///< the whole message, framing included (ok)
    std::int32_t row = -1;  ///< index of the row that stopped the build; -1: none
    std::string reason;     ///< English, one phrase, naming the row
    std::vector<std::string> warnings;  ///< what was packed though it looks wrong (ok)
};

/// Packs rows into a message of the form `table` describes. Row texts are read in rowEncoding:
/// UTF-8 as the list and `parse-iso8583 --format json` show them, or code page 936 as the
/// decoders give them; the length column is not read. A row's value is
/// taken from its hex part (before " -> "), unless a text part no longer matches the hex: then
/// the text, in code page 936, is the value. A variable field's hex may hold its length prefix
/// when the prefix agrees with the data; otherwise the prefix is computed from the data. The
/// bitmap is computed from the fields present; framing parts are written only when rows give
/// them; a Length part only when withLength, stating the bytes after it, as does a header member
/// filled with the total length. Rows with neither name nor value are passed over, as is the
/// summary row. A positional sub-row ("60.2", of the table's sub-fields or explainTable's for
/// its explainFrom) whose value differs from what its field's row gives rewrites that slot of
/// the field; two rows that rewrite one slot differently are refused, naming both. TLV sub-rows
/// are passed over: the field's row carries the bytes.
[[nodiscard]] BuiltMessage PackRows(std::span<const FieldRow> rows, const FieldTable& table,
                                    bool withLength,
                                    TextEncoding rowEncoding = TextEncoding::Utf8OrGbk,
                                    ExplainTableFn explainTable = nullptr);

/// The form "自动判断" builds: 128 fields when the rows hold a field above 64, a 16-byte "Bit 1"
/// or a row of the 128-field header's members, else 64 fields.
/// decidedBy (may be null): the index of the row that chose 128 fields.
[[nodiscard]] BuiltinForm ChooseBuiltinForm(std::span<const FieldRow> rows,
                                            std::size_t* decidedBy = nullptr);

/// The build command on a built-in form: interfaceType 0 automatic (with a length), 1 64 fields
/// and 2 128 fields (without). Ok: message holds the upper-case hex of the message and rows the
/// rows of decoding it again. Failed with "组包出错!", the row and reason in the detail (and in
/// failure.reason, with failure.field the row's index).
[[nodiscard]] CommandResult BuildIso8583FromRows(
    std::span<const FieldRow> rows, std::int32_t interfaceType,
    TextEncoding rowEncoding = TextEncoding::Utf8OrGbk, ExplainTableFn explainTable = nullptr);

/// The same on any table value: with a length when the table has a Length part; the message is
/// decoded again with the table.
[[nodiscard]] CommandResult BuildIso8583WithTable(
    std::span<const FieldRow> rows, const FieldTable& table,
    TextEncoding rowEncoding = TextEncoding::Utf8OrGbk, ExplainTableFn explainTable = nullptr);
