// read-capture on a capture file built in the test: the JSON line, the table and the summary.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/capture/CaptureBuilder.h"
#include "tests/common/CliRun.h"
#include "tests/common/TestMessages.h"

using namespace capture_test;

namespace {

/// read-capture with args on the capture file's bytes, written to a temporary file.
CliRun RunOn(const std::string& file, std::vector<const char*> args) {
    char path[] = "/tmp/tarnwick_capture_XXXXXX";
    const int fd = mkstemp(path);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(write(fd, file.data(), file.size()), static_cast<ssize_t>(file.size()));
    close(fd);
    args.insert(args.begin(), "read-capture");
    args.push_back(path);
    CliRun result = Cli(args);
    unlink(path);
    return result;
}

std::string Exchange() {
    std::string reply = HexBytes(kTypical64);
    reply[14] = 0x10;  // type 0200 -> 0210
    const Host client = V4(1, 40000);
    const Host server = V4(2, 5000);
    const std::string request = HexBytes(kTypical64);
    return Pcap({
        {1700000000000001, TcpFrame(client, server, 10, kSyn, {})},
        {1700000000000002, TcpFrame(client, server, 11, kAck, request)},
        {1700000000001502, TcpFrame(server, client, 90, kSyn | kAck, {})},
        {1700000000001503, TcpFrame(server, client, 91, kAck, reply)},
    });
}

}  // namespace

TEST(ReadCapture, JsonLinesPairTheReply) {
    const CliRun r = RunOn(Exchange(), {"--format", "json"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::size_t newline = r.out.find('\n');
    ASSERT_NE(newline, std::string::npos);
    const std::string first = r.out.substr(0, newline);
    const std::string second = r.out.substr(newline + 1);
    EXPECT_EQ(first.rfind(std::string(R"({"time":1700000000.000002,"src":"10.0.0.1:40000",)"
                                      R"("dst":"10.0.0.2:5000","message":")") +
                              std::string(kTypical64) + R"(","rows":[{"name":"TPDU")",
                          0),
              0u)
        << first;
    EXPECT_EQ(first.find("replyTo"), std::string::npos);
    EXPECT_NE(second.find(R"("src":"10.0.0.2:5000")"), std::string::npos);
    EXPECT_NE(second.find(R"(,"replyTo":0,"latencyMs":1.501}
)"), std::string::npos) << second;
}

TEST(ReadCapture, TableAndSummary) {
    const CliRun table = RunOn(Exchange(), {"--format", "table"});
    ASSERT_EQ(table.status, 0) << table.err;
    EXPECT_NE(table.out.find("#1  2023-11-14 22:13:20.001503  10.0.0.2:5000 → 10.0.0.1:40000  "
                             "0210  11=000123  39=-  1.501 ms (reply to #0)\n域"),
              std::string::npos)
        << table.out;
    const CliRun summary = RunOn(Exchange(), {"--summary", "--format", "json"});
    EXPECT_EQ(summary.out,
              R"({"messages":2,"types":{"0200":1,"0210":1},"responseCodes":{},"requests":1,)"
              R"("withoutReply":0,"undecodable":0,"gaps":0,"unframeable":0,"truncated":0,)"
              R"("latencyMs":{"count":1,"p50":1.501,"p90":1.501,"p99":1.501,"max":1.501}})"
              "\n");
    const CliRun bad = RunOn("not a capture", {});
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.err.find("tarnwick-cli read-capture: "), std::string::npos);
}
