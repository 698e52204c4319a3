// Tests of the JSON packet parse command: both text forms, the check row, and every malformation.
#include <gtest/gtest.h>

#include <string>

#include "codec/Texts.h"
#include "tests/trade/RowTexts.h"
#include "trade/ParseJsonPacket.h"
#include "trade/TradeCommands.h"

namespace {

const std::string kOk = "校验字节与长度正确";

TEST(ParseJsonPacket, RowsAndCheckRow) {
    struct Case {
        const char* name;
        std::string text;
        RowTexts rows;
    };
    // clang-format off
    const Case cases[] = {
        {"one integer", "1100F1000000{ \"a\": 1 }AC", {{"a", "1", "1"}, {"校验", "17", "AC -> " + kOk}}},
        {"the same frame as hex", "1100F1000000 7B 2022 61 22 3A 2031 207D ac\n",
         {{"a", "1", "1"}, {"校验", "17", "AC -> " + kOk}}},
        {"empty object", "0A00F1000000{ }DD", {{"校验", "10", "DD -> " + kOk}}},
        {"string and integer", R"(2400F1000000{ "amt": 100, "term": "T01" }CD)",
         {{"amt", "3", "100"}, {"term", "3", "T01"}, {"校验", "36", "CD -> " + kOk}}},
        {"check byte wrong", "1100F1000000{ \"a\": 1 }AD",
         {{"a", "1", "1"}, {"校验", "17", "AD -> 校验字节不符,应为AC"}}},
        {"length wrong", "1200F1000000{ \"a\": 1 }AF",
         {{"a", "1", "1"}, {"校验", "18", "AF -> 长度不符,应为17"}}},
        {"both wrong", "1200F1000000{ \"a\": 1 }AC",
         {{"a", "1", "1"}, {"校验", "18", "AC -> 校验字节不符,应为AF; 长度不符,应为17"}}},
        {"kinds the build does not write are shown", "1F00F1000000{ \"t\": true, \"n\": null }F3",
         {{"t", "4", "true"}, {"n", "4", "null"}, {"校验", "31", "F3 -> " + kOk}}},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const CommandResult r = ParseJsonPacketText(c.text);
        ASSERT_TRUE(r.Ok()) << r.detail;
        EXPECT_EQ(Texts(r), c.rows);
    }
}

TEST(ParseJsonPacket, BuiltPacketsReadBack) {
    const CommandResult built = BuildJsonFromText(R"({"名": "值/\"", "n": -15, "z": 0})");
    const CommandResult r = ParseJsonPacketText(built.message);
    ASSERT_TRUE(r.Ok()) << r.detail;
    RowTexts expected = Texts(built);
    expected.erase(expected.end() - 1);  // a zero integer is not packed
    expected.push_back({"校验", std::to_string(built.message.size() - 14 + 7),
                        built.message.substr(built.message.size() - 2) + " -> " + kOk});
    EXPECT_EQ(Texts(r), expected);
}

TEST(ParseJsonPacket, Malformations) {
    struct Case {
        const char* name;
        std::string text;
        std::string_view error;
        std::string detail;
    };
    // clang-format off
    const Case cases[] = {
        {"empty", " \r\n", kTextMessageEmpty, ""},
        {"marker", "1100F2000000{ \"a\": 1 }AC", kTextJsonPacketParseError, "frame marker is F2, not F1"},
        {"head not hex", "1100F10000G0{ \"a\": 1 }AC", kTextJsonPacketParseError,
         "head or check byte: character 10 is not a hex digit"},
        {"check byte missing", "1100F1000000{ }", kTextJsonPacketParseError,
         "head or check byte: character 1 is not a hex digit"},
        {"odd hex", "0A00F10000007B207DD", kTextJsonPacketParseError, "odd number of hex digits (19)"},
        {"short frame", "0A00F1000000DD", kTextJsonPacketParseError, "frame of 7 bytes is too short"},
        {"bad JSON", "1100F1000000{ \"a\" 1 }AC", kTextJsonPacketParseError,
         "object property name separator ':' expected at byte offset 6"},
        {"cut JSON", "1100F1000000{ \"a\": AC", kTextJsonPacketParseError,
         "unexpected end of the JSON text at byte offset 7"},
        {"array", "0B00F10000007B5B5D7DDD", kTextJsonPacketParseError,
         "quoted object property name expected at byte offset 1"},
        {"not an object", "0800F10000003100", kTextJsonPacketParseError,
         "unexpected end of the JSON text at byte offset 1"},
        {"text after the object", "0C00F1000000{ } xDD", kTextJsonPacketParseError,
         "text after the JSON object at byte offset 4"},
        {"too long", std::string(kMaxMessageText + 1, '0'), kTextJsonPacketParseError,
         "text of 10240 characters exceeds 10239"},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const CommandResult r = ParseJsonPacketText(c.text);
        EXPECT_EQ(r.error, c.error);
        EXPECT_EQ(r.detail, c.detail);
        EXPECT_TRUE(r.rows.empty());
    }
}

}  // namespace
