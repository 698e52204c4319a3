// Decoding a message text with a loaded table, the rows carrying the table's field names.
#include "tables/TableParse.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

#include "codec/Engine.h"
#include "codec/ParseIso8583.h"
#include "codec/Texts.h"
#include "tables/TableCheck.h"

void AttachTitles(FieldRowList& rows, const FieldTable& table) {
    const std::string_view prefix = table.fieldRowPrefix;
    const std::size_t count = table.fields.size();
    for (FieldRow& row : rows) {
        const std::string_view name = row.Name();
        // Field rows first ("Bit 1" is the bitmap's); rows are built for every message, so the
        // number is read without a general conversion.
        std::size_t field = count;
        if (name.size() > prefix.size() && name.size() <= prefix.size() + 3 &&
            name.compare(0, prefix.size(), prefix) == 0) {
            field = 0;
            for (std::size_t i = prefix.size(); i < name.size(); ++i) {
                const auto digit = static_cast<unsigned char>(name[i] - '0');
                if (digit > 9) {
                    field = count;
                    break;
                }
                field = field * 10 + digit;
            }
        } else if (name == table.typeRow.name) {
            field = 0;
        } else if (name == table.bitmapRow.name) {
            field = 1;
        }
        if (field < count) row.title = table.fields[field].name;
    }
}

TableDecoder::TableDecoder(const FieldTable& table)
    : m_table(table),
      m_attr(AttrsOf(table)),
      m_fieldList(m_attr.size(), 0),
      m_value(m_attr.size()) {
    m_arena.Reserve(m_attr, m_value);
}

void TableDecoder::Parse(std::string_view text, CommandResult& result) {
    result.Reset();
    result.rowEncoding = m_table.charset == "UTF-8" ? TextEncoding::Utf8OrGbk : TextEncoding::Gbk;
    if (text.empty()) {
        result.Fail(kTextMessageEmpty);
        return;
    }
    if (text.size() > kMaxMessageText) {
        result.Fail(kTextIsoParseError,
                    "message text longer than " + std::to_string(kMaxMessageText) + " characters");
        return;
    }
    std::uint8_t bytes[(kMaxMessageText + 1) / 2];
    const std::size_t digits = MessageTextToBytes(text, bytes);
    const auto len = static_cast<std::int32_t>(digits / 2);
    const std::size_t readable = (digits + 1) / 2;

    ClearValues(m_value);
    std::fill(m_fieldList.begin(), m_fieldList.end(), std::uint8_t{0});
    const FieldSet set{m_attr, m_fieldList, m_value, m_arena};
    const DecodeContext ctx{&result.failure, len, &result.warnings};
    FrameFound found;
    const std::int32_t r =
        UnpackFramed(m_table, set, bytes, len, readable, LengthRule::Match, found, ctx);

    // Rows of the framing parts found; bytes past the message show as zeros.
    for (std::size_t i = 0; i < m_table.frame.size() && i < kMaxFrameParts; ++i) {
        if (!found.present[i]) continue;
        const FramePart& part = m_table.frame[i];
        const auto at = static_cast<std::size_t>(found.offset[i]);
        const auto width = static_cast<std::size_t>(std::max(part.bytes, 0));
        if (at + width <= readable) {
            AppendFrameRows(result.rows, part, bytes + at);
            continue;
        }
        std::array<std::uint8_t, kMaxFrameBytes> partBytes{};
        if (width > partBytes.size()) continue;
        if (at < readable) {
            std::memcpy(partBytes.data(), bytes + at,
                        std::min({width, partBytes.size(), readable - at}));
        }
        AppendFrameRows(result.rows, part, partBytes.data());
    }
    if (r == -1) {
        if (result.failure.reason.empty()) {
            result.failure.reason = "the message could not be decoded";
        }
        result.Fail(kTextIsoParseError, result.failure.reason);
        result.failedRows = FailedRows::Partial;
        if (result.failure.field >= 0) {
            AppendBodyRows(result.rows, m_table, m_attr, m_fieldList, m_value);
        }
    } else {
        const std::int64_t decoded = found.cutTo >= 0 ? found.cutTo : len;
        if (r > decoded) {
            result.warnings.push_back("the message is " + std::to_string(r - decoded) +
                                      " bytes shorter than its fields; they were read as zeros");
        }
        AppendBodyRows(result.rows, m_table, m_attr, m_fieldList, m_value);
    }
    AttachTitles(result.rows, m_table);
}
