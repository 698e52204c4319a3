// Tests of the trade parse command: message text in, rows or the error text out.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codec/Texts.h"
#include "tests/trade/RowTexts.h"
#include "trade/TradeCommands.h"

namespace {

const RowTexts kGoldenRows = {
    {"CMD", "1", "01"},
    {"Bit 1", "8", "2000000000000000"},
    {"Bit 3", "3", "414243"},
};
const RowTexts kZeroRows = {{"CMD", "1", "00"}, {"Bit 1", "8", "0000000000000000"}};

TEST(ParseTrade, RowsOfMessageTexts) {
    struct Case {
        const char* name;
        std::string text;
        RowTexts rows;
    };
    // clang-format off
    const Case cases[] = {
        {"golden frame", "1500F1000000012000000000000000000341424386", kGoldenRows},
        {"split over lines with tabs", "1500F100 0000\r\n0120000000\t00000000\n0003414243\v86",
         kGoldenRows},
        {"lower case", "1500f1000000012000000000000000000341424386", kGoldenRows},
        {"wrong length, marker and check byte", "FFFF00FFFFFF012000000000000000000341424300",
         kGoldenRows},
        {"white space only", " \t\r\n", kZeroRows},
        {"14 digits or fewer", "1500F1000000FF",
         {{"CMD", "1", "FF"}, {"Bit 1", "8", "0000000000000000"}}},
        {"short text whose bitmap marks nothing", "0000F1000000AA0000",
         {{"CMD", "1", "AA"}, {"Bit 1", "8", "0000000000000000"}}},
        // Field 3 states 3 bytes and runs into the check byte and then zeros.
        {"last field past the length", "1500F1000000" "01" "2000000000000000" "0003" "41",
         {{"CMD", "1", "01"}, {"Bit 1", "8", "2000000000000000"}, {"Bit 3", "3", "410000"}}},
        {"odd digit count pads with F", "1500F1000000" "01" "2000000000000000" "0003" "414",
         {{"CMD", "1", "01"}, {"Bit 1", "8", "2000000000000000"}, {"Bit 3", "3", "414F00"}}},
        {"non-hex characters read as F", "0000F1000000GG0000",
         {{"CMD", "1", "FF"}, {"Bit 1", "8", "0000000000000000"}}},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const CommandResult r = ParseTradeText(c.text);
        ASSERT_TRUE(r.Ok()) << r.error;
        EXPECT_EQ(Texts(r), c.rows);
    }
}

TEST(ParseTrade, Failures) {
    struct Case {
        const char* name;
        std::string text;
        std::string_view error;
    };
    // clang-format off
    const Case cases[] = {
        {"empty", "", kTextMessageEmpty},
        {"zero byte first", std::string(1, '\0') + "1500", kTextMessageEmpty},
        {"field 50 undefined", "1500F1000000" "00" "0000000000004000" "00", kTextTradeParseError},
        {"short text whose bitmap marks a field", "0000F1000000002000", kTextTradeParseError},
        {"10240 characters", std::string(10240, '0'), kTextTradeParseError},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const CommandResult r = ParseTradeText(c.text);
        EXPECT_EQ(r.outcome, Outcome::Failed);
        EXPECT_EQ(r.error, c.error);
        EXPECT_TRUE(r.rows.empty());
    }
    EXPECT_TRUE(ParseTradeText(std::string(10239, '0')).Ok());
}

TEST(ParseTrade, ReusedResultIsResetEachTime) {
    CommandResult r;
    ParseTradeText("1500F1000000012000000000000000000341424386", r);
    ASSERT_TRUE(r.Ok());
    ParseTradeText("", r);
    EXPECT_EQ(r.error, kTextMessageEmpty);
    EXPECT_TRUE(r.rows.empty());
    ParseTradeText(" ", r);
    EXPECT_TRUE(r.Ok());
    EXPECT_EQ(Texts(r), kZeroRows);
}

}  // namespace
