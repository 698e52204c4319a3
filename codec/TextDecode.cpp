// Placeholder until the decoder lands: passes bytes through.
#include "codec/TextDecode.h"

void AppendUtf8(std::string& out, std::string_view bytes, TextEncoding) { out.append(bytes); }
std::string ToUtf8(std::string_view bytes, TextEncoding e) {
    std::string s;
    AppendUtf8(s, bytes, e);
    return s;
}
bool IsValidUtf8(std::string_view) { return true; }
void AppendJsonString(std::string& out, std::string_view utf8) {
    out += '"';
    out.append(utf8);
    out += '"';
}
std::string Utf8ToGbk(std::string_view utf8) { return std::string(utf8); }
