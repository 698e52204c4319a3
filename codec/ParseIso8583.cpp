// The ISO 8583 parse command: message text and interface type in, rows or an error out.
#include "codec/ParseIso8583.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>
#include <string>

#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#include <emmintrin.h>
#endif

#include "codec/Conversions.h"
#include "codec/Engine.h"
#include "codec/PosPack.h"
#include "codec/PosPackExt.h"
#include "codec/Rows.h"
#include "codec/Texts.h"

namespace {

constexpr std::size_t kMaxMessageBytes = (kMaxMessageText + 1) / 2;

bool IsHexDigit(unsigned char c) {
    return static_cast<unsigned char>(c - '0') < 10 ||
           static_cast<unsigned char>((c | 0x20) - 'a') < 6;
}

// The nibble of a hex digit, without a table: '0'..'9' keep their low bits, letters add 9.
std::uint8_t DigitValue(unsigned char c) {
    return static_cast<std::uint8_t>((c & 0x0F) + 9 * (c >> 6));
}

constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
constexpr std::uint64_t kHighs = 0x8080808080808080ULL;

// True when all 8 characters of x are hex digits; each byte is tested without carries between
// bytes, since every byte is below 0x80 before the additions.
bool AllHexDigits(std::uint64_t x) {
    if (x & kHighs) return false;
    const std::uint64_t ge0 = x + kOnes * (0x80 - '0');
    const std::uint64_t le9 = ~(x + kOnes * (0x7F - '9'));
    const std::uint64_t y = x | kOnes * 0x20;
    const std::uint64_t geA = y + kOnes * (0x80 - 'a');
    const std::uint64_t leF = ~(y + kOnes * (0x7F - 'f'));
    return (((ge0 & le9) | (geA & leF)) & kHighs) == kHighs;
}

// 8 hex digits (first digit in the lowest byte) to their 4 bytes, high nibble first.
std::uint32_t EightDigitsToBytes(std::uint64_t x) {
    const std::uint64_t v = (x & kOnes * 0x0F) + 9 * ((x >> 6) & kOnes);
    std::uint64_t t = ((v << 4) | (v >> 8)) & 0x00FF00FF00FF00FFULL;
    t = (t | (t >> 8)) & 0x0000FFFF0000FFFFULL;
    return static_cast<std::uint32_t>(t | (t >> 16));
}

// 8 characters with the first in the lowest byte, and 4 bytes stored lowest first.
std::uint64_t LoadLittle64(const unsigned char* p) {
    std::uint64_t x = 0;
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(&x, p, 8);
    } else {
        for (std::size_t k = 0; k < 8; ++k) x |= std::uint64_t{p[k]} << (8 * k);
    }
    return x;
}
void StoreLittle32(std::uint8_t* p, std::uint32_t v) {
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(p, &v, 4);
    } else {
        for (std::size_t k = 0; k < 4; ++k) p[k] = static_cast<std::uint8_t>(v >> (8 * k));
    }
}

#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
// 16 digits at a time while every character is a hex digit; returns the characters done.
std::size_t DecodeSixteenAtATime(const unsigned char* s, std::size_t n, std::uint8_t* bytes) {
    const __m128i below0 = _mm_set1_epi8('0' - 1);
    const __m128i above9 = _mm_set1_epi8('9' + 1);
    const __m128i belowA = _mm_set1_epi8('a' - 1);
    const __m128i aboveF = _mm_set1_epi8('f' + 1);
    const __m128i lower = _mm_set1_epi8(0x20);
    const __m128i lowNibble = _mm_set1_epi8(0x0F);
    const __m128i one = _mm_set1_epi8(1);
    const __m128i lowByte = _mm_set1_epi16(0x00FF);
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
        // Signed compares: bytes of 0x80 and above are negative and fail both ranges.
        const __m128i digit = _mm_and_si128(_mm_cmpgt_epi8(v, below0), _mm_cmpgt_epi8(above9, v));
        const __m128i y = _mm_or_si128(v, lower);
        const __m128i letter = _mm_and_si128(_mm_cmpgt_epi8(y, belowA), _mm_cmpgt_epi8(aboveF, y));
        if (_mm_movemask_epi8(_mm_or_si128(digit, letter)) != 0xFFFF) break;
        // DigitValue in every byte: low bits, plus 9 for letters (bit 6 set).
        const __m128i isLetter = _mm_and_si128(_mm_srli_epi16(v, 6), one);
        const __m128i nib = _mm_add_epi8(_mm_and_si128(v, lowNibble),
                                         _mm_add_epi8(_mm_slli_epi16(isLetter, 3), isLetter));
        // Each 16-bit lane holds the first digit in its low byte: first * 16 + second.
        const __m128i pairs =
            _mm_or_si128(_mm_slli_epi16(_mm_and_si128(nib, lowByte), 4), _mm_srli_epi16(nib, 8));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(bytes + i / 2),
                         _mm_packus_epi16(pairs, _mm_setzero_si128()));
    }
    return i;
}
#else
std::size_t DecodeSixteenAtATime(const unsigned char*, std::size_t, std::uint8_t*) { return 0; }
#endif

}  // namespace

std::size_t MessageTextToBytes(std::string_view text, std::uint8_t* bytes) {
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = std::min(text.size(), kMaxMessageText);
    // A pasted text is mostly plain hex digits, which take a fast path without the copy.
    std::size_t i = DecodeSixteenAtATime(s, n, bytes);
    for (; i + 8 <= n; i += 8) {
        const std::uint64_t x = LoadLittle64(s + i);
        if (!AllHexDigits(x)) break;
        const std::uint32_t four = EightDigitsToBytes(x);
        StoreLittle32(bytes + i / 2, four);
    }
    if (i + 8 > n) {
        bool plain = true;
        for (std::size_t j = i; j < n; ++j) plain &= IsHexDigit(s[j]);
        if (plain) {
            for (; i + 2 <= n; i += 2) {
                bytes[i / 2] =
                    static_cast<std::uint8_t>(DigitValue(s[i]) << 4 | DigitValue(s[i + 1]));
            }
            if (i < n) bytes[i / 2] = static_cast<std::uint8_t>(DigitValue(s[i]) << 4 | 0x0F);
            return n;
        }
    }
    // White space, a zero byte or other characters: the general rule from the start.
    char digits[kMaxMessageText];
    std::size_t kept = 0;
    for (std::size_t j = 0; j < n && s[j] != 0; ++j) {
        if (!IsHexTextSpace(static_cast<char>(s[j]))) digits[kept++] = static_cast<char>(s[j]);
    }
    HexToBytes(digits, kept, bytes);
    return kept;
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
    const auto at = [&](std::size_t i) -> std::uint8_t { return i < readable ? bytes[i] : 0; };
    char first4[4];
    for (std::size_t i = 0; i < 4; ++i) first4[i] = static_cast<char>(at(i));
    const std::int64_t asciiLength = DecimalTextToInt(first4, 4);
    const std::int64_t binaryLength = at(0) * 256 + at(1);

    if (asciiLength == L - 4) return {Choice::Ext128, LengthFlag(interfaceType != 2)};
    if (interfaceType == 2) return {Choice::Ext128, 0};
    if (binaryLength == L - 2) return {Choice::Cup64, LengthFlag(interfaceType != 1)};
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
