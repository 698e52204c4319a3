// Conversions between message hex text, packed BCD and bytes.
#include "codec/Conversions.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <limits>

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
constexpr char kHexDigits[] = "0123456789ABCDEF";

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
        out[2 * i] = kHexDigits[in[i] >> 4];
        out[2 * i + 1] = kHexDigits[in[i] & 0x0F];
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
