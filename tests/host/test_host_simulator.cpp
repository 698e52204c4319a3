// The simulated host: requests cut from a stream, answers by rules, and the server on loopback.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "codec/Conversions.h"
#include "codec/PosPack.h"
#include "host/AnswerSteps.h"
#include "host/HostServer.h"
#include "host/HostSimulator.h"
#include "net/SendCommand.h"
#include "tests/common/LoopbackSend.h"
#include "tests/common/TestMessages.h"
#include "tables/TableFile.h"
#include "trade/Trade.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

Bytes Hex(std::string_view hex) {
    Bytes b(hex.size() / 2);
    HexToBytes(hex.data(), hex.size(), b.data());
    return b;
}

// A trade frame: command 01, field 3 = "ABC".
constexpr std::string_view kTradeRequest = "1500F1000000012000000000000000000341424386";

// A 128-field request without header behind a 4-digit ASCII length: fields 3, 4, 11 and 70.
constexpr std::string_view kRequest128 =
    "3030343730323030B0200000000000000400000000000000313233343536303030303030303130303030"
    "303030313233303031";

std::string RowValue(const FieldRowList& rows, std::string_view name) {
    for (const FieldRow& r : rows) {
        if (r.Name() == name) return std::string(r.Value());
    }
    return "absent";
}

TEST(HostSimulator, CutsRequestsByTheirLengthForms) {
    using K = RequestCut::Kind;
    const struct {
        const char* name;
        std::string_view hex;
        SimForm form;
        K kind;
        std::size_t length;
    } cases[] = {
        {"binary length, whole", "0003600000", SimForm::Iso64, K::Request, 5},
        {"binary length, more follows", "000160AA", SimForm::Iso64, K::Request, 3},
        {"binary length, part", "000560", SimForm::Iso64, K::NeedMore, 7},
        {"one byte", "00", SimForm::Iso64, K::NeedMore, 0},
        {"oversized", "FFFF00", SimForm::Iso64, K::Bad, 65537},
        {"ascii length", "3030303141", SimForm::Iso128, K::Request, 5},
        {"ascii length not digits", "30413030", SimForm::Iso128, K::Bad, 0},
        {"auto: digits mean 128 fields", "3030303141", SimForm::Auto, K::Request, 5},
        {"auto: waits for the fourth digit", "303030", SimForm::Auto, K::NeedMore, 0},
        {"auto: else a binary length", "0001AB", SimForm::Auto, K::Request, 3},
        {"trade frame", kTradeRequest, SimForm::Trade, K::Request, 21},
        {"trade frame without F1", "150000", SimForm::Trade, K::Bad, 0},
        {"trade frame shorter than 7", "0600F1000000", SimForm::Trade, K::Bad, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const RequestCut cut = CutRequest(Hex(c.hex), c.form);
        EXPECT_EQ(cut.kind, c.kind) << cut.reason;
        EXPECT_EQ(cut.length, c.length);
        EXPECT_EQ(cut.kind == K::Bad, !cut.reason.empty());
    }
}

TEST(HostSimulator, EncodesFieldTextsByTheTable) {
    const FieldTable& t = BuiltinTable(BuiltinForm::kUnionPay64);
    const struct {
        const char* name;
        int field;
        std::string_view text;
        std::string_view hex;  // empty: refused
    } cases[] = {
        {"BCD fixed, leading zeros", 4, "10000", "000000010000"},
        {"BCD fixed, odd digit count, the pad nibble by the table", 22, "51", "0510"},
        {"BCD variable, left-aligned, digit count", 2, "123", "031230"},
        {"text fixed, padded with spaces", 38, "AB", "414220202020"},
        {"text variable, 3-digit BCD count", 63, "xyz", "000378797A"},
        {"binary fixed", 52, "0102030405060708", "0102030405060708"},
        {"binary of the wrong size", 52, "01", ""},
        {"too long", 39, "123", ""},
        {"letters in a BCD field", 3, "12x", ""},
        {"undefined field", 5, "1", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes out;
        const EncodeStatus st =
            EncodeFieldText(t.fields[static_cast<std::size_t>(c.field)], c.field, c.text,
                            kRuleTextRules, out);
        const bool ok = st.ok;
        EXPECT_EQ(ok, !c.hex.empty()) << st.reason;
        if (ok) {
            EXPECT_EQ(out, Hex(c.hex));
        }
    }
    for (const auto& [in, out] : std::vector<std::pair<std::string, std::string>>{{"0100", "0110"},
                                                                                  {"0200", "0210"},
                                                                                  {"0800", "0810"},
                                                                                  {"0210", "0210"},
                                                                                  {"01", "01"}}) {
        EXPECT_EQ(ResponseType(in), out) << in;
    }
}

TEST(HostSimulator, AnswersByDefaultAndByRules) {
    SimRules rules;
    std::string why;
    ASSERT_TRUE(ParseSimRules(R"({"rules":[
        {"type":"0200","fields":{"4":"20000"},"action":"close"},
        {"type":"0200","fields":{"4":"10000"},"responseCode":"51","set":{"38":"ABC123"},
         "remove":[35],"delayMs":5},
        {"type":"01","action":"garbage"}]})",
                              rules, why))
        << why;
    const SimExchange none = AnswerRequest(Hex(kTypical64), SimForm::Iso64, {});
    ASSERT_EQ(none.error, "");
    EXPECT_EQ(RowValue(none.replyRows, "Type"), "0210");
    EXPECT_EQ(RowValue(none.replyRows, "TPDU"), "6000000003");  // addresses swapped
    EXPECT_EQ(RowValue(none.replyRows, "Bit 39"), "3030 -> 00");
    EXPECT_EQ(RowValue(none.replyRows, "Bit 35"), RowValue(none.requestRows, "Bit 35"));
    EXPECT_EQ(none.reply.size(), Hex(kTypical64).size() + 2);  // field 39 added

    const SimExchange ruled = AnswerRequest(Hex(kTypical64), SimForm::Iso64, rules);
    ASSERT_EQ(ruled.error, "");
    EXPECT_EQ(ruled.action, SimAction::Answer);
    EXPECT_EQ(ruled.delayMs, 5);
    EXPECT_EQ(RowValue(ruled.replyRows, "Bit 39"), "3531 -> 51");
    EXPECT_EQ(RowValue(ruled.replyRows, "Bit 38"), "414243313233 -> ABC123");
    EXPECT_EQ(RowValue(ruled.replyRows, "Bit 35"), "absent");

    const SimExchange trade = AnswerRequest(Hex(kTradeRequest), SimForm::Trade, rules);
    EXPECT_EQ(trade.action, SimAction::Garbage);
    EXPECT_EQ(trade.reply, Bytes(std::begin(kGarbageReply), std::end(kGarbageReply)));
    const SimExchange echoed = AnswerRequest(Hex(kTradeRequest), SimForm::Trade, {});
    EXPECT_EQ(RowValue(echoed.replyRows, "Bit 3"), "414243");
    EXPECT_EQ(RowValue(echoed.replyRows, "Bit 39"), "3030");

    Bytes badCheck = Hex(kTradeRequest);
    badCheck.back() ^= 1;
    EXPECT_NE(AnswerRequest(badCheck, SimForm::Trade, {}).error, "");
    EXPECT_NE(AnswerRequest(Hex("0002AAAA"), SimForm::Iso64, {}).error, "");

    for (const char* bad : {"[", "{}", R"([{"action":"dance"}])", R"([{"fields":{"x":"1"}}])",
                            R"([{"remove":["55"]}])", R"([{"delayMs":-1}])", R"([{"colour":1}])"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(ParseSimRules(bad, rules, why));
        EXPECT_FALSE(why.empty());
    }
}

TEST(HostSimulator, RulesThatCanNeverApplyAreRefusedAtStart) {
    const TableLoad pos64 = LoadTableByNameOrFile("unionpay-pos64");
    ASSERT_TRUE(pos64.Ok());
    const struct {
        SimForm form;
        const char* rules;
        std::vector<std::string> problems;
    } cases[] = {
        {SimForm::Iso64, R"([{"responseCode":"00"},{"responseCode":"510"}])",
         {"rule 2, field 39: the response code \"510\" is not 2 characters"}},
        {SimForm::Table, R"([{"set":{"38":"1234567"}}])",
         {"rule 1, set field 38: \"1234567\": value of 7 bytes, the field takes 6"}},
        {SimForm::Iso64, R"([{"fields":{"3":"1234567"}},{"remove":[70]}])",
         {"rule 1, field 3: \"1234567\" never matches: value of 4 bytes, the field takes 3",
          "rule 2, remove field 70: the form does not define this field"}},
        // Either built-in form may come: field 70 applies to 128-field requests.
        {SimForm::Auto, R"([{"set":{"70":"301"}}])", {}},
        {SimForm::Auto, R"([{"set":{"120":"1"}}])",
         {"rule 1, set field 120: the form does not define this field (64 fields)",
          "rule 1, set field 120: the form does not define this field (128 fields)"}},
        {SimForm::Json, R"([{"members":{"a":"1"}},{"set":{"39":"05"}}])",
         {"rule 2: \"fields\", \"set\" and \"remove\" apply to ISO 8583 forms; JSON packets use "
          "\"members\""}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rules);
        SimRules rules;
        std::string why;
        ASSERT_TRUE(ParseSimRules(c.rules, rules, why)) << why;
        EXPECT_EQ(CheckSimRules(rules, c.form, &*pos64.table), c.problems);
    }
    SimRules rules;
    std::string why;
    EXPECT_FALSE(ParseSimRules(R"([{"type":"0200",}])", rules, why));
    EXPECT_EQ(why, "not JSON at offset 16: unexpected character");

    EXPECT_TRUE(AnswersCarryResponseCode(SimForm::Table, &*pos64.table));
    const TableLoad no39 = LoadJsonTable(
        R"({"name":"t","frame":[{"part":"length","enc":"Binary","bytes":2}],)"
        R"("fields":{"0":{"length":4,"enc":"BCD"},"1":{"length":8,"enc":"Binary"},)"
        R"("3":{"length":6,"enc":"BCD"}}})");
    ASSERT_TRUE(no39.Ok()) << no39.problems.front();
    EXPECT_FALSE(AnswersCarryResponseCode(SimForm::Table, &*no39.table));
}

/// The simulator on an ephemeral loopback port in a thread, its log kept.
class Host {
public:
    explicit Host(ServeOptions o) : m_options(std::move(o)) {
        m_options.stop = &m_stop;
        m_options.listening = [this](std::uint16_t port) {
            const std::lock_guard lock(m_mutex);
            m_port = port;
        };
        m_options.log = [this](const ServeRecord& r) {
            const std::lock_guard lock(m_mutex);
            m_log.push_back(std::string(r.ended) + "|" + std::string(r.error));
        };
        m_thread = std::thread([this] { m_ok = ServeHost(m_options, m_why); });
        for (int i = 0; i < 200 && Port().empty(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;
    ~Host() { Stop(); }

    std::string Port() {
        const std::lock_guard lock(m_mutex);
        return m_port == 0 ? std::string() : std::to_string(m_port);
    }
    std::vector<std::string> Stop() {
        m_stop = true;
        if (m_thread.joinable()) m_thread.join();
        return m_log;
    }
    bool Ended() {
        if (m_thread.joinable()) m_thread.join();
        return m_ok;
    }

private:
    ServeOptions m_options;
    CancelFlag m_stop{false};
    std::mutex m_mutex;
    std::uint16_t m_port = 0;
    std::vector<std::string> m_log;
    bool m_ok = false;
    std::string m_why;
    std::thread m_thread;
};

/// A raw loopback client: sends bytes, then closes, resets or keeps the connection.
int Connect(const std::string& port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(std::stoi(port)));
    EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    return fd;
}

CommandResult Send(const std::string& port, std::string_view hex) {
    return SendMessageText(LoopbackRequest(port, hex, 5000));
}

TEST(HostServer, AnswersManyConnectionsAndStopsAfterTheCount) {
    ServeOptions o;
    o.count = 6;
    Host host(o);
    const std::string port = host.Port();
    ASSERT_FALSE(port.empty());
    std::vector<std::thread> clients;
    std::vector<CommandResult> results(6);
    for (std::size_t i = 0; i < results.size(); ++i) {
        clients.emplace_back([&, i] { results[i] = Send(port, kTypical64); });
    }
    for (auto& t : clients) t.join();
    for (const auto& r : results) {
        EXPECT_EQ(r.send.ended, ReplyEnd::Complete) << r.detail;
        EXPECT_EQ(r.send.reply.size(), Hex(kTypical64).size() + 2);
    }
    EXPECT_TRUE(host.Ended());  // the count ended it
    EXPECT_EQ(host.Stop(), std::vector<std::string>(6, "answered|"));
}

TEST(HostServer, BadRequestsAreLoggedAndOthersStillServed) {
    ServeOptions o;
    o.form = SimForm::Iso64;
    o.requestTimeoutMs = 1000;
    Host host(o);
    const std::string port = host.Port();
    ASSERT_FALSE(port.empty());
    const int drip = Connect(port);  // half a request, then silence
    ASSERT_EQ(send(drip, "\x00\x30\x60", 3, 0), 3);
    const int big = Connect(port);
    ASSERT_EQ(send(big, "\xFF\xFF", 2, 0), 2);
    const int cut = Connect(port);
    ASSERT_EQ(send(cut, "\x00\x30\x60\x00", 4, 0), 4);
    close(cut);
    const int reset = Connect(port);
    ASSERT_EQ(send(reset, "\x00\x30", 2, 0), 2);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const linger hard{1, 0};
    setsockopt(reset, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    close(reset);
    const int undecodable = Connect(port);
    ASSERT_EQ(send(undecodable, "\x00\x02\xAA\xAA", 4, 0), 4);

    const auto start = Clock::now();
    EXPECT_EQ(Send(port, kTypical64).send.ended, ReplyEnd::Complete);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(800)) << "stalled by the others";
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));  // the drip's time-out passes
    close(drip);
    close(big);
    close(undecodable);
    std::vector<std::string> log = host.Stop();
    std::sort(log.begin(), log.end());
    ASSERT_EQ(log.size(), 6u);
    EXPECT_EQ(log[0], "answered|");
    const char* reasons[] = {
        "unanswered|oversized: the length announces 65537 bytes, more than 65536",
        "unanswered|the connection was reset: Connection reset by peer",
        "unanswered|the request does not decode as a 64-field message",
        "unanswered|truncated: no whole request within 1000 ms after 3 bytes of 50",
        "unanswered|truncated: the client closed the connection after 4 bytes of 50",
    };
    for (std::size_t i = 0; i < std::size(reasons); ++i) EXPECT_EQ(log[i + 1], reasons[i]);
}

/// Whether the host closes the connection within a bounded wait.
bool ClosedByHost(int fd) {
    pollfd p{fd, POLLIN, 0};
    char byte;
    return poll(&p, 1, 3000) == 1 && recv(fd, &byte, 1, 0) == 0;
}

TEST(HostServer, IdleConnectionsNeitherHoldTheSlotsNorStayOpen) {
    {
        ServeOptions o;
        o.maxConnections = 3;
        o.connectionIdleMs = 60000;
        Host host(o);
        const std::string port = host.Port();
        const int older = Connect(port);
        const int old = Connect(port);
        const int newest = Connect(port);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_EQ(Send(port, kTypical64).send.ended, ReplyEnd::Complete);
        EXPECT_TRUE(ClosedByHost(newest));
        pollfd p{older, POLLIN, 0};
        EXPECT_EQ(poll(&p, 1, 0), 0) << "an older idle connection keeps its slot";
        std::vector<std::string> log = host.Stop();
        std::sort(log.begin(), log.end());
        EXPECT_EQ(log, (std::vector<std::string>{
                           "answered|",
                           "dropped|all 3 connections taken: the newest idle one gives way to a "
                           "new one"}));
        for (const int fd : {older, old, newest}) close(fd);
    }
    ServeOptions o;
    o.connectionIdleMs = 200;
    Host host(o);
    const int silent = Connect(host.Port());
    const int stalled = Connect(host.Port());
    ASSERT_EQ(send(stalled, "\x00\x30\x60", 3, 0), 3);
    EXPECT_TRUE(ClosedByHost(silent));
    EXPECT_TRUE(ClosedByHost(stalled));
    close(silent);
    close(stalled);
    std::vector<std::string> log = host.Stop();
    std::sort(log.begin(), log.end());
    EXPECT_EQ(log, (std::vector<std::string>{
                       "idle|nothing received for 200 ms; connection closed",
                       "unanswered|truncated: nothing received for 200 ms after 3 bytes of 50"}));
}

TEST(HostServer, DelayedAnswerAndCloseWithoutAnswer) {
    ServeOptions o;
    std::string why;
    ASSERT_TRUE(
        ParseSimRules(R"([{"type":"0800","action":"close"},{"delayMs":300}])", o.rules, why));
    Host host(o);
    const std::string port = host.Port();
    const auto start = Clock::now();
    EXPECT_EQ(Send(port, kTypical64).send.ended, ReplyEnd::Complete);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(290));
    // Type 0800, no fields: closed without an answer.
    const CommandResult closed = Send(port,
                                      "001560000300006031003100000800"
                                      "0000000000000000");
    EXPECT_EQ(closed.send.ended, ReplyEnd::Closed);
    EXPECT_TRUE(closed.send.reply.empty());
}

TEST(HostSimulator, TableFormAnswersAsTheBuiltInForm) {
    SimRules rules;
    std::string why;
    ASSERT_TRUE(ParseSimRules(R"([{"fields":{"4":"000000010000"},"responseCode":"51",
                                    "set":{"38":"ABC123"},"remove":[11]}])",
                              rules, why))
        << why;
    const struct {
        const char* table;
        std::string_view request;
        SimForm form;
    } cases[] = {{"unionpay-pos64", kTypical64, SimForm::Iso64},
                 {"unionpay-128", kRequest128, SimForm::Iso128}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.table);
        const TableLoad load = LoadTableByNameOrFile(c.table);
        ASSERT_TRUE(load.Ok());
        ASSERT_EQ(TableHost::CannotServe(*load.table), "");
        TableHost host(*load.table);
        const Bytes request = Hex(c.request);
        Bytes stream = request;
        stream.push_back(0);
        const RequestCut cut = host.Cut(stream);
        EXPECT_EQ(cut.kind, RequestCut::Kind::Request);
        EXPECT_EQ(cut.length, request.size());
        EXPECT_EQ(host.Cut(std::span(request).first(3)).kind, RequestCut::Kind::NeedMore);
        for (const SimRules& r : {SimRules{}, rules}) {
            const SimExchange table = host.Answer(request, r);
            const SimExchange builtin = AnswerRequest(request, c.form, r);
            ASSERT_EQ(table.error, "");
            EXPECT_EQ(table.reply, builtin.reply);
            EXPECT_EQ(table.type, builtin.type);
        }
    }
    const TableLoad ascii = LoadTableByNameOrFile("iso8583-1987-ascii");  // no framing
    ASSERT_TRUE(ascii.Ok());
    EXPECT_NE(TableHost::CannotServe(*ascii.table), "");
    const TableLoad t128 = LoadTableByNameOrFile("unionpay-128");
    ASSERT_TRUE(t128.Ok());
    EXPECT_EQ(TableHost(*t128.table).Cut(Hex("30413030")).kind, RequestCut::Kind::Bad);
}

TEST(HostServer, ServesATableFormOnLoopback) {
    const TableLoad load = LoadTableByNameOrFile("unionpay-pos64");
    ASSERT_TRUE(load.Ok());
    ServeOptions o;
    o.form = SimForm::Table;
    o.table = &*load.table;
    o.count = 2;
    Host host(o);
    const std::string port = host.Port();
    ASSERT_FALSE(port.empty());
    const CommandResult r = Send(port, kTypical64);
    EXPECT_EQ(r.send.ended, ReplyEnd::Complete) << r.detail;
    const SimExchange builtin = AnswerRequest(Hex(kTypical64), SimForm::Iso64, {});
    EXPECT_EQ(r.send.reply, builtin.reply);
    EXPECT_EQ(Send(port, "0002AAAA").send.ended, ReplyEnd::Closed);  // undecodable: no answer
    EXPECT_TRUE(host.Ended());
    const auto log = host.Stop();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0], "answered|");
    EXPECT_EQ(log[1].rfind("unanswered|the request does not decode with the table", 0), 0u)
        << log[1];
}

/// The hex of a JSON text in the trade frame.
std::string JsonFrame(std::string_view json) {
    Bytes frame(json.size() + 7);
    std::int32_t n = 0;
    EXPECT_TRUE(BuildTradeFrame(reinterpret_cast<const std::uint8_t*>(json.data()),
                                static_cast<std::int32_t>(json.size()), frame.data(), &n));
    std::string hex(2 * frame.size() + 1, '\0');
    BytesToHex(frame.data(), frame.size(), hex.data());
    hex.pop_back();
    return hex;
}

TEST(HostServer, AnswersJsonPacketsByRules) {
    ServeOptions o;
    o.form = SimForm::Json;
    o.count = 4;  // the last, unanswered request ends the server
    std::string why;
    ASSERT_TRUE(ParseSimRules(R"([{"members":{"term":"T9"},"action":"close"},
        {"members":{"n":"5"},"responseCode":"51","setMembers":{"auth":"A1"},
         "removeMembers":["term"]}])",
                              o.rules, why))
        << why;
    Host host(o);
    const std::string port = host.Port();
    ASSERT_FALSE(port.empty());
    const struct {
        const char* request;
        ReplyEnd ended;
        const char* reply;  // the answer's JSON text
    } cases[] = {
        {R"({"amount":"100","term":"T1"})", ReplyEnd::Complete,
         R"({ "amount": "100", "term": "T1", "responseCode": "00" })"},
        {R"({"term":"T1","n":5})", ReplyEnd::Complete,
         R"({ "n": 5, "responseCode": "51", "auth": "A1" })"},
        {R"({"term":"T9"})", ReplyEnd::Closed, ""},
        {R"(["not", "an object"])", ReplyEnd::Closed, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.request);
        const CommandResult r = Send(port, JsonFrame(c.request));
        EXPECT_EQ(r.send.ended, c.ended) << r.detail;
        const std::string reply(r.send.reply.begin(), r.send.reply.end());
        EXPECT_EQ(reply.size() < 7 ? "" : reply.substr(6, reply.size() - 7), c.reply);
    }
    const auto log = host.Stop();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[2], "closed|");
    EXPECT_EQ(log[3].rfind("unanswered|the request is not a JSON packet", 0), 0u) << log[3];
}

}  // namespace
