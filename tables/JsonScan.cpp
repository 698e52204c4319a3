// A structural walk over a JSON text: duplicate keys and where they stand.
#include "tables/JsonScan.h"

#include <algorithm>

namespace {

struct Frame {
    bool object = false;
    bool expectKey = false;
    std::vector<std::string> keys;
    std::string current;  // the key whose value is being read
};

/// The offset after a comment that starts at pos ("//" or "/*"); pos when none starts there.
std::size_t SkipComment(std::string_view text, std::size_t pos) {
    if (pos + 1 >= text.size() || text[pos] != '/') return pos;
    if (text[pos + 1] == '/') {
        const std::size_t end = text.find('\n', pos + 2);
        return end == std::string_view::npos ? text.size() : end + 1;
    }
    if (text[pos + 1] == '*') {
        const std::size_t end = text.find("*/", pos + 2);
        return end == std::string_view::npos ? text.size() : end + 2;
    }
    return pos;
}

}  // namespace

std::size_t SkipBlankAndComments(std::string_view text, std::size_t pos) {
    while (pos < text.size()) {
        const char c = text[pos];
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            ++pos;
            continue;
        }
        const std::size_t after = SkipComment(text, pos);
        if (after == pos) break;
        pos = after;
    }
    return pos;
}

std::vector<DuplicateKey> FindDuplicateKeys(std::string_view text) {
    std::vector<DuplicateKey> found;
    std::vector<Frame> stack;
    std::size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c == '/') {
            const std::size_t after = SkipComment(text, i);
            i = after == i ? i + 1 : after;
            continue;
        }
        if (c == '"') {
            const std::size_t start = i++;
            while (i < text.size() && text[i] != '"') i += text[i] == '\\' ? 2 : 1;
            const std::string_view body =
                text.substr(start + 1, std::min(i, text.size()) - start - 1);
            ++i;
            if (!stack.empty() && stack.back().object && stack.back().expectKey) {
                Frame& f = stack.back();
                f.expectKey = false;
                f.current = body;
                if (std::find(f.keys.begin(), f.keys.end(), body) != f.keys.end()) {
                    DuplicateKey d{start, {}, std::string(body)};
                    for (std::size_t k = 0; k + 1 < stack.size(); ++k) {
                        if (stack[k].object) d.path.push_back(stack[k].current);
                    }
                    found.push_back(std::move(d));
                } else {
                    f.keys.emplace_back(body);
                }
            }
            continue;
        }
        if (c == '{' || c == '[') {
            stack.push_back(Frame{c == '{', c == '{', {}, {}});
        } else if (c == '}' || c == ']') {
            if (!stack.empty()) stack.pop_back();
        } else if (c == ',' && !stack.empty() && stack.back().object) {
            stack.back().expectKey = true;
        }
        ++i;
    }
    return found;
}
