// Conversions between message hex text, packed BCD and bytes.
#include "codec/Conversions.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>

#include "codec/Texts.h"

#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#include <emmintrin.h>
#endif

namespace {

constexpr std::array<std::uint8_t, 256> MakeNibbleTable() {
    std::array<std::uint8_t, 256> t{};
    for (auto& v : t) v = 15;
    for (int c = '0'; c <= '9'; ++c) t[c] = static_cast<std::uint8_t>(c - '0');
    for (int c = 'a'; c <= 'f'; ++c) t[c] = static_cast<std::uint8_t>(c - 'a' + 10);
    for (int c = 'A'; c <= 'F'; ++c) t[c] = static_cast<std::uint8_t>(c - 'A' + 10);
    return t;
}
constexpr auto kNibble = MakeNibbleTable();
std::uint8_t Nibble(char c) { return kNibble[static_cast<unsigned char>(c)]; }

}  // namespace

void HexToBytes(const char* text, std::size_t n, std::uint8_t* out) {
    const std::size_t pairs = n / 2;
    for (std::size_t i = 0; i < pairs; ++i) {
        out[i] = static_cast<std::uint8_t>(Nibble(text[2 * i]) << 4 | Nibble(text[2 * i + 1]));
    }
    if (n % 2 != 0) out[pairs] = static_cast<std::uint8_t>(Nibble(text[n - 1]) << 4 | 0x0F);
}

void Word32ToHex(const std::uint8_t* in, char* out) {
    for (std::size_t i = 0; i < 4; ++i) {
        std::memcpy(out + 2 * i, conversions_detail::kHexPairs[in[i]].data(), 2);
    }
}

void BcdToInt(const std::uint8_t* in, std::size_t n, std::int32_t* result) {
    // Computed unsigned so that long inputs wrap instead of overflowing a signed number.
    std::uint32_t r = 0;
    for (std::size_t i = 0; i < n; ++i) r = r * 100u + (in[i] >> 4) * 10u + (in[i] & 0x0Fu);
    *result = static_cast<std::int32_t>(r);
}

void IntToBcd2(std::uint8_t* out, std::int32_t v) {
    if (out == nullptr) return;
    const std::int32_t q = v / 100;
    const std::int32_t r = v - 100 * q;
    out[0] = static_cast<std::uint8_t>((q / 10) * 16 + q % 10);
    out[1] = static_cast<std::uint8_t>((r / 10) * 16 + r % 10);
}

void StripWhiteSpace(char* out, const char* in) {
    std::size_t w = 0;
    for (std::size_t r = 0; in[r] != '\0'; ++r) {
        if (!IsHexTextSpace(in[r])) out[w++] = in[r];
    }
    out[w] = '\0';
}

std::int32_t DecimalTextToInt(const char* text, std::size_t n) {
    std::size_t i = 0;
    while (i < n && IsHexTextSpace(text[i])) ++i;
    bool negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    std::int64_t v = 0;
    for (; i < n && text[i] >= '0' && text[i] <= '9'; ++i) {
        v = v * 10 + (text[i] - '0');
        if (v > std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1) {
            v = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
        }
    }
    if (negative) v = -v;
    if (v > std::numeric_limits<std::int32_t>::max()) v = std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(v);
}

namespace {

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

std::size_t HexTextToBytes(std::string_view text, std::uint8_t* bytes) {
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    // A pasted text is mostly plain hex digits, which take a fast path.
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
    // White space, a zero byte or other characters: the general rule from the start, digit by
    // digit (StripWhiteSpace's rule, then HexToBytes's).
    std::size_t kept = 0;
    std::uint8_t high = 0;
    for (std::size_t j = 0; j < n && s[j] != 0; ++j) {
        if (IsHexTextSpace(static_cast<char>(s[j]))) continue;
        const std::uint8_t nibble = Nibble(static_cast<char>(s[j]));
        if (kept % 2 == 0) {
            high = nibble;
        } else {
            bytes[kept / 2] = static_cast<std::uint8_t>(high << 4 | nibble);
        }
        ++kept;
    }
    if (kept % 2 != 0) bytes[kept / 2] = static_cast<std::uint8_t>(high << 4 | 0x0F);
    return kept;
}

std::size_t MessageTextToBytes(std::string_view text, std::uint8_t* bytes) {
    return HexTextToBytes(text.substr(0, std::min(text.size(), kMaxMessageText)), bytes);
}

std::string HexOf(std::span<const std::uint8_t> bytes) {
    std::string hex(2 * bytes.size(), '\0');
    BytesToHex(bytes.data(), bytes.size(), hex.data());
    return hex;
}
