// A temporary file holding a fuzz input, for the commands that read configuration files.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

// Writes bytes to a new temporary file and returns its path (empty when none could be made).
inline std::string WriteTemporary(std::string_view bytes) {
    char path[] = "/tmp/tarnwick_fuzz_XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) return {};
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    close(fd);
    return path;
}

// Writes bytes to a temporary file, gives its path to read, removes the file and returns what
// read gave; nothing when no file could be made.
template <class Read>
auto ReadThroughFile(std::string_view bytes, Read read)
    -> std::optional<decltype(read(std::string()))> {
    const std::string path = WriteTemporary(bytes);
    if (path.empty()) return std::nullopt;
    auto result = read(path);
    std::remove(path.c_str());
    return result;
}

// Runs a command's text form on bytes, and for one input in eight (by its first byte) its file
// form too: each result passes check, and the file's has the same error and message as the text's.
template <class FromText, class FromFile, class Check>
void CheckTextAndFileForms(std::string_view bytes, FromText fromText, FromFile fromFile,
                           Check check) {
    const auto text = fromText(bytes);
    check(text);
    if (bytes.empty() || static_cast<std::uint8_t>(bytes[0]) % 8 != 0) return;
    const auto file = ReadThroughFile(bytes, fromFile);
    if (!file) return;
    check(*file);
    if (file->error != text.error || file->message != text.message) __builtin_trap();
}
