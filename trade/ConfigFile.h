// Reading a configuration file whole, with the build commands' wording of what went wrong.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "codec/FileRead.h"

/// The largest configuration either build command reads.
inline constexpr std::size_t kMaxConfigBytes = kMaxFileBytes;

/// Reads the regular file at path into text (ReadBoundedFile). False with a one-line detail
/// naming the file and the reason (the system's own, e.g. "No such file or directory") when it
/// cannot be opened, is not a regular file (a directory, FIFO or device) or is larger.
[[nodiscard]] bool ReadConfigFile(std::string_view path, std::string& text, std::string& detail);

/// Reads an open descriptor (standard input) to its end, at most kMaxConfigBytes; name is used
/// in the detail. False on a read error or a larger input.
[[nodiscard]] bool ReadConfigStream(int fd, std::string_view name, std::string& text,
                                    std::string& detail);
