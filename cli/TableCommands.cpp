// tarnwick-cli's field table commands: tables, check-table, and parse-iso8583 --table.
#include "cli/TableCommands.h"

#include <cstdio>
#include <optional>
#include <string>

#include "codec/Texts.h"
#include "tables/TableFile.h"

namespace {

void Write(std::FILE* f, std::string_view text) { std::fwrite(text.data(), 1, text.size(), f); }

int Flush(const CliStreams& io, std::string_view text, int status) {
    if (std::fwrite(text.data(), 1, text.size(), io.out) != text.size() ||
        std::fflush(io.out) != 0) {
        Write(io.err, "tarnwick-cli: write error on standard output\n");
        return kExitFailed;
    }
    return status;
}

std::size_t DefinedFields(const FieldTable& t) {
    std::size_t n = 0;
    for (std::size_t f = 2; f < t.fields.size(); ++f) n += t.fields[f].Defined() ? 1 : 0;
    return n;
}

void Pad(std::string& line, std::size_t width) {
    if (line.size() < width) line.append(width - line.size(), ' ');
}

}  // namespace

std::optional<FieldTable> LoadCliTable(std::string_view nameOrFile, const CliStreams& io) {
    TableLoad load = LoadTableByNameOrFile(std::string(nameOrFile));
    if (!load.Ok()) {
        std::string text(kTextTableFileError);
        text += '\n';
        for (const std::string& p : load.problems) {
            text.append(nameOrFile).append(": ").append(p).append("\n");
        }
        Write(io.err, text);
        return std::nullopt;
    }
    for (const std::string& n : load.notes) Write(io.err, "tarnwick-cli: note: " + n + "\n");
    return std::move(load.table);
}

bool TableHasTlvField(const FieldTable& table) {
    for (const FieldDef& f : table.fields) {
        if (f.tlv) return true;
    }
    return false;
}

int ListTables(const CliStreams& io) {
    std::string out = "NAME                 FILE                      BITS  FRAMING\n";
    for (const ShippedTable& s : ShippedTables()) {
        const TableLoad load = LoadJsonTable(s.text);
        std::string line(s.name);
        Pad(line, 21);
        line.append(s.file);
        Pad(line, 47);
        if (load.Ok()) {
            line.append(std::to_string(load.table->bitmap.bits));
            Pad(line, 53);
            line.append(DescribeFraming(*load.table));
            line.append("  \"").append(load.table->name).append("\"");
        } else {
            line.append("-     (")
                .append(load.problems.empty() ? "" : load.problems.front())
                .append(")");
        }
        out.append(line).append("\n");
    }
    return Flush(io, out, kExitOk);
}

int CheckTable(std::string_view nameOrFile, const CliStreams& io) {
    const std::string what(nameOrFile);
    const TableLoad load = LoadTableByNameOrFile(what);
    std::string out;
    for (const std::string& p : load.problems) out.append(what).append(": ").append(p).append("\n");
    for (const std::string& n : load.notes) {
        out.append(what).append(": note: ").append(n).append("\n");
    }
    if (!load.Ok()) {
        out.append(what).append(": ").append(std::to_string(load.problems.size()));
        out.append(load.problems.size() == 1 ? " problem\n" : " problems\n");
        return Flush(io, out, kExitFailed);
    }
    const FieldTable& t = *load.table;
    out.append(what).append(": ok: \"").append(t.name).append("\", ");
    out.append(std::to_string(t.bitmap.bits)).append(" bits, ");
    out.append(std::to_string(DefinedFields(t))).append(" fields, framing ");
    out.append(DescribeFraming(t)).append("\n");
    return Flush(io, out, kExitOk);
}
