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
    // A decoding that stops names its field and the byte (from the frame's first) where the
    // field starts, and keeps the rows decoded before it.
    struct Case {
        const char* name;
        std::string text;
        std::string_view error;
        std::int32_t field;
        std::int64_t offset;
        std::string reason;
        RowTexts rows;
    };
    // clang-format off
    const Case cases[] = {
        {"empty", "", kTextMessageEmpty, -1, -1, "", {}},
        {"zero byte first", std::string(1, '\0') + "1500", kTextMessageEmpty, -1, -1, "", {}},
        {"field 50 undefined", "1500F1000000" "00" "0000000000004000" "00", kTextTradeParseError,
         50, 15, "field 50 is marked in the bitmap but not defined",
         {{"CMD", "1", "00"}, {"Bit 1", "8", "0000000000004000"}}},
        {"field 4 after field 3", "1500F1000000" "00" "3000000000000000" "0001" "41",
         kTextTradeParseError, 4, 18,
         "field 4 would start at byte 18, past the end of the 18-byte message",
         {{"CMD", "1", "00"}, {"Bit 1", "8", "3000000000000000"}, {"Bit 3", "1", "41"}}},
        {"short text whose bitmap marks a field", "0000F1000000002000", kTextTradeParseError, 3,
         15, "field 3 would start at byte 15, past the end of the 9-byte message",
         {{"CMD", "1", "00"}, {"Bit 1", "8", "2000000000000000"}}},
        {"10240 characters", std::string(10240, '0'), kTextTradeParseError, -1, -1,
         "message text of 10240 characters exceeds 10239", {}},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const CommandResult r = ParseTradeText(c.text);
        EXPECT_EQ(r.outcome, Outcome::Failed);
        EXPECT_EQ(r.error, c.error);
        EXPECT_EQ(r.failure.field, c.field);
        EXPECT_EQ(r.failure.offset, c.offset);
        EXPECT_EQ(r.failure.reason, c.reason);
        EXPECT_EQ(Texts(r), c.rows);
        EXPECT_EQ(r.failedRows, c.rows.empty() ? FailedRows::None : FailedRows::Partial);
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
