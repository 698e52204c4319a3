// Reading a configuration file whole, bounded, without blocking on what is not a regular file.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

/// The largest configuration either build command reads.
inline constexpr std::size_t kMaxConfigBytes = std::size_t{1} << 20;

/// Reads the regular file at path into text, at most kMaxConfigBytes. False with a one-line
/// detail naming the file and the reason (the system's own, e.g. "No such file or directory")
/// when it cannot be opened, is not a regular file (a directory, FIFO or device) or is larger.
/// The file is opened without blocking, so a FIFO without a writer is refused, not waited for.
[[nodiscard]] bool ReadConfigFile(std::string_view path, std::string& text, std::string& detail);

/// Reads an open descriptor (standard input) to its end, at most kMaxConfigBytes; name is used
/// in the detail. False on a read error or a larger input.
[[nodiscard]] bool ReadConfigStream(int fd, std::string_view name, std::string& text,
                                    std::string& detail);
