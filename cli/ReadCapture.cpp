// tarnwick-cli read-capture: the messages of a capture file, replies paired with requests.
#include "cli/ReadCapture.h"

#include <charconv>
#include <cstdio>
#include <ctime>
#include <map>
#include <optional>
#include <string>

#include "capture/CaptureMessages.h"
#include "capture/Latency.h"
#include "cli/Output.h"
#include "cli/ResultJson.h"
#include "cli/TableCommands.h"
#include "codec/FrameCut.h"
#include "codec/TextDecode.h"

namespace {

std::string EpochText(std::int64_t us) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%lld.%06lld", static_cast<long long>(us / 1000000),
                  static_cast<long long>(us % 1000000));
    return buf;
}

std::string UtcText(std::int64_t us) {
    const auto seconds = static_cast<std::time_t>(us / 1000000);
    std::tm tm{};
    gmtime_r(&seconds, &tm);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%06lld", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                  static_cast<long long>(us % 1000000));
    return buf;
}

std::string ProblemText(const CaptureItem& item) {
    switch (item.kind) {
        case CaptureItemKind::Gap:
            return "gap: " + std::to_string(item.gapBytes) + " bytes not captured";
        case CaptureItemKind::Unframeable:
            return "the stream does not frame as messages: " + std::string(item.reason);
        case CaptureItemKind::Truncated:
            return "the capture ends inside a message";
        case CaptureItemKind::Message:
            break;
    }
    return {};
}

void AppendJsonLine(std::string& out, const CaptureItem& item, std::string& scratch,
                    std::string& body) {
    out += '{';
    if (item.kind != CaptureItemKind::Message) {
        out.append(R"("error":)");
        AppendJsonString(out, ProblemText(item));
        out.append(R"(,"src":")").append(EndpointText(*item.src));
        out.append(R"(","dst":")").append(EndpointText(*item.dst));
        out.append(R"(","offset":)").append(std::to_string(item.offset)).append("}\n");
        return;
    }
    out.append(R"("time":)").append(EpochText(item.timeUs));
    out.append(R"(,"src":")").append(EndpointText(*item.src));
    out.append(R"(","dst":")").append(EndpointText(*item.dst));
    out.append(R"(","message":")");
    AppendHex(out, item.bytes);
    out += '"';
    const CommandResult& result = *item.result;
    switch (result.outcome) {
        case Outcome::Ok:
            out.append(R"(,"rows":)");
            AppendRowsJson(out, result.rows, result.rowEncoding, scratch, result.tlv);
            AppendWarningsJson(out, result);
            break;
        case Outcome::Failed:
            // The members of parse-iso8583's error object, inside this line's object.
            body.clear();
            AppendFailureJson(body, result, scratch);
            out += ',';
            out.append(std::string_view(body).substr(1, body.size() - 2));
            break;
        case Outcome::NoLengthMatch:
            out.append(R"(,"error":null,"status":3)");
            break;
    }
    if (item.replyTo >= 0) {
        out.append(R"(,"replyTo":)").append(std::to_string(item.replyTo));
        out.append(R"(,"latencyMs":)").append(MillisecondsText(item.latencyUs));
    }
    out.append("}\n");
}

void AppendTableItem(std::string& out, const CaptureItem& item) {
    out.append("#").append(std::to_string(item.index)).append("  ");
    out.append(UtcText(item.timeUs)).append("  ");
    out.append(EndpointText(*item.src)).append(" → ").append(EndpointText(*item.dst));
    if (item.kind != CaptureItemKind::Message) {
        out.append("  ").append(ProblemText(item)).append(" (offset ");
        out.append(std::to_string(item.offset)).append(")\n\n");
        return;
    }
    const auto shown = [](std::string_view v) { return v.empty() ? std::string_view("-") : v; };
    out.append("  ").append(shown(item.type));
    out.append("  11=").append(shown(item.field11));
    out.append("  39=").append(shown(item.field39));
    if (item.replyTo >= 0) {
        out.append("  ").append(MillisecondsText(item.latencyUs)).append(" ms (reply to #");
        out.append(std::to_string(item.replyTo)).append(")");
    }
    out += '\n';
    const CommandResult& result = *item.result;
    if (result.outcome == Outcome::Failed) {
        out.append(result.error).append(": ").append(result.DetailLine()).append("\n");
    } else if (result.outcome == Outcome::NoLengthMatch) {
        out.append("no length form fits the message\n");
    }
    if (!result.rows.empty() &&
        (result.Ok() || result.failedRows == FailedRows::Partial)) {
        out.append(FormatRowsTable(result.rows, result.rowEncoding));
    }
    out += '\n';
}

/// What --summary counts.
struct Summary {
    std::uint64_t messages = 0;
    std::uint64_t requests = 0;
    std::uint64_t answered = 0;
    std::uint64_t undecodable = 0;
    std::uint64_t gaps = 0;
    std::uint64_t unframeable = 0;
    std::uint64_t truncated = 0;
    std::map<std::string, std::uint64_t> types;
    std::map<std::string, std::uint64_t> codes;
    LatencyHistogram latency;

    void Add(const CaptureItem& item) {
        switch (item.kind) {
            case CaptureItemKind::Gap: ++gaps; return;
            case CaptureItemKind::Unframeable: ++unframeable; return;
            case CaptureItemKind::Truncated: ++truncated; return;
            case CaptureItemKind::Message: break;
        }
        ++messages;
        if (!item.result->Ok()) ++undecodable;
        ++types[item.type.empty() ? std::string("?") : std::string(item.type)];
        if (!item.field39.empty()) ++codes[std::string(item.field39)];
        if (item.request) ++requests;
        if (item.replyTo >= 0) {
            ++answered;
            latency.Add(item.latencyUs);
        }
    }
};

void AppendCounts(std::string& out, const std::map<std::string, std::uint64_t>& counts) {
    out += '{';
    bool first = true;
    for (const auto& [name, n] : counts) {
        if (!first) out += ',';
        first = false;
        AppendJsonString(out, name);
        out.append(":").append(std::to_string(n));
    }
    out += '}';
}

std::string SummaryText(const Summary& s, bool json) {
    const LatencyHistogram& l = s.latency;
    std::string out;
    if (json) {
        out.append(R"({"messages":)").append(std::to_string(s.messages));
        out.append(R"(,"types":)");
        AppendCounts(out, s.types);
        out.append(R"(,"responseCodes":)");
        AppendCounts(out, s.codes);
        out.append(R"(,"requests":)").append(std::to_string(s.requests));
        out.append(R"(,"withoutReply":)").append(std::to_string(s.requests - s.answered));
        out.append(R"(,"undecodable":)").append(std::to_string(s.undecodable));
        out.append(R"(,"gaps":)").append(std::to_string(s.gaps));
        out.append(R"(,"unframeable":)").append(std::to_string(s.unframeable));
        out.append(R"(,"truncated":)").append(std::to_string(s.truncated));
        out.append(R"(,"latencyMs":{"count":)").append(std::to_string(l.Count()));
        out.append(R"(,"p50":)").append(MillisecondsText(l.Percentile(0.50)));
        out.append(R"(,"p90":)").append(MillisecondsText(l.Percentile(0.90)));
        out.append(R"(,"p99":)").append(MillisecondsText(l.Percentile(0.99)));
        out.append(R"(,"max":)").append(MillisecondsText(l.Max())).append("}}\n");
        return out;
    }
    out.append("messages: ").append(std::to_string(s.messages));
    out.append(" (undecodable ").append(std::to_string(s.undecodable)).append(")\n");
    out.append("message types:");
    for (const auto& [t, n] : s.types) out.append(" ").append(t).append("=").append(std::to_string(n));
    out.append("\nresponse codes:");
    for (const auto& [c, n] : s.codes) out.append(" ").append(c).append("=").append(std::to_string(n));
    out.append("\nrequests: ").append(std::to_string(s.requests));
    out.append(", without reply: ").append(std::to_string(s.requests - s.answered)).append("\n");
    out.append("gaps: ").append(std::to_string(s.gaps));
    out.append(", unframeable streams: ").append(std::to_string(s.unframeable));
    out.append(", cut off at the end: ").append(std::to_string(s.truncated)).append("\n");
    out.append("latency ms: p50 ").append(MillisecondsText(l.Percentile(0.50)));
    out.append("  p90 ").append(MillisecondsText(l.Percentile(0.90)));
    out.append("  p99 ").append(MillisecondsText(l.Percentile(0.99)));
    out.append("  max ").append(MillisecondsText(l.Max()));
    out.append("  (").append(std::to_string(l.Count())).append(" replies)\n");
    return out;
}

bool Flush(std::string& out, const CliStreams& io) {
    const bool ok = std::fwrite(out.data(), 1, out.size(), io.out) == out.size();
    out.clear();
    return ok;
}

}  // namespace

int RunReadCaptureCommand(const CliOptionList& options, std::string_view path,
                          const CliStreams& io,
                          const std::function<int(std::string_view)>& usageError) {
    CaptureOptions capture;
    const std::string_view format = OptionValue(options, "--format").value_or("json");
    if (format != "json" && format != "table") return usageError("--format must be table or json");
    if (const auto port = OptionValue(options, "--port")) {
        int value = -1;
        const auto [end, ec] = std::from_chars(port->data(), port->data() + port->size(), value);
        if (ec != std::errc() || end != port->data() + port->size() || value < 1 ||
            value > 65535) {
            return usageError("--port must be a port number from 1 to 65535");
        }
        capture.port = value;
    }
    std::optional<FieldTable> table;
    if (const auto name = OptionValue(options, "--table")) {
        if (OptionValue(options, "--mode")) return usageError("--table and --mode exclude each other");
        table = LoadCliTable(*name, io);
        if (!table) return kExitFailed;
        if (const std::string why = CannotCut(*table); !why.empty()) {
            std::fprintf(io.err, "tarnwick-cli read-capture: %s\n", why.c_str());
            return kExitFailed;
        }
        capture.table = &*table;
    } else {
        const std::string_view mode = OptionValue(options, "--mode").value_or("auto");
        if (mode == "64") {
            capture.interfaceType = kInterface64;
        } else if (mode == "128") {
            capture.interfaceType = kInterface128;
        } else if (mode != "auto") {
            return usageError("--mode must be auto, 64 or 128");
        }
    }
    const bool json = format == "json";
    const bool summaryOnly = OptionValue(options, "--summary").has_value();
    Summary summary;
    std::string out;
    std::string scratch;
    std::string body;
    bool writeOk = true;
    CaptureAnalyzer analyzer(capture, [&](const CaptureItem& item) {
        summary.Add(item);
        if (summaryOnly) return;
        if (json) {
            AppendJsonLine(out, item, scratch, body);
        } else {
            AppendTableItem(out, item);
        }
        if (out.size() > (1u << 16)) writeOk = Flush(out, io) && writeOk;
    });
    const std::string problem = ReadCaptureFile(std::string(path), analyzer);
    if (summaryOnly) out = SummaryText(summary, json);
    writeOk = Flush(out, io) && writeOk;
    if (std::fflush(io.out) != 0 || !writeOk) {
        std::fputs("tarnwick-cli: write error on standard output\n", io.err);
        return kExitFailed;
    }
    if (!problem.empty()) {
        std::fprintf(io.err, "tarnwick-cli read-capture: %s: %s\n", std::string(path).c_str(),
                     problem.c_str());
        return kExitFailed;
    }
    return kExitOk;
}

const std::string_view kReadCaptureHelp =
    "Reads a capture file (pcap or pcapng, as tcpdump or Wireshark write it) and prints the ISO\n"
    "8583 messages its TCP connections carry. Link types: Ethernet, Linux cooked (v1, v2), BSD\n"
    "loopback, raw IP; IPv4 and IPv6. Each direction of a connection is put back in order by\n"
    "sequence number; bytes never captured are reported as a gap where they are, never filled,\n"
    "and cutting resumes at the first segment start whose message frames and decodes.\n"
    "  --mode auto     (default) each message cut by the length form that fits it (4-digit ASCII:\n"
    "                  128 fields, else 2-byte binary: 64 fields) and decoded as parse-iso8583\n"
    "  --mode 64|128   every message cut and decoded by that form, length part included\n"
    "  --table T       cut and decode by a field table with a Length part (see 'tables')\n"
    "  --port P        only connections with port P at one end; a direction that does not frame\n"
    "                  is reported. Without it, connections whose first message frames and\n"
    "                  decodes\n"
    "  --format json   (default) one line per message, in the order their last bytes were\n"
    "                  captured: {\"time\":S.UUUUUU,\"src\":\"A.B.C.D:port\",\"dst\":\"…\",\n"
    "                  \"message\":\"<hex, length included>\",\"rows\":[…]} or parse-iso8583's error\n"
    "                  members; a reply adds \"replyTo\" (its request's line, from 0) and\n"
    "                  \"latencyMs\". A gap, a stream that does not frame (reported once) or a\n"
    "                  message cut off by the capture's end: {\"error\",\"src\",\"dst\",\"offset\"}\n"
    "                  (offset: bytes from the direction's first byte). IPv6: \"[addr]:port\"\n"
    "  --format table  a header line per message (#line, UTC time, src → dst, message type,\n"
    "                  11, 39, latency), then its rows\n"
    "  --summary       only the counts: message types, response codes (39), requests without\n"
    "                  reply, gaps, latency percentiles p50, p90, p99 and max\n"
    "A reply (third digit of the message type odd) is paired with a request of the opposite\n"
    "direction of its connection: the one with the same fields 11 and 41 when both carry them,\n"
    "otherwise the oldest one awaiting a reply. The file is read as a stream, in bounded memory.\n"
    "Failures (exit status 1): a file that cannot be opened or read, a link type not listed.\n";
