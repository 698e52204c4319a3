// Decoding a message text with a loaded table, the rows carrying the table's field names.
#include "tables/TableParse.h"

#include <charconv>

#include "codec/ParseIso8583.h"

void AttachTitles(FieldRowList& rows, const FieldTable& table) {
    const std::string_view prefix = table.fieldRowPrefix;
    for (FieldRow& row : rows) {
        const std::string_view name = row.Name();
        std::size_t field = table.fields.size();
        if (name == table.typeRow.name) {
            field = 0;
        } else if (name == table.bitmapRow.name) {
            field = 1;
        } else if (name.starts_with(prefix)) {
            const char* first = name.data() + prefix.size();
            const char* last = name.data() + name.size();
            const auto r = std::from_chars(first, last, field);
            if (r.ec != std::errc() || r.ptr != last) field = table.fields.size();
        }
        if (field < table.fields.size()) row.title = table.fields[field].name;
    }
}

void TableDecoder::Parse(std::string_view text, CommandResult& result) const {
    ParseIso8583WithTable(text, m_table, result);
    AttachTitles(result.rows, m_table);
}
