// The rows of a JSON packet's members, shared by its build and its parse.
#include "trade/JsonMembers.h"

#include "codec/TextDecode.h"

namespace {

constexpr std::string_view kZeroPicture = "\xE2\x90\x80";  // U+2400 SYMBOL FOR NULL

}  // namespace

std::string MemberRowText(std::string_view text) {
    if (text.find('\0') == std::string_view::npos) return std::string(text);
    // The picture is UTF-8; a code page 936 text goes over to UTF-8 with it, so that the row still
    // reads as one encoding.
    const std::string utf8 =
        IsValidUtf8(text) ? std::string(text) : ToUtf8(text, TextEncoding::Gbk);
    std::string shown;
    shown.reserve(utf8.size() + 8);
    for (const char c : utf8) {
        if (c == '\0') {
            shown.append(kZeroPicture);
        } else {
            shown += c;
        }
    }
    return shown;
}

void AppendMemberRow(FieldRowList& rows, std::string_view key, std::string_view text) {
    FieldRow& row = rows.emplace_back();
    SetRowText(row.name, key);
    SetRowText(row.length, std::to_string(text.size()));
    SetRowText(row.value, MemberRowText(text));
}

std::string MemberName(std::string_view key) {
    std::string name = "member ";
    AppendJsonString(name, ToUtf8(key, TextEncoding::Utf8OrGbk));
    return name;
}
