// Decoding a message text with a loaded table, the rows carrying the table's field names.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "codec/CommandResult.h"
#include "codec/FieldStore.h"
#include "codec/FieldTable.h"

/// Decodes message texts with one table. The field buffers are sized from the table once and
/// reused for every message. The table must outlive the decoder and the rows it makes: the rows'
/// titles point into it.
class TableDecoder {
public:
    explicit TableDecoder(const FieldTable& table);
    TableDecoder(const TableDecoder&) = delete;
    TableDecoder& operator=(const TableDecoder&) = delete;

    /// Decodes a message text (hex, white space allowed). Ok with rows; Failed with "报文为空!"
    /// or "iso8583报文解析出错!" (where it stopped in result.failure, the rows decoded before
    /// it kept as partial rows). A framing length that fits is skipped.
    void Parse(std::string_view text, CommandResult& result);

    [[nodiscard]] const FieldTable& Table() const { return m_table; }

private:
    const FieldTable& m_table;
    std::vector<FieldAttr> m_attr;
    std::vector<std::uint8_t> m_fieldList;
    std::vector<FieldValue> m_value;
    FieldBufferArena m_arena;
};

/// Sets the title of every row named after a field of table (the message type row, the bitmap
/// row, and "Bit N" rows by the table's row prefix).
void AttachTitles(FieldRowList& rows, const FieldTable& table);
