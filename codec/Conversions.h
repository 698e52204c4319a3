// Conversions between message hex text, packed BCD and bytes, shared by every command.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>

/// Writes (n+1)/2 bytes; a non-hex character reads as F, an odd last digit gets F as low nibble.
void HexToBytes(const char* text, std::size_t n, std::uint8_t* out);
namespace conversions_detail {
// Two upper-case hex characters for every byte value, so a byte costs one table load.
constexpr std::array<std::array<char, 2>, 256> MakeHexPairs() {
    constexpr char digits[] = "0123456789ABCDEF";
    std::array<std::array<char, 2>, 256> t{};
    for (std::size_t b = 0; b < 256; ++b) t[b] = {digits[b >> 4], digits[b & 15]};
    return t;
}
inline constexpr auto kHexPairs = MakeHexPairs();
}  // namespace conversions_detail

/// Writes 2n upper-case hex characters and a terminating zero byte. Inline: rows call it for
/// every field of every message.
inline void BytesToHex(const std::uint8_t* in, std::size_t n, char* out) {
    for (std::size_t i = 0; i < n; ++i) {
        std::memcpy(out + 2 * i, conversions_detail::kHexPairs[in[i]].data(), 2);
    }
    out[2 * n] = '\0';
}
/// Writes exactly 8 upper-case hex characters for 4 bytes, no terminator.
void Word32ToHex(const std::uint8_t* in, char* out);
/// Reads packed BCD; nibbles above 9 count with their face value (0x1A gives 20).
void BcdToInt(const std::uint8_t* in, std::size_t n, std::int32_t* result);
/// Writes v (0..9999) as four BCD digits in 2 bytes; a null output does nothing.
void IntToBcd2(std::uint8_t* out, std::int32_t v);
/// Copies in to out leaving out TAB, LF, VT, FF, CR and space; terminates out. In place allowed.
void StripWhiteSpace(char* out, const char* in);

/// The one reader of hex text with white space: the text up to its first zero byte, white space
/// left out (StripWhiteSpace's rule), then HexToBytes's rule. Writes (digits+1)/2 bytes (out needs
/// (text.size()+1)/2); returns the count of digits kept.
std::size_t HexTextToBytes(std::string_view text, std::uint8_t* out);
/// The message bytes of a message text: white space removed (StripWhiteSpace's rule, the text
/// ending at a zero byte), then HexToBytes's rule. Takes at most the first 10239 characters.
/// Writes (digits+1)/2 bytes, at most 5120; returns the count of digits kept.
std::size_t MessageTextToBytes(std::string_view text, std::uint8_t* bytes);

/// The white-space rule of StripWhiteSpace: character codes 9 to 13 and 32.
constexpr bool IsHexTextSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
/// A decimal digit '0'..'9'.
constexpr bool IsDecimalDigit(char c) { return c >= '0' && c <= '9'; }
/// A hex digit of either case.
constexpr bool IsHexDigitChar(char c) {
    return IsDecimalDigit(c) || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}
/// Upper-case hex text of bytes.
[[nodiscard]] std::string HexOf(std::span<const std::uint8_t> bytes);

/// The C library's decimal text-to-integer rule (atoi) on a bounded text: leading white space,
/// one optional sign, digits up to the first other character or zero byte; 0 when no digit.
/// Saturates instead of overflowing.
std::int32_t DecimalTextToInt(const char* text, std::size_t n);
