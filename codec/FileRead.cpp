// The one bounded reader of every file the programs open: regular files only, never blocking.
#include "codec/FileRead.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <io.h>

#include <filesystem>
#include <fstream>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

#ifndef _WIN32
/// Closes a file descriptor on every path.
class Fd {
public:
    explicit Fd(int fd) : m_fd(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() {
        if (m_fd >= 0) ::close(m_fd);
    }
    [[nodiscard]] int Get() const { return m_fd; }

private:
    int m_fd;
};
#endif

FileRead Failed(FileReadStatus status, int error = 0) {
    FileRead r;
    r.status = status;
    r.error = error;
    return r;
}

}  // namespace

std::string SystemErrorText(int error) { return std::strerror(error); }

FileRead ReadBoundedStream(int fd, std::size_t limit) {
    FileRead r;
    std::array<char, 1 << 16> block;
    // One byte past the limit tells a file of exactly the limit from a larger one; nothing more
    // is read, whatever the source (a device such as /dev/zero never ends).
    while (r.text.size() <= limit) {
        const std::size_t want = std::min(block.size(), limit + 1 - r.text.size());
#ifdef _WIN32
        const int n = ::_read(fd, block.data(), static_cast<unsigned>(want));
#else
        const ssize_t n = ::read(fd, block.data(), want);
#endif
        if (n < 0) {
            if (errno == EINTR) continue;
            return Failed(FileReadStatus::CannotRead, errno);
        }
        if (n == 0) break;
        r.text.append(block.data(), static_cast<std::size_t>(n));
    }
    if (r.text.size() > limit) return Failed(FileReadStatus::TooLarge);
    return r;
}

FileRead ReadBoundedFile(const std::string& path, std::size_t limit) {
#ifdef _WIN32
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (ec) return Failed(FileReadStatus::CannotOpen, ENOENT);
    if (std::filesystem::is_directory(status)) return Failed(FileReadStatus::Directory);
    if (!std::filesystem::is_regular_file(status)) return Failed(FileReadStatus::Special);
    std::ifstream in(path, std::ios::binary);
    if (!in) return Failed(FileReadStatus::CannotOpen, EACCES);
    FileRead r;
    r.text.assign(limit + 1, '\0');
    in.read(r.text.data(), static_cast<std::streamsize>(r.text.size()));
    r.text.resize(static_cast<std::size_t>(in.gcount()));
    if (r.text.size() > limit) return Failed(FileReadStatus::TooLarge);
    return r;
#else
    // O_NONBLOCK: opening a FIFO without a writer returns at once instead of waiting for one.
    const Fd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (fd.Get() < 0) return Failed(FileReadStatus::CannotOpen, errno);
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0) return Failed(FileReadStatus::CannotRead, errno);
    if (S_ISDIR(st.st_mode)) return Failed(FileReadStatus::Directory);
    if (S_ISFIFO(st.st_mode)) return Failed(FileReadStatus::Fifo);
    if (!S_ISREG(st.st_mode)) return Failed(FileReadStatus::Special);
    // A regular file never blocks; the flag is cleared all the same so reads wait as usual.
    const int flags = ::fcntl(fd.Get(), F_GETFL);
    if (flags != -1) (void)::fcntl(fd.Get(), F_SETFL, flags & ~O_NONBLOCK);
    return ReadBoundedStream(fd.Get(), limit);
#endif
}
