// Field tables from files: reading them safely, telling the forms apart, the shipped tables.
#include "tables/TableFile.h"

#include "codec/Conversions.h"

#include <cerrno>
#include <cstdint>
#include <string>

// Generated at build time from the tables/*.json files.
extern const ShippedTable kShippedTableList[];
extern const std::size_t kShippedTableCount;

std::string TableFileProblem(const FileRead& read) {
    switch (read.status) {
        case FileReadStatus::Ok:
            break;
        case FileReadStatus::CannotOpen:
            return "cannot open: " + SystemErrorText(read.error);
        case FileReadStatus::CannotRead:
            return "cannot read: " + SystemErrorText(read.error);
        case FileReadStatus::Directory:
            return "is a directory, not a table file";
        case FileReadStatus::Fifo:
            return "is a FIFO, not a regular file";
        case FileReadStatus::Special:
            return "is a device or other special file, not a regular file";
        case FileReadStatus::TooLarge:
            return "is over " + std::to_string(kMaxTableFileBytes / (1 << 20)) + " MiB";
    }
    return {};
}

namespace {

/// The offset of the first byte that does not belong to valid UTF-8 (overlong forms, surrogates
/// and values above U+10FFFF included); npos when the text is valid.
std::size_t FirstInvalidUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        std::size_t n = 0;
        std::uint32_t cp = 0;
        std::uint32_t lowest = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            n = 1, cp = c & 0x1F, lowest = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            n = 2, cp = c & 0x0F, lowest = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            n = 3, cp = c & 0x07, lowest = 0x10000;
        } else {
            return i;
        }
        if (text.size() - i <= n) return i;
        for (std::size_t k = 1; k <= n; ++k) {
            const auto b = static_cast<unsigned char>(text[i + k]);
            if ((b & 0xC0) != 0x80) return i;
            cp = (cp << 6) | (b & 0x3F);
        }
        if (cp < lowest || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return i;
        i += n + 1;
    }
    return std::string_view::npos;
}

/// The encoding an XML declaration names ("GBK"), with its offset; empty when there is none.
std::string_view DeclaredEncoding(std::string_view text, std::size_t from, std::size_t& at) {
    if (text.substr(from, 5) != "<?xml") return {};
    const std::size_t end = text.find("?>", from);
    const std::string_view decl = text.substr(from, end == std::string_view::npos ? 0 : end - from);
    const std::size_t key = decl.find("encoding");
    if (key == std::string_view::npos) return {};
    const std::size_t open = decl.find_first_of("\"'", key);
    if (open == std::string_view::npos) return {};
    const std::size_t close = decl.find(decl[open], open + 1);
    if (close == std::string_view::npos) return {};
    at = from + open + 1;
    return decl.substr(open + 1, close - open - 1);
}

bool IsUtf8Name(std::string_view name) {
    std::string lower;
    for (const char c : name) lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    return lower == "utf-8" || lower == "utf8";
}

TableLoad Refused(std::string problem) {
    TableLoad load;
    load.problems.push_back(std::move(problem));
    return load;
}

}  // namespace

TableLoad LoadTableText(std::string_view text) {
    // What no table reader should guess about: an empty text, binary data, another encoding.
    std::size_t i = text.starts_with("\xEF\xBB\xBF") ? 3 : 0;
    while (i < text.size() &&
           (text[i] == ' ' || text[i] == '\t' || text[i] == '\r' || text[i] == '\n')) {
        ++i;
    }
    if (i == text.size()) {
        return Refused(text.empty() ? "the file is empty" : "the file holds only white space");
    }
    if (const std::size_t nul = text.find('\0'); nul != std::string_view::npos) {
        return Refused("offset " + std::to_string(nul) +
                       ": a NUL byte; a table file is text (UTF-8)");
    }
    std::size_t at = 0;
    const std::string_view enc = DeclaredEncoding(text, i, at);
    if (!enc.empty() && !IsUtf8Name(enc)) {
        return Refused("offset " + std::to_string(at) + ": the file declares encoding \"" +
                       std::string(enc) +
                       "\", but table files are read as UTF-8 only; convert the file to UTF-8 "
                       "and declare encoding=\"UTF-8\"");
    }
    if (const std::size_t bad = FirstInvalidUtf8(text); bad != std::string_view::npos) {
        return Refused("offset " + std::to_string(bad) +
                       ": not valid UTF-8 (a table file is UTF-8; convert it from its encoding, "
                       "for example GBK, first)");
    }
    if (text[i] == '<') return LoadJposTable(text);
    return LoadJsonTable(text);
}

TableLoad LoadTableFile(const std::string& path) {
    const FileRead read = ReadBoundedFile(path, kMaxTableFileBytes);
    if (!read.Ok()) {
        TableLoad load;
        load.problems.push_back(TableFileProblem(read));
        return load;
    }
    return LoadTableText(read.text);
}

std::span<const ShippedTable> ShippedTables() { return {kShippedTableList, kShippedTableCount}; }

const ShippedTable* FindShippedTable(std::string_view name) {
    for (const ShippedTable& t : ShippedTables()) {
        if (t.name == name || t.file == name) return &t;
    }
    return nullptr;
}

const FieldTable* ShippedTableValue(std::string_view name) {
    // Every shipped table, loaded once for the program's life (a thread-safe static).
    static const std::vector<std::optional<FieldTable>> loaded = [] {
        std::vector<std::optional<FieldTable>> all;
        for (const ShippedTable& t : ShippedTables()) all.push_back(LoadJsonTable(t.text).table);
        return all;
    }();
    const auto tables = ShippedTables();
    for (std::size_t i = 0; i < tables.size() && i < loaded.size(); ++i) {
        if ((tables[i].name == name || tables[i].file == name) && loaded[i]) return &*loaded[i];
    }
    return nullptr;
}

TableLoad LoadTableByNameOrFile(const std::string& nameOrPath) {
    if (const ShippedTable* shipped = FindShippedTable(nameOrPath)) {
        return LoadJsonTable(shipped->text);
    }
    const FileRead read = ReadBoundedFile(nameOrPath, kMaxTableFileBytes);
    if (read.status == FileReadStatus::CannotOpen && read.error == ENOENT) {
        TableLoad load;
        load.problems.emplace_back("not a shipped table (see tarnwick-cli tables) and not a file");
        return load;
    }
    if (!read.Ok()) {
        TableLoad load;
        load.problems.push_back(TableFileProblem(read));
        return load;
    }
    return LoadTableText(read.text);
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
