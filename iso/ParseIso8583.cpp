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
#include "codec/PosPack.h"
#include "codec/PosPackExt.h"
#include "codec/Rows.h"
#include "codec/Texts.h"
#include "emv/TlvRows.h"

namespace {

constexpr std::size_t kMaxMessageBytes = (kMaxMessageText + 1) / 2;

}  // namespace

namespace {

enum class Choice { None, Ext128, Cup64 };

struct Decision {
    Choice object = Choice::None;
    std::uint8_t hasLengthPrefix = 1;
};

constexpr std::uint8_t LengthFlag(bool skipLength) { return skipLength ? 1 : 0; }

// Picks the object by the message's length form and the interface type. A matching ASCII length
// wins over a 64-field selection; the selection only decides whether the length is skipped.
Decision Choose(const std::uint8_t* bytes, std::size_t readable, std::int64_t L,
                int interfaceType) {
    // The length forms are the Length parts of the two built-in tables.
    const FramePart& ascii = BuiltinTable(BuiltinForm::kUnionPay128).frame[0];
    const FramePart& binary = BuiltinTable(BuiltinForm::kUnionPay64).frame[0];
    const std::int64_t asciiLength = ReadLengthPart(ascii, bytes, readable);
    const std::int64_t binaryLength = ReadLengthPart(binary, bytes, readable);

    if (asciiLength == L - ascii.bytes) return {Choice::Ext128, LengthFlag(interfaceType != 2)};
    if (interfaceType == 2) return {Choice::Ext128, 0};
    if (binaryLength == L - binary.bytes) return {Choice::Cup64, LengthFlag(interfaceType != 1)};
    if (interfaceType == 1) return {Choice::Cup64, 0};
    return {};
}

// The command decodes with an object in the state of a new one. Building one (its table and its
// field buffers) costs about as much as decoding a message, so each thread keeps one object of
// each kind and puts it back into that state before every use: all stored lengths 0, no TPDU or
// header, an empty field list. Decoding and the rows read no buffer byte that the same run did
// not write, so the stale bytes behind the stored lengths are never seen.
CCupPosPack& NewCupPosPack() {
    thread_local CCupPosPack pack;
    pack.Clear();
    pack.m_hasTpdu = 0;
    pack.m_fieldList.fill(0);
    return pack;
}

CCupPosPackExt& NewCupPosPackExt() {
    thread_local CCupPosPackExt pack;
    pack.Clear();
    pack.m_hasHeader = 0;
    pack.m_fieldList.fill(0);
    return pack;
}


// The row of field e, from row `from` on: the table's row name prefix and the field number.
std::size_t FieldRowIndex(const FieldRowList& rows, const FieldTable& table, std::size_t e,
                          std::size_t from = 0) {
    const std::string want = table.fieldRowPrefix + std::to_string(e);
    for (std::size_t i = from; i < rows.size(); ++i) {
        if (rows[i].Name() == want) return i;
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
    std::size_t n = 0;
    for (std::size_t i = 0; i < p; ++i) {
        switch (d.prefixEnc) {
            case PrefixEnc::Bcd:
                n = n * 100 + (s[i] >> 4) * 10 + (s[i] & 0x0F);
                break;
            case PrefixEnc::Ascii:
                n = n * 10 + static_cast<std::size_t>(s[i] - '0');
                break;
            case PrefixEnc::Binary:
                n = n * 256 + s[i];
                break;
        }
    }
    return n;
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
        searchFrom = rows.size();
        rows.insert(rows.end(), std::make_move_iterator(tail.begin()),
                    std::make_move_iterator(tail.end()));
    }
}

template <typename Pack>
void ApplyRowOptions(const Pack& pack, const ParseOptions& options, CommandResult& result) {
    const FieldTable& table =
        BuiltinTable(std::is_same_v<Pack, CCupPosPackExt> ? BuiltinForm::kUnionPay128
                                                          : BuiltinForm::kUnionPay64);
    ApplyRowOptions(table, pack.m_value, options.tlv, options.mask, result);
}

// Decodes with the object; on failure the result says where it stopped and keeps the rows
// decoded before it. A message shorter than its fields decodes with zeros for the missing bytes,
// with a warning.
template <typename Pack>
void Decode(Pack& pack, std::uint8_t hasLengthPrefix, const std::uint8_t* bytes, std::int32_t L,
            std::size_t readable, const ParseOptions& options, CommandResult& result,
            RowAppender& rows) {
    pack.m_hasLengthPrefix = hasLengthPrefix;
    const DecodeContext ctx{&result.failure, L, &result.warnings};
    const std::int32_t r = pack.UnpackReporting(bytes, L, readable, ctx);
    if (r == -1) {
        if (result.failure.reason.empty()) result.failure.reason = "the message could not be decoded";
        result.Fail(kTextIsoParseError, result.failure.reason);
        result.failedRows = FailedRows::Partial;
        if (result.failure.field >= 0) {
            BuildRows(rows, pack);
            rows.Finish();
            if (options.tlv || options.mask) ApplyRowOptions(pack, options, result);
        }
        return;
    }
    if (r > L) {
        result.warnings.push_back("the message is " + std::to_string(r - L) +
                                  " bytes shorter than its fields; they were read as zeros");
    }
    BuildRows(rows, pack);
    rows.Finish();
    if (options.tlv || options.mask) ApplyRowOptions(pack, options, result);
}

// Resets a result for reuse but keeps its rows, to be overwritten in place by a RowAppender
// started at 0 (which leaves exactly the rows it appends).
void ResetKeepingRows(CommandResult& result) {
    FieldRowList rows;
    rows.swap(result.rows);
    result.Reset();
    rows.swap(result.rows);
}

}  // namespace

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
    ResetKeepingRows(result);
    // Every path leaves exactly the rows appended here.
    RowAppender rows(result.rows, 0);
    // Only an empty text counts as empty: white space alone goes on and fails later, if at all.
    if (text.empty()) {
        result.Fail(kTextMessageEmpty);
        return;
    }
    if (text.size() > kMaxMessageText) {
        result.Fail(kTextIsoParseError,
                    "message text longer than " + std::to_string(kMaxMessageText) + " characters");
        return;
    }

    std::uint8_t bytes[kMaxMessageBytes];
    const std::size_t stripped = MessageTextToBytes(text, bytes);
    // An odd last digit is not counted in the message length, though its byte (nF) is readable.
    const auto L = static_cast<std::int32_t>(stripped / 2);
    // Only the bytes that the decoding can reach are written: it reads nothing past `readable`
    // (the bytes of all digits, an odd last digit included), which stands for the zeros that
    // follow the message in a zero-filled buffer.
    const std::size_t readable = (stripped + 1) / 2;

    const Decision d = Choose(bytes, readable, L, interfaceType);
    switch (d.object) {
        case Choice::None:
            result.outcome = Outcome::NoLengthMatch;
            return;
        case Choice::Ext128:
            Decode(NewCupPosPackExt(), d.hasLengthPrefix, bytes, L, readable, options, result, rows);
            return;
        case Choice::Cup64:
            Decode(NewCupPosPack(), d.hasLengthPrefix, bytes, L, readable, options, result, rows);
            return;
    }
}

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

// Tables from files mark their TLV fields to have them decoded; the built-in tables mark field
// 55 too, but their rows stay as they are unless the sub-rows are asked for.
bool IsBuiltinTable(const FieldTable& table) {
    return &table == &BuiltinTable(BuiltinForm::kUnionPay64) ||
           &table == &BuiltinTable(BuiltinForm::kUnionPay128) ||
           &table == &BuiltinTable(BuiltinForm::kTrade);
}

TableDecoder::TableDecoder(const FieldTable& table)
    : m_table(table), m_builtin(IsBuiltinTable(table)) {
    m_attrs = AttrsOf(m_table);
    m_fieldList.assign(m_attrs.size(), 0);
    m_values.assign(m_attrs.size(), FieldValue{});
    m_arena.Reserve(m_attrs, m_values);
}

TableDecoder::~TableDecoder() = default;

void TableDecoder::Parse(std::string_view text, CommandResult& result,
                         const ParseOptions& options) {
    ResetKeepingRows(result);
    RowAppender rows(result.rows, 0);
    if (m_table.charset == "UTF-8") result.rowEncoding = TextEncoding::Utf8OrGbk;
    if (text.empty()) {
        result.Fail(kTextMessageEmpty);
        return;
    }
    if (text.size() > kMaxMessageText) {
        result.Fail(kTextIsoParseError,
                    "message text longer than " + std::to_string(kMaxMessageText) + " characters");
        return;
    }
    std::uint8_t bytes[kMaxMessageBytes];
    const std::size_t stripped = MessageTextToBytes(text, bytes);
    const auto L = static_cast<std::int32_t>(stripped / 2);
    const std::size_t readable = (stripped + 1) / 2;

    ClearValues(m_values);
    std::fill(m_fieldList.begin(), m_fieldList.end(), std::uint8_t{0});
    FrameFound found;
    const DecodeContext ctx{&result.failure, L, &result.warnings};
    const FieldSet set{m_attrs, m_fieldList, m_values, m_arena};
    const std::int32_t r =
        UnpackFramed(m_table, set, bytes, L, readable, LengthRule::Match, found, ctx);
    const auto appendRows = [&]() {
        for (std::size_t i = 0; i < m_table.frame.size() && i < kMaxFrameParts; ++i) {
            if (!found.present[i]) continue;
            const FramePart& p = m_table.frame[i];
            m_part.assign(static_cast<std::size_t>(std::max(p.bytes, 0)), 0);
            const auto at = static_cast<std::size_t>(found.offset[i]);
            for (std::size_t k = 0; k < m_part.size() && at + k < readable; ++k) {
                m_part[k] = bytes[at + k];
            }
            AppendFrameRows(rows, p, m_part.data());
        }
        AppendBodyRows(rows, m_table, m_attrs, m_fieldList, m_values);
    };
    if (r == -1) {
        if (result.failure.reason.empty()) result.failure.reason = "the message could not be decoded";
        result.Fail(kTextIsoParseError, result.failure.reason);
        result.failedRows = FailedRows::Partial;
        if (result.failure.field >= 0) {
            appendRows();
            rows.Finish();
            if (options.tlv || options.mask || !m_builtin) {
                ApplyRowOptions(m_table, m_values, options.tlv || !m_builtin, options.mask, result);
            }
            AttachTitles(result.rows, m_table);
        }
        return;
    }
    const std::int64_t end = found.cutTo >= 0 ? found.cutTo : L;
    if (r > end) {
        result.warnings.push_back("the message is " + std::to_string(r - end) +
                                  " bytes shorter than its fields; they were read as zeros");
    }
    appendRows();
    rows.Finish();
    if (options.tlv || options.mask || !m_builtin) {
        ApplyRowOptions(m_table, m_values, options.tlv || !m_builtin, options.mask, result);
    }
    AttachTitles(result.rows, m_table);
}

void ParseIso8583WithTable(std::string_view text, const FieldTable& table, CommandResult& result) {
    ParseIso8583WithTable(text, table, ParseOptions{}, result);
}

void ParseIso8583WithTable(std::string_view text, const FieldTable& table,
                           const ParseOptions& options, CommandResult& result) {
    // One decoder per thread for the table last used; a different table, or the same one with
    // changed fields, gets a new one.
    thread_local const FieldTable* last = nullptr;
    thread_local std::unique_ptr<TableDecoder> decoder;
    bool same = decoder != nullptr && last == &table &&
                decoder->Table().fields.size() == table.fields.size() &&
                decoder->Table().frame.size() == table.frame.size() &&
                decoder->Table().bitmap.bits == table.bitmap.bits &&
                decoder->Table().bitmap.secondary == table.bitmap.secondary &&
                decoder->Table().bitmap.enc == table.bitmap.enc;
    if (same) {
        const std::vector<FieldDef>& mine = decoder->Table().fields;
        for (std::size_t f = 0; same && f < mine.size(); ++f) {
            same = SameAttr(AttrOf(mine[f]), AttrOf(table.fields[f]));
        }
    }
    if (!same) {
        decoder = std::make_unique<TableDecoder>(table);
        last = &table;
    }
    decoder->Parse(text, result, options);
}

CommandResult ParseIso8583WithTable(std::string_view text, const FieldTable& table) {
    CommandResult r;
    ParseIso8583WithTable(text, table, r);
    return r;
}
