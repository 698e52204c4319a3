// A temporary file holding a fuzz input, for the commands that read configuration files.
#pragma once

#include <unistd.h>

#include <cstddef>
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
