// Tests of the JSON packet parse command: both text forms, the check row, and every malformation.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "codec/TextDecode.h"
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
    expected.push_back(
        {"校验", std::to_string(built.message.size() - 14 + 7),
         built.message.substr(built.message.size() - 2) + " -> 按UTF-8编码: " + kOk});
    EXPECT_EQ(Texts(r), expected);
}

TEST(ParseJsonPacket, EitherEncodingOfABuiltPacketAgrees) {
    // A packet built from a UTF-8 and one from a code page 936 configuration, each given in its
    // own encoding and in the other (as a text copied between programs may come): the packet is
    // read as built, and the check row says in which encoding.
    struct Case {
        const char* name;
        std::string config;
        std::string note;
    };
    const Case cases[] = {
        {"UTF-8", "{\"m\": \"商户\", \"n\": 7}", "按UTF-8编码: "},
        {"code page 936", "{\"m\": \"\xC9\xCC\xBB\xA7\", \"n\": 7}", "按GBK编码: "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const CommandResult built = BuildJsonFromText(c.config);
        ASSERT_TRUE(built.Ok());
        const bool utf8 = IsValidUtf8(built.message);
        const std::string other =
            utf8 ? Utf8ToGbk(built.message) : ToUtf8(built.message, TextEncoding::Gbk);
        ASSERT_NE(other, built.message);
        RowTexts expected = Texts(built);
        expected.push_back(
            {"校验", std::to_string(built.message.size() - 7),
             built.message.substr(built.message.size() - 2) + " -> " + c.note + kOk});
        EXPECT_EQ(Texts(ParseJsonPacketText(built.message)), expected);
        EXPECT_EQ(Texts(ParseJsonPacketText(other)), expected);
    }
    // A text that agrees in neither encoding is judged in the one it came in.
    const std::string edited = "1400F1000000{ \"m\": \"商\" }00";
    const RowTexts rows = Texts(ParseJsonPacketText(edited));
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_TRUE(rows[1][2].starts_with("00 -> 按UTF-8编码: 校验字节不符")) << rows[1][2];
}

TEST(ParseJsonPacket, BuiltPacketsGiveBackEveryMember) {
    // Property: for random configurations, every member the build sends comes back from the
    // parse with its name, byte length and whole value (a zero byte as "␀"), as the build's rows
    // show it; the check agrees.
    struct Piece {
        std::string_view json;   // in the configuration
        std::string_view bytes;  // in the member's value
        std::string_view shown;  // in its row
    };
    // clang-format off
    const Piece pieces[] = {
        {"a", "a", "a"}, {"Z9", "Z9", "Z9"}, {" ", " ", " "}, {"\\\"", "\"", "\""},
        {"\\\\", "\\", "\\"}, {"\\/", "/", "/"}, {"\\n", "\n", "\n"}, {"\\t", "\t", "\t"},
        {"\\u0001", "\x01", "\x01"}, {"\\u0000", std::string_view("\0", 1), "␀"},
        {"值", "值", "值"}, {"\\u00e9", "é", "é"}, {"😀", "😀", "😀"},
        {"\\ud83d\\ude00", "😀", "😀"},
    };
    // clang-format on
    std::mt19937 rng(8583);
    const auto pick = [&rng](std::size_t n) {
        return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng);
    };
    for (int round = 0; round < 300; ++round) {
        std::string config = "{";
        RowTexts expected;
        const std::size_t members = pick(6);
        for (std::size_t m = 0; m < members; ++m) {
            // Keys are unique (a repeated key counts once) and may hold any piece but a zero byte.
            std::string keyJson;
            std::string key;
            for (std::size_t i = pick(3); i > 0; --i) {
                const Piece& p = pieces[pick(std::size(pieces))];
                if (p.bytes.find('\0') != std::string_view::npos) continue;
                keyJson += p.json;
                key += p.bytes;
            }
            keyJson += std::to_string(m);
            key += std::to_string(m);
            if (m > 0) config += ", ";
            config += "\"" + keyJson + "\": ";
            switch (pick(4)) {
                case 0: {
                    std::string json;
                    std::string bytes;
                    std::string shown;
                    for (std::size_t i = pick(12); i > 0; --i) {
                        const Piece& p = pieces[pick(std::size(pieces))];
                        json += p.json;
                        bytes += p.bytes;
                        shown += p.shown;
                    }
                    config += "\"" + json + "\"";
                    expected.push_back({key, std::to_string(bytes.size()), shown});
                    break;
                }
                case 1: {
                    const auto v = static_cast<std::int32_t>(rng());
                    config += std::to_string(v);
                    if (v != 0)
                        expected.push_back(
                            {key, std::to_string(std::to_string(v).size()), std::to_string(v)});
                    break;
                }
                case 2:
                    config += "99999999999";
                    expected.push_back({key, "10", "2147483647"});
                    break;
                default:
                    config += pick(2) == 0 ? "0" : "true";  // not sent
                    break;
            }
        }
        config += "}";
        SCOPED_TRACE(config);
        const CommandResult built = BuildJsonFromText(config);
        ASSERT_TRUE(built.Ok()) << built.detail;
        EXPECT_EQ(Texts(built), expected);
        const CommandResult parsed = ParseJsonPacketText(built.message);
        ASSERT_TRUE(parsed.Ok()) << parsed.detail;
        RowTexts rows = Texts(parsed);
        ASSERT_FALSE(rows.empty());
        EXPECT_TRUE(rows.back()[2].ends_with(kOk)) << rows.back()[2];
        rows.pop_back();
        EXPECT_EQ(rows, expected);
    }
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
        {"white space in the head", "1100F1  0000{ }DD", kTextJsonPacketParseError,
         "head of 5 bytes, not 6"},
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
         "message text of 10240 characters exceeds 10239"},
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
