// load against the simulated host on 127.0.0.1, and against hosts that fail in each way counted.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "cli/Load.h"
#include "codec/Conversions.h"
#include "host/HostServer.h"
#include "iso/MessageKeys.h"
#include "tests/common/LoopbackListener.h"

namespace {

std::vector<std::uint8_t> Typical64() {
    const std::string hex =
        "0067600003000060310031000002007020048020C08011166225880123456789000000000000010000000123"
        "051000286225880123456789D2812201000031323334353637383132333435363738393031323334353135360"
        "013220001230005003A4F9C0D12E5B776";
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        bytes.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

}  // namespace

// A few hundred messages over several connections: every one answered, each with its own 11.
TEST(Load, AgainstTheSimulatedHost) {
    CancelFlag stop{false};
    std::atomic<std::uint16_t> port{0};
    std::mutex mutex;
    std::set<std::string> stans;
    ServeOptions serve;
    serve.stop = &stop;
    serve.listening = [&](std::uint16_t p) { port = p; };
    serve.log = [&](const ServeRecord& r) {
        if (r.exchange == nullptr) return;
        for (const FieldRow& row : r.exchange->requestRows) {
            if (row.field == 11) {
                const std::lock_guard lock(mutex);
                stans.insert(std::string(row.Value()));
            }
        }
    };
    std::string why;
    std::thread host([&] { (void)ServeHost(serve, why); });
    for (int i = 0; i < 300 && port == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_NE(port, 0) << why;

    LoadOptions load;
    load.port = port;
    load.connections = 6;
    load.count = 300;
    load.threads = 2;
    load.timeoutMs = 5000;
    load.messages = {Typical64()};
    const LoadReport report = RunLoad(load);
    stop = true;
    host.join();
    EXPECT_EQ(report.error, "");
    EXPECT_EQ(report.sent, 300u);
    EXPECT_EQ(report.replies, 300u);
    EXPECT_EQ(report.codes.at("00"), 300u);
    EXPECT_EQ(report.timeouts + report.resets + report.undecodable + report.connectFailures, 0u);
    EXPECT_EQ(report.latency.Count(), 300u);
    EXPECT_EQ(stans.size(), 300u);
    EXPECT_TRUE(stans.contains("000001") && stans.contains("000300"));
    const std::string json = LoadReportText(report, true);
    EXPECT_EQ(json.rfind(R"({"sent":300,"replies":300,)", 0), 0u) << json;
    EXPECT_NE(json.find(R"("responseCodes":{"00":300},"timeouts":0,"resets":0,"undecodable":0,)"),
              std::string::npos);
}

// A host that stays silent, resets, or answers with bytes that do not decode: each counted as
// what it is.
TEST(Load, HostFailuresCounted) {
    const std::vector<std::uint8_t> request = Typical64();
    struct Case {
        const char* name;
        ListenerBehaviour host;
        std::uint64_t LoadReport::*counter;
    };
    const Case cases[] = {
        {"silent", {request.size(), {}, false, false}, &LoadReport::timeouts},
        {"reset", {request.size(), {}, false, true}, &LoadReport::resets},
        {"garbage", {request.size(), {{0x00, 0x02, 0xFF, 0xFF}}, false, false},
         &LoadReport::undecodable},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LoopbackListener listener(c.host);
        LoadOptions load;
        load.port = static_cast<std::uint16_t>(std::stoi(listener.Port()));
        load.count = 1;
        load.timeoutMs = 200;
        load.messages = {request};
        const LoadReport report = RunLoad(load);
        EXPECT_EQ(report.sent, 1u);
        EXPECT_EQ(report.replies, 0u);
        EXPECT_EQ(report.*c.counter, 1u);
        EXPECT_EQ(report.timeouts + report.resets + report.undecodable, 1u);
    }
}

// With keys, the MAC is computed over the message as sent (field 11 renumbered); without a MAK
// the run does not start.
TEST(Load, KeysRecomputeTheMacAfterRenumbering) {
    KeySet keys;
    std::string problem;
    ASSERT_TRUE(ParseKeysJson(R"({"mak":"0123456789ABCDEFFEDCBA9876543210","macAlgorithm":"x9.19"})",
                              keys, problem))
        << problem;
    const std::vector<std::uint8_t> request = Typical64();
    LoopbackListener listener({request.size(), {}, false, false});
    LoadOptions load;
    load.port = static_cast<std::uint16_t>(std::stoi(listener.Port()));
    load.count = 1;
    load.timeoutMs = 200;
    load.keys = &keys;
    load.messages = {request};
    (void)RunLoad(load);
    const std::vector<std::uint8_t>& sent = listener.Received();
    ASSERT_EQ(sent.size(), request.size());
    MacCheck check;
    CheckTextMac(HexOf(sent), ParseRequest{}, keys, check);
    EXPECT_TRUE(check.done && check.match) << check.given << " " << check.computed;
    EXPECT_NE(std::vector<std::uint8_t>(sent.end() - 8, sent.end()),
              std::vector<std::uint8_t>(request.end() - 8, request.end()));

    const KeySet noMak;
    load.keys = &noMak;
    EXPECT_NE(RunLoad(load).error.find("mak"), std::string::npos);
}
