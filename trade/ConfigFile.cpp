// Reading a configuration file whole, bounded, without blocking on what is not a regular file.
#include "trade/ConfigFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

namespace {

/// Closes the descriptor on every path.
class FileHandle {
public:
    explicit FileHandle(int fd) : m_fd(fd) {}
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    ~FileHandle() {
        if (m_fd >= 0) ::close(m_fd);
    }
    [[nodiscard]] int Get() const { return m_fd; }

private:
    int m_fd;
};

std::string Reason(std::string_view name, int error) {
    return std::string(name) + ": " + std::strerror(error);
}

}  // namespace

bool ReadConfigStream(int fd, std::string_view name, std::string& text, std::string& detail) {
    text.clear();
    std::array<char, 1 << 16> block;
    // One byte past the limit tells a file of exactly the limit from a larger one; nothing more
    // is read, whatever the source (a device such as /dev/zero never ends).
    while (text.size() <= kMaxConfigBytes) {
        const std::size_t want = std::min(block.size(), kMaxConfigBytes + 1 - text.size());
        const ssize_t n = ::read(fd, block.data(), want);
        if (n < 0) {
            if (errno == EINTR) continue;
            detail = Reason(name, errno);
            return false;
        }
        if (n == 0) break;
        text.append(block.data(), static_cast<std::size_t>(n));
    }
    if (text.size() > kMaxConfigBytes) {
        detail = std::string(name) + ": larger than " + std::to_string(kMaxConfigBytes) + " bytes";
        text.clear();
        return false;
    }
    return true;
}

bool ReadConfigFile(std::string_view path, std::string& text, std::string& detail) {
    const std::string file(path);
    // O_NONBLOCK: opening a FIFO without a writer returns at once instead of waiting for one.
    const FileHandle fd(::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (fd.Get() < 0) {
        detail = Reason(file, errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0) {
        detail = Reason(file, errno);
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        detail = Reason(file, EISDIR);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        detail = file + ": not a regular file";
        return false;
    }
    // A regular file never blocks; the flag is cleared all the same so reads wait as usual.
    const int flags = ::fcntl(fd.Get(), F_GETFL);
    if (flags != -1) (void)::fcntl(fd.Get(), F_SETFL, flags & ~O_NONBLOCK);
    return ReadConfigStream(fd.Get(), file, text, detail);
}
