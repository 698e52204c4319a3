// The ISO 8583 parse command: message text and interface type in, rows or an error out.
#include "iso/ParseIso8583.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "emv/CardMask.h"
#include "codec/Conversions.h"
#include "codec/Engine.h"
#include "codec/Message.h"
#include "codec/Texts.h"
#include "emv/TlvRows.h"
#include "iso/ExplainRows.h"

namespace {

constexpr std::size_t kMaxMessageBytes = (kMaxMessageText + 1) / 2;

}  // namespace

namespace {

// The row of field e, from row `from` on.
std::size_t FieldRowIndex(const FieldRowList& rows, const FieldTable&, std::size_t e,
                          std::size_t from = 0) {
    for (std::size_t i = from; i < rows.size(); ++i) {
        if (rows[i].field == static_cast<std::int16_t>(e)) return i;
    }
    return rows.size();
}

// Lets fn change the value text of a row in place, its length kept.
template <typename Fn>
void EditRowValue(FieldRow& row, Fn fn) {
    thread_local std::string text;
    text.assign(row.Value());
    fn(text.data(), text.size());
    SetRowText(row.value, text);
}

// The digit count a BCD field states: its fixed length, or its prefix.
std::size_t StatedDigits(const FieldDef& d, std::span<const std::uint8_t> s, std::size_t p) {
    if (d.fixed) return static_cast<std::size_t>(std::max(d.maxLen, 0));
    return static_cast<std::size_t>(std::max(ReadStatedLength(AttrOf(d), s.data(), p), 0));
}

// Card numbers hidden and TLV fields' sub-rows on the rows just built from values by table.
// tlvRows: sub-rows for the fields the table marks as TLV.
void ApplyRowOptions(const FieldTable& table, std::span<const FieldValue> values, bool tlvRows,
                     bool mask, CommandResult& result) {
    FieldRowList& rows = result.rows;
    const std::size_t fields = std::min(values.size(), table.fields.size());
    // Where a field's bytes stand in its row: the hex from byte hexFrom, the text from textFrom.
    struct Shown {
        std::span<const std::uint8_t> stored;
        std::size_t prefix, hexFrom, textFrom;
    };
    const auto shown = [&](std::size_t e) {
        const FieldValue& v = values[e];
        const FieldDef& d = table.fields[e];
        const std::size_t n =
            std::min(static_cast<std::size_t>(std::max(v.length, 0)), v.data.size());
        const std::span<const std::uint8_t> s(v.data.data(), n);
        const std::size_t p =
            d.fixed ? 0 : std::min(n, static_cast<std::size_t>(std::max(d.prefixBytes, 0)));
        const std::size_t textFrom = d.rowText == RowTextPart::None   ? SIZE_MAX
                                     : d.rowText == RowTextPart::Data ? p
                                                                      : 0;
        return Shown{s, p, d.rowHex == RowHex::Data ? p : 0, textFrom};
    };
    if (mask) {
        static constexpr std::pair<std::size_t, CardData> kCardFields[] = {
            {2, CardData::Pan}, {35, CardData::Track2}, {36, CardData::Track3}};
        for (const auto& card : kCardFields) {
            const std::size_t e = card.first;
            const CardData kind = card.second;
            if (e >= fields || values[e].length <= 0 || !table.fields[e].Defined()) continue;
            const std::size_t at = FieldRowIndex(rows, table, e);
            if (at == rows.size()) continue;
            const Shown f = shown(e);
            const FieldDef& d = table.fields[e];
            const bool bcd = d.enc == DataEnc::Bcd;
            const MaskedValue v{f.stored,
                                f.prefix,
                                f.stored.size(),
                                bcd,
                                bcd ? StatedDigits(d, f.stored, f.prefix) : 0,
                                f.textFrom,
                                f.hexFrom};
            EditRowValue(rows[at],
                         [&](char* text, std::size_t n) { MaskValueText(text, n, v, kind); });
        }
    }
    if (!tlvRows && !mask) return;
    std::size_t searchFrom = 0;
    for (std::size_t e = 2; e < fields; ++e) {
        // Masking promises card data hidden whatever the table says: chip card data is read
        // as TLV for it even when the table does not mark the field.
        const bool tlv = table.fields[e].tlv;
        if (!(tlv || (mask && IsChipCardDataField(e))) || values[e].length <= 0) continue;
        const std::size_t at = FieldRowIndex(rows, table, e, searchFrom);
        if (at == rows.size()) continue;
        const Shown f = shown(e);
        const std::span<const std::uint8_t> data = f.stored.subspan(f.prefix);
        thread_local TlvList list;
        DecodeTlv(data, list);
        if (mask) {
            EditRowValue(rows[at], [&](char* text, std::size_t n) {
                MaskTlvCardData(text, n, f.stored, f.hexFrom, f.prefix, f.textFrom, list);
            });
        }
        searchFrom = at + 1;
        if (!tlvRows || !tlv) continue;
        // The rows after the field's row make room for its sub-rows and follow them.
        thread_local FieldRowList tail;
        tail.assign(std::make_move_iterator(rows.begin() + static_cast<std::ptrdiff_t>(at + 1)),
                    std::make_move_iterator(rows.end()));
        rows.resize(at + 1);
        AppendTlvRows(rows, result.tlv, static_cast<std::uint32_t>(at), data, list, 1, mask);
        for (std::size_t i = at + 1; i < rows.size(); ++i) rows[i].parent = static_cast<std::int16_t>(e);
        searchFrom = rows.size();
        rows.insert(rows.end(), std::make_move_iterator(tail.begin()),
                    std::make_move_iterator(tail.end()));
    }
}

// Resets a result for reuse but keeps its rows, to be overwritten in place by a RowAppender
// started at 0 (which leaves exactly the rows it appends).
void ResetKeepingRows(CommandResult& result) {
    FieldRowList rows;
    rows.swap(result.rows);
    result.Reset();
    rows.swap(result.rows);
}


// Room for the rows of a decoded message, taken at once: a fresh result (a build's check
// decode) would otherwise move its rows, over 1 KiB each, every time the list grows.
void ReserveRows(Message& message, FieldRowList& rows) {
    if (rows.capacity() > 0) return;  // a reused result has its room already
    std::size_t frameRows = 2;  // the type and bitmap rows
    for (const FramePart& part : message.Table().frame) {
        frameRows += std::max<std::size_t>(part.members.size(), 1);
    }
    const std::span<const std::uint8_t> list = message.Fields().fieldList;
    std::size_t listed = 0;
    while (listed < list.size() && list[listed] != 0) ++listed;
    rows.reserve(frameRows + listed);
}

// Field titles from the table, by each row's field number.
void Titles(FieldRowList& rows, const FieldTable& table) {
    for (FieldRow& row : rows) {
        if (row.field >= 0 && static_cast<std::size_t>(row.field) < table.fields.size()) {
            row.title = table.fields[static_cast<std::size_t>(row.field)].name;
        }
    }
}

}  // namespace

FormChoice ChooseForm(const std::uint8_t* bytes, std::size_t readable, std::int64_t L,
                      int interfaceType) {
    // The length forms are the Length parts of the two built-in tables. A matching ASCII length
    // wins over a 64-field selection; the selection only decides whether the length is skipped.
    const FieldTable& t128 = BuiltinTable(BuiltinForm::kUnionPay128);
    const FieldTable& t64 = BuiltinTable(BuiltinForm::kUnionPay64);
    const auto states = [&](const FieldTable& t) {
        const FramePart& length = t.frame.front();
        return FrameTotal(length, 0, ReadLengthPart(length, bytes, readable)) == L;
    };
    const auto rule = [](bool skip) { return skip ? LengthRule::Present : LengthRule::Absent; };
    if (states(t128)) return {&t128, rule(interfaceType != kInterface128)};
    if (interfaceType == kInterface128) return {&t128, LengthRule::Absent};
    if (states(t64)) return {&t64, rule(interfaceType != kInterface64)};
    if (interfaceType == kInterface64) return {&t64, LengthRule::Absent};
    return {};
}

IsoParser::IsoParser() = default;
IsoParser::~IsoParser() = default;

Message& IsoParser::MessageFor(const FieldTable& table) {
    for (auto& m : m_messages) {
        if (&m->Table() == &table) return *m;
    }
    // A handful of forms at most: the built-in two and the request's table.
    if (m_messages.size() >= 4) m_messages.erase(m_messages.begin());
    m_messages.push_back(std::make_unique<Message>(table));
    return *m_messages.back();
}

void IsoParser::Parse(std::string_view text, const ParseRequest& request, CommandResult& result) {
    ResetKeepingRows(result);
    // Every path leaves exactly the rows appended here.
    RowAppender rows(result.rows, 0);
    if (request.table != nullptr && request.table->charset == "UTF-8") {
        result.rowEncoding = TextEncoding::Utf8OrGbk;
    }
    // Only an empty text counts as empty: white space alone goes on and fails later, if at all.
    if (!OpenMessageText(text, kTextIsoParseError, result)) return;
    std::uint8_t bytes[kMaxMessageBytes];
    const std::size_t stripped = MessageTextToBytes(text, bytes);
    // An odd last digit is not counted in the message length, though its byte (nF) is readable.
    const auto L = static_cast<std::int32_t>(stripped / 2);
    // Only the bytes that the decoding can reach are written: it reads nothing past `readable`
    // (the bytes of all digits, an odd last digit included), which stands for the zeros that
    // follow the message in a zero-filled buffer.
    const std::size_t readable = (stripped + 1) / 2;

    FormChoice form{request.table, LengthRule::Match};
    if (form.table == nullptr) {
        form = ChooseForm(bytes, readable, L, request.interfaceType);
        if (form.table == nullptr) {
            result.outcome = Outcome::NoLengthMatch;
            return;
        }
    }
    const FieldTable& table = *form.table;
    Message& message = MessageFor(table);
    const DecodeContext ctx{&result.failure, L, &result.warnings};
    const std::int32_t r = message.Decode(bytes, L, readable, form.length, ctx);
    const ParseOptions& options = request.options;
    const bool tlvRows = options.tlv || table.tlvRowsByDefault;
    // The table whose meanings explain the rows: its own, or the one it names.
    const FieldTable* explain = nullptr;
    if (options.explain || table.explainByDefault) {
        explain = &table;
        if (!table.explainFrom.empty() && options.explainTable != nullptr) {
            if (const FieldTable* from = options.explainTable(table.explainFrom)) explain = from;
        }
        if (!TableExplains(*explain)) explain = nullptr;
    }
    ReserveRows(message, result.rows);
    const auto finish = [&] {
        message.AppendRows(rows);
        rows.Finish();
        // Before the TLV sub-rows, whose notes count rows: these rows move them.
        if (explain != nullptr) {
            ExplainRows(table, *explain, message.Values(), options.mask, result.rows,
                        &result.warnings);
        }
        if (tlvRows || options.mask) {
            ApplyRowOptions(table, message.Values(), tlvRows, options.mask, result);
            if (explain != nullptr && tlvRows) ExplainTagRows(*explain, result.rows);
        }
        if (request.titles) Titles(result.rows, table);
    };
    if (r == -1) {
        if (result.failure.reason.empty()) result.failure.reason = "the message could not be decoded";
        result.Fail(kTextIsoParseError, result.failure.reason);
        result.failedRows = FailedRows::Partial;
        if (result.failure.field >= 0) finish();
        return;
    }
    const std::int64_t end = message.Found().cutTo >= 0 ? message.Found().cutTo : L;
    if (r > end) {
        result.warnings.push_back("the message is " + std::to_string(r - end) +
                                  " bytes shorter than its fields; they were read as zeros");
    }
    finish();
}

CommandResult ParseIso8583Text(std::string_view text, int interfaceType) {
    CommandResult r;
    ParseIso8583Text(text, interfaceType, r);
    return r;
}

void ParseIso8583Text(std::string_view text, int interfaceType, CommandResult& result) {
    ParseIso8583Text(text, interfaceType, ParseOptions{}, result);
}

void ParseIso8583Text(std::string_view text, int interfaceType, const ParseOptions& options,
                      CommandResult& result) {
    // Building a message (its field buffers) costs as much as decoding one, so each thread keeps
    // one parser for the two built-in forms. Only they go through it: their tables are fixed for
    // the program's life, and every decode clears what the last one left.
    thread_local IsoParser builtinForms;
    builtinForms.Parse(text, ParseRequest{interfaceType, nullptr, options, false}, result);
}

void AttachTitles(FieldRowList& rows, const FieldTable& table) { Titles(rows, table); }

TableDecoder::TableDecoder(const FieldTable& table) : m_table(table) {}

TableDecoder::~TableDecoder() = default;

void TableDecoder::Parse(std::string_view text, CommandResult& result,
                         const ParseOptions& options) {
    m_parser.Parse(text, ParseRequest{kInterfaceAuto, &m_table, options, true}, result);
}

void ParseIso8583WithTable(std::string_view text, const FieldTable& table, CommandResult& result) {
    ParseIso8583WithTable(text, table, ParseOptions{}, result);
}

void ParseIso8583WithTable(std::string_view text, const FieldTable& table,
                           const ParseOptions& options, CommandResult& result) {
    IsoParser parser;
    parser.Parse(text, ParseRequest{kInterfaceAuto, &table, options, true}, result);
}

CommandResult ParseIso8583WithTable(std::string_view text, const FieldTable& table) {
    CommandResult r;
    ParseIso8583WithTable(text, table, r);
    return r;
}
