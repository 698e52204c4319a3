// tarnwick-cli: one table of subcommands, each a thin call of a core command.
#include "cli/Cli.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cli/DecodeTlv.h"
#include "cli/Diff.h"
#include "cli/EachLine.h"
#include "cli/EachLineJobs.h"
#include "cli/KeyCommands.h"
#include "cli/Load.h"
#include "cli/Output.h"
#include "cli/ReadCapture.h"
#include "cli/ResultJson.h"
#include "cli/Serve.h"
#include "cli/TableCommands.h"
#include "tables/TableFile.h"
#include "iso/BuildIso8583.h"
#include "iso/MessageKeys.h"
#include "iso/ParseIso8583.h"
#include "codec/Texts.h"
#include "net/ReplyRows.h"
#include "net/SendCommand.h"
#include "trade/ConfigFile.h"
#include "trade/ParseJsonPacket.h"
#include "trade/RowsJson.h"
#include "trade/TradeCommands.h"

namespace {

constexpr std::string_view kProgram = "tarnwick-cli";

struct OptionSpec {
    std::string_view name;  // "--mode"
    bool takesValue;
};

/// The arguments after the subcommand name.
struct Arguments {
    std::vector<std::pair<std::string_view, std::string_view>> options;  // last one wins
    std::vector<std::string_view> positional;
    bool help = false;
    bool version = false;

    [[nodiscard]] std::optional<std::string_view> Get(std::string_view name) const {
        std::optional<std::string_view> found;
        for (const auto& [n, v] : options) {
            if (n == name) found = v;
        }
        return found;
    }
    [[nodiscard]] bool Has(std::string_view name) const { return Get(name).has_value(); }
};

struct Subcommand;

/// Context of one subcommand run.
struct Run {
    const Subcommand& command;
    const Arguments& args;
    const CliStreams& io;
};

struct Subcommand {
    std::string_view name;
    std::string_view summary;
    std::string_view synopsis;
    std::string_view help;
    std::span<const OptionSpec> options;
    int (*run)(const Run&);
};

void Write(std::FILE* f, std::string_view text) { std::fwrite(text.data(), 1, text.size(), f); }

int UsageError(const Run& r, std::string_view problem) {
    std::string text;
    text.append(kProgram).append(" ").append(r.command.name).append(": ").append(problem);
    text.append("\nusage: ").append(r.command.synopsis);
    text.append("\nRun '").append(kProgram).append(" ").append(r.command.name);
    text.append(" --help' for details.\n");
    Write(r.io.err, text);
    return kExitUsage;
}

/// The system's message text first, then the detail line, if any.
int Failure(const CliStreams& io, std::string_view error, std::string_view detail) {
    std::string text(error);
    text += '\n';
    if (!detail.empty()) text.append(detail).append("\n");
    Write(io.err, text);
    return kExitFailed;
}

int WriteOut(const CliStreams& io, std::string_view text) {
    if (std::fwrite(text.data(), 1, text.size(), io.out) != text.size() ||
        std::fflush(io.out) != 0) {
        Write(io.err, "tarnwick-cli: write error on standard output\n");
        return kExitFailed;
    }
    return kExitOk;
}

/// Reads standard input whole, but never more than limit bytes: a longer text is refused by
/// every command anyway, and an endless stream must not exhaust memory.
std::optional<std::string> ReadAll(std::FILE* in, std::size_t limit) {
    std::string text;
    std::array<char, 1 << 16> block;
    while (text.size() < limit) {
        const std::size_t want = std::min(block.size(), limit - text.size());
        const std::size_t n = std::fread(block.data(), 1, want, in);
        text.append(block.data(), n);
        if (n < want) break;
    }
    if (std::ferror(in)) return std::nullopt;
    return text;
}

/// The message text: TEXT, or standard input when TEXT is omitted or "-". Of standard input one
/// final line break goes (the one that echo and the builders' text output end with), so that
/// `build-json | send` sends the packet text exactly as built.
std::optional<std::string> MessageText(const Run& r) {
    if (!r.args.positional.empty() && r.args.positional[0] != "-") {
        return std::string(r.args.positional[0]);
    }
    // The longest accepted text, its CR LF, and one byte more so that a longer one is refused.
    auto text = ReadAll(r.io.in, kMaxMessageText + 3);
    if (!text) {
        Write(r.io.err, "tarnwick-cli: read error on standard input\n");
        return std::nullopt;
    }
    if (!text->empty() && text->back() == '\n') {
        text->pop_back();
        if (!text->empty() && text->back() == '\r') text->pop_back();
    }
    return text;
}

/// Checks --format against the allowed values; the first is the default.
std::optional<std::string_view> FormatOption(const Run& r,
                                             std::initializer_list<std::string_view> allowed) {
    const std::string_view format = r.args.Get("--format").value_or(*allowed.begin());
    for (std::string_view a : allowed) {
        if (format == a) return format;
    }
    return std::nullopt;
}

int TooManyArguments(const Run& r) { return UsageError(r, "too many arguments"); }

// ---- parse-iso8583 and parse-trade

/// --jobs N, or the machine's cores; false when N is no count of threads.
bool JobsOption(const Run& r, unsigned& jobs) {
    jobs = DefaultJobs();
    const auto text = r.args.Get("--jobs");
    if (!text) return true;
    const auto [end, ec] = std::from_chars(text->data(), text->data() + text->size(), jobs);
    return ec == std::errc() && end == text->data() + text->size() && jobs >= 1 && jobs <= 256;
}

int RunEachLineCommand(const Run& r, const EachLineOptions& options,
                       std::string_view format) {
    if (r.args.Has("--format") && format != "json") {
        return UsageError(r, "--each-line writes JSON lines; --format table does not apply");
    }
    if (!r.args.positional.empty() && r.args.positional[0] != "-") {
        EachLineJson batch(options);
        std::string out;
        batch.Feed(r.args.positional[0], out);
        batch.Finish(out);
        return WriteOut(r.io, out);
    }
    unsigned jobs = 1;
    if (!JobsOption(r, jobs)) return UsageError(r, "--jobs must be a number from 1 to 256");
    return RunEachLineJobs(r.io.in, r.io.out, options, jobs);
}

/// The rows of one decoded text, or its failure, in the chosen format.
int WriteParseResult(const Run& r, const CommandResult& result, std::string_view format,
                     const MessageChecks* checks = nullptr, const KeyShow& show = {}) {
    switch (result.outcome) {
        case Outcome::Failed:
            if (format == "json" && result.failure.Known()) {
                std::string out;
                std::string scratch;
                AppendFailureJson(out, result, scratch);
                out.append("\n");
                (void)WriteOut(r.io, out);  // the exit status is the failure's either way
            }
            Write(r.io.err, WarningLines(result));
            return Failure(r.io, result.error, result.DetailLine());
        case Outcome::NoLengthMatch:
            Write(r.io.err,
                  "no length form fits the message (neither a 4-digit ASCII nor a 2-byte binary "
                  "length): choose --mode 64 or --mode 128\n");
            return kExitNoLengthMatch;
        case Outcome::Ok:
            break;
    }
    Write(r.io.err, WarningLines(result));
    if (format == "table") return WriteOut(r.io, FormatRowsTable(result.rows, result.rowEncoding));
    std::string out = R"({"rows":)";
    std::string scratch;
    AppendRowsJson(out, result.rows, result.rowEncoding, scratch, result.tlv);
    AppendWarningsJson(out, result);
    if (checks != nullptr) AppendKeyChecksJson(out, *checks, show);
    out.append("}\n");
    return WriteOut(r.io, out);
}

int RunParse(const Run& r, const EachLineOptions& options, const KeySet* keys = nullptr) {
    if (r.args.positional.size() > 1) return TooManyArguments(r);
    const auto format = FormatOption(r, {"table", "json"});
    if (!format) return UsageError(r, "--format must be table or json");
    if (r.args.Has("--jobs") && !r.args.Has("--each-line")) {
        return UsageError(r, "--jobs applies to --each-line only");
    }
    if (r.args.Has("--each-line")) {
        if (keys != nullptr) return UsageError(r, "--keys checks one message, not --each-line");
        return RunEachLineCommand(r, options, *format);
    }
    const auto text = MessageText(r);
    if (!text) return kExitFailed;
    // The rows' titles point into the decoder's table: it lives until they are written.
    LineDecoder decoder(options);
    CommandResult result;
    decoder.Decode(*text, result);
    MessageChecks checks;
    const KeyShow show{r.args.Has("--show-pin"), r.args.Has("--show-keys")};
    if (keys != nullptr && result.Ok()) {
        ParseRequest request;
        request.interfaceType = options.interfaceType;
        request.table = options.table;
        CheckTextKeys(*text, request, *keys, checks);
        AddKeyRows(result, checks, show);
    }
    return WriteParseResult(r, result, *format, &checks, show);
}

int RunParseIso8583(const Run& r) {
    KeySet keySet;
    const KeySet* keys = nullptr;
    if (const auto path = r.args.Get("--keys")) {
        if (!LoadKeysFile(*path, keySet, r.io)) return kExitFailed;
        keys = &keySet;
    }
    EachLineOptions options;
    options.parse = ParseOptions{r.args.Has("--tlv"), r.args.Has("--mask")};
    options.parse.explain = r.args.Has("--explain");
    options.parse.explainTable = &ShippedTableValue;
    if (const auto table = r.args.Get("--table")) {
        if (r.args.Has("--mode")) return UsageError(r, "--table and --mode exclude each other");
        const std::optional<FieldTable> loaded = LoadCliTable(*table, r.io);
        if (!loaded) return kExitFailed;
        if (r.args.Has("--tlv") && !TableHasTlvField(*loaded)) {
            Write(r.io.err, std::string(kProgram) +
                                ": warning: --tlv: the table marks no field as TLV data; no field "
                                "is decoded tag by tag\n");
        }
        options.table = &*loaded;
        return RunParse(r, options, keys);
    }
    const std::string_view mode = r.args.Get("--mode").value_or("auto");
    if (mode == "auto") {
        options.interfaceType = kInterfaceAuto;
    } else if (mode == "64") {
        options.interfaceType = kInterface64;
    } else if (mode == "128") {
        options.interfaceType = kInterface128;
    } else {
        return UsageError(r, "--mode must be auto, 64 or 128");
    }
    return RunParse(r, options, keys);
}

int RunParseTrade(const Run& r) {
    EachLineOptions options;
    options.form = LineForm::Trade;
    return RunParse(r, options);
}
int RunParseJson(const Run& r) {
    EachLineOptions options;
    options.form = LineForm::JsonPacket;
    return RunParse(r, options);
}
int RunDecodeTlv(const Run& r) {
    if (r.args.positional.size() > 1) return TooManyArguments(r);
    const auto format = FormatOption(r, {"table", "json"});
    if (!format) return UsageError(r, "--format must be table or json");
    const auto text = MessageText(r);
    if (!text) return kExitFailed;
    return DecodeTlvCommand(*text, *format == "json", r.args.Has("--mask"), r.io);
}

// ---- tables and check-table

int RunTables(const Run& r) {
    if (!r.args.positional.empty()) return TooManyArguments(r);
    return ListTables(r.io);
}

int RunCheckTable(const Run& r) {
    if (r.args.positional.empty()) return UsageError(r, "FILE is missing");
    if (r.args.positional.size() > 1) return TooManyArguments(r);
    return CheckTable(r.args.positional[0], r.io);
}

// ---- build-trade and build-json

int RunBuild(const Run& r, const std::function<CommandResult(std::string_view path)>& build,
             const std::function<CommandResult(std::string_view text)>& buildText) {
    if (r.args.positional.size() > 1) return TooManyArguments(r);
    const auto format = FormatOption(r, {"text", "json"});
    if (!format) return UsageError(r, "--format must be text or json");
    // Without FILE the command reports it like a cancelled file choice.
    const std::string_view path = r.args.positional.empty() ? "" : r.args.positional[0];
    CommandResult result;
    if (path == "-") {
        std::string text;
        std::string detail;
        if (!ReadConfigStream(fileno(r.io.in), "standard input", text, detail)) {
            return Failure(r.io, kTextConfigParseError, detail);
        }
        result = buildText(text);
    } else {
        result = build(path);
    }
    for (const std::string& w : result.warnings) {
        Write(r.io.err, std::string(kProgram) + ": warning: " + w + "\n");
    }
    std::string out;
    if (*format == "json" && result.RowsStand()) {
        std::string scratch;
        out.append(R"({"message":)");
        if (result.Ok()) {
            AppendJsonText(out, result.message, result.messageEncoding, scratch);
        } else {
            out.append("null");  // serialisation failed; the member rows stand all the same
        }
        out.append(R"(,"rows":)");
        AppendRowsJson(out, result.rows, result.rowEncoding, scratch);
        out.append("}\n");
    } else if (result.Ok()) {
        out.append(result.message).append("\n");  // exact bytes, so a packet's check byte holds
    }
    const int written = out.empty() ? kExitOk : WriteOut(r.io, out);
    if (!result.Ok()) return Failure(r.io, result.error, result.detail);
    return written;
}

int RunBuildTrade(const Run& r) {
    return RunBuild(r, BuildTradeFromXmlFile, BuildTradeFromXmlText);
}
int RunBuildJson(const Run& r) { return RunBuild(r, BuildJsonFromFile, BuildJsonFromText); }

/// With keys, the built message gets its PIN block (when a PIN is given), its computed MAC and
/// the rows of decoding it again.
CommandResult WithMac(CommandResult result, const KeySet* keys, const ParseRequest& request,
                      std::string_view pin = {}) {
    if (keys == nullptr || !result.Ok()) return result;
    std::string problem;
    if (!pin.empty() && !FillMessagePin(result.message, request, *keys, pin, problem)) {
        result.Fail(kTextIsoBuildError, problem);
        return result;
    }
    if (!FillMessageMac(result.message, request, *keys, problem)) {
        result.Fail(kTextIsoBuildError, problem);
        return result;
    }
    CommandResult decoded;
    IsoParser parser;
    parser.Parse(result.message, request, decoded);
    if (decoded.Ok()) result.rows = std::move(decoded.rows);
    return result;
}

/// With keys, the rows the checks added are not built back, and a row "PIN" (clear digits)
/// is taken out to become field 52; --pin stands in for it. The PIN is wiped when freed.
struct KeyRows {
    bool active = false;
    std::string pin;
    bool pinGiven = false;
    KeyRows(bool withKeys, std::string_view option)
        : active(withKeys), pin(option), pinGiven(!option.empty()) {}
    KeyRows(const KeyRows&) = delete;
    KeyRows& operator=(const KeyRows&) = delete;
    ~KeyRows() { WipeBytes(pin.data(), pin.size()); }

    std::vector<FieldRow> Take(std::span<const FieldRow> rows) {
        std::vector<FieldRow> kept;
        kept.reserve(rows.size());
        for (const FieldRow& row : rows) {
            if (active && IsKeyCheckRow(row)) continue;
            if (active && row.field < 0 && row.part < 0 && row.parent < 0 &&
                TrimmedName(row) == "PIN") {
                if (!pinGiven) {
                    std::string_view v = row.value.View();
                    while (!v.empty() && v.front() == ' ') v.remove_prefix(1);
                    while (!v.empty() && v.back() == ' ') v.remove_suffix(1);
                    WipeBytes(pin.data(), pin.size());
                    pin.assign(v);
                }
                continue;
            }
            kept.push_back(row);
        }
        return kept;
    }

private:
    static std::string_view TrimmedName(const FieldRow& row) {
        std::string_view n = row.name.View();
        while (!n.empty() && n.front() == ' ') n.remove_prefix(1);
        while (!n.empty() && n.back() == ' ') n.remove_suffix(1);
        return n;
    }
};

int RunBuildIso8583(const Run& r) {
    KeySet keySet;
    const KeySet* keys = nullptr;
    if (const auto path = r.args.Get("--keys")) {
        if (!LoadKeysFile(*path, keySet, r.io)) return kExitFailed;
        keys = &keySet;
    }
    if (keys == nullptr && r.args.Has("--pin")) return UsageError(r, "--pin needs --keys");
    KeyRows keyRows(keys != nullptr, r.args.Get("--pin").value_or(""));
    ParseRequest request;
    RowsBuilder build;
    std::optional<FieldTable> table;
    if (const auto name = r.args.Get("--table")) {
        if (r.args.Has("--mode")) return UsageError(r, "--table and --mode exclude each other");
        table = LoadCliTable(*name, r.io);
        if (!table) return kExitFailed;
        request.table = &*table;
        request.titles = true;
        build = [&table, keys, &request, &keyRows](std::span<const FieldRow> rows) {
            const std::vector<FieldRow> kept = keyRows.Take(rows);
            return WithMac(BuildIso8583WithTable(kept, *table, TextEncoding::Utf8OrGbk, &ShippedTableValue), keys, request, keyRows.pin);
        };
    } else {
        const std::string_view mode = r.args.Get("--mode").value_or("auto");
        int interfaceType = kInterfaceAuto;
        if (mode == "64") {
            interfaceType = kInterface64;
        } else if (mode == "128") {
            interfaceType = kInterface128;
        } else if (mode != "auto") {
            return UsageError(r, "--mode must be auto, 64 or 128");
        }
        request.interfaceType = interfaceType;
        build = [interfaceType, keys, &request, &keyRows](std::span<const FieldRow> rows) {
            const std::vector<FieldRow> kept = keyRows.Take(rows);
            return WithMac(BuildIso8583FromRows(kept, interfaceType, TextEncoding::Utf8OrGbk,
                                                  &ShippedTableValue), keys, request, keyRows.pin);
        };
    }
    return RunBuild(
        r, [&](std::string_view path) { return BuildFromRowsFile(path, build); },
        [&](std::string_view text) { return BuildFromRowsJson(text, build); });
}

// ---- send

/// Reads "A.B.C.D" into the four fields of the IP control; an empty field reads 0 and marks
/// nothing. blank is set when all four are empty. False when the text is no such address.
bool ParseIpText(std::string_view text, std::array<int, 4>& fields, bool& blank) {
    blank = true;
    for (std::size_t i = 0; i < 4; ++i) {
        const std::size_t dot = text.find('.');
        if ((i < 3) != (dot != std::string_view::npos)) return false;
        const std::string_view field = text.substr(0, dot);
        fields[i] = 0;
        if (!field.empty()) {
            if (field.size() > 3) return false;
            int value = 0;
            const auto [end, ec] =
                std::from_chars(field.data(), field.data() + field.size(), value);
            if (ec != std::errc() || end != field.data() + field.size() || value > 255)
                return false;
            fields[i] = value;
            blank = false;
        }
        text = i < 3 ? text.substr(dot + 1) : std::string_view{};
    }
    return true;
}

/// The standard error line of a reply that is not complete.
std::string ReplyEndNotice(const SendReport& report, std::string_view detail) {
    std::string line = "reply " + std::string(ReplyEndName(report.ended)) + ": ";
    const std::string got = std::to_string(report.reply.size()) + " bytes";
    const std::string of =
        report.expected == 0
            ? got
            : got + " of the " + std::to_string(report.expected) + " its length announces";
    switch (report.ended) {
        case ReplyEnd::None:
            line += "no reply was awaited";
            break;
        case ReplyEnd::Closed:
            line += "the host closed the connection after " + of;
            break;
        case ReplyEnd::Reset:
            line += std::string(detail) + " after " + of;
            break;
        case ReplyEnd::Timeout:
            line += report.cut ? "cut at the size cap of " + std::to_string(kMaxReplyBytes) +
                                     " bytes, " + of
                               : "no complete reply within the time-out, " + of;
            break;
        case ReplyEnd::Complete:
            break;
    }
    return line + "\n";
}

/// The request from --ip and --timeout-ms; a usage problem's text when they are no such values.
std::optional<std::string> ReadSendOptions(const Run& r, SendRequest& request) {
    const std::string_view ip = r.args.Get("--ip").value_or("");
    if (!ParseIpText(ip.empty() ? "..." : ip, request.ipFields, request.ipBlank)) {
        return "--ip must be an IPv4 address A.B.C.D (fields 0..255)";
    }
    if (const auto timeout = r.args.Get("--timeout-ms")) {
        int ms = -1;
        const auto [end, ec] =
            std::from_chars(timeout->data(), timeout->data() + timeout->size(), ms);
        if (ec != std::errc() || end != timeout->data() + timeout->size() || ms < 0) {
            return "--timeout-ms must be a number of milliseconds, 0 or more";
        }
        request.replyTimeoutMs = ms;
    }
    request.portText = r.args.Get("--port").value_or("");  // a view of the argument itself
    return std::nullopt;
}

/// The reply as standard output shows it: JSON, the decoded rows, or hex.
std::string FormatSendReply(const SendReport& report, const CommandResult* rows, bool json) {
    std::string out;
    if (json) {
        std::string scratch;
        out.append(R"({"sent":)").append(std::to_string(report.sent));
        if (rows != nullptr) {
            out.append(R"(,"rows":)");
            AppendRowsJson(out, rows->rows, rows->rowEncoding, scratch);
        } else {
            out.append(R"(,"reply":")");
            AppendHex(out, report.reply);
            out += '"';
        }
        out.append(R"(,"ended":")").append(ReplyEndName(report.ended)).append(R"(","expected":)");
        out.append(report.expected == 0 ? "null" : std::to_string(report.expected));
        if (report.cut) out.append(R"(,"cut":true)");
        out.append("}\n");
    } else if (rows != nullptr) {
        out = FormatRowsTable(rows->rows, rows->rowEncoding);
    } else if (!report.reply.empty()) {
        AppendHex(out, report.reply);
        out += '\n';
    }
    return out;
}

/// Standard error's notice: nothing sent, or how an incomplete reply ended.
std::string SendNotice(const CommandResult& result, bool json) {
    const SendReport& report = result.send;
    std::string err;
    if (report.sent == 0) {
        err.append(kProgram).append(": nothing was sent: the message text holds no byte\n");
    } else if (report.ended != ReplyEnd::Complete && !json) {
        err.append(kProgram).append(": ").append(ReplyEndNotice(report, result.detail));
    }
    return err;
}

int RunSend(const Run& r) {
    if (r.args.positional.size() > 1) return TooManyArguments(r);
    const auto format = FormatOption(r, {"text", "json"});
    if (!format) return UsageError(r, "--format must be text or json");
    SendRequest request;
    if (const auto problem = ReadSendOptions(r, request)) return UsageError(r, *problem);
    // The checks keep the dialog's order: IP, port, then the message text.
    std::string text;
    if (!request.ipBlank && !request.portText.empty()) {
        auto read = MessageText(r);
        if (!read) return kExitFailed;
        text = std::move(*read);
    }
    request.messageText = text;
    const CommandResult result = SendMessageText(request);
    if (!result.Ok()) return Failure(r.io, result.error, result.detail);
    const SendReport& report = result.send;
    const bool json = *format == "json";
    CommandResult decoded;
    const bool decode = r.args.Has("--decode") && !report.reply.empty();
    if (decode) decoded = DecodeReply(report, kInterfaceAuto);
    const bool rows = decode && decoded.Ok() && !decoded.rows.empty();
    const std::string out = FormatSendReply(report, rows ? &decoded : nullptr, json);
    Write(r.io.err, SendNotice(result, json));
    const int written = out.empty() ? kExitOk : WriteOut(r.io, out);
    if (decode && !decoded.Ok()) {
        const bool noLength = decoded.outcome == Outcome::NoLengthMatch;
        return Failure(r.io, noLength ? kTextIsoParseError : decoded.error,
                       noLength ? std::string_view("no length form of the reply fits its size")
                                : std::string_view(decoded.detail));
    }
    if (r.args.Has("--expect-reply") && report.ended != ReplyEnd::Complete) return kExitFailed;
    return written;
}

// ---- serve

int RunServe(const Run& r) {
    if (!r.args.positional.empty()) return TooManyArguments(r);
    return RunServeCommand(r.args.options, r.io,
                           [&r](std::string_view problem) { return UsageError(r, problem); });
}

// ---- mac, pin-block, kcv and cipher

int RunKeyCommand(const Run& r, int (*command)(const KeyCommandArgs&)) {
    return command(KeyCommandArgs{r.args.options, r.args.positional, r.io});
}
int RunMac(const Run& r) { return RunKeyCommand(r, RunMacCommand); }
int RunPinBlock(const Run& r) { return RunKeyCommand(r, RunPinBlockCommand); }
int RunKcv(const Run& r) { return RunKeyCommand(r, RunKcvCommand); }
int RunCipher(const Run& r) { return RunKeyCommand(r, RunCipherCommand); }
// ---- read-capture

int RunReadCapture(const Run& r) {
    if (r.args.positional.empty()) return UsageError(r, "FILE is missing");
    if (r.args.positional.size() > 1) return TooManyArguments(r);
    return RunReadCaptureCommand(r.args.options, r.args.positional[0], r.io,
                                 [&r](std::string_view problem) { return UsageError(r, problem); });
}

// ---- diff

int RunDiff(const Run& r) {
    if (r.args.positional.size() < 2) return UsageError(r, "A and B are both needed");
    if (r.args.positional.size() > 2) return TooManyArguments(r);
    return RunDiffCommand(r.args.options, r.args.positional[0], r.args.positional[1], r.io,
                          [&r](std::string_view problem) { return UsageError(r, problem); });
}

// ---- load

int RunLoadMessages(const Run& r) {
    if (r.args.positional.size() > 1) return TooManyArguments(r);
    return RunLoadCommand(r.args.options, r.args.positional.empty() ? "" : r.args.positional[0],
                          r.io, [&r](std::string_view problem) { return UsageError(r, problem); });
}

// ---- the table

constexpr OptionSpec kParseIsoOptions[] = {
    {"--mode", true}, {"--table", true}, {"--format", true}, {"--each-line", false},
    {"--tlv", false}, {"--mask", false}, {"--explain", false}, {"--jobs", true},
    {"--keys", true}, {"--show-pin", false}, {"--show-keys", false}};
constexpr OptionSpec kDecodeTlvOptions[] = {{"--format", true}, {"--mask", false}};
constexpr OptionSpec kParseTradeOptions[] = {
    {"--format", true}, {"--each-line", false}, {"--jobs", true}};
constexpr OptionSpec kBuildOptions[] = {{"--format", true}};
constexpr OptionSpec kBuildIsoOptions[] = {
    {"--mode", true}, {"--table", true}, {"--format", true}, {"--keys", true},
    {"--pin", true}};
constexpr std::span<const OptionSpec> kNoOptions;
constexpr OptionSpec kSendOptions[] = {
    {"--ip", true},     {"--port", true},          {"--timeout-ms", true},
    {"--format", true}, {"--expect-reply", false}, {"--decode", false}};

constexpr OptionSpec kReadCaptureOptions[] = {{"--mode", true},   {"--table", true},
                                              {"--port", true},   {"--format", true},
                                              {"--summary", false}};
constexpr OptionSpec kDiffOptions[] = {{"--mode", true}, {"--table", true}, {"--format", true}};
constexpr OptionSpec kLoadOptions[] = {
    {"--ip", true},       {"--port", true},       {"--connections", true}, {"--rate", true},
    {"--count", true},    {"--duration", true},   {"--timeout-ms", true},  {"--format", true},
    {"--keys", true}};
constexpr OptionSpec kServeOptions[] = {
    {"--port", true},         {"--bind", true},  {"--mode", true},
    {"--trade", false},       {"--rules", true}, {"--count", true},
    {"--idle-timeout", true}, {"--table", true}, {"--json", false},
    {"--connection-idle", true}, {"--keys", true}};

constexpr OptionSpec kMacOptions[] = {
    {"--alg", true}, {"--key", true}, {"--pad", true}, {"--iv", true}, {"--format", true}};
constexpr OptionSpec kPinBlockOptions[] = {{"--format", true}, {"--pin", true}, {"--pan", true},
                                           {"--key", true},    {"--fill", true}, {"--decode", true},
                                           {"--json", false}};
constexpr OptionSpec kKcvOptions[] = {{"--key", true}, {"--bytes", true}, {"--json", false}};
constexpr OptionSpec kCipherOptions[] = {{"--alg", true},     {"--encrypt", false},
                                         {"--decrypt", false}, {"--key", true},
                                         {"--mode", true},    {"--iv", true},
                                         {"--json", false}};

constexpr std::string_view kRowsHelp =
    "  --format table  aligned columns under the headings 域, 长度, 参数值 (default)\n"
    "  --format json   {\"rows\":[{\"name\":\"…\",\"length\":\"…\",\"value\":\"…\"},…]}\n"
    "  --each-line     batch mode: every line of the input (TEXT or standard input), a blank\n"
    "                  one included, is one message text (a trailing CR is dropped) and gives\n"
    "                  one JSON line on standard output: {\"rows\":[…]},\n"
    "                  {\"error\":\"<message text>\"} or {\"error\":null,\"status\":3} (no length\n"
    "                  form fits); exit status 0\n"
    "  --jobs N        batch mode on N threads (default: the machine's cores); the output keeps\n"
    "                  the input's order\n"
    "A decoding that stops adds \"field\", \"offset\" (bytes from the first byte, length\n"
    "included), \"reason\" and the rows decoded before it to the JSON error object, and names\n"
    "them on the detail line. Warnings go to standard error and to \"warnings\":[…].\n"
    "Row texts are code page 936 (GBK) bytes, written as UTF-8; a byte sequence that does not\n"
    "decode shows as U+FFFD. In the table, control characters show as '.'.\n";

constexpr std::string_view kTextHelp =
    "TEXT is the message as hex digits, upper or lower case, white space anywhere; omitted or\n"
    "'-': standard input, read whole (one final line break is dropped).\n";

const std::string kParseIsoHelp =
    std::string(
        "Decodes an ISO 8583 message text (64-field UnionPay terminal message, or 128-field "
        "message\n"
        "with its 46-byte header) into rows.\n"
        "  --mode auto     (default) a 4-digit ASCII length that fits the message means 128 "
        "fields,\n"
        "                  a 2-byte binary length that fits means 64 fields (length skipped);\n"
        "                  when neither fits: a hint on standard error and exit status 3\n"
        "  --mode 64       64 fields, the message starts without a length (TPDU or type first);\n"
        "                  a 4-digit ASCII length that fits still means 128 fields\n"
        "  --mode 128      128 fields, the message starts without a length (header or type "
        "first)\n"
        "  --table T       decode with a field table: a shipped table's name (see 'tarnwick-cli\n"
        "                  tables') or a table file (JSON, or jPOS GenericPackager XML); not\n"
        "                  with --mode. JSON rows then carry \"title\", the field's name. A table\n"
        "                  with problems: \"域定义文件有误!\" and the problems, exit status 1\n") +
    "  --tlv           field 55 (chip card data) tag by tag: one row per tag after its row\n"
    "                  (\"  9F26\", 2 spaces per nesting level), value: hex -> name: meaning;\n"
    "                  a row \"  错误\" when the data stops decoding. In JSON the field's row\n"
    "                  carries "
    "\"tlv\":[{\"tag\",\"name\",\"length\",\"value\",\"text\",\"children\"}]\n"
    "                  and, when it stops, \"tlvError\":{\"offset\",\"reason\"}\n"
    "  --mask          card numbers (fields 2, 35, 36; tags 5A, 56, 57, 9F6B) show only their\n"
    "                  first 6 and last 4 digits, the rest as '*', in hex and text alike\n"
    "  --explain       also for the built-in forms and the exact tables: values with a meaning\n"
    "                  show it (\"3531 -> 51: 余额不足\"), sub-fields as rows (\"  60.1\"), and a\n"
    "                  first row \"交易\" sums up the message; the -full and ISO tables always do.\n"
    "                  JSON rows carry \"meaning\", sub-rows \"path\", the summary \"summary\":true\n"
    "  --keys FILE     a keys file (docs/keys-file.md): a row \"MAC校验\" after the MAC field\n"
    "                  (\"正确 (algorithm)\" or \"错误: 报文 …, 计算 …\"), and \"mac\":{…} in JSON;\n"
    "                  field 52 with a PAN: a row \"PIN校验\" (format, PIN length, well formed),\n"
    "                  \"pin\":{…}; a sign-in reply (0810, field 62): sub-rows \"  PIK\", \"  MAK\",\n"
    "                  \"  TDK\" opened under the TMK, \"校验值正确\" or \"校验值错误\", \"keys\":[…]\n"
    "  --show-pin      with --keys: the PIN digits too\n"
    "  --show-keys     with --keys: the opened working keys too (in the clear!)\n" +
    std::string(kRowsHelp) + std::string(kTextHelp) +
    "Failures (exit status 1): \"报文为空!\", \"iso8583报文解析出错!\" (also for a text over "
    "10239\n"
    "characters).\n";

const std::string kParseTradeHelp =
    std::string(
        "Decodes a framed orbo8583 trade message text (length, F1, three zero bytes, command,\n"
        "bitmap, fields, check byte) into rows.\n") +
    std::string(kRowsHelp) + std::string(kTextHelp) +
    "Failures (exit status 1): \"报文为空!\", \"orbo8583报文解析出错!\".\n";

const std::string kParseJsonHelp =
    std::string(
        "Decodes a JSON packet text into one row per member and a last row \"校验\" (check byte\n"
        "and stated length agree, or what they should be). TEXT is the packet as build-json\n"
        "writes it (12 hex characters of frame head, the JSON text, 2 hex characters of check\n"
        "byte) or the whole frame as hex digits (white space anywhere).\n") +
    std::string(kRowsHelp) +
    "Omitted or '-': standard input, read whole (one final line break is dropped).\n"
    "Failures (exit status 1): \"报文为空!\", \"JSON包解析出错!\" (the reason on the detail line).\n";

constexpr std::string_view kBuildTradeHelp =
    "Builds an orbo8583 trade message from an XML build configuration: root element\n"
    "<orbo8583-build-config>, child elements <bit number=\"N\" value=\"HEX\"/> (0 = command code,\n"
    "2..44 = data fields).\n"
    "  --format text   (default) the message text (hex of the trade frame), then a line break\n"
    "  --format json   {\"message\":\"…\",\"rows\":[…]}: the message text and the rows of parsing "
    "it\n"
    "FILE '-' reads standard input. Suspicious places of the file (an element that is not <bit>,\n"
    "an unknown attribute, a missing or non-numeric number, a field given twice) do not stop\n"
    "the build: one line 'tarnwick-cli: warning: line N: …' each on standard error.\n"
    "Failures (exit status 1): \"没有指定对应的配置文件!\" (no FILE), \"解析配置文件出错!\" (also\n"
    "for a file that is not a regular file or is over 1 MiB), \"<orbo8583-build-config>节点不存在!\",\n"
    "\"orbo8583报文组包出错!\".\n";

constexpr std::string_view kBuildJsonHelp =
    "Builds a JSON packet from a JSON configuration (an object whose integer and string members\n"
    "become the packet).\n"
    "  --format text   (default) the packet text's exact bytes: 12 hex characters of frame head,\n"
    "                  the JSON text as it stands, 2 hex characters of check byte; then a line\n"
    "                  break. It can be piped to 'tarnwick-cli send'.\n"
    "  --format json   {\"message\":\"…\",\"rows\":[…]}: the packet text and the member rows; "
    "texts\n"
    "                  are read as UTF-8 when they are valid UTF-8, else as code page 936\n"
    "FILE '-' reads standard input; a UTF-8 byte-order mark at the start is skipped.\n"
    "Failures (exit status 1): \"没有指定对应的配置文件!\" (no FILE), \"解析配置文件出错!\" (also\n"
    "for a file that is not a regular file or is over 1 MiB),\n"
    "\"orbojson报文组包出错!\". When serialisation fails, --format json still prints the member\n"
    "rows, with \"message\":null.\n";

constexpr std::string_view kBuildIsoHelp =
    "Builds an ISO 8583 message from rows in the JSON form that parse-iso8583 --format json\n"
    "prints: {\"rows\":[{\"name\":\"Bit 41\",\"value\":\"…\"},…]} (\"length\" is not read), so that\n"
    "'parse-iso8583 --format json | jq … | build-iso8583 -' changes a field and builds again.\n"
    "Rows: \"TPDU\", \"Header\", \"Type\"/\"MsgType\", the 128-field header's \"field 1\"..\"field 10\",\n"
    "\"Bit 1\" (recomputed from the fields present) and \"Bit N\". A value's hex part (before\n"
    "\" -> \") is the value, unless the text part no longer matches it: then the text, in code\n"
    "page 936, is. A variable field's hex may include its length prefix when the prefix agrees\n"
    "with the data; otherwise the prefix is computed.\n"
    "  --mode auto     (default) with a length: 128 fields (4 ASCII digits) when the rows hold a\n"
    "                  field above 64, a 16-byte \"Bit 1\" or header rows, else 64 (2 bytes)\n"
    "  --mode 64       64 fields, no length\n"
    "  --mode 128      128 fields, no length\n"
    "  --table T       the form of a field table (as parse-iso8583 --table): a shipped table's\n"
    "                  name or a table file; with a length when the table has a length part\n"
    "  --format text   (default) the message as upper-case hex, then a line break\n"
    "  --format json   {\"message\":\"…\",\"rows\":[…]}: the message and the rows of decoding it\n"
    "  --keys FILE     a keys file (docs/keys-file.md): the MAC field gets the MAC computed with\n"
    "                  its \"mak\" over the message as built; a row \"PIN\" holding clear digits\n"
    "                  becomes field 52, the PIN block under \"pik\" with the message's PAN\n"
    "  --pin DIGITS    with --keys: the PIN for field 52 (in place of a row \"PIN\"; visible to\n"
    "                  every user of the machine on a command line)\n"
    "FILE '-' reads standard input.\n"
    "Failures (exit status 1): \"没有指定对应的配置文件!\" (no FILE), \"解析配置文件出错!\" (not such\n"
    "JSON), \"组包出错!\" (a row that cannot be packed; the detail line names it and why).\n";
constexpr std::string_view kDecodeTlvHelp =
    "Decodes BER-TLV data (chip card data, ISO 8583 field 55 without its length) tag by tag:\n"
    "one row per tag, nested tags indented by 2 spaces per level; value: hex -> name: meaning.\n"
    "  --format table  (default) aligned columns; a last row \"错误\" when an object does not\n"
    "                  decode (exit status 1, \"offset K: reason\" on standard error)\n"
    "  --format json   {\"tlv\":[{\"tag\",\"name\",\"length\",\"value\",\"text\",\"children\"}]},\n"
    "                  plus \"error\":{\"offset\":K,\"reason\":\"…\"} when an object does not "
    "decode\n"
    "                  (K: its first tag byte, from the start of the data)\n"
    "  --mask          card numbers of tags 5A, 56, 57 and 9F6B show only their first 6 and\n"
    "                  last 4 digits, templates included\n"
    "TEXT: hex digits, white space anywhere (an odd last digit is not counted); omitted or '-':\n"
    "standard input. Failures (exit status 1): \"报文为空!\", \"TLV数据过长!\" (over 10239\n"
    "characters), \"TLV数据含有非十六进制字符!\" (the detail names the character).\n";

constexpr std::string_view kSendHelp =
    "Sends the bytes of a message text to a host over one TCP connection and prints the reply.\n"
    "  --ip A.B.C.D    IPv4 address; an empty field reads 0 (192.168..1 is 192.168.0.1)\n"
    "  --port PORT     read like C atoi (\"8000a\" is 8000), low 16 bits used (\"70000\" is 4464)\n"
    "  --timeout-ms N  wait at most N ms for the reply (default 3000; 0: do not wait)\n"
    "  --format text   (default) the reply as upper-case hex and a line break; nothing when no\n"
    "                  reply came. A reply that is not complete adds one line on standard\n"
    "                  error saying how it ended\n"
    "  --format json   {\"sent\":N,\"reply\":\"…\",\"ended\":\"…\",\"expected\":M}: ended is "
    "complete\n"
    "                  (its length form satisfied), closed (the host closed first), reset,\n"
    "                  timeout (the bytes so far) or none (no reply awaited); expected is the\n"
    "                  length its length form announces, null while unknown\n"
    "  --decode        the reply's rows (table, or \"rows\" in place of \"reply\") by the parse\n"
    "                  command that fits its form: JSON packet, trade frame, else ISO 8583\n"
    "                  --mode auto. A reply that does not decode: exit status 1\n"
    "  --expect-reply  exit status 1 when the reply is not complete\n"
    "TEXT: hex digits, white space anywhere (a lone last digit is not sent, a non-hex character\n"
    "counts as F); or a JSON packet text as build-json writes it (13th character '{'): 12 hex\n"
    "characters of frame head, the JSON text sent as it stands, 2 hex characters of check byte.\n"
    "Omitted or '-': standard input, read whole (one final line break is dropped).\n"
    "The reply is read until the host closes the connection, the reply is complete by its own\n"
    "length (2-byte binary, 4-digit ASCII, or the trade frame's length), or the time-out passes;\n"
    "at most 1 MiB of it is read (a longer one is cut: \"cut\":true). A text of white space only\n"
    "connects and sends nothing; standard error says so.\n"
    "Failures (exit status 1), checked in this order: \"IP为空!\" (--ip missing or all fields\n"
    "empty), \"Port为空!\", \"Send数据为空!\", \"Send数据过长!\" (over 10239 characters),\n"
    "\"Send数据格式错误!\" (a JSON packet text under 14 characters), \"建立socket连接异常!\" "
    "(refused,\n"
    "unreachable, or no connection within 3 s), \"发送数据失败!\".\n";

constexpr std::string_view kTablesHelp =
    "Lists the field tables built into the program, for parse-iso8583 --table NAME: name, file,\n"
    "bitmap bits, framing in front of the message type, and the table's title. The files are\n"
    "installed in share/tarnwick/tables; docs/field-tables.md describes the format.\n";

constexpr std::string_view kCheckTableHelp =
    "Checks a field table file (JSON, or jPOS GenericPackager XML) or a shipped table's name,\n"
    "and prints every problem found, one per line, each naming its place (a byte offset, or the\n"
    "field and key) and what is wrong. Exit status 1 when there is a problem, else 0 and one\n"
    "summary line.\n";

const Subcommand kSubcommands[] = {
    {"parse-iso8583", "decode an ISO 8583 message text (64 or 128 fields) into rows",
     "tarnwick-cli parse-iso8583 [--mode auto|64|128 | --table T] [--format table|json] "
     "[--each-line [--jobs N]] [--tlv] [--mask] [--explain] [--keys FILE [--show-pin] "
     "[--show-keys]] [TEXT]",
     kParseIsoHelp, kParseIsoOptions, RunParseIso8583},
    {"parse-trade", "decode an orbo8583 trade message text into rows",
     "tarnwick-cli parse-trade [--format table|json] [--each-line] [--jobs N] [TEXT]",
     kParseTradeHelp, kParseTradeOptions, RunParseTrade},
    {"parse-json", "decode a JSON packet text into the rows of its members",
     "tarnwick-cli parse-json [--format table|json] [--each-line] [--jobs N] [TEXT]",
     kParseJsonHelp, kParseTradeOptions, RunParseJson},
    {"decode-tlv", "decode BER-TLV chip card data (field 55) tag by tag",
     "tarnwick-cli decode-tlv [--format table|json] [--mask] [HEX]", kDecodeTlvHelp,
     kDecodeTlvOptions, RunDecodeTlv},
    {"build-trade", "build an orbo8583 trade message from an XML build configuration",
     "tarnwick-cli build-trade [--format text|json] FILE.xml|-", kBuildTradeHelp, kBuildOptions,
     RunBuildTrade},
    {"build-json", "build a JSON packet from a JSON configuration",
     "tarnwick-cli build-json [--format text|json] FILE.json|-", kBuildJsonHelp, kBuildOptions,
     RunBuildJson},
    {"build-iso8583", "build an ISO 8583 message from rows (parse-iso8583's JSON)",
     "tarnwick-cli build-iso8583 [--mode auto|64|128 | --table T] [--format text|json] "
     "[--keys FILE [--pin DIGITS]] FILE.json|-",
     kBuildIsoHelp, kBuildIsoOptions, RunBuildIso8583},
    {"send", "send a message text to a host over TCP and print the reply",
     "tarnwick-cli send --ip A.B.C.D --port PORT [--timeout-ms N] [--format text|json] [--decode]\n"
     "       [--expect-reply] [TEXT]",
     kSendHelp, kSendOptions, RunSend},
    {"serve", "a simulated host that answers requests by rules",
     "tarnwick-cli serve --port P [--bind A.B.C.D]\n"
     "       [--mode auto|64|128 | --table T | --trade | --json] [--rules FILE] [--count N]\n"
     "       [--idle-timeout S] [--connection-idle S] [--keys FILE]",
     kServeHelp, kServeOptions, RunServe},
    {"mac", "compute a MAC (x9.9, x9.19, unionpay-ecb) of hex data",
     "tarnwick-cli mac --alg x9.9|x9.19|unionpay-ecb --key KEY [--pad 1|2|3] [--iv HEX]\n"
     "       [--format text|json] [HEX|-]",
     kMacHelp, kMacOptions, RunMac},
    {"pin-block", "make an ISO 9564 PIN block (formats 0-4) or read one back",
     "tarnwick-cli pin-block --format 0|1|2|3|4 --pin PIN [--pan PAN] [--key KEY] [--fill HEX]\n"
     "       [--json]\n"
     "       tarnwick-cli pin-block --decode BLOCK [--pan PAN] [--key KEY] [--json]",
     kPinBlockHelp, kPinBlockOptions, RunPinBlock},
    {"kcv", "print a key's check value", "tarnwick-cli kcv --key KEY [--bytes 3|4] [--json]",
     kKcvHelp, kKcvOptions, RunKcv},
    {"cipher", "encrypt or decrypt hex blocks with DES, triple DES or AES",
     "tarnwick-cli cipher --alg des|tdes|aes --encrypt|--decrypt --key KEY [--mode ecb|cbc]\n"
     "       [--iv HEX] [--json] HEX",
     kCipherHelp, kCipherOptions, RunCipher},
    {"read-capture", "the ISO 8583 messages of a capture file, replies paired with requests",
     "tarnwick-cli read-capture [--mode auto|64|128 | --table T] [--port P] "
     "[--format table|json]\n       [--summary] FILE",
     kReadCaptureHelp, kReadCaptureOptions, RunReadCapture},
    {"diff", "compare two ISO 8583 messages field by field",
     "tarnwick-cli diff [--mode auto|64|128 | --table T] [--format table|json] A B", kDiffHelp,
     kDiffOptions, RunDiff},
    {"load", "send messages to a host over many connections and measure the replies",
     "tarnwick-cli load --ip A.B.C.D --port P [--connections N] [--rate R]\n"
     "       [--count N | --duration S] [--timeout-ms T] [--keys FILE] [--format text|json]\n"
     "       [FILE|-]",
     kLoadHelp, kLoadOptions, RunLoadMessages},
    {"tables", "list the field tables built into the program", "tarnwick-cli tables",
     kTablesHelp, {}, RunTables},
    {"check-table", "check a field table file and print every problem",
     "tarnwick-cli check-table FILE", kCheckTableHelp, kNoOptions, RunCheckTable},
};

std::string GlobalUsage() {
    std::string text = "usage: tarnwick-cli COMMAND [OPTIONS] [ARGUMENT]\n\nCommands:\n";
    for (const auto& c : kSubcommands) {
        text.append("  ").append(c.name);
        text.append(15 - c.name.size(), ' ');
        text.append(c.summary).append("\n");
    }
    text.append(
        "\nRun 'tarnwick-cli COMMAND --help' (or -h) for a command's options; --version prints\n"
        "the program's version.\n"
        "Exit status: 0 success; 1 the command failed (the system's message text is the first\n"
        "line on standard error, a detail line may follow); 2 usage error; 3 parse-iso8583\n"
        "--mode auto found no length form that fits.\n");
    return text;
}

std::string VersionLine() { return std::string(kProgram) + " " + TARNWICK_VERSION + "\n"; }

std::string CommandHelp(const Subcommand& c) {
    return "usage: " + std::string(c.synopsis) + "\n\n" + std::string(c.help);
}

const Subcommand* FindSubcommand(std::string_view name) {
    for (const auto& c : kSubcommands) {
        if (c.name == name) return &c;
    }
    return nullptr;
}

/// Splits the arguments by the subcommand's options; "--name value", "--name=value", "--"
/// ends the options. Returns the problem text on a usage error.
std::optional<std::string> ParseArguments(const Subcommand& c, int argc, const char* const* argv,
                                          Arguments& args) {
    bool optionsEnd = false;
    for (int i = 2; i < argc; ++i) {
        const std::string_view a = argv[i];
        if (!optionsEnd && (a == "--help" || a == "-h")) {
            args.help = true;
            continue;
        }
        if (!optionsEnd && a == "--version") {
            args.version = true;
            continue;
        }
        if (optionsEnd || a == "-" || !a.starts_with("--")) {
            if (!optionsEnd && a.size() > 1 && a[0] == '-' && a != "-") {
                return "unknown option '" + std::string(a) + "'";
            }
            args.positional.push_back(a);
            continue;
        }
        if (a == "--") {
            optionsEnd = true;
            continue;
        }
        const std::size_t eq = a.find('=');
        const std::string_view name = a.substr(0, eq);
        const OptionSpec* spec = nullptr;
        for (const auto& o : c.options) {
            if (o.name == name) spec = &o;
        }
        if (spec == nullptr) return "unknown option '" + std::string(name) + "'";
        if (!spec->takesValue) {
            if (eq != std::string_view::npos) return std::string(name) + " takes no value";
            args.options.emplace_back(name, "");
        } else if (eq != std::string_view::npos) {
            args.options.emplace_back(name, a.substr(eq + 1));
        } else if (i + 1 < argc) {
            args.options.emplace_back(name, argv[++i]);
        } else {
            return std::string(name) + " needs a value";
        }
    }
    return std::nullopt;
}

}  // namespace

int RunCli(int argc, const char* const* argv, const CliStreams& io) {
    if (argc < 2) {
        Write(io.err, GlobalUsage());
        return kExitUsage;
    }
    const std::string_view first = argv[1];
    if (first == "--version") {
        Write(io.out, VersionLine());
        return kExitOk;
    }
    if (first == "--help" || first == "-h" || first == "help") {
        const Subcommand* c = argc > 2 ? FindSubcommand(argv[2]) : nullptr;
        Write(io.out, c != nullptr ? CommandHelp(*c) : GlobalUsage());
        return kExitOk;
    }
    const Subcommand* c = FindSubcommand(first);
    if (c == nullptr) {
        Write(io.err, std::string(kProgram) + ": unknown command '" + std::string(first) + "'\n" +
                          GlobalUsage());
        return kExitUsage;
    }
    Arguments args;
    const Run run{*c, args, io};
    if (const auto problem = ParseArguments(*c, argc, argv, args)) {
        return UsageError(run, *problem);
    }
    if (args.help) {
        Write(io.out, CommandHelp(*c));
        return kExitOk;
    }
    if (args.version) {
        Write(io.out, VersionLine());
        return kExitOk;
    }
    return c->run(run);
}
