// The ISO 8583 parse command: message text and interface type in, rows or an error out.
#include "codec/ParseIso8583.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "codec/Conversions.h"
#include "codec/Engine.h"
#include "codec/PosPack.h"
#include "codec/PosPackExt.h"
#include "codec/Rows.h"
#include "codec/Texts.h"

namespace {

constexpr std::size_t kMaxMessageBytes = (kMaxMessageText + 1) / 2;

}  // namespace

std::size_t MessageTextToBytes(std::string_view text, std::uint8_t* bytes) {
    return HexTextToBytes(text.substr(0, std::min(text.size(), kMaxMessageText)), bytes);
}

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

// Decodes with the object; on failure the result says where it stopped and keeps the rows
// decoded before it. A message shorter than its fields decodes with zeros for the missing bytes,
// with a warning.
template <typename Pack>
void Decode(Pack& pack, std::uint8_t hasLengthPrefix, const std::uint8_t* bytes, std::int32_t L,
            std::size_t readable, CommandResult& result) {
    pack.m_hasLengthPrefix = hasLengthPrefix;
    const DecodeContext ctx{&result.failure, L, &result.warnings};
    const std::int32_t r = pack.UnpackReporting(bytes, L, readable, ctx);
    if (r == -1) {
        if (result.failure.reason.empty()) result.failure.reason = "the message could not be decoded";
        result.Fail(kTextIsoParseError, result.failure.reason);
        result.failedRows = FailedRows::Partial;
        if (result.failure.field >= 0) BuildRows(result.rows, pack);
        return;
    }
    if (r > L) {
        result.warnings.push_back("the message is " + std::to_string(r - L) +
                                  " bytes shorter than its fields; they were read as zeros");
    }
    BuildRows(result.rows, pack);
}

}  // namespace

CommandResult ParseIso8583Text(std::string_view text, int interfaceType) {
    CommandResult r;
    ParseIso8583Text(text, interfaceType, r);
    return r;
}

void ParseIso8583Text(std::string_view text, int interfaceType, CommandResult& result) {
    result.Reset();
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
            Decode(NewCupPosPackExt(), d.hasLengthPrefix, bytes, L, readable, result);
            return;
        case Choice::Cup64:
            Decode(NewCupPosPack(), d.hasLengthPrefix, bytes, L, readable, result);
            return;
    }
}

namespace {

// The working state for decoding with a table value; kept per thread and rebuilt only when the
// table differs from the last one (its buffers are sized from the table it was built for).
struct TableCodec {
    const FieldTable* table = nullptr;
    std::vector<FieldAttr> attrs;
    std::vector<std::uint8_t> fieldList;
    std::vector<FieldValue> values;
    FieldBufferArena arena;

    bool Matches(const FieldTable& t) const {
        if (table != &t) return false;
        if (attrs.size() != static_cast<std::size_t>(std::clamp(t.bitmap.bits, 0, 128)) + 1) {
            return false;
        }
        for (std::size_t f = 0; f < attrs.size(); ++f) {
            const FieldAttr now = f < t.fields.size() ? AttrOf(t.fields[f]) : FieldAttr{};
            if (!SameAttr(now, attrs[f])) return false;
        }
        return true;
    }
};

TableCodec& CodecFor(const FieldTable& table) {
    thread_local std::unique_ptr<TableCodec> codec;
    if (!codec || !codec->Matches(table)) {
        codec = std::make_unique<TableCodec>();
        codec->table = &table;
        codec->attrs = AttrsOf(table);
        codec->fieldList.assign(codec->attrs.size(), 0);
        codec->values.assign(codec->attrs.size(), FieldValue{});
        codec->arena.Reserve(codec->attrs, codec->values);
    }
    ClearValues(codec->values);
    std::fill(codec->fieldList.begin(), codec->fieldList.end(), std::uint8_t{0});
    return *codec;
}

void AppendTableRows(CommandResult& result, const FieldTable& table, const TableCodec& codec,
                     const FrameFound& found, const std::uint8_t* bytes, std::size_t readable) {
    std::vector<std::uint8_t> part;
    for (std::size_t i = 0; i < table.frame.size() && i < kMaxFrameParts; ++i) {
        if (!found.present[i]) continue;
        const FramePart& p = table.frame[i];
        part.assign(static_cast<std::size_t>(std::max(p.bytes, 0)), 0);
        const auto at = static_cast<std::size_t>(found.offset[i]);
        for (std::size_t k = 0; k < part.size() && at + k < readable; ++k) part[k] = bytes[at + k];
        AppendFrameRows(result.rows, p, part.data());
    }
    AppendBodyRows(result.rows, table, codec.attrs, codec.fieldList, codec.values);
}

}  // namespace

void ParseIso8583WithTable(std::string_view text, const FieldTable& table, CommandResult& result) {
    result.Reset();
    if (table.charset == "UTF-8") result.rowEncoding = TextEncoding::Utf8OrGbk;
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

    TableCodec& codec = CodecFor(table);
    FrameFound found;
    const DecodeContext ctx{&result.failure, L, &result.warnings};
    const FieldSet set{codec.attrs, codec.fieldList, codec.values, codec.arena};
    const std::int32_t r =
        UnpackFramed(table, set, bytes, L, readable, LengthRule::Match, found, ctx);
    if (r == -1) {
        if (result.failure.reason.empty()) result.failure.reason = "the message could not be decoded";
        result.Fail(kTextIsoParseError, result.failure.reason);
        result.failedRows = FailedRows::Partial;
        if (result.failure.field >= 0) {
            AppendTableRows(result, table, codec, found, bytes, readable);
        }
        return;
    }
    const std::int64_t end = found.cutTo >= 0 ? found.cutTo : L;
    if (r > end) {
        result.warnings.push_back("the message is " + std::to_string(r - end) +
                                  " bytes shorter than its fields; they were read as zeros");
    }
    AppendTableRows(result, table, codec, found, bytes, readable);
}

CommandResult ParseIso8583WithTable(std::string_view text, const FieldTable& table) {
    CommandResult r;
    ParseIso8583WithTable(text, table, r);
    return r;
}
