// Reading a configuration file whole, with the build commands' wording of what went wrong.
#include "trade/ConfigFile.h"

#include <cerrno>

namespace {

/// The detail line: the file's name and the reason.
bool Take(FileRead read, std::string_view name, std::string& text, std::string& detail) {
    text.clear();
    const std::string file(name);
    switch (read.status) {
        case FileReadStatus::Ok:
            text = std::move(read.text);
            return true;
        case FileReadStatus::CannotOpen:
        case FileReadStatus::CannotRead:
            detail = file + ": " + SystemErrorText(read.error);
            return false;
        case FileReadStatus::Directory:
            detail = file + ": " + SystemErrorText(EISDIR);
            return false;
        case FileReadStatus::Fifo:
        case FileReadStatus::Special:
            detail = file + ": not a regular file";
            return false;
        case FileReadStatus::TooLarge:
            detail = file + ": larger than " + std::to_string(kMaxConfigBytes) + " bytes";
            return false;
    }
    return false;
}

}  // namespace

bool ReadConfigStream(int fd, std::string_view name, std::string& text, std::string& detail) {
    return Take(ReadBoundedStream(fd, kMaxConfigBytes), name, text, detail);
}

bool ReadConfigFile(std::string_view path, std::string& text, std::string& detail) {
    return Take(ReadBoundedFile(std::string(path), kMaxConfigBytes), path, text, detail);
}
