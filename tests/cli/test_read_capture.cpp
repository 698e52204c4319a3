// read-capture on a capture file built in the test: the JSON line, the table and the summary.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "cli/Cli.h"
#include "tests/capture/CaptureBuilder.h"

using namespace capture_test;

namespace {

// The typical 64-field request (11 = 000123) and a reply made from it by its type (0210).
constexpr const char* kRequest =
    "0067600003000060310031000002007020048020C08011166225880123456789000000000000010000000123051"
    "000286225880123456789D2812201000031323334353637383132333435363738393031323334353135360013220"
    "001230005003A4F9C0D12E5B776";

std::string Bytes(std::string_view hex) {
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        out += static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16));
    }
    return out;
}

struct Output {
    int status;
    std::string out;
    std::string err;
};

Output RunOn(const std::string& file, std::vector<const char*> args) {
    char path[] = "/tmp/tarnwick_capture_XXXXXX";
    const int fd = mkstemp(path);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(write(fd, file.data(), file.size()), static_cast<ssize_t>(file.size()));
    close(fd);
    std::vector<const char*> argv = {"tarnwick-cli", "read-capture"};
    argv.insert(argv.end(), args.begin(), args.end());
    argv.push_back(path);
    char* outText = nullptr;
    char* errText = nullptr;
    std::size_t outSize = 0;
    std::size_t errSize = 0;
    std::FILE* out = open_memstream(&outText, &outSize);
    std::FILE* err = open_memstream(&errText, &errSize);
    const int status = RunCli(static_cast<int>(argv.size()), argv.data(), {stdin, out, err});
    std::fclose(out);
    std::fclose(err);
    Output result{status, std::string(outText, outSize), std::string(errText, errSize)};
    std::free(outText);
    std::free(errText);
    unlink(path);
    return result;
}

std::string Exchange() {
    std::string reply = Bytes(kRequest);
    reply[14] = 0x10;  // type 0200 -> 0210
    const Host client = V4(1, 40000);
    const Host server = V4(2, 5000);
    const std::string request = Bytes(kRequest);
    return Pcap({
        {1700000000000001, TcpFrame(client, server, 10, kSyn, {})},
        {1700000000000002, TcpFrame(client, server, 11, kAck, request)},
        {1700000000001502, TcpFrame(server, client, 90, kSyn | kAck, {})},
        {1700000000001503, TcpFrame(server, client, 91, kAck, reply)},
    });
}

}  // namespace

TEST(ReadCapture, JsonLinesPairTheReply) {
    const Output r = RunOn(Exchange(), {"--format", "json"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::size_t newline = r.out.find('\n');
    ASSERT_NE(newline, std::string::npos);
    const std::string first = r.out.substr(0, newline);
    const std::string second = r.out.substr(newline + 1);
    EXPECT_EQ(first.rfind(std::string(R"({"time":1700000000.000002,"src":"10.0.0.1:40000",)"
                                      R"("dst":"10.0.0.2:5000","message":")") +
                              kRequest + R"(","rows":[{"name":"TPDU")",
                          0),
              0u)
        << first;
    EXPECT_EQ(first.find("replyTo"), std::string::npos);
    EXPECT_NE(second.find(R"("src":"10.0.0.2:5000")"), std::string::npos);
    EXPECT_NE(second.find(R"(,"replyTo":0,"latencyMs":1.501}
)"), std::string::npos) << second;
}

TEST(ReadCapture, TableAndSummary) {
    const Output table = RunOn(Exchange(), {"--format", "table"});
    ASSERT_EQ(table.status, 0) << table.err;
    EXPECT_NE(table.out.find("#1  2023-11-14 22:13:20.001503  10.0.0.2:5000 → 10.0.0.1:40000  "
                             "0210  11=000123  39=-  1.501 ms (reply to #0)\n域"),
              std::string::npos)
        << table.out;
    const Output summary = RunOn(Exchange(), {"--summary", "--format", "json"});
    EXPECT_EQ(summary.out,
              R"({"messages":2,"types":{"0200":1,"0210":1},"responseCodes":{},"requests":1,)"
              R"("withoutReply":0,"undecodable":0,"gaps":0,"unframeable":0,"truncated":0,)"
              R"("latencyMs":{"count":1,"p50":1.501,"p90":1.501,"p99":1.501,"max":1.501}})"
              "\n");
    const Output bad = RunOn("not a capture", {});
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.err.find("tarnwick-cli read-capture: "), std::string::npos);
}
