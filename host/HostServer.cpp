// The simulated host: one poll loop over the listening socket and every connection.
#include "host/HostServer.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;

constexpr std::size_t kReadBlock = 16 * 1024;
/// Answers a client leaves unread beyond this end its connection.
constexpr std::size_t kMaxUnsentBytes = std::size_t{1} << 20;
/// The longest a stopping server waits for its last answers to go out.
constexpr auto kFlushGrace = std::chrono::seconds(1);
/// The longest one poll waits, so that the stop flag and time-outs are seen in time.
constexpr auto kLongestWait = Ms(kCancelPollMs);

struct Connection {
    SocketHandle socket;
    std::string peer;
    std::vector<std::uint8_t> in;
    std::vector<std::uint8_t> out;
    std::size_t outAt = 0;
    Clock::time_point accepted{};      // when the connection was accepted
    Clock::time_point lastTraffic{};   // when a byte last came or went
    Clock::time_point requestStart{};  // when the first byte of the pending request came
    bool waiting = false;              // a delayed answer is due at `due`
    Clock::time_point due{};
    std::vector<std::uint8_t> delayed;
    bool peerClosed = false;  // the client sends no more; answers still go out
    bool closeWhenSent = false;
    bool dead = false;

    [[nodiscard]] bool Unsent() const { return outAt < out.size(); }
    /// Nothing of the host's is pending: no answer waits or is unsent.
    [[nodiscard]] bool Idle() const {
        return !dead && !waiting && !Unsent() && !closeWhenSent;
    }
};

class Server {
public:
    explicit Server(const ServeOptions& o) : m_o(o) {
        if (o.form == SimForm::Table && o.table != nullptr) {
            m_table = std::make_unique<TableHost>(*o.table);
        }
    }

    bool Run(std::string& why) {
        if (m_o.form == SimForm::Table && m_table == nullptr) {
            why = "no table";
            return false;
        }
        if (!m_listener.Open(m_o.address.c_str(), m_o.port, why)) return false;
        if (m_o.listening) m_o.listening(m_listener.Port());
        m_lastActivity = Clock::now();
        while (!Finished()) {
            Poll();
            const auto now = Clock::now();
            for (auto& c : m_connections) Serve(*c, now);
            std::erase_if(m_connections, [](const auto& c) { return c->dead; });
            if (m_o.flush) m_o.flush();
        }
        return true;
    }

private:
    bool Finished() {
        const auto now = Clock::now();
        if (!m_stopping && m_o.stop != nullptr && m_o.stop->load()) Stop(now);
        if (!m_stopping) {
            return m_o.idleTimeoutMs > 0 && now - m_lastActivity >= Ms(m_o.idleTimeoutMs);
        }
        const bool pending = std::any_of(m_connections.begin(), m_connections.end(),
                                         [](const auto& c) { return c->Unsent() || c->waiting; });
        return !pending || now >= m_stopBy;
    }

    void Stop(Clock::time_point now) {
        m_stopping = true;
        m_stopBy = now + kFlushGrace;
    }

    void Log(const Connection& c, const SimExchange* x, std::string_view ended,
             std::string_view error, std::size_t bytes) {
        if (m_o.log) m_o.log({c.peer, x, ended, error, bytes});
    }

    void CountOne() {
        ++m_handled;
        if (m_o.count != 0 && m_handled >= m_o.count && !m_stopping) Stop(Clock::now());
    }

    void Poll() {
        const auto now = Clock::now();
        auto wake = now + kLongestWait;
        m_items.assign(1, PollItem{m_listener.Get(), !m_stopping, false});
        for (const auto& c : m_connections) {
            // A client that sends while its answer waits is read no further than two requests.
            const bool room = c->in.size() < 2 * kMaxRequestBytes;
            m_items.push_back(
                {c->socket.Get(), !c->peerClosed && !m_stopping && room, c->Unsent()});
            if (c->waiting) wake = std::min(wake, c->due);
        }
        const auto wait = std::chrono::duration_cast<Ms>(wake - now).count();
        if (PollSockets(m_items, static_cast<int>(std::max<std::int64_t>(wait, 0))) <= 0) return;
        if (m_items[0].readable) Accept();
        for (std::size_t i = 0; i < m_connections.size() && i + 1 < m_items.size(); ++i) {
            if (m_items[i + 1].readable) Read(*m_connections[i]);
        }
    }

    void Accept() {
        for (;;) {
            auto c = std::make_unique<Connection>();
            if (!m_listener.Accept(c->socket, c->peer)) return;
            const auto now = Clock::now();
            m_lastActivity = now;
            c->accepted = now;
            c->lastTraffic = now;
            if (LiveConnections() >= m_o.maxConnections && !GiveWay()) {
                Log(*c, nullptr, "unanswered", "too many connections; closed at once", 0);
                continue;
            }
            m_connections.push_back(std::move(c));
        }
    }

    /// Frees a slot for a new connection: the newest idle connection (nothing received of a
    /// request, no answer pending) is closed, so that connections that only hold a slot cannot
    /// lock others out, while the longer-standing ones keep theirs. False when none is idle.
    bool GiveWay() {
        Connection* newest = nullptr;
        for (const auto& c : m_connections) {
            const bool idle = c->Idle() && c->in.empty();
            if (idle && (newest == nullptr || c->accepted >= newest->accepted)) {
                newest = c.get();
            }
        }
        if (newest == nullptr) return false;
        Log(*newest, nullptr, "dropped",
            "all " + std::to_string(m_o.maxConnections) +
                " connections taken: the newest idle one gives way to a new one",
            0);
        newest->dead = true;  // erased after this round of the poll loop
        return true;
    }

    [[nodiscard]] std::size_t LiveConnections() const {
        return static_cast<std::size_t>(std::count_if(
            m_connections.begin(), m_connections.end(), [](const auto& c) { return !c->dead; }));
    }

    void Read(Connection& c) {
        if (c.dead) return;
        std::size_t got = 0;
        std::string why;
        // The poll said readable: one receive without another wait.
        switch (ReceiveNow(c.socket, m_block, got, why)) {
            case ReceiveStatus::Data:
                if (c.in.empty()) c.requestStart = Clock::now();
                c.in.insert(c.in.end(), m_block.begin(),
                            m_block.begin() + static_cast<std::ptrdiff_t>(got));
                m_lastActivity = Clock::now();
                c.lastTraffic = m_lastActivity;
                return;
            case ReceiveStatus::TimedOut:
            case ReceiveStatus::Cancelled:
                return;
            case ReceiveStatus::Closed:
                // Requests already whole are still answered; a part of one is reported.
                c.peerClosed = true;
                return;
            case ReceiveStatus::Reset:
            case ReceiveStatus::Failed:
                if (!c.in.empty() || c.waiting) {
                    Log(c, nullptr, "unanswered", "the connection was reset: " + why, c.in.size());
                    if (!c.in.empty()) CountOne();
                }
                c.dead = true;
                return;
        }
    }

    [[nodiscard]] RequestCut Cut(std::span<const std::uint8_t> stream) const {
        return m_table != nullptr ? m_table->Cut(stream) : CutRequest(stream, m_o.form);
    }

    void Truncated(Connection& c, std::string_view how) {
        const RequestCut cut = Cut(c.in);
        std::string error =
            "truncated: " + std::string(how) + " after " + std::to_string(c.in.size()) + " bytes";
        if (cut.length != 0) error += " of " + std::to_string(cut.length);
        Log(c, nullptr, "unanswered", error, c.in.size());
        c.in.clear();
        CountOne();
    }

    /// Takes every whole request in c.in and answers it, until one waits for its delay.
    void TakeRequests(Connection& c, Clock::time_point now) {
        while (!c.in.empty() && !c.waiting && !c.closeWhenSent && !m_stopping) {
            const RequestCut cut = Cut(c.in);
            if (cut.kind == RequestCut::Kind::NeedMore) return;
            if (cut.kind == RequestCut::Kind::Bad) {
                // The stream cannot be cut any further: the connection ends.
                Log(c, nullptr, "unanswered", cut.reason, c.in.size());
                c.in.clear();
                c.closeWhenSent = true;
                CountOne();
                return;
            }
            const SimExchange x =
                m_table != nullptr
                    ? m_table->Answer(std::span(c.in).first(cut.length), m_o.rules, m_o.keys)
                    : AnswerRequest(std::span(c.in).first(cut.length), cut.form, m_o.rules,
                                    m_o.keys);
            c.in.erase(c.in.begin(), c.in.begin() + static_cast<std::ptrdiff_t>(cut.length));
            c.requestStart = now;
            CountOne();
            if (!x.error.empty()) {
                Log(c, &x, "unanswered", x.error, cut.length);
                continue;
            }
            const std::string_view ended = x.action == SimAction::Close     ? "closed"
                                           : x.action == SimAction::Garbage ? "garbage"
                                                                            : "answered";
            Log(c, &x, ended, {}, cut.length);
            if (x.action == SimAction::Close) {
                c.closeWhenSent = true;
                return;
            }
            if (x.delayMs > 0) {
                c.waiting = true;
                c.due = now + Ms(x.delayMs);
                c.delayed = x.reply;
                return;
            }
            c.out.insert(c.out.end(), x.reply.begin(), x.reply.end());
        }
    }

    void Serve(Connection& c, Clock::time_point now) {
        if (c.dead) return;
        if (c.waiting && now >= c.due) {
            c.waiting = false;
            c.requestStart = now;
            c.out.insert(c.out.end(), c.delayed.begin(), c.delayed.end());
            c.delayed.clear();
        }
        TakeRequests(c, now);
        if (c.peerClosed && !c.waiting && !c.closeWhenSent && !c.in.empty()) {
            Truncated(c, "the client closed the connection");
        }
        if (c.Unsent()) {
            std::size_t sent = 0;
            std::string why;
            if (!SendSome(c.socket, std::span(c.out).subspan(c.outAt), sent, why)) {
                Log(c, nullptr, "unanswered", "the answer could not be sent: " + why, 0);
                c.dead = true;
                return;
            }
            if (sent > 0) {
                m_lastActivity = now;
                c.lastTraffic = now;
            }
            c.outAt += sent;
            if (c.outAt == c.out.size()) {
                c.out.clear();
                c.outAt = 0;
            } else if (c.out.size() - c.outAt > kMaxUnsentBytes) {
                Log(c, nullptr, "unanswered", "the client does not read its answers", 0);
                c.dead = true;
                return;
            }
        }
        if (!c.in.empty() && !c.waiting && !c.closeWhenSent &&
            now - c.requestStart >= Ms(m_o.requestTimeoutMs)) {
            Truncated(c, "no whole request within " + std::to_string(m_o.requestTimeoutMs) + " ms");
            c.dead = true;
            return;
        }
        if (c.Idle() && !c.peerClosed && now - c.lastTraffic >= Ms(m_o.connectionIdleMs)) {
            CloseIdle(c);
            return;
        }
        if ((c.closeWhenSent || c.peerClosed) && !c.Unsent() && !c.waiting) c.dead = true;
    }

    /// A connection without traffic for the idle limit: silent from the start, silent after its
    /// answers, or stalled inside a request.
    void CloseIdle(Connection& c) {
        const std::string limit = std::to_string(m_o.connectionIdleMs) + " ms";
        if (c.in.empty()) {
            Log(c, nullptr, "idle", "nothing received for " + limit + "; connection closed", 0);
        } else {
            Truncated(c, "nothing received for " + limit);
        }
        c.dead = true;
    }

    const ServeOptions& m_o;
    std::unique_ptr<TableHost> m_table;  // the loaded table's form, when served
    ListenSocket m_listener;
    std::vector<std::unique_ptr<Connection>> m_connections;
    std::vector<PollItem> m_items;
    std::vector<std::uint8_t> m_block = std::vector<std::uint8_t>(kReadBlock);
    std::size_t m_handled = 0;
    Clock::time_point m_lastActivity{};
    bool m_stopping = false;
    Clock::time_point m_stopBy{};
};

}  // namespace

bool ServeHost(const ServeOptions& options, std::string& why) {
    Server server(options);
    return server.Run(why);
}
