// Batch mode on several threads gives the output of one thread, line for line and in order.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "cli/EachLineJobs.h"
#include "iso/ParseIso8583.h"

namespace {

std::string RunBatch(const std::string& input, unsigned jobs,
                     const EachLineOptions& options = {}) {
    std::FILE* in = std::tmpfile();
    std::FILE* out = std::tmpfile();
    std::fwrite(input.data(), 1, input.size(), in);
    std::rewind(in);
    EXPECT_EQ(RunEachLineJobs(in, out, options, jobs), 0);
    std::string text(static_cast<std::size_t>(std::ftell(out)), '\0');
    std::rewind(out);
    EXPECT_EQ(std::fread(text.data(), 1, text.size(), out), text.size());
    std::fclose(in);
    std::fclose(out);
    return text;
}

TEST(EachLineJobs, SameOutputAsOneThread) {
    const std::string message =
        "0067600003000060310031000002007020048020C08011166225880123456789000000000000010000000123"
        "051000286225880123456789D2812201000031323334353637383132333435363738393031323334353135"
        "360013220001230005003A4F9C0D12E5B776";
    // Several blocks of input: messages, CR LF ends, blank lines, failures, a line of 3 MiB
    // (cut to what a command takes) that spans blocks, and a last line without its end.
    std::string input;
    for (int i = 0; i < 12000; ++i) {
        input += i % 7 == 0    ? "\r\n"
                 : i % 11 == 0 ? "0002FFFF\n"
                               : message + (i % 2 ? "\r\n" : "\n");
        if (i == 5000) input += std::string(3 << 20, 'A') + "\n";
    }
    input += message;
    const std::string serial = RunBatch(input, 1);
    // One output line per input line.
    EXPECT_EQ(std::count(serial.begin(), serial.end(), '\n'),
              std::count(input.begin(), input.end(), '\n') + 1);
    for (const unsigned jobs : {2u, 3u, 8u}) {
        SCOPED_TRACE(jobs);
        EXPECT_EQ(RunBatch(input, jobs), serial);
    }
}

}  // namespace
