// tarnwick-cli load: many connections sending messages to a host, each waiting for its reply.
#include "cli/Load.h"

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>
#include <thread>

#include "cli/KeyCommands.h"
#include "cli/TableCommands.h"
#include "codec/Conversions.h"
#include "codec/FileRead.h"
#include "codec/FrameCut.h"
#include "codec/Message.h"
#include "codec/TextDecode.h"
#include "codec/Texts.h"
#include "iso/MessageKeys.h"
#include "net/ReadySet.h"
#include "net/Socket.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kMaxMessageBytes = kMaxMessageText / 2;
constexpr std::uint32_t kLastStan = 999999;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

/// The form a message is framed by: the table given, else the built-in form whose length fits.
const FieldTable* FormOf(const FieldTable* table, std::span<const std::uint8_t> bytes) {
    if (table != nullptr) return table;
    return FirstFitting({&BuiltinTable(BuiltinForm::kUnionPay128),
                         &BuiltinTable(BuiltinForm::kUnionPay64)},
                        bytes);
}

/// Decodes a whole framed message into m; false when it does not decode.
bool DecodeInto(Message& m, std::span<const std::uint8_t> bytes) {
    return m.Decode(bytes.data(), static_cast<std::int32_t>(bytes.size()), bytes.size(),
                    LengthRule::Match, {}) >= 0;
}

/// What all threads share.
struct Shared {
    const LoadOptions& options;
    Clock::time_point start;
    std::atomic<std::uint64_t> claimed{0};
    std::atomic<std::uint64_t> sent{0};
    std::atomic<std::uint64_t> replies{0};
};

struct Connection {
    SocketHandle socket;
    std::vector<std::uint8_t> out;
    std::size_t outSent = 0;
    std::vector<std::uint8_t> in;
    const FieldTable* form = nullptr;  // of the message awaiting its reply
    bool awaiting = false;
    bool dead = false;
    Clock::time_point sentAt;
};

/// One thread's share of the connections, run in one event loop.
class LoadWorker {
public:
    LoadWorker(Shared& shared, unsigned connections, double rate, bool reportsProgress)
        : m_shared(shared), m_options(shared.options), m_rate(rate),
          m_reportsProgress(reportsProgress), m_connections(connections) {}

    LoadReport Run();

private:
    bool Connect(Connection& c);
    bool MayStillSend(Clock::time_point now) const;
    void SendNext(Connection& c, Clock::time_point now);
    void Flush(Connection& c);
    void Read(Connection& c, Clock::time_point now);
    void Lost(Connection& c, bool dueReply);
    [[nodiscard]] std::size_t Index(const Connection& c) const {
        return static_cast<std::size_t>(&c - m_connections.data());
    }
    Message& MessageFor(std::vector<std::pair<const FieldTable*, std::unique_ptr<Message>>>& list,
                        const FieldTable& table);

    Shared& m_shared;
    const LoadOptions& m_options;
    double m_rate;
    bool m_reportsProgress;
    std::vector<Connection> m_connections;
    ReadySet m_ready;  // the connections' sockets, by index
    std::vector<std::unique_ptr<Message>> m_templates;  // the messages, decoded once
    std::vector<std::pair<const FieldTable*, std::unique_ptr<Message>>> m_replies;
    std::vector<std::pair<const FieldTable*, std::unique_ptr<Message>>> m_sentForMac;
    std::uint64_t m_sentHere = 0;
    bool m_noMore = false;
    LoadReport m_report;
    std::string m_why;
    std::vector<std::uint8_t> m_block = std::vector<std::uint8_t>(1 << 16);
};

Message& LoadWorker::MessageFor(
    std::vector<std::pair<const FieldTable*, std::unique_ptr<Message>>>& list,
    const FieldTable& table) {
    for (auto& [t, m] : list) {
        if (t == &table) return *m;
    }
    list.emplace_back(&table, std::make_unique<Message>(table));
    return *list.back().second;
}

bool LoadWorker::Connect(Connection& c) {
    c.out.clear();
    c.outSent = 0;
    c.in.clear();
    c.awaiting = false;
    if (ConnectToHost(m_options.ip.c_str(), m_options.port, c.socket, kConnectTimeoutMs, &m_why) !=
        kConnectOk) {
        ++m_report.connectFailures;
        c.dead = true;
        return false;
    }
    m_ready.Watch(c.socket.Get(), Index(c), false);
    return true;
}

bool LoadWorker::MayStillSend(Clock::time_point now) const {
    if (m_noMore) return false;
    if (m_options.stop != nullptr && m_options.stop->load()) return false;
    return m_options.durationSeconds <= 0 ||
           Seconds(now - m_shared.start) < m_options.durationSeconds;
}

void LoadWorker::SendNext(Connection& c, Clock::time_point now) {
    const std::uint64_t k = m_shared.claimed.fetch_add(1, std::memory_order_relaxed);
    if (m_options.count > 0 && k >= m_options.count) {
        m_noMore = true;
        return;
    }
    Message& m = *m_templates[k % m_templates.size()];
    if (m.Has(11)) {
        char stan[6];
        for (auto n = static_cast<unsigned>(k % kLastStan + 1), i = 6u; i-- > 0; n /= 10) {
            stan[i] = static_cast<char>('0' + n % 10);
        }
        (void)m.SetText(11, std::string_view(stan, sizeof stan));
    }
    EncodeOptions encode;
    encode.macAsStored = true;
    c.out.clear();
    c.outSent = 0;
    (void)m.Encode(c.out, encode);
    if (m_options.keys != nullptr) {
        // The MAC covers the bytes as sent: the encoded message is read back for its input. The
        // message's own MAC was computed once before the run, so its form and key fit.
        Message& sent = MessageFor(m_sentForMac, m.Table());
        std::string problem;
        if (DecodeInto(sent, c.out)) (void)FillMacBytes(sent, c.out, *m_options.keys, problem);
    }
    c.form = &m.Table();
    c.awaiting = true;
    c.sentAt = now;
    ++m_sentHere;
    ++m_report.sent;
    m_shared.sent.fetch_add(1, std::memory_order_relaxed);
    Flush(c);
}

void LoadWorker::Flush(Connection& c) {
    if (c.outSent >= c.out.size()) return;
    std::size_t n = 0;
    if (!SendSome(c.socket, std::span(c.out).subspan(c.outSent), n, m_why)) {
        Lost(c, true);
        return;
    }
    c.outSent += n;
    m_ready.Watch(c.socket.Get(), Index(c), c.outSent < c.out.size());
}

void LoadWorker::Lost(Connection& c, bool dueReply) {
    if (dueReply && c.awaiting) ++m_report.resets;
    m_ready.Forget(Index(c));
    c.socket.Close();
    if (!Connect(c)) c.dead = true;
}

void LoadWorker::Read(Connection& c, Clock::time_point now) {
    for (;;) {
        std::size_t got = 0;
        const ReceiveStatus status = ReceiveNow(c.socket, m_block, got, m_why);
        if (status == ReceiveStatus::TimedOut) break;
        if (status != ReceiveStatus::Data) {
            if (c.awaiting) {
                ++m_report.resets;
                c.awaiting = false;
            }
            Lost(c, false);
            return;
        }
        c.in.insert(c.in.end(), m_block.begin(), m_block.begin() + static_cast<std::ptrdiff_t>(got));
        if (got < m_block.size()) break;
    }
    while (!c.in.empty()) {
        const FieldTable* form = c.form != nullptr ? c.form : FormOf(m_options.table, c.in);
        const FrameCut cut =
            form == nullptr ? FrameCut{FrameCut::Kind::Bad, 0, {}} : CutFrame(*form, c.in, kMaxMessageBytes);
        if (cut.kind == FrameCut::Kind::NeedMore) return;
        if (!c.awaiting) {
            // A reply after its time-out, or one never asked for: the stream is not trusted.
            Lost(c, false);
            return;
        }
        c.awaiting = false;
        if (cut.kind == FrameCut::Kind::Bad) {
            ++m_report.undecodable;
            Lost(c, false);
            return;
        }
        const std::span<const std::uint8_t> reply(c.in.data(), cut.length);
        Message& m = MessageFor(m_replies, *form);
        if (DecodeInto(m, reply)) {
            ++m_report.replies;
            m_shared.replies.fetch_add(1, std::memory_order_relaxed);
            m_report.latency.Add(
                std::chrono::duration_cast<std::chrono::microseconds>(now - c.sentAt).count());
            std::string code = "-";
            if (m.Has(39)) {
                const auto data = m.Data(39);
                code.assign(data.begin(), data.end());
            }
            ++m_report.codes[code];
        } else {
            ++m_report.undecodable;
        }
        c.in.erase(c.in.begin(), c.in.begin() + static_cast<std::ptrdiff_t>(cut.length));
    }
}

LoadReport LoadWorker::Run() {
    for (const auto& bytes : m_options.messages) {
        const FieldTable* form = FormOf(m_options.table, bytes);
        if (form == nullptr) continue;  // checked before the run
        auto m = std::make_unique<Message>(*form);
        if (!DecodeInto(*m, bytes)) continue;
        if (m_options.keys != nullptr) {
            std::vector<std::uint8_t> copy = bytes;
            std::string problem;
            if (!FillMacBytes(*m, copy, *m_options.keys, problem)) {
                m_report.error = "message " + std::to_string(m_templates.size() + 1) + ": " + problem;
                return m_report;
            }
        }
        m_templates.push_back(std::move(m));
    }
    if (m_templates.empty()) {
        m_report.error = "no message decodes";
        return m_report;
    }
    for (Connection& c : m_connections) (void)Connect(c);
    std::vector<ReadyEvent> ready;
    Clock::time_point nextProgress = m_shared.start + std::chrono::seconds(1);
    const auto timeout = std::chrono::milliseconds(m_options.timeoutMs);
    for (;;) {
        Clock::time_point now = Clock::now();
        const bool mayRun = MayStillSend(now);
        // Rate: the messages this thread may have sent by now.
        const double allowed = m_rate > 0 ? m_rate * Seconds(now - m_shared.start) + 1 : 1e300;
        bool busy = false;
        bool live = false;
        for (Connection& c : m_connections) {
            if (c.dead) continue;
            if (c.awaiting && now - c.sentAt > timeout) {
                ++m_report.timeouts;
                c.awaiting = false;
                Lost(c, false);  // a late reply must not count for the next message
                if (c.dead) continue;
            }
            if (!c.awaiting && mayRun && !m_noMore && static_cast<double>(m_sentHere) < allowed) {
                SendNext(c, now);
                if (c.dead) continue;
            }
            if (c.awaiting) busy = true;
            live = true;
        }
        if (m_reportsProgress && m_options.progress && now >= nextProgress) {
            m_options.progress(m_shared.sent.load(), m_shared.replies.load());
            nextProgress += std::chrono::seconds(1);
        }
        if (!busy && (!mayRun || m_noMore || !live)) break;
        int waitMs = 100;
        if (m_rate > 0 && mayRun && !m_noMore && static_cast<double>(m_sentHere) >= allowed) {
            const double due = (static_cast<double>(m_sentHere)) / m_rate - Seconds(now - m_shared.start);
            waitMs = std::clamp(static_cast<int>(std::ceil(due * 1000)), 0, 100);
        }
        const int readyCount = m_ready.Wait(waitMs, ready);
        if (readyCount < 0) {
            m_report.error = "cannot wait for the connections";
            break;
        }
        if (readyCount == 0) continue;
        now = Clock::now();
        for (const ReadyEvent& e : ready) {
            Connection& c = m_connections[e.index];
            if (e.writable && !c.dead) Flush(c);
            if (e.readable && !c.dead) Read(c, now);
        }
    }
    return m_report;
}

void AppendCount(std::string& out, std::string_view name, std::uint64_t n) {
    out.append(",\"").append(name).append("\":").append(std::to_string(n));
}

}  // namespace

LoadReport RunLoad(const LoadOptions& options) {
    Shared shared{options, Clock::now()};
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const unsigned threads =
        std::clamp(options.threads == 0 ? cores : options.threads, 1u, std::max(1u, options.connections));
    std::vector<std::unique_ptr<LoadWorker>> workers;
    for (unsigned t = 0; t < threads; ++t) {
        const unsigned share = options.connections / threads + (t < options.connections % threads ? 1 : 0);
        workers.push_back(std::make_unique<LoadWorker>(shared, share, options.rate / threads, t == 0));
    }
    std::vector<LoadReport> reports(threads);
    {
        std::vector<std::jthread> running;
        for (unsigned t = 1; t < threads; ++t) {
            running.emplace_back([&, t] { reports[t] = workers[t]->Run(); });
        }
        reports[0] = workers[0]->Run();
    }
    LoadReport total;
    total.seconds = Seconds(Clock::now() - shared.start);
    for (const LoadReport& r : reports) {
        total.sent += r.sent;
        total.replies += r.replies;
        total.timeouts += r.timeouts;
        total.resets += r.resets;
        total.undecodable += r.undecodable;
        total.connectFailures += r.connectFailures;
        for (const auto& [code, n] : r.codes) total.codes[code] += n;
        total.latency.Merge(r.latency);
        if (total.error.empty()) total.error = r.error;
    }
    return total;
}

std::string LoadReportText(const LoadReport& r, bool json) {
    const LatencyHistogram& l = r.latency;
    char rate[32];
    std::snprintf(rate, sizeof rate, "%.1f", r.Throughput());
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f", r.seconds);
    std::string out;
    if (json) {
        out.append(R"({"sent":)").append(std::to_string(r.sent));
        AppendCount(out, "replies", r.replies);
        out.append(R"(,"seconds":)").append(seconds);
        out.append(R"(,"perSecond":)").append(rate);
        out.append(R"(,"latencyMs":{"p50":)").append(MillisecondsText(l.Percentile(0.5)));
        out.append(R"(,"p90":)").append(MillisecondsText(l.Percentile(0.9)));
        out.append(R"(,"p99":)").append(MillisecondsText(l.Percentile(0.99)));
        out.append(R"(,"max":)").append(MillisecondsText(l.Max())).append("}");
        out.append(R"(,"responseCodes":{)");
        bool first = true;
        for (const auto& [code, n] : r.codes) {
            if (!first) out += ',';
            first = false;
            AppendJsonString(out, code);
            out.append(":").append(std::to_string(n));
        }
        out += '}';
        AppendCount(out, "timeouts", r.timeouts);
        AppendCount(out, "resets", r.resets);
        AppendCount(out, "undecodable", r.undecodable);
        AppendCount(out, "connectFailures", r.connectFailures);
        out.append("}\n");
        return out;
    }
    out.append("sent ").append(std::to_string(r.sent)).append(", replies ");
    out.append(std::to_string(r.replies)).append(" in ").append(seconds).append(" s: ");
    out.append(rate).append(" messages/s\n");
    out.append("latency ms: p50 ").append(MillisecondsText(l.Percentile(0.5)));
    out.append("  p90 ").append(MillisecondsText(l.Percentile(0.9)));
    out.append("  p99 ").append(MillisecondsText(l.Percentile(0.99)));
    out.append("  max ").append(MillisecondsText(l.Max())).append("\nresponse codes:");
    for (const auto& [code, n] : r.codes) out.append(" ").append(code).append("=").append(std::to_string(n));
    out.append("\ntime-outs ").append(std::to_string(r.timeouts));
    out.append(", resets ").append(std::to_string(r.resets));
    out.append(", undecodable ").append(std::to_string(r.undecodable));
    out.append(", failed connects ").append(std::to_string(r.connectFailures)).append("\n");
    return out;
}

namespace {

bool IsIpv4(std::string_view text) {
    int fields = 0;
    while (true) {
        const std::size_t dot = text.find('.');
        unsigned v = 0;
        if (!ReadNumber<unsigned>(text.substr(0, dot), 0, 255, v)) return false;
        ++fields;
        if (dot == std::string_view::npos) break;
        text.remove_prefix(dot + 1);
    }
    return fields == 4;
}

/// The hex messages of the text, one a line (white space ignored, blank lines skipped); why
/// names the first line that is no message.
bool ReadMessages(std::string_view text, const FieldTable* table,
                  std::vector<std::vector<std::uint8_t>>& out, std::string& why) {
    std::size_t lineNo = 0;
    while (!text.empty()) {
        const std::size_t nl = text.find('\n');
        const std::string_view line = text.substr(0, nl);
        text = nl == std::string_view::npos ? std::string_view{} : text.substr(nl + 1);
        ++lineNo;
        std::vector<std::uint8_t> bytes;
        int high = -1;
        for (char ch : line) {
            if (ch == ' ' || ch == '\t' || ch == '\r') continue;
            const int v = ch >= '0' && ch <= '9'   ? ch - '0'
                          : ch >= 'a' && ch <= 'f' ? ch - 'a' + 10
                          : ch >= 'A' && ch <= 'F' ? ch - 'A' + 10
                                                   : -1;
            if (v < 0) {
                why = "line " + std::to_string(lineNo) + ": not a hex digit '" + std::string(1, ch) + "'";
                return false;
            }
            if (high < 0) {
                high = v;
            } else {
                bytes.push_back(static_cast<std::uint8_t>(high * 16 + v));
                high = -1;
            }
        }
        if (bytes.empty()) continue;
        const FieldTable* form = FormOf(table, bytes);
        const FrameCut cut = form == nullptr ? FrameCut{FrameCut::Kind::Bad, 0, "no length form fits"}
                                             : CutFrame(*form, bytes, kMaxMessageBytes);
        if (cut.kind != FrameCut::Kind::Whole || cut.length != bytes.size()) {
            why = "line " + std::to_string(lineNo) + ": the message does not frame by its length" +
                  (cut.reason.empty() ? "" : ": " + cut.reason);
            return false;
        }
        Message m(*form);
        if (!DecodeInto(m, bytes)) {
            why = "line " + std::to_string(lineNo) + ": the message does not decode";
            return false;
        }
        out.push_back(std::move(bytes));
    }
    if (out.empty()) why = "no message to send";
    return !out.empty();
}

}  // namespace

int RunLoadCommand(const CliOptionList& options, std::string_view file, const CliStreams& io,
                   const std::function<int(std::string_view)>& usageError) {
    LoadOptions load;
    const std::string_view ip = OptionValue(options, "--ip").value_or("");
    if (!IsIpv4(ip)) return usageError("--ip must be an IPv4 address A.B.C.D");
    load.ip = std::string(ip);
    std::uint16_t port = 0;
    if (!ReadNumber<std::uint16_t>(OptionValue(options, "--port").value_or(""), 1, 65535, port)) {
        return usageError("--port must be a port number from 1 to 65535");
    }
    load.port = port;
    if (const auto v = OptionValue(options, "--connections");
        v && !ReadNumber<unsigned>(*v, 1, 10000, load.connections)) {
        return usageError("--connections must be a number from 1 to 10000");
    }
    if (const auto v = OptionValue(options, "--rate"); v && (!ReadNumber<double>(*v, 0.001, 1e9, load.rate))) {
        return usageError("--rate must be a number of messages per second above 0");
    }
    const auto count = OptionValue(options, "--count");
    const auto duration = OptionValue(options, "--duration");
    if (count && duration) return usageError("--count and --duration exclude each other");
    if (count && !ReadNumber<std::uint64_t>(*count, 1, UINT64_MAX / 2, load.count)) {
        return usageError("--count must be a number of messages, 1 or more");
    }
    if (duration && !ReadNumber<double>(*duration, 0.001, 1e7, load.durationSeconds)) {
        return usageError("--duration must be a number of seconds above 0");
    }
    if (const auto v = OptionValue(options, "--timeout-ms"); v && !ReadNumber<int>(*v, 1, 3600000, load.timeoutMs)) {
        return usageError("--timeout-ms must be a number of milliseconds, 1 or more");
    }
    KeySet keys;
    if (const auto path = OptionValue(options, "--keys")) {
        if (!LoadKeysFile(*path, keys, io)) return kExitFailed;
        load.keys = &keys;
    }
    const std::string_view format = OptionValue(options, "--format").value_or("text");
    if (format != "text" && format != "json") return usageError("--format must be text or json");
    const FileRead read = file.empty() || file == "-" ? ReadBoundedStream(fileno(io.in))
                                                      : ReadBoundedFile(std::string(file));
    if (!read.Ok()) {
        std::fprintf(io.err, "tarnwick-cli load: cannot read %s\n",
                     file.empty() || file == "-" ? "standard input" : std::string(file).c_str());
        return kExitFailed;
    }
    std::string why;
    if (!ReadMessages(read.text, nullptr, load.messages, why)) {
        std::fprintf(io.err, "tarnwick-cli load: %s\n", why.c_str());
        return kExitFailed;
    }
    if (!count && !duration) load.count = load.messages.size();
    const bool tty = isatty(fileno(io.err)) != 0;
    if (tty) {
        load.progress = [&io, last = std::uint64_t{0}](std::uint64_t sent,
                                                      std::uint64_t replies) mutable {
            std::fprintf(io.err, "\rsent %llu, replies %llu, %llu/s   ",
                         static_cast<unsigned long long>(sent),
                         static_cast<unsigned long long>(replies),
                         static_cast<unsigned long long>(replies - last));
            std::fflush(io.err);
            last = replies;
        };
    }
    const LoadReport report = RunLoad(load);
    if (tty) std::fputs("\n", io.err);
    if (!report.error.empty()) {
        std::fprintf(io.err, "tarnwick-cli load: %s\n", report.error.c_str());
        return kExitFailed;
    }
    const std::string out = LoadReportText(report, format == "json");
    if (std::fwrite(out.data(), 1, out.size(), io.out) != out.size() || std::fflush(io.out) != 0) {
        std::fputs("tarnwick-cli: write error on standard output\n", io.err);
        return kExitFailed;
    }
    if (report.connectFailures > 0 && report.sent == 0) {
        std::fprintf(io.err, "tarnwick-cli load: no connection to %s:%u\n", load.ip.c_str(),
                     load.port);
        return kExitFailed;
    }
    return kExitOk;
}

const std::string_view kLoadHelp =
    "Sends the messages of FILE (one hex message a line, length part included, taken in turn)\n"
    "to a host over N connections; each connection waits for the reply to one message before it\n"
    "sends the next. Field 11 of every message sent is renumbered 000001, 000002, … (where the\n"
    "message has one). One event loop per core, not a thread per connection.\n"
    "  --keys FILE      a keys file (docs/keys-file.md): the MAC field of every message sent\n"
    "                   gets the MAC computed with its MAK after field 11 is renumbered\n"
    "  --ip A.B.C.D, --port P   the host\n"
    "  --connections N  (default 1)\n"
    "  --rate R         at most R messages per second over all connections\n"
    "  --count N        send N messages; --duration S: send for S seconds. Neither: each\n"
    "                   message of FILE once\n"
    "  --timeout-ms T   a reply not whole after T ms (default 5000) is a time-out; its\n"
    "                   connection is opened again\n"
    "  --format text    (default) throughput, latency percentiles (p50, p90, p99, max), replies\n"
    "                   by response code (39), time-outs, resets, undecodable replies\n"
    "  --format json    the same as one JSON object\n"
    "FILE '-' or omitted: standard input. A progress line goes to standard error once a second\n"
    "when it is a terminal. Failures (exit status 1): a line that is no message, no connection.\n";
