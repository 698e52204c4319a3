// The ISO 8583 parse command: message text and interface type in, rows or an error out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "iso/CommandResult.h"
#include "codec/FieldStore.h"
#include "codec/FieldTable.h"

/// Interface types of the dialog's combo box.
enum InterfaceType : int { kInterfaceAuto = 0, kInterface64 = 1, kInterface128 = 2 };

/// Decodes a message text (hex, white space allowed) as a 64-field or 128-field message.
/// Ok with rows; Failed with "报文为空!" or "iso8583报文解析出错!"; NoLengthMatch in automatic mode
/// when neither length form fits.
[[nodiscard]] CommandResult ParseIso8583Text(std::string_view text, int interfaceType);
/// What the rows show beyond the fields themselves.
struct ParseOptions {
    bool tlv = false;   // field 55's tags as sub-rows after its row
    bool mask = false;  // card numbers (2, 35, 36, and 5A, 57 in 55) show 6 + 4 digits only
};
/// The parse command with options; with none set, the same rows as without.
void ParseIso8583Text(std::string_view text, int interfaceType, const ParseOptions& options,
                      CommandResult& result);
/// The same into a result that is reset first and whose capacity is reused (batch work).
void ParseIso8583Text(std::string_view text, int interfaceType, CommandResult& result);

/// Decodes a message text with any table value: its framing parts by their detection rules (a
/// Length part is there when its value counts the bytes after it), then type, bitmap and fields.
/// Ok with rows (field titles are the table's business, not the rows'); Failed with "报文为空!"
/// or "iso8583报文解析出错!", the failure detail and the rows decoded before the failure.
void ParseIso8583WithTable(std::string_view text, const FieldTable& table, CommandResult& result);
/// The same with row options. The fields a table marks as TLV get their sub-rows whatever the
/// options say, except in the built-in tables, whose rows stay as they are unless options.tlv.
void ParseIso8583WithTable(std::string_view text, const FieldTable& table,
                           const ParseOptions& options, CommandResult& result);
[[nodiscard]] CommandResult ParseIso8583WithTable(std::string_view text, const FieldTable& table);

/// Decodes many message texts with one table value, as ParseIso8583WithTable does: built once
/// from a copy of the table (buffers sized from it), so batch work pays for no checks of the
/// table per message.
class TableDecoder {
public:
    explicit TableDecoder(const FieldTable& table);
    TableDecoder(const TableDecoder&) = delete;
    TableDecoder& operator=(const TableDecoder&) = delete;
    ~TableDecoder();

    /// The result is reset first and its capacity reused; rows carry the field titles (pointing
    /// into this decoder's table). Fields the table marks as TLV get
    /// their sub-rows, except in a built-in table, whose rows stay as they are unless options.tlv.
    void Parse(std::string_view text, CommandResult& result, const ParseOptions& options = {});
    [[nodiscard]] const FieldTable& Table() const { return m_table; }

private:
    FieldTable m_table;
    std::vector<FieldAttr> m_attrs;
    std::vector<std::uint8_t> m_fieldList;
    std::vector<FieldValue> m_values;
    FieldBufferArena m_arena;
    std::vector<std::uint8_t> m_part;  // one framing part's bytes, for its rows
    bool m_builtin = false;            // made from one of the built-in tables
};

/// Sets the title of every row named after a field of table (the message type row, the bitmap
/// row, and "Bit N" rows by the table's row prefix); the titles point into the table.
void AttachTitles(FieldRowList& rows, const FieldTable& table);

