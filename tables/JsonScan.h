// A structural walk over a JSON text: duplicate keys and where they stand.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

/// A key that stands twice in one object.
struct DuplicateKey {
    std::size_t offset = 0;         ///< byte offset of the second occurrence's opening quote
    std::vector<std::string> path;  ///< keys of the enclosing objects, outermost first
    std::string key;                ///< the key as written, without its quotes
};

/// Lists the duplicate keys of a JSON text that json-c accepted (json-c keeps the last value of
/// a duplicate silently). Strings, escapes and // and /* */ comments are skipped correctly.
[[nodiscard]] std::vector<DuplicateKey> FindDuplicateKeys(std::string_view text);

/// The offset after white space and comments from pos on; text.size() when only they follow.
[[nodiscard]] std::size_t SkipBlankAndComments(std::string_view text, std::size_t pos);
