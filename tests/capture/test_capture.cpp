// Capture files built in the test: reassembly cases, pcapng and IPv6, pairing of replies.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "capture/CaptureMessages.h"
#include "capture/Latency.h"
#include "codec/Conversions.h"
#include "codec/Message.h"
#include "tests/capture/CaptureBuilder.h"
#include "tests/common/TestMessages.h"

using namespace capture_test;

namespace {

/// The typical 64-field message with type, field 11 and field 39 set; field 41 left out when
/// noTerminal.
std::string Message64(std::string_view type, std::string_view stan, std::string_view code = {},
                      bool noTerminal = false) {
    const FieldTable& table = BuiltinTable(BuiltinForm::kUnionPay64);
    Message m(table);
    const std::string raw = HexBytes(kTypical64);
    const std::vector<std::uint8_t> bytes(raw.begin(), raw.end());
    EXPECT_GT(m.Decode(bytes.data(), static_cast<std::int32_t>(bytes.size()), bytes.size(),
                       LengthRule::Match, {}),
              0);
    EXPECT_TRUE(m.SetText(0, type).ok);
    EXPECT_TRUE(m.SetText(11, stan).ok);
    if (!code.empty()) {
        EXPECT_TRUE(m.SetText(39, code).ok);
    }
    if (noTerminal) m.Clear(41);
    std::vector<std::uint8_t> out;
    EncodeOptions options;
    options.macAsStored = true;
    EXPECT_TRUE(m.Encode(out, options).ok);
    return {out.begin(), out.end()};
}

struct Line {
    CaptureItemKind kind;
    std::uint64_t offset;
    std::string type;
    std::string f11;
    std::int64_t replyTo;
    std::int64_t latencyUs;
    std::string src;
    bool ok;
};

std::vector<Line> Analyse(const std::string& file, CaptureOptions options = {},
                          std::string* problem = nullptr) {
    std::vector<Line> lines;
    CaptureAnalyzer analyzer(options, [&](const CaptureItem& item) {
        lines.push_back({item.kind, item.offset, std::string(item.type), std::string(item.field11),
                         item.replyTo, item.latencyUs, EndpointText(*item.src),
                         item.result == nullptr || item.result->Ok()});
    });
    std::string copy = file;
    std::FILE* f = fmemopen(copy.data(), copy.size(), "rb");
    const std::string why = ReadCaptureStream(f, analyzer);
    if (problem != nullptr) *problem = why;
    return lines;
}

/// "M@offset" for a message, "G@offset" for a gap, "U@…", "T@…".
std::string Shape(const std::vector<Line>& lines) {
    std::string s;
    for (const Line& l : lines) {
        if (!s.empty()) s += ' ';
        s += "MGUT"[static_cast<int>(l.kind)];
        s += '@' + std::to_string(l.offset);
        if (l.kind == CaptureItemKind::Message && !l.ok) s += '!';
    }
    return s;
}

const Host kClient = V4(1, 40000);
const Host kServer = V4(2, 5000);
constexpr std::uint32_t kIsn = 0xFFFFFF00;  // the sequence numbers wrap inside the stream

struct Piece {
    std::size_t from;
    std::size_t to;  // end, exclusive
};

struct ReassemblyCase {
    const char* name;
    std::vector<Piece> pieces;  // the client's segments in capture order
    bool syn;
    bool finAtEnd;  // a FIN after the whole stream (seen even when bytes before it were not)
    std::string shape;
};

}  // namespace

// Three requests of n bytes each, cut into segments every way a sender,
// a network or a capture can.
TEST(CaptureReassembly, CasesOfSegments) {
    const std::string stream = Message64("0200", "000001") + Message64("0200", "000002") +
                               Message64("0200", "000003");
    const std::size_t n = stream.size() / 3;  // one message's bytes
    const auto at = [n](std::size_t k, std::size_t plus = 0) { return k * n + plus; };
    const auto m = [&](std::initializer_list<std::size_t> offsets, const char* tail = "") {
        std::string s;
        for (std::size_t o : offsets) s += (s.empty() ? "M@" : " M@") + std::to_string(o);
        return s + tail;
    };
    const std::string all = m({0, at(1), at(2)});
    const std::string gapped = "M@0 G@" + std::to_string(at(1, 20)) + " M@" + std::to_string(at(2));
    const ReassemblyCase cases[] = {
        {"one per segment", {{0, at(1)}, {at(1), at(2)}, {at(2), at(3)}}, true, true, all},
        {"all in one", {{0, at(3)}}, true, true, all},
        {"many per message",
         {{0, 10}, {10, 50}, {50, at(1, -3)}, {at(1, -3), at(1, 40)}, {at(1, 40), at(2, 50)},
          {at(2, 50), at(3)}},
         true, true, all},
        {"length split", {{0, 1}, {1, at(1, 1)}, {at(1, 1), at(2, 1)}, {at(2, 1), at(3)}}, true,
         true, all},
        {"reversed", {{at(2), at(3)}, {at(1), at(2)}, {0, at(1)}}, true, true, all},
        {"retransmitted", {{0, at(1)}, {0, at(1)}, {at(1), at(2)}, {at(1), at(2)}, {at(2), at(3)}},
         true, true, all},
        {"overlapping", {{0, 60}, {40, at(1, 40)}, {at(1), at(3)}, {at(2), at(2, 40)}}, true,
         true, all},
        {"gap inside the second", {{0, at(1, 20)}, {at(1, 50), at(2)}, {at(2), at(3)}}, true,
         true, gapped},
        {"gap, held until the end", {{at(2), at(3)}, {0, at(1)}}, true, true,
         "M@0 G@" + std::to_string(at(1)) + " M@" + std::to_string(at(2))},
        {"gap at the end", {{0, at(1)}, {at(1), at(1, 40)}}, true, true,
         "M@0 G@" + std::to_string(at(1, 40))},
        {"cut off by the capture's end", {{0, at(1)}, {at(1), at(1, 40)}}, true, false,
         "M@0 T@" + std::to_string(at(1))},
        {"picked up mid-stream", {{50, at(1)}, {at(1), at(2)}, {at(2), at(3)}}, false, true,
         m({at(1) - 50, at(2) - 50})},
    };
    for (const ReassemblyCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Record> records;
        std::uint64_t t = 1700000000000000;
        const std::uint32_t start = c.syn ? kIsn + 1 : kIsn + 51;
        const std::size_t base = c.syn ? 0 : 50;
        if (c.syn) records.push_back({t++, TcpFrame(kClient, kServer, kIsn, kSyn, {})});
        for (const Piece& p : c.pieces) {
            records.push_back({t++, TcpFrame(kClient, kServer,
                                             start + static_cast<std::uint32_t>(p.from - base),
                                             kAck, stream.substr(p.from, p.to - p.from))});
        }
        if (c.finAtEnd) {
            records.push_back(
                {t++, TcpFrame(kClient, kServer, start + static_cast<std::uint32_t>(at(3) - base),
                               kFin | kAck, {})});
        }
        EXPECT_EQ(Shape(Analyse(Pcap(records), {.port = 5000})), c.shape);
    }
}

// A frame the capture cut short (snap length) leaves a gap where its bytes were.
TEST(CaptureReassembly, SnapLengthCutsAreGaps) {
    const std::string stream = Message64("0200", "000001") + Message64("0200", "000002");
    const std::size_t n = stream.size() / 2;
    std::string cut = TcpFrame(kClient, kServer, kIsn + 1 + static_cast<std::uint32_t>(n), kAck,
                               stream.substr(n));
    const auto wire = static_cast<std::uint32_t>(cut.size());
    cut.resize(cut.size() - 40);
    const std::vector<Record> records = {
        {1, TcpFrame(kClient, kServer, kIsn, kSyn, {})},
        {2, TcpFrame(kClient, kServer, kIsn + 1, kAck, stream.substr(0, n))},
        {3, cut, wire},
    };
    EXPECT_EQ(Shape(Analyse(Pcap(records), {.port = 5000})), "M@0 G@" + std::to_string(2 * n - 40));
}

// Without --port a connection counts when its first message frames and decodes; a stream of
// other bytes is passed over in silence, and with --port it is reported once.
TEST(CaptureReassembly, OtherTrafficAndPortChoice) {
    const std::string text = "GET / HTTP/1.1\r\nHost: example\r\n\r\n";
    const std::vector<Record> records = {
        {1, TcpFrame(V4(3, 40001), V4(4, 80), 100, kSyn, {})},
        {2, TcpFrame(V4(3, 40001), V4(4, 80), 101, kAck, text)},
        {3, TcpFrame(V4(3, 40001), V4(4, 80), 101 + static_cast<std::uint32_t>(text.size()), kAck,
                     text)},
        {4, TcpFrame(kClient, kServer, kIsn, kSyn, {})},
        {5, TcpFrame(kClient, kServer, kIsn + 1, kAck, Message64("0200", "000001"))},
    };
    EXPECT_EQ(Shape(Analyse(Pcap(records))), "M@0");
    EXPECT_EQ(Shape(Analyse(Pcap(records), {.port = 80})), "U@0");
    EXPECT_EQ(Shape(Analyse(Pcap(records), {.port = 5000})), "M@0");
}

// Replies pair with the request of the same fields 11 and 41, or the oldest awaiting one when
// either lacks them; latency is the time between the two.
TEST(CapturePairing, ByFieldsElseInOrder) {
    const std::string a = Message64("0200", "000001");
    const std::string b = Message64("0200", "000002");
    const std::string ra = Message64("0210", "000001", "00");
    const std::string rb = Message64("0210", "000002", "51");
    const std::string c = Message64("0200", "000003", {}, true);
    const std::string rc = Message64("0210", "000099", "00", true);
    std::uint32_t cs = kIsn + 1;
    std::uint32_t ss = 5001;
    std::vector<Record> records = {{1000, TcpFrame(kClient, kServer, kIsn, kSyn, {})},
                                   {1001, TcpFrame(kServer, kClient, 5000, kSyn | kAck, {})}};
    const auto send = [&](std::uint64_t t, bool fromClient, const std::string& m) {
        std::uint32_t& seq = fromClient ? cs : ss;
        records.push_back({t, fromClient ? TcpFrame(kClient, kServer, seq, kAck, m)
                                         : TcpFrame(kServer, kClient, seq, kAck, m)});
        seq += static_cast<std::uint32_t>(m.size());
    };
    send(2000, true, a);
    send(3000, true, b);
    send(7000, false, rb);
    send(9500, false, ra);
    send(10000, true, c);
    send(10250, false, rc);
    const auto lines = Analyse(Pcap(records));
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[2].replyTo, 1);
    EXPECT_EQ(lines[2].latencyUs, 4000);
    EXPECT_EQ(lines[3].replyTo, 0);
    EXPECT_EQ(lines[3].latencyUs, 7500);
    EXPECT_EQ(lines[5].replyTo, 4);
    EXPECT_EQ(lines[5].latencyUs, 250);
    EXPECT_EQ(lines[0].replyTo, -1);
    EXPECT_EQ(lines[2].type, "0210");
    EXPECT_EQ(lines[2].f11, "000002");
}

// pcapng, and IPv6 addresses written [addr]:port.
TEST(CaptureFile, PcapngAndIpv6) {
    const Host client = V6(1, 40000);
    const Host server = V6(2, 5000);
    const std::vector<Record> records = {
        {1, TcpFrame(client, server, 7, kSyn, {})},
        {2, TcpFrame(client, server, 8, kAck, Message64("0200", "000001"))},
    };
    const auto lines = Analyse(Pcapng(records));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].src, "[2001:db8::1]:40000");
    std::string problem;
    EXPECT_TRUE(Analyse("not a capture file at all", {}, &problem).empty());
    EXPECT_FALSE(problem.empty());
}

TEST(CaptureLatency, PercentilesWithinABucket) {
    LatencyHistogram h;
    for (int i = 1; i <= 1000; ++i) h.Add(i * 100);
    EXPECT_NEAR(static_cast<double>(h.Percentile(0.5)), 50000, 50000 * 0.016);
    EXPECT_NEAR(static_cast<double>(h.Percentile(0.99)), 99000, 99000 * 0.016);
    EXPECT_EQ(h.Max(), 100000);
    EXPECT_EQ(h.Percentile(1.0), 100000);
    EXPECT_EQ(MillisecondsText(12345), "12.345");
}
