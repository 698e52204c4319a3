// tarnwick-cli diff: two messages compared field by field.
#include "cli/Diff.h"

#include <cstdio>
#include <map>

#include "cli/EachLine.h"
#include "cli/TableCommands.h"
#include "codec/FileRead.h"
#include "codec/TextDecode.h"

namespace {

struct Keyed {
    int field = -1;
    std::string path;
    std::string value;
};

/// Each row's place as a path; the n-th repeat of a path gets "#n".
std::vector<Keyed> Paths(const FieldRowList& rows) {
    std::vector<Keyed> keyed;
    std::map<std::string, int> seen;
    std::vector<std::string> stack;  // sub-row tags by nesting depth
    std::string partName;
    for (const FieldRow& row : rows) {
        Keyed k;
        k.value = row.Value();
        if (row.parent >= 0) {
            // A sub-row's name is its tag indented by 2 spaces per nesting level.
            const std::string_view name = row.Name();
            const std::size_t indent = name.find_first_not_of(' ');
            const std::size_t depth = indent == std::string_view::npos ? 1 : std::max<std::size_t>(1, indent / 2);
            stack.resize(depth - 1);
            stack.emplace_back(indent == std::string_view::npos ? "" : name.substr(indent));
            k.field = row.parent;
            k.path = std::to_string(row.parent);
            for (const std::string& tag : stack) k.path += "." + tag;
        } else if (row.field >= 0) {
            stack.clear();
            k.field = row.field;
            k.path = std::to_string(row.field);
        } else {
            stack.clear();
            if (row.member < 0) partName = row.Name();
            k.path = row.member >= 0 ? partName + "." + std::string(row.Name())
                                     : std::string(row.Name());
        }
        const int n = ++seen[k.path];
        if (n > 1) k.path += "#" + std::to_string(n);
        keyed.push_back(std::move(k));
    }
    return keyed;
}

std::optional<std::string> ReadText(std::string_view arg, std::string& why) {
    if (!arg.starts_with('@')) return std::string(arg);
    const std::string path(arg.substr(1));
    FileRead read = ReadBoundedFile(path);
    if (!read.Ok()) {
        why = read.status == FileReadStatus::TooLarge ? "the file is over 1 MiB"
              : read.error != 0                       ? SystemErrorText(read.error)
                                                      : "not a regular file";
        return std::nullopt;
    }
    while (!read.text.empty() && (read.text.back() == '\n' || read.text.back() == '\r')) {
        read.text.pop_back();
    }
    return std::move(read.text);
}

void AppendValue(std::string& out, const std::optional<std::string>& v) {
    if (v) {
        AppendJsonString(out, *v);
    } else {
        out.append("null");
    }
}

}  // namespace

std::vector<RowDifference> DiffRows(const FieldRowList& a, const FieldRowList& b) {
    const std::vector<Keyed> ka = Paths(a);
    const std::vector<Keyed> kb = Paths(b);
    std::map<std::string, const Keyed*> inB;
    for (const Keyed& k : kb) inB.emplace(k.path, &k);
    std::vector<RowDifference> out;
    std::map<std::string, bool> inA;
    for (const Keyed& k : ka) {
        inA.emplace(k.path, true);
        const auto found = inB.find(k.path);
        if (found == inB.end()) {
            out.push_back({k.field, k.path, k.value, std::nullopt});
        } else if (found->second->value != k.value) {
            out.push_back({k.field, k.path, k.value, found->second->value});
        }
    }
    for (const Keyed& k : kb) {
        if (!inA.contains(k.path)) out.push_back({k.field, k.path, std::nullopt, k.value});
    }
    return out;
}

int RunDiffCommand(const CliOptionList& options, std::string_view a, std::string_view b,
                   const CliStreams& io, const std::function<int(std::string_view)>& usageError) {
    const std::string_view format = OptionValue(options, "--format").value_or("table");
    if (format != "json" && format != "table") return usageError("--format must be table or json");
    EachLineOptions decode;
    decode.parse.tlv = true;  // field 55's tags are compared one by one
    std::optional<FieldTable> table;
    if (const auto name = OptionValue(options, "--table")) {
        if (OptionValue(options, "--mode")) return usageError("--table and --mode exclude each other");
        table = LoadCliTable(*name, io);
        if (!table) return kExitUsage;
        decode.table = &*table;
    } else {
        const std::string_view mode = OptionValue(options, "--mode").value_or("auto");
        if (mode == "64") {
            decode.interfaceType = kInterface64;
        } else if (mode == "128") {
            decode.interfaceType = kInterface128;
        } else if (mode != "auto") {
            return usageError("--mode must be auto, 64 or 128");
        }
    }
    LineDecoder decoder(decode);
    CommandResult results[2];
    const std::string_view args[2] = {a, b};
    for (int i = 0; i < 2; ++i) {
        const char* which = i == 0 ? "A" : "B";
        std::string why;
        const auto text = ReadText(args[i], why);
        if (!text) {
            std::fprintf(io.err, "tarnwick-cli diff: %s (%s): %s\n", which,
                         std::string(args[i]).c_str(), why.c_str());
            return kExitUsage;
        }
        decoder.Decode(*text, results[i]);
        const CommandResult& r = results[i];
        if (!r.Ok()) {
            const std::string error = r.outcome == Outcome::NoLengthMatch
                                          ? std::string("no length form fits: choose --mode 64 or --mode 128")
                                          : std::string(r.error) + " " + r.DetailLine();
            std::fprintf(io.err, "tarnwick-cli diff: %s does not decode: %s\n", which,
                         error.c_str());
            return kExitUsage;
        }
    }
    const std::vector<RowDifference> diffs = DiffRows(results[0].rows, results[1].rows);
    std::string out;
    if (format == "json") {
        out.append(R"({"same":)").append(diffs.empty() ? "true" : "false").append(R"(,"fields":[)");
        for (std::size_t i = 0; i < diffs.size(); ++i) {
            const RowDifference& d = diffs[i];
            if (i > 0) out += ',';
            out.append(R"({"field":)").append(d.field >= 0 ? std::to_string(d.field) : "null");
            out.append(R"(,"path":)");
            AppendJsonString(out, d.path);
            out.append(R"(,"a":)");
            AppendValue(out, d.a);
            out.append(R"(,"b":)");
            AppendValue(out, d.b);
            out += '}';
        }
        out.append("]}\n");
    } else if (diffs.empty()) {
        out = "same\n";
    } else {
        for (const RowDifference& d : diffs) {
            out.append(d.path);
            if (!d.b) out.append("  only in A");
            if (!d.a) out.append("  only in B");
            out.append("\n  A: ").append(d.a.value_or("-"));
            out.append("\n  B: ").append(d.b.value_or("-")).append("\n");
        }
    }
    if (std::fwrite(out.data(), 1, out.size(), io.out) != out.size() || std::fflush(io.out) != 0) {
        std::fputs("tarnwick-cli: write error on standard output\n", io.err);
        return kExitUsage;
    }
    return diffs.empty() ? kExitOk : kExitFailed;
}

const std::string_view kDiffHelp =
    "Decodes two ISO 8583 messages and prints where they differ: the fields, frame parts and\n"
    "field 55 tags whose values differ, with both values, and those present in only one.\n"
    "  --mode auto|64|128, --table T   how both are decoded, as parse-iso8583\n"
    "  --format table  (default) one entry per difference: its path, then A's and B's value\n"
    "                  ('-': not there); \"same\" when there is none\n"
    "  --format json   {\"same\":false,\"fields\":[{\"field\":11,\"path\":\"11\",\"a\":\"…\",\"b\":\"…\"}]};\n"
    "                  a value not there is null, a frame part has \"field\":null, a tag of\n"
    "                  field 55 the path \"55.9F26\"\n"
    "A and B: hex texts, or @FILE for a file's text (final line breaks dropped).\n"
    "Exit status: 0 the same, 1 different, 2 when A or B does not decode (standard error names\n"
    "which and why) or on a usage problem.\n";
