// Turning the system's 8-bit texts (code page 936, or UTF-8 from JSON files) into UTF-8.
#pragma once

#include <string>
#include <string_view>

/// How the bytes of a text are to be read.
enum class TextEncoding {
    Gbk,        // code page 936: message fields and trade texts
    Utf8OrGbk,  // UTF-8 when the text is valid UTF-8, else code page 936: JSON configuration texts
};

/// Appends the UTF-8 form of bytes to out. A byte sequence that does not decode becomes U+FFFD
/// and decoding goes on after it, so no decodable text is dropped. ASCII passes through as is.
void AppendUtf8(std::string& out, std::string_view bytes, TextEncoding encoding);
[[nodiscard]] std::string ToUtf8(std::string_view bytes, TextEncoding encoding);

/// The code page 936 lead-byte rule: a byte 81..FE starts a double-byte character.
constexpr bool IsCp936Lead(unsigned char b) { return b >= 0x81 && b <= 0xFE; }

/// True when bytes are valid UTF-8.
[[nodiscard]] bool IsValidUtf8(std::string_view bytes);

/// Appends a UTF-8 text as a JSON string literal, quotes included.
void AppendJsonString(std::string& out, std::string_view utf8);

/// The code page 936 bytes of a UTF-8 text (characters that code page 936 lacks become '?').
[[nodiscard]] std::string Utf8ToGbk(std::string_view utf8);
