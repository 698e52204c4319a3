// tarnwick-cli serve: the simulated host on the command line, one JSON log line per exchange.
#include "cli/Serve.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "cli/KeyCommands.h"
#include "cli/Output.h"
#include "cli/TableCommands.h"
#include "codec/FileRead.h"
#include "host/HostKeys.h"
#include "host/HostServer.h"

namespace {

/// The rules file's text (the one bounded reader: a regular file of at most 1 MiB).
std::optional<std::string> ReadRulesFile(std::string_view path, std::string& why) {
    FileRead read = ReadBoundedFile(std::string(path));
    switch (read.status) {
        case FileReadStatus::Ok:
            return std::move(read.text);
        case FileReadStatus::CannotOpen:
            why = "cannot open " + std::string(path);
            break;
        case FileReadStatus::CannotRead:
            why = "cannot read " + std::string(path);
            break;
        case FileReadStatus::Directory:
            why = "is a directory, not a rules file";
            break;
        case FileReadStatus::Fifo:
            why = "is a FIFO, not a regular file";
            break;
        case FileReadStatus::Special:
            why = "is a device or other special file, not a regular file";
            break;
        case FileReadStatus::TooLarge:
            why = "the rules file is over 1 MiB";
            break;
    }
    return std::nullopt;
}

/// Appends the UTC time with milliseconds: 2026-01-31T12:00:00.123Z. The text up to the seconds
/// is formatted once per second of this thread.
void AppendTimeText(std::string& out) {
    thread_local std::time_t formattedSecond = -1;
    thread_local char secondText[80] = "";  // room for any int the fields may hold
    thread_local std::size_t secondLength = 0;
    const auto now = std::chrono::system_clock::now();
    const std::time_t t = std::chrono::system_clock::to_time_t(now);
    const auto ms = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000);
    if (t != formattedSecond) {
        std::tm tm{};
#ifdef _WIN32
        gmtime_s(&tm, &t);
#else
        gmtime_r(&t, &tm);
#endif
        const int n = std::snprintf(secondText, sizeof secondText, "%04d-%02d-%02dT%02d:%02d:%02d",
                                    tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour,
                                    tm.tm_min, tm.tm_sec);
        secondLength = n > 0 ? std::min(static_cast<std::size_t>(n), sizeof secondText - 1) : 0;
        formattedSecond = t;
    }
    out.append(secondText, secondLength);
    const char millis[] = {'.', static_cast<char>('0' + ms / 100), static_cast<char>('0' + ms / 10 % 10),
                           static_cast<char>('0' + ms % 10), 'Z'};
    out.append(millis, sizeof millis);
}

}  // namespace

void AppendServeLogLine(std::string& line, const ServeRecord& r) {
    thread_local std::string scratch;
    line.append(R"({"time":")");
    AppendTimeText(line);
    line.append(R"(","peer":)");
    AppendJsonText(line, r.peer, TextEncoding::Utf8OrGbk, scratch);
    if (r.exchange != nullptr) {
        line.append(R"(,"type":)");
        AppendJsonText(line, r.exchange->type, TextEncoding::Utf8OrGbk, scratch);
        line.append(R"(,"request":)");
        AppendRowsJson(line, r.exchange->requestRows, r.exchange->rowEncoding, scratch);
        line.append(R"(,"reply":)");
        if (r.exchange->replyRows.empty()) {
            line.append("null");
        } else {
            AppendRowsJson(line, r.exchange->replyRows, r.exchange->rowEncoding, scratch);
        }
        if (!r.exchange->keyNote.empty()) {
            line.append(R"(,"keys":)");
            AppendJsonText(line, r.exchange->keyNote, TextEncoding::Utf8OrGbk, scratch);
        }
        if (r.exchange->delayMs > 0) {
            line.append(R"(,"delayMs":)").append(std::to_string(r.exchange->delayMs));
        }
    }
    line.append(R"(,"ended":")").append(r.ended).append("\"");
    if (!r.error.empty()) {
        line.append(R"(,"error":)");
        AppendJsonText(line, r.error, TextEncoding::Utf8OrGbk, scratch);
        line.append(R"(,"bytes":)").append(std::to_string(r.bytes));
    }
    line.append("}\n");
}

const std::string_view kServeHelp =
    "A simulated host: listens on one address, answers the requests of any number of\n"
    "connections and logs one JSON line per request on standard output.\n"
    "  --port P          the port to listen on (0: any free port; standard error names it)\n"
    "  --bind A.B.C.D    the only address listened on (default 127.0.0.1)\n"
    "  --mode auto       (default) per request: 4 ASCII digits in front mean a 128-field\n"
    "                    request behind a 4-digit ASCII length, else a 64-field one behind a\n"
    "                    2-byte binary length (TPDU and header taken as the parse command does)\n"
    "  --mode 64|128     only that form\n"
    "  --table T         the form of a field table (a shipped table's name or a table file):\n"
    "                    requests cut by its Length part (2 binary bytes or 4 ASCII digits),\n"
    "                    decoded and answered with the table\n"
    "  --trade           trade frames (length, F1, three zero bytes, message, check byte)\n"
    "  --json            JSON packets in trade frames; the answer echoes the request's text\n"
    "                    and number members and adds \"responseCode\":\"00\"; rules match\n"
    "                    \"members\" ({\"name\":\"text\"}) and change the answer by\n"
    "                    \"responseCode\", \"setMembers\" and \"removeMembers\" ([\"name\"])\n"
    "  --rules FILE      answers by rules (JSON), the first matching rule applies:\n"
    "                    {\"rules\":[{\"type\":\"0200\",\"fields\":{\"3\":\"000000\"},\n"
    "                    \"set\":{\"38\":\"123456\"},\"remove\":[55],\"responseCode\":\"51\",\n"
    "                    \"delayMs\":200,\"action\":\"answer|close|garbage\"}]}\n"
    "                    Values: digits for BCD fields, characters for text, hex for binary.\n"
    "  --keys FILE       a keys file (docs/keys-file.md): the MAC of every request carrying one\n"
    "                    is checked (wrong: field 39 \"A0\", the log's \"keys\" gives given and\n"
    "                    computed values), answers get their MAC; a sign-in (0800) is answered\n"
    "                    with fresh working keys under \"tmk\" in field 62 as its 60.3 code asks\n"
    "                    (001, 003, 004), used for that terminal (fields 41 and 42) from then on\n"
    "  --count N         stop after N requests (bad ones included)\n"
    "  --idle-timeout S  stop after S seconds without traffic\n"
    "  --connection-idle S  close a connection that sends nothing (or stops inside a request)\n"
    "                    for S seconds (default 10). Of 256 connections at most: when all are\n"
    "                    taken, the newest idle one (no request begun, no answer pending) gives\n"
    "                    way to a new one, logged with ended \"dropped\"\n"
    "The default answer echoes the request's fields in its form, with the message type's\n"
    "response form (0200 gives 0210) and field 39 \"00\"; TPDU addresses are swapped. \"close\"\n"
    "closes without an answer, \"garbage\" answers FFFFFFFFDEADBEEF. Log lines:\n"
    "{\"time\",\"peer\",\"type\",\"request\":[rows],\"reply\":[rows],\"ended\"} with ended\n"
    "answered, garbage, closed, unanswered, idle (closed after --connection-idle) or\n"
    "dropped (gave way to a new connection); bad requests (malformed length, over 64 KiB,\n"
    "truncated, not whole within 10 s, undecodable) and idle or dropped connections add\n"
    "\"error\" and \"bytes\". A malformed or oversized length ends its connection; other\n"
    "connections are not affected.\n";

int RunServeCommand(const CliOptionList& options, const CliStreams& io,
                    const std::function<int(std::string_view)>& usageError) {
    ServeOptions o;
    const auto port = OptionValue(options, "--port");
    if (!port || !ReadNumber<std::uint16_t>(*port, 0, 65535, o.port)) {
        return usageError("--port must be a port number 0..65535");
    }
    o.address = std::string(OptionValue(options, "--bind").value_or("127.0.0.1"));
    const auto mode = OptionValue(options, "--mode");
    const auto table = OptionValue(options, "--table");
    const bool trade = OptionValue(options, "--trade").has_value();
    const bool json = OptionValue(options, "--json").has_value();
    const int forms = (mode ? 1 : 0) + (trade ? 1 : 0) + (table ? 1 : 0) + (json ? 1 : 0);
    if (mode && trade && forms == 2) return usageError("--mode and --trade exclude each other");
    if (forms > 1) return usageError("--mode, --table, --trade and --json exclude each other");
    std::optional<FieldTable> loaded;
    if (table) {
        loaded = LoadCliTable(*table, io);
        if (!loaded) return kExitFailed;
        if (const std::string why = TableHost::CannotServe(*loaded); !why.empty()) {
            return usageError("--table " + std::string(*table) + ": " + why);
        }
        o.form = SimForm::Table;
        o.table = &*loaded;
    } else if (json) {
        o.form = SimForm::Json;
    } else if (trade) {
        o.form = SimForm::Trade;
    } else if (!mode || *mode == "auto") {
        o.form = SimForm::Auto;
    } else if (*mode == "64") {
        o.form = SimForm::Iso64;
    } else if (*mode == "128") {
        o.form = SimForm::Iso128;
    } else {
        return usageError("--mode must be auto, 64 or 128");
    }
    if (const auto count = OptionValue(options, "--count")) {
        if (!ReadNumber<std::size_t>(*count, 1, SIZE_MAX, o.count)) {
            return usageError("--count must be a number of requests, 1 or more");
        }
    }
    if (const auto idle = OptionValue(options, "--idle-timeout")) {
        int seconds = 0;
        if (!ReadNumber(*idle, 1, 86400, seconds)) {
            return usageError("--idle-timeout must be a number of seconds, 1..86400");
        }
        o.idleTimeoutMs = seconds * 1000;
    }
    if (const auto idle = OptionValue(options, "--connection-idle")) {
        int seconds = 0;
        if (!ReadNumber(*idle, 1, 86400, seconds)) {
            return usageError("--connection-idle must be a number of seconds, 1..86400");
        }
        o.connectionIdleMs = seconds * 1000;
    }
    std::string why;
    if (const auto rules = OptionValue(options, "--rules")) {
        const auto text = ReadRulesFile(*rules, why);
        if (!text || !ParseSimRules(*text, o.rules, why)) {
            std::fprintf(io.err, "tarnwick-cli serve: --rules %.*s: %s\n",
                         static_cast<int>(rules->size()), rules->data(), why.c_str());
            return kExitFailed;
        }
        // A rule that can never be applied would close every request it matches unanswered.
        const std::vector<std::string> problems = CheckSimRules(o.rules, o.form, o.table);
        for (const std::string& p : problems) {
            std::fprintf(io.err, "tarnwick-cli serve: --rules %.*s: %s\n",
                         static_cast<int>(rules->size()), rules->data(), p.c_str());
        }
        if (!problems.empty()) return kExitFailed;
    }
    std::optional<HostKeys> hostKeys;
    if (const auto path = OptionValue(options, "--keys")) {
        if (json || trade) return usageError("--keys applies to ISO 8583 forms only");
        KeySet keys;
        if (!LoadKeysFile(*path, keys, io)) return kExitFailed;
        hostKeys.emplace(keys);
        o.keys = &*hostKeys;
    }
    if (!AnswersCarryResponseCode(o.form, o.table)) {
        std::fprintf(io.err,
                     "tarnwick-cli serve: note: the form defines no field 39: answers carry no "
                     "response code\n");
    }
    o.listening = [&](std::uint16_t p) {
        std::fprintf(io.err, "tarnwick-cli: serving on %s:%u\n", o.address.c_str(),
                     static_cast<unsigned>(p));
        std::fflush(io.err);
    };
    // The lines of one round of the host's loop go out in one write.
    std::string pending;
    o.log = [&pending](const ServeRecord& r) { AppendServeLogLine(pending, r); };
    o.flush = [&pending, &io] {
        if (pending.empty()) return;
        std::fwrite(pending.data(), 1, pending.size(), io.out);
        std::fflush(io.out);
        pending.clear();
    };
    if (!ServeHost(o, why)) {
        std::fprintf(io.err, "tarnwick-cli serve: cannot listen on %s:%u: %s\n", o.address.c_str(),
                     static_cast<unsigned>(o.port), why.c_str());
        return kExitFailed;
    }
    return kExitOk;
}
