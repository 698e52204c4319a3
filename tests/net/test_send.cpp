// The send command against a real listener on 127.0.0.1: bytes on the wire, checks, replies.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "codec/Texts.h"
#include "net/SendCommand.h"
#include "net/Socket.h"
#include "tests/common/LoopbackListener.h"
#include "tests/common/LoopbackSend.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

constexpr int kWaitMs = kListenerWaitMs;

Bytes B(std::initializer_list<int> v) {
    Bytes b;
    for (int x : v) b.push_back(static_cast<std::uint8_t>(x));
    return b;
}

Bytes FromText(std::string_view s) { return Bytes(s.begin(), s.end()); }

using Behaviour = ListenerBehaviour;
using Listener = LoopbackListener;

// A 40-character JSON packet text: 12 characters of head, a 26-character body with a line break
// (sent as it stands), 2 characters of check byte.
constexpr std::string_view kJsonPacket = "2100F1000000{ \"k\": \"a b\",\n \"xyz\": 123}5C";

TEST(SendText, BytesOfEachTextForm) {
    static_assert(kJsonPacket.size() == 40);
    Bytes json = B({0x21, 0x00, 0xF1, 0x00, 0x00, 0x00});
    const std::string_view body = kJsonPacket.substr(12, 26);
    json.insert(json.end(), body.begin(), body.end());
    json.push_back(0x5C);
    const struct {
        const char* name;
        std::string_view text;
        Bytes expected;
    } cases[] = {
        {"hex with white space", "0102 \r\n03", B({1, 2, 3})},
        {"odd digit dropped", "01020", B({1, 2})},
        {"non-hex is F", "0G", B({0x0F})},
        {"lower case", "0a1b", B({0x0A, 0x1B})},
        {"white space only", " \t\r\n", {}},
        {"json packet form, 40 characters give 33 bytes", kJsonPacket, json},
        {"json packet of 14 characters", "0700F1000000{}", B({7, 0, 0xF1, 0, 0, 0, 0xFF})},
        {"brace elsewhere is hex", "0700F100000{0", B({0x07, 0x00, 0xF1, 0x00, 0x00, 0x0F})},
        {"text ends at a zero byte",
         std::string_view("0102\0"
                          "03",
                          7),
         B({1, 2})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes out;
        EXPECT_EQ(MessageTextToSendBytes(c.text, out), "");
        EXPECT_EQ(out, c.expected);
    }
    Bytes out;
    EXPECT_EQ(MessageTextToSendBytes("0700F1000000{", out), kTextSendDataFormatError);
    EXPECT_EQ(MessageTextToSendBytes(std::string(10240, '0'), out), kTextSendDataTooLong);
    EXPECT_EQ(MessageTextToSendBytes(std::string(10239, '0'), out), "");
    EXPECT_EQ(out.size(), 5119u);
}

TEST(SendText, PortAndAddressText) {
    const std::pair<const char*, int> ports[] = {
        {"8000", 8000}, {"8000a", 8000}, {"  42", 42},  {"+7", 7},    {"70000", 4464},
        {"abc", 0},     {"", 0},         {"-1", 65535}, {"65536", 0}, {"99999999999", 65535},
    };
    for (const auto& [text, port] : ports) {
        SCOPED_TRACE(text);
        EXPECT_EQ(PortFromText(text), port);
    }
    EXPECT_EQ(AddressText({192, 168, 0, 1}), "192.168.0.1");
}

TEST(SendText, ReplyLengthForms) {
    const struct {
        const char* name;
        Bytes reply;
        std::size_t expected;
    } cases[] = {
        {"too short", B({0x00}), 0},
        {"binary length", B({0x00, 0x03, 0x60}), 5},
        {"binary length zero", B({0x00, 0x00}), 2},
        {"ascii length", FromText("0012ab"), 16},
        {"ascii length not yet known", FromText("00"), 0},
        {"trade frame", B({0x15, 0x00, 0xF1, 0x00, 0x00, 0x00, 0x01}), 21},
        {"trade frame head incomplete", B({0x15, 0x00, 0xF1, 0x00}), 0},
        {"F1 without zero bytes is binary", B({0x00, 0x05, 0xF1, 0x01, 0x00, 0x00}), 7},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ExpectedReplyLength(c.reply), c.expected);
    }
}

TEST(SendCommand, ChecksInOrder) {
    SendRequest r;  // everything empty
    EXPECT_EQ(SendMessageText(r).error, kTextIpEmpty);
    r.ipBlank = false;
    EXPECT_EQ(SendMessageText(r).error, kTextPortEmpty);
    r.portText = "1";
    EXPECT_EQ(SendMessageText(r).error, kTextSendDataEmpty);
    // A refused text is refused before any connection is tried.
    const std::string port = FreeLoopbackPort();
    const std::string longText(10240, '0');
    EXPECT_EQ(SendMessageText(LoopbackRequest(port, longText)).error, kTextSendDataTooLong);
    EXPECT_EQ(SendMessageText(LoopbackRequest(port, "0000F1000000{")).error, kTextSendDataFormatError);
    const CommandResult refused = SendMessageText(LoopbackRequest(port, "00"));
    EXPECT_EQ(refused.outcome, Outcome::Failed);
    EXPECT_EQ(refused.error, kTextConnectError);
    EXPECT_NE(refused.detail.find("127.0.0.1:" + port), std::string::npos) << refused.detail;
}

TEST(SendCommand, ExactBytesOnTheWire) {
    const struct {
        const char* name;
        std::string_view text;
        Bytes expected;
    } cases[] = {
        {"hex with white space and an odd digit", "0102 \r\n03 f", B({1, 2, 3})},
        {"non-hex character", "0G", B({0x0F})},
        {"json packet form", kJsonPacket, {}},
        {"white space only", "  \n ", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes expected = c.expected;
        if (c.text == kJsonPacket) {
            ASSERT_EQ(MessageTextToSendBytes(kJsonPacket, expected), "");
        }
        Listener host({expected.size(), {}, false});
        const CommandResult r = SendMessageText(LoopbackRequest(host.Port(), c.text));
        EXPECT_TRUE(r.Ok()) << r.error << " " << r.detail;
        EXPECT_EQ(r.send.sent, expected.size());
        EXPECT_EQ(host.Received(), expected);
        EXPECT_TRUE(host.SawClientClose());
        EXPECT_TRUE(r.send.reply.empty());
    }
}

TEST(SendCommand, ReplyReadWholeByItsLengthForm) {
    const Bytes binary = B({0x00, 0x04, 0x60, 0x00, 0x01, 0x02});
    const Bytes ascii = FromText("0006ABCDEF");
    const Bytes trade = B({0x09, 0x00, 0xF1, 0x00, 0x00, 0x00, 0x01, 0x02, 0xFB});
    for (const Bytes* reply : {&binary, &ascii, &trade}) {
        SCOPED_TRACE(reply->size());
        // Sent in two pieces with the connection kept open: only the length form ends the read.
        Listener host(
            {1,
             {Bytes(reply->begin(), reply->begin() + 3), Bytes(reply->begin() + 3, reply->end())},
             false});
        const auto start = Clock::now();
        const CommandResult r = SendMessageText(LoopbackRequest(host.Port(), "01", 20000));
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(10)) << "did not stop at the length";
        EXPECT_TRUE(r.Ok()) << r.error << " " << r.detail;
        EXPECT_EQ(r.send.reply, *reply);
    }
}

TEST(SendCommand, SilentHostHitsTheTimeOut) {
    Listener host({1, {}, false});
    const auto start = Clock::now();
    const CommandResult r = SendMessageText(LoopbackRequest(host.Port(), "01", 200));
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(190));
    EXPECT_TRUE(r.Ok());
    EXPECT_EQ(r.send.sent, 1u);
    EXPECT_TRUE(r.send.reply.empty());
    EXPECT_TRUE(host.SawClientClose());
}

TEST(SendCommand, PeerThatClosesEarlyEndsTheReply) {
    // Announces 16 bytes, sends 5, closes: the reply is what came, with no error.
    Listener host({1, {B({0x00, 0x10, 0x01, 0x02, 0x03})}, true});
    const CommandResult r = SendMessageText(LoopbackRequest(host.Port(), "01", 20000));
    EXPECT_TRUE(r.Ok()) << r.detail;
    EXPECT_EQ(r.send.reply, B({0x00, 0x10, 0x01, 0x02, 0x03}));
}

TEST(SendCommand, EachWayAReplyEnds) {
    const Bytes announces18 = B({0x00, 0x10, 0x01, 0x02, 0x03, 0x04});
    const struct {
        const char* name;
        Behaviour host;
        int timeoutMs;
        std::size_t cap;
        ReplyEnd ended;
        std::size_t replyBytes;
        std::size_t expected;
        bool cut;
    } cases[] = {
        {"complete",
         {1, {B({0x00, 0x02, 0xAB, 0xCD})}, false},
         20000,
         kMaxReplyBytes,
         ReplyEnd::Complete,
         4,
         4,
         false},
        {"closed short of its length",
         {1, {announces18}, true},
         20000,
         kMaxReplyBytes,
         ReplyEnd::Closed,
         6,
         18,
         false},
        {"reset",
         {1, {announces18}, false, true},
         20000,
         kMaxReplyBytes,
         ReplyEnd::Reset,
         6,
         18,
         false},
        {"timeout with the bytes so far",
         {1, {announces18}, false},
         300,
         kMaxReplyBytes,
         ReplyEnd::Timeout,
         6,
         18,
         false},
        {"silent host", {1, {}, false}, 100, kMaxReplyBytes, ReplyEnd::Timeout, 0, 0, false},
        {"no reply awaited",
         {1, {announces18}, false},
         0,
         kMaxReplyBytes,
         ReplyEnd::None,
         0,
         0,
         false},
        {"cut by the cap", {1, {announces18}, false}, 20000, 4, ReplyEnd::Timeout, 4, 18, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Listener host(c.host);
        const std::string port = host.Port();
        SendRequest request = LoopbackRequest(port, "01", c.timeoutMs);
        request.maxReplyBytes = c.cap;
        const CommandResult r = SendMessageText(request);
        ASSERT_TRUE(r.Ok()) << r.detail;
        EXPECT_EQ(r.send.ended, c.ended);
        EXPECT_EQ(r.send.reply.size(), c.replyBytes);
        EXPECT_EQ(r.send.expected, c.expected);
        EXPECT_EQ(r.send.cut, c.cut);
    }
}

TEST(SendCommand, CancelStopsTheWaitForASilentHost) {
    Listener host({1, {}, false});
    CancelFlag cancel{false};
    const std::string port = host.Port();
    SendRequest request = LoopbackRequest(port, "01", 20000);
    request.cancel = &cancel;
    std::thread stopper([&cancel] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        cancel = true;
    });
    const auto start = Clock::now();
    const CommandResult r = SendMessageText(request);
    stopper.join();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
    EXPECT_TRUE(r.send.cancelled) << r.error << " " << r.detail;
    EXPECT_EQ(r.send.sent, 1u);
}

TEST(SendCommand, PeerResetMakesSendFailWithoutSignal) {
    // The host accepts and resets the connection; a send after that must report failure, not
    // end the process with SIGPIPE.
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(listen(fd, 1), 0);
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    SocketHandle s;
    ASSERT_EQ(ConnectToHost("127.0.0.1", ntohs(a.sin_port), s), kConnectOk);
    const int c = accept(fd, nullptr, nullptr);
    const linger reset{1, 0};
    setsockopt(c, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    close(c);
    close(fd);
    pollfd p{s.Get(), POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, kWaitMs), 1);  // the reset has arrived
    // The first send may report the reset itself; the ones after it meet a broken pipe.
    const Bytes bytes(64, 0x55);
    for (int i = 0; i < 3; ++i) {
        std::string why;
        EXPECT_LT(SendAll(s, bytes, 1000, why), bytes.size());
        EXPECT_FALSE(why.empty());
    }
}

TEST(SendCommand, ConnectToHostResultCodes) {
    SocketHandle s;
    EXPECT_EQ(ConnectToHost("127.0.0.1", std::stoi(FreeLoopbackPort()), s), kConnectFailed);
    EXPECT_FALSE(s.Open());
    EXPECT_EQ(ConnectToHost("127.0.0.256", 1, s), kConnectResolveFailed);  // never looked up
    EXPECT_FALSE(s.Open());
    Listener host({0, {}, true});
    EXPECT_EQ(ConnectToHost("127.0.0.1", std::stoi(host.Port()) + 0x10000, s), kConnectOk);
    EXPECT_TRUE(s.Open());
}

}  // namespace
