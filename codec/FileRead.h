// The one bounded reader of every file the programs open: regular files only, never blocking.
#pragma once

#include <cstddef>
#include <string>

/// How reading a file ended.
enum class FileReadStatus {
    Ok,          ///< text holds the whole file
    CannotOpen,  ///< the path cannot be opened (error: the system's error number)
    CannotRead,  ///< a read failed (error: the system's error number)
    Directory,   ///< the path names a directory
    Fifo,        ///< the path names a FIFO (opened without waiting for a writer)
    Special,     ///< a device or other special file
    TooLarge,    ///< the file holds more than the limit
};

struct FileRead {
    FileReadStatus status = FileReadStatus::Ok;
    int error = 0;     ///< CannotOpen, CannotRead: errno
    std::string text;  ///< Ok: the file's bytes

    [[nodiscard]] bool Ok() const { return status == FileReadStatus::Ok; }
};

/// The largest file any command reads.
inline constexpr std::size_t kMaxFileBytes = std::size_t{1} << 20;

/// Reads the regular file at path whole, at most limit bytes. The file is opened without
/// blocking, so a FIFO without a writer is refused, not waited for; what is not a regular file is
/// refused before anything is read from it, and never more than limit + 1 bytes are read.
[[nodiscard]] FileRead ReadBoundedFile(const std::string& path, std::size_t limit = kMaxFileBytes);

/// Reads an open descriptor (standard input) to its end, at most limit bytes.
[[nodiscard]] FileRead ReadBoundedStream(int fd, std::size_t limit = kMaxFileBytes);

/// The system's text for an error number ("No such file or directory").
[[nodiscard]] std::string SystemErrorText(int error);
