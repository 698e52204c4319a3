// Card data on the command line: with --mask no output form shows a card number's middle digits,
// and TLV options say when they cannot apply.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "cli/Cli.h"
#include "tests/common/CliRun.h"

namespace {


// Template 70 holding 5A 4761739001010010, alone and as field 55 of a 64-field message.
constexpr const char* kTemplate = "700A5A084761739001010010";
constexpr const char* kMessage =
    "0023"
    "6000030000"
    "603100310000"
    "0200"
    "0000000000000200"
    "0012"
    "700A5A084761739001010010";
constexpr std::string_view kMiddle = "900101";

TEST(CliCardData, MaskedOutputNeverShowsTheMiddleDigits) {
    const std::string line = std::string(kMessage) + "\n";
    const struct {
        std::vector<const char*> args;
        std::string input;
    } cases[] = {
        {{"decode-tlv", "--mask", kTemplate}, ""},
        {{"decode-tlv", "--mask", "--format", "json", kTemplate}, ""},
        {{"parse-iso8583", "--tlv", "--mask", kMessage}, ""},
        {{"parse-iso8583", "--tlv", "--mask", "--format", "json", kMessage}, ""},
        {{"parse-iso8583", "--tlv", "--mask", "--each-line"}, line},
        // A table that does not mark field 55 as TLV.
        {{"parse-iso8583", "--table", "unionpay-pos64", "--mask", kMessage}, ""},
        {{"parse-iso8583", "--table", "unionpay-pos64", "--mask", "--each-line"}, line},
    };
    for (const auto& c : cases) {
        std::string trace;
        for (const char* a : c.args) trace.append(a).append(" ");
        SCOPED_TRACE(trace);
        const CliRun r = Cli(c.args, c.input);
        EXPECT_EQ(r.status, 0);
        EXPECT_NE(r.out.find("476173******0010"), std::string::npos);
        EXPECT_EQ(r.out.find(kMiddle), std::string::npos);
        EXPECT_EQ(r.err.find(kMiddle), std::string::npos);
    }
}

TEST(CliCardData, TlvOptionsSayWhenTheyCannotApply) {
    const CliRun noTlvField =
        Cli({"parse-iso8583", "--table", "unionpay-pos64", "--tlv", kMessage});
    EXPECT_EQ(noTlvField.status, 0);
    EXPECT_EQ(noTlvField.err,
              "tarnwick-cli: warning: --tlv: the table marks no field as TLV data; no field is "
              "decoded tag by tag\n");
    EXPECT_EQ(Cli({"parse-iso8583", "--table", "unionpay-pos64-full", "--tlv", kMessage}).err, "");

    const CliRun notHex = Cli({"decode-tlv", "9F2701ZZ"});
    EXPECT_EQ(notHex.status, 1);
    EXPECT_EQ(notHex.out, "");
    EXPECT_EQ(notHex.err,
              "TLV数据含有非十六进制字符!\ncharacter 'Z' at position 7 is not a hex digit\n");
}

}  // namespace
