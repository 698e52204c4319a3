// Rendering command results for a terminal: the aligned row table and JSON texts.
#include "cli/Output.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "codec/Conversions.h"

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

/// True when bytes can stand in a JSON string as they are: ASCII without control characters,
/// quotes or backslashes. Eight bytes at a time: the row values are long hex texts.
bool JsonPlain(std::string_view bytes) {
    constexpr std::uint64_t kOnes = 0x0101010101010101;
    constexpr std::uint64_t kHigh = 0x8080808080808080;
    const auto hasZeroByte = [](std::uint64_t v) { return (v - kOnes) & ~v & kHigh; };
    std::size_t i = 0;
    for (; i + 8 <= bytes.size(); i += 8) {
        std::uint64_t x;
        std::memcpy(&x, bytes.data() + i, 8);
        // A byte with its high bit set, below 0x20, a quote or a backslash.
        const std::uint64_t special = (x & kHigh) | ((x - kOnes * 0x20) & ~x & kHigh) |
                                      hasZeroByte(x ^ (kOnes * '"')) |
                                      hasZeroByte(x ^ (kOnes * '\\'));
        if (special != 0) return false;
    }
    unsigned bad = 0;
    for (; i < bytes.size(); ++i) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        bad |= static_cast<unsigned>(c < 0x20) | (c >= 0x80) | (c == '"') | (c == '\\');
    }
    return bad == 0;
}

/// Appends bytes decoded per encoding and JSON-escaped, without the quotes around them.
void AppendJsonInside(std::string& out, std::string_view bytes, TextEncoding encoding,
                      std::string& scratch) {
    scratch.clear();
    AppendUtf8(scratch, bytes, encoding);
    const std::size_t at = out.size();
    AppendJsonString(out, scratch);
    out.pop_back();
    out.erase(at, 1);
}

/// Appends the inside of the JSON string of one row text.
template <std::size_t N>
void AppendRowText(std::string& out, const RowText<N>& text, TextEncoding encoding,
                   std::string& scratch) {
    const std::string_view s = text.View();
    if (JsonPlain(s)) {
        out.append(s);
    } else {
        AppendJsonInside(out, s, encoding, scratch);
    }
}

}  // namespace

void AppendJsonText(std::string& out, std::string_view bytes, TextEncoding encoding,
                    std::string& scratch) {
    out += '"';
    if (JsonPlain(bytes)) {
        out.append(bytes);
    } else {
        AppendJsonInside(out, bytes, encoding, scratch);
    }
    out += '"';
}

namespace {

/// Appends the inside of the JSON string of a text that is usually plain ASCII.
void AppendTextInside(std::string& out, std::string_view s, TextEncoding encoding,
                      std::string& scratch) {
    if (JsonPlain(s)) {
        out.append(s);
    } else {
        AppendJsonInside(out, s, encoding, scratch);
    }
}

/// The value of a TLV sub-row: its name is known in UTF-8, so only the rest is decoded.
void AppendSubRowValue(std::string& out, const FieldRow& row, const TlvRowNote& note,
                       TextEncoding encoding, std::string& scratch) {
    const std::string_view value = row.Value();
    const std::size_t nameAt = std::min<std::size_t>(note.nameAt, value.size());
    const std::size_t nameEnd =
        note.textAt >= 2 ? std::min<std::size_t>(note.textAt - 2, value.size()) : value.size();
    if (nameAt == 0 || nameEnd < nameAt) {
        AppendTextInside(out, value, encoding, scratch);
        return;
    }
    // The hex digits and " -> ", and the dictionary's names, need no escaping.
    out.append(value.substr(0, nameAt));
    out.append(note.shownName);
    AppendTextInside(out, value.substr(nameEnd), encoding, scratch);
}

}  // namespace

void AppendRowsJson(std::string& out, const FieldRowList& rows, TextEncoding encoding,
                    std::string& scratch, std::span<const TlvRowNote> tlv) {
    out += '[';
    std::size_t note = 0;  // the first note of a row at or after i
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const FieldRow& row = rows[i];
        out.append(i == 0 ? R"({"name":")" : R"(,{"name":")");
        while (note < tlv.size() && tlv[note].row < i) ++note;
        if (note < tlv.size() && tlv[note].row == i && !tlv[note].error) {
            // A sub-row's name (spaces and a tag's hex) and length (digits) need no escaping.
            out.append(row.Name()).append(R"(","length":")").append(row.Length());
            out.append(R"(","value":")");
            AppendSubRowValue(out, row, tlv[note], encoding, scratch);
        } else {
            AppendRowText(out, row.name, encoding, scratch);
            out.append(R"(","length":")");
            AppendRowText(out, row.length, encoding, scratch);
            out.append(R"(","value":")");
            AppendRowText(out, row.value, encoding, scratch);
        }
        out += '"';
        if (const std::int16_t field = row.field >= 0 ? row.field : row.parent; field >= 0) {
            out.append(R"(,"field":)").append(std::to_string(field));
        }
        // A tag the table does not list has no path of its own: its name ("  62.DF") says it.
        std::string_view path = row.path;
        if (path.empty() && row.parent >= 0) {
            std::string_view name = row.Name();
            name.remove_prefix(std::min(name.size(), name.find_first_not_of(' ')));
            const std::string head = std::to_string(row.parent) + ".";
            if (name.starts_with(head)) path = name;
        }
        if (!path.empty()) {
            out.append(R"(,"path":)");
            scratch.clear();
            AppendUtf8(scratch, path, TextEncoding::Utf8OrGbk);
            AppendJsonString(out, scratch);
        }
        if (!row.meaning.empty()) {
            out.append(R"(,"meaning":)");
            scratch.clear();
            AppendUtf8(scratch, row.meaning, TextEncoding::Utf8OrGbk);
            AppendJsonString(out, scratch);
        }
        if (row.summary) out.append(R"(,"summary":true)");
        if (!row.title.empty()) {
            out.append(R"(,"title":)");
            scratch.clear();
            AppendUtf8(scratch, row.title, TextEncoding::Utf8OrGbk);
            AppendJsonString(out, scratch);
        }
        // The notes of the sub-rows that follow a TLV field's row.
        if (note < tlv.size() && tlv[note].row == i + 1 && tlv[note].fieldRow == i) {
            std::size_t end = note;
            while (end < tlv.size() && tlv[end].fieldRow == i) ++end;
            const auto notes = tlv.subspan(note, end - note);
            out.append(R"(,"tlv":)");
            AppendTlvJson(out, rows, notes, encoding, scratch);
            if (notes.back().error) {
                out.append(R"(,"tlvError":)");
                AppendTlvErrorJson(out, notes.back());
            }
        }
        out += '}';
    }
    out += ']';
}

void AppendTlvJson(std::string& out, const FieldRowList& rows, std::span<const TlvRowNote> notes,
                   TextEncoding encoding, std::string& scratch) {
    out += '[';
    // Every object stays open ({"children":[) until an object at its depth or above follows.
    int open = -1;
    for (const TlvRowNote& n : notes) {
        if (n.error || n.row >= rows.size()) continue;
        const int depth = n.depth;
        if (open >= depth) {
            for (; open >= depth; --open) out.append("]}");
            out += ',';
        }
        open = depth;
        const FieldRow& row = rows[n.row];
        std::string_view name = row.Name();
        name.remove_prefix(std::min(name.find_first_not_of(' '), name.size()));
        const std::string_view value = row.Value();
        const std::size_t hexEnd =
            n.nameAt >= 4 ? std::min<std::size_t>(n.nameAt - 4, value.size()) : value.find(" -> ");
        out.append(R"({"tag":")").append(name).append(R"(","name":")").append(n.name);
        out.append(R"(","length":)").append(row.Length());
        out.append(R"(,"value":")").append(value.substr(0, hexEnd)).append(R"(","text":")");
        if (n.textAt > 0 && n.textAt < value.size()) {
            AppendTextInside(out, value.substr(n.textAt), encoding, scratch);
        }
        out.append(R"(","children":[)");
    }
    for (; open >= 0; --open) out.append("]}");
    out += ']';
}

void AppendTlvErrorJson(std::string& out, const TlvRowNote& error) {
    out.append(R"({"offset":)").append(std::to_string(error.offset)).append(R"(,"reason":)");
    AppendJsonString(out, error.name);
    out += '}';
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
    const std::size_t at = out.size();
    out.resize(at + bytes.size() * 2 + 1);
    BytesToHex(bytes.data(), bytes.size(), out.data() + at);
    out.pop_back();  // the terminator BytesToHex writes
}
