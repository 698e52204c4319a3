// Field tables from files: reading them safely, telling the forms apart, the shipped tables.
#include "tables/TableFile.h"

#include <cerrno>
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
                        (p.lengthEnc == LengthEnc::Binary ? " bytes binary" : " ASCII digits");
                if (p.presence == Presence::LengthMatch) text += ", optional";
                text += ')';
                break;
            case FramePartKind::Tpdu:
                text += "tpdu(" + std::to_string(p.bytes) + ')';
                break;
            case FramePartKind::Header:
                text += "header(" + std::to_string(p.bytes) + ')';
                break;
        }
    }
    return text.empty() ? "none" : text;
}
