// Field tables from files: reading them safely, telling the forms apart, the shipped tables.
#include "tables/TableFile.h"

#include "codec/Conversions.h"

#include <cerrno>
#include <cstring>
#include <string>

#ifdef _WIN32
#include <filesystem>
#include <fstream>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

// Generated at build time from the tables/*.json files.
extern const ShippedTable kShippedTableList[];
extern const std::size_t kShippedTableCount;

#ifndef _WIN32
namespace {

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

}  // namespace
#endif

std::optional<std::string> ReadRegularFile(const std::string& path, std::size_t limit,
                                           std::string& why) {
#ifdef _WIN32
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (ec) {
        why = "cannot open: " + ec.message();
        return std::nullopt;
    }
    if (std::filesystem::is_directory(status)) {
        why = "is a directory, not a table file";
        return std::nullopt;
    }
    if (!std::filesystem::is_regular_file(status)) {
        why = "is not a regular file";
        return std::nullopt;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        why = "cannot open";
        return std::nullopt;
    }
    std::string text(limit + 1, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
#else
    // Non-blocking, so that opening a FIFO without a writer does not hang; what is not a regular
    // file is refused before anything is read from it.
    const Fd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (fd.Get() < 0) {
        why = std::string("cannot open: ") + std::strerror(errno);
        return std::nullopt;
    }
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0) {
        why = std::string("cannot read: ") + std::strerror(errno);
        return std::nullopt;
    }
    if (S_ISDIR(st.st_mode)) {
        why = "is a directory, not a table file";
        return std::nullopt;
    }
    if (!S_ISREG(st.st_mode)) {
        why = S_ISFIFO(st.st_mode) ? "is a FIFO, not a regular file"
                                   : "is a device or other special file, not a regular file";
        return std::nullopt;
    }
    // At most one byte more than the limit, whatever size the file claims.
    std::string text(limit + 1, '\0');
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::read(fd.Get(), text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            why = std::string("cannot read: ") + std::strerror(errno);
            return std::nullopt;
        }
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    text.resize(done);
#endif
    if (text.size() > limit) {
        why = "is over " + std::to_string(limit / (1 << 20)) + " MiB";
        return std::nullopt;
    }
    return text;
}

TableLoad LoadTableText(std::string_view text) {
    std::size_t i = text.starts_with("\xEF\xBB\xBF") ? 3 : 0;
    while (i < text.size() &&
           (text[i] == ' ' || text[i] == '\t' || text[i] == '\r' || text[i] == '\n')) {
        ++i;
    }
    if (i < text.size() && text[i] == '<') return LoadJposTable(text);
    return LoadJsonTable(text);
}

TableLoad LoadTableFile(const std::string& path) {
    std::string why;
    const auto text = ReadRegularFile(path, kMaxTableFileBytes, why);
    if (!text) {
        TableLoad load;
        load.problems.push_back(path + ": " + why);
        return load;
    }
    return LoadTableText(*text);
}

std::span<const ShippedTable> ShippedTables() { return {kShippedTableList, kShippedTableCount}; }

const ShippedTable* FindShippedTable(std::string_view name) {
    for (const ShippedTable& t : ShippedTables()) {
        if (t.name == name) return &t;
    }
    return nullptr;
}

TableLoad LoadTableByNameOrFile(const std::string& nameOrPath) {
    if (const ShippedTable* shipped = FindShippedTable(nameOrPath)) {
        return LoadJsonTable(shipped->text);
    }
    return LoadTableFile(nameOrPath);
}

std::string DescribeFraming(const FieldTable& table) {
    std::string text;
    for (const FramePart& p : table.frame) {
        if (!text.empty()) text += ' ';
        switch (p.kind) {
            case FramePartKind::Length:
                text += "length(" + std::to_string(p.bytes) +
                        (p.lengthEnc == LengthEnc::Binary ? " bytes binary"
                         : p.lengthEnc == LengthEnc::Bcd  ? " bytes BCD"
                                                          : " ASCII digits");
                if (p.littleEndian) text += ", low byte first";
                if (p.countsItself) text += ", counts itself";
                if (p.presence == Presence::LengthMatch) text += ", optional";
                text += ')';
                break;
            case FramePartKind::Tpdu:
                text += "tpdu(" + std::to_string(p.bytes) + ')';
                break;
            case FramePartKind::Header:
                text += "header(" + std::to_string(p.bytes) + ')';
                break;
            case FramePartKind::Marker:
            case FramePartKind::Check:
                text += "marker(" + HexOf(p.packDefault) + ')';
                break;
        }
    }
    for (const FramePart& p : table.trailer) {
        if (!text.empty()) text += ' ';
        text += p.kind == FramePartKind::Check
                    ? "check(XOR from byte " + std::to_string(p.checkFrom) + ')'
                    : "marker(" + HexOf(p.packDefault) + ')';
    }
    return text.empty() ? "none" : text;
}
