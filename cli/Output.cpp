// Rendering command results for a terminal: the aligned row table and JSON texts.
#include "cli/Output.h"

#include <algorithm>
#include <array>
#include <vector>

namespace {

/// Decodes the next code point of valid UTF-8 (as produced by the decoder) at s[i].
char32_t NextCodePoint(std::string_view s, std::size_t& i) {
    const auto c = static_cast<unsigned char>(s[i]);
    std::size_t len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    if (i + len > s.size()) len = s.size() - i;
    char32_t cp = len == 1 ? c : len == 2 ? (c & 0x1F) : len == 3 ? (c & 0x0F) : (c & 0x07);
    for (std::size_t k = 1; k < len; ++k)
        cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    i += len;
    return cp;
}

int CodePointWidth(char32_t cp) {
    if (cp < 0x300) return 1;
    if ((cp >= 0x300 && cp <= 0x36F) || (cp >= 0x200B && cp <= 0x200F) ||
        (cp >= 0xFE00 && cp <= 0xFE0F)) {
        return 0;  // combining marks, zero-width spaces, variation selectors
    }
    struct Range {
        char32_t first, last;
    };
    static constexpr std::array<Range, 13> kWide = {{
        {0x1100, 0x115F},    // Hangul Jamo initials
        {0x2E80, 0x303E},    // CJK radicals, symbols and punctuation
        {0x3041, 0x33FF},    // kana, bopomofo, CJK compatibility
        {0x3400, 0x4DBF},    // CJK extension A
        {0x4E00, 0x9FFF},    // CJK unified ideographs
        {0xA000, 0xA4CF},    // Yi
        {0xAC00, 0xD7A3},    // Hangul syllables
        {0xF900, 0xFAFF},    // CJK compatibility ideographs
        {0xFE30, 0xFE4F},    // CJK compatibility forms
        {0xFF00, 0xFF60},    // full-width forms
        {0xFFE0, 0xFFE6},    // full-width signs
        {0x1F300, 0x1F64F},  // pictographs, emoticons
        {0x20000, 0x3FFFD},  // CJK extensions B and later
    }};
    for (const auto& r : kWide) {
        if (cp >= r.first && cp <= r.last) return 2;
    }
    return 1;
}

/// The decoded text with control characters shown as '.', so a field cannot move the cursor.
std::string TableText(std::string_view bytes, TextEncoding encoding) {
    std::string s = ToUtf8(bytes, encoding);
    for (char& c : s) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) c = '.';
    }
    return s;
}

void AppendPadded(std::string& out, std::string_view text, std::size_t width) {
    out.append(text);
    const std::size_t w = DisplayWidth(text);
    if (w < width) out.append(width - w, ' ');
}

}  // namespace

void AppendJsonText(std::string& out, std::string_view bytes, TextEncoding encoding,
                    std::string& scratch) {
    // One pass for the common case of ASCII text without characters to escape; anything else
    // goes through the decoder and the escaping of AppendJsonString.
    const auto plain = [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u >= 0x20 && u < 0x80 && c != '"' && c != '\\';
    };
    if (std::all_of(bytes.begin(), bytes.end(), plain)) {
        out += '"';
        out.append(bytes);
        out += '"';
        return;
    }
    scratch.clear();
    AppendUtf8(scratch, bytes, encoding);
    AppendJsonString(out, scratch);
}

void AppendRowsJson(std::string& out, const FieldRowList& rows, TextEncoding encoding,
                    std::string& scratch) {
    out += '[';
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (i != 0) out += ',';
        out.append(R"({"name":)");
        AppendJsonText(out, rows[i].Name(), encoding, scratch);
        out.append(R"(,"length":)");
        AppendJsonText(out, rows[i].Length(), encoding, scratch);
        out.append(R"(,"value":)");
        AppendJsonText(out, rows[i].Value(), encoding, scratch);
        out += '}';
    }
    out += ']';
}

std::size_t DisplayWidth(std::string_view utf8) {
    std::size_t width = 0;
    std::size_t i = 0;
    while (i < utf8.size())
        width += static_cast<std::size_t>(CodePointWidth(NextCodePoint(utf8, i)));
    return width;
}

std::string FormatRowsTable(const FieldRowList& rows, TextEncoding encoding) {
    constexpr std::string_view kName = "域";
    constexpr std::string_view kLength = "长度";
    constexpr std::string_view kValue = "参数值";
    struct Cells {
        std::string name, length, value;
    };
    std::vector<Cells> cells;
    cells.reserve(rows.size());
    std::size_t nameWidth = DisplayWidth(kName);
    std::size_t lengthWidth = DisplayWidth(kLength);
    for (const auto& row : rows) {
        cells.push_back({TableText(row.Name(), encoding), TableText(row.Length(), encoding),
                         TableText(row.Value(), encoding)});
        nameWidth = std::max(nameWidth, DisplayWidth(cells.back().name));
        lengthWidth = std::max(lengthWidth, DisplayWidth(cells.back().length));
    }
    std::string out;
    const auto line = [&](std::string_view name, std::string_view length, std::string_view value) {
        AppendPadded(out, name, nameWidth + 2);
        AppendPadded(out, length, lengthWidth + 2);
        out.append(value);
        out += '\n';
    };
    line(kName, kLength, kValue);
    for (const auto& c : cells) line(c.name, c.length, c.value);
    return out;
}

void AppendHex(std::string& out, std::span<const std::uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    out.reserve(out.size() + bytes.size() * 2);
    for (std::uint8_t b : bytes) {
        out += kDigits[b >> 4];
        out += kDigits[b & 15];
    }
}
