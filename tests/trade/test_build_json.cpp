// Tests of CWebJson and the JSON build command: member rows and the framed packet text.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "codec/Texts.h"
#include "tests/trade/RowTexts.h"
#include "trade/TradeCommands.h"
#include "trade/WebJson.h"

namespace {

// Head and check byte of the packet text, computed here from the JSON text alone.
std::string Packet(const std::string& json) {
    const unsigned total = static_cast<unsigned>(json.size() + 7);
    unsigned check = (total & 0xFF) ^ (total >> 8) ^ 0xF1;
    for (const char c : json) check ^= static_cast<unsigned char>(c);
    char head[32];
    char tail[8];
    std::snprintf(head, sizeof head, "%02X%02XF1000000", total & 0xFF, (total >> 8) & 0xFF);
    std::snprintf(tail, sizeof tail, "%02X", check & 0xFF);
    return head + json + tail;
}

TEST(WebJson, AddAndSerialise) {
    CWebJson j;
    char out[64];
    std::int32_t n = 0;
    EXPECT_EQ(j.ToText(out, &n), 3);
    EXPECT_EQ(std::string(out, 3), "{ }");
    EXPECT_FALSE(j.AddInt("zero", 0));
    EXPECT_FALSE(j.AddInt(nullptr, 5));
    EXPECT_FALSE(j.AddString(nullptr, "x"));
    EXPECT_FALSE(j.AddString("k", nullptr));
    EXPECT_TRUE(j.AddInt("a", 1));
    EXPECT_TRUE(j.AddString("s", "x/\"y"));
    EXPECT_TRUE(j.AddInt("a", -7));  // replaces the member of the same key, keeping its place
    ASSERT_EQ(j.ToText(out, &n), n);
    EXPECT_EQ(std::string(out, static_cast<std::size_t>(n)), R"({ "a": -7, "s": "x\/\"y" })");
    EXPECT_EQ(j.ToText(nullptr, &n), 0);
    EXPECT_EQ(j.ToText(out, &n, 10), -1);
}

TEST(BuildJson, RowsAndPacket) {
    struct Case {
        const char* name;
        std::string config;
        RowTexts rows;
        std::string json;  // the packet's JSON text
    };
    // clang-format off
    const Case cases[] = {
        {"one integer", R"({"a": 1})", {{"a", "1", "1"}}, R"({ "a": 1 })"},
        {"empty object", "{}", {}, "{ }"},
        {"integer and string in order", R"({"amt": 100, "term": "T01"})",
         {{"amt", "3", "100"}, {"term", "3", "T01"}}, R"({ "amt": 100, "term": "T01" })"},
        {"zero integer neither shown nor packed", R"({"z": 0, "a": 2})", {{"a", "1", "2"}},
         R"({ "a": 2 })"},
        {"clamped high, shown as sent", R"({"n": 9999999999})", {{"n", "10", "2147483647"}},
         R"({ "n": 2147483647 })"},
        {"clamped low, shown as sent", R"({"n": -9999999999})", {{"n", "11", "-2147483648"}},
         R"({ "n": -2147483648 })"},
        {"negative", R"({"n": -15})", {{"n", "3", "-15"}}, R"({ "n": -15 })"},
        {"skipped types",
         R"({"t": true, "f": false, "d": 1.5, "e": 1e3, "z": null, "l": [1], "o": {"a": 1}})", {},
         "{ }"},
        {"slash and quote escaped in the packet only", R"({"s": "a/b\"c"})",
         {{"s", "5", "a/b\"c"}}, R"({ "s": "a\/b\"c" })"},
        {"repeated key counts once, last value", R"({"a": 1, "a": 2})", {{"a", "1", "2"}},
         R"({ "a": 2 })"},
        {"UTF-8 text", "{\"名\": \"值\"}", {{"名", "3", "值"}}, "{ \"名\": \"值\" }"},
        {"empty string", R"({"e": ""})", {{"e", "0", ""}}, R"({ "e": "" })"},
        {"key over 15 bytes shown whole", R"({"merchant_name_long": "x"})",
         {{"merchant_name_long", "1", "x"}}, R"({ "merchant_name_long": "x" })"},
        {"nested 20 levels skipped",
         "{\"x\": " + std::string(20, '[') + std::string(20, ']') + ", \"a\": 1}",
         {{"a", "1", "1"}}, R"({ "a": 1 })"},
        {"JSON text of exactly 2048 bytes", R"({"s": ")" + std::string(2037, 'x') + "\"}",
         {{"s", "2037", std::string(2037, 'x')}}, R"({ "s": ")" + std::string(2037, 'x') + "\" }"},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const CommandResult r = BuildJsonFromText(c.config);
        ASSERT_TRUE(r.Ok()) << r.error << " " << r.detail;
        EXPECT_EQ(Texts(r), c.rows);
        EXPECT_EQ(r.message, Packet(c.json));
        EXPECT_EQ(r.rowEncoding, TextEncoding::Utf8OrGbk);
        EXPECT_EQ(r.messageEncoding, TextEncoding::Utf8OrGbk);
    }
}

TEST(BuildJson, GoldenPacketTexts) {
    EXPECT_EQ(BuildJsonFromText(R"({"a": 1})").message, "1100F1000000{ \"a\": 1 }AC");
    EXPECT_EQ(BuildJsonFromText("{}").message, "0A00F1000000{ }DD");
    const std::string m = BuildJsonFromText(R"({"amt": 100, "term": "T01"})").message;
    EXPECT_EQ(m.substr(0, 12), "2400F1000000");
    EXPECT_EQ(m.size(), 12u + 29u + 2u);
    EXPECT_EQ(m.substr(m.size() - 2), "CD");
}

TEST(BuildJson, StringWithZeroByteKeepsItsBytes) {
    const CommandResult r = BuildJsonFromText(R"({"s": "a\u0000b"})");
    ASSERT_TRUE(r.Ok());
    EXPECT_EQ(Texts(r), (RowTexts{{"s", "3", "a␀b"}}));
    EXPECT_EQ(r.message, Packet(R"({ "s": "a\u0000b" })"));
    // A code page 936 text with a zero byte is shown in UTF-8, the picture included.
    const CommandResult gbk = BuildJsonFromText("{\"m\": \"\xC9\xCC\\u0000\xBB\xA7\"}");
    ASSERT_TRUE(gbk.Ok());
    EXPECT_EQ(Texts(gbk), (RowTexts{{"m", "5", "商␀户"}}));
}

TEST(BuildJson, MembersNotSentAsTheyStandAreWarnings) {
    // The rows show what the packet carries; a member left out or changed is a warning naming it.
    const CommandResult r = BuildJsonFromText(
        R"({"zero": 0, "d": 1.5, "t": true, "big": 99999999999999999999, "nul": null,)"
        R"( "o": {"a": 1}, "l": [], "ok": 7})");
    ASSERT_TRUE(r.Ok()) << r.detail;
    EXPECT_EQ(Texts(r), (RowTexts{{"big", "10", "2147483647"}, {"ok", "1", "7"}}));
    EXPECT_EQ(r.message, Packet(R"({ "big": 2147483647, "ok": 7 })"));
    const std::string notSent = " is not sent; the packet carries integers and strings only";
    EXPECT_EQ(r.warnings,
              (std::vector<std::string>{
                  R"(member "zero": an integer of value 0 is not sent; the packet leaves it out)",
                  R"(member "d": the number 1.5)" + notSent,
                  R"(member "t": true)" + notSent,
                  R"(member "big": an integer outside -2147483648..2147483647 is sent as )"
                  "2147483647",
                  R"(member "nul": null)" + notSent,
                  R"(member "o": an object)" + notSent,
                  R"(member "l": an array)" + notSent,
              }));
    EXPECT_TRUE(BuildJsonFromText(R"({"a": 1, "s": "x"})").warnings.empty());
}

TEST(BuildJson, RowTextsAreWhole) {
    std::string utf8 = "a";
    for (int i = 0; i < 400; ++i) utf8 += "值";  // 1201 bytes, 3 per character after the first
    const CommandResult r =
        BuildJsonFromText("{\"" + std::string(6, 'k') + "名名名\": \"" + utf8 + "\"}");
    ASSERT_TRUE(r.Ok()) << r.detail;
    EXPECT_EQ(r.rows[0].Name(), "kkkkkk名名名");
    EXPECT_EQ(r.rows[0].Value().size(), 1201u);
    EXPECT_TRUE(r.rows[0].Value() == utf8);
    EXPECT_EQ(r.rows[0].Length(), "1201");
}

TEST(BuildJson, Failures) {
    struct Case {
        const char* name;
        std::string config;
        std::string_view error;
        std::size_t rows;  // rows kept with the error
    };
    std::string manyMembers = "{";
    for (int i = 0; i <= 8192; ++i) manyMembers += "\"k" + std::to_string(i) + "\": 0,";
    manyMembers.back() = '}';
    // clang-format off
    const Case cases[] = {
        {"empty", "", kTextConfigParseError, 0},
        {"white space", " \n", kTextConfigParseError, 0},
        {"array", "[1, 2]", kTextConfigParseError, 0},
        {"number", "5", kTextConfigParseError, 0},
        {"string", "\"x\"", kTextConfigParseError, 0},
        {"unterminated", R"({"a": )", kTextConfigParseError, 0},
        {"binary", std::string("\x01\xFF\x00{", 4), kTextConfigParseError, 0},
        {"nested 1000 levels", std::string(1000, '[') + std::string(1000, ']'),
         kTextConfigParseError, 0},
        {"object nested 40 levels", "{\"a\": " + std::string(40, '[') + std::string(40, ']') + "}",
         kTextConfigParseError, 0},
        {"text over 1 MiB", "{\"s\": \"" + std::string(1 << 20, 'x') + "\"}",
         kTextConfigParseError, 0},
        {"too many members", manyMembers, kTextConfigParseError, 0},
        {"JSON text of 2049 bytes", R"({"s": ")" + std::string(2038, 'x') + "\"}",
         kTextJsonBuildError, 1},
        {"long packet keeps every row of a member sent",
         R"({"a": 5, "s": ")" + std::string(3000, 'y') + R"(", "z": 0})",
         kTextJsonBuildError, 2},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const CommandResult r = BuildJsonFromText(c.config);
        EXPECT_EQ(r.outcome, Outcome::Failed);
        EXPECT_EQ(r.error, c.error) << r.detail;
        EXPECT_EQ(r.rows.size(), c.rows);
        EXPECT_TRUE(r.message.empty());
        EXPECT_EQ(r.failure.reason, r.detail);
    }
    // A configuration that is no JSON names the byte where reading stopped.
    EXPECT_EQ(BuildJsonFromText(R"({"a" 1})").failure.offset, 5);
}

TEST(BuildJson, FileWrapper) {
    const auto dir = std::filesystem::temp_directory_path() /
                     ("tarnwick_trade_json_" +
                      std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
    std::filesystem::create_directories(dir);
    auto write = [&](const std::string& name, const std::string& content) {
        std::ofstream(dir / name, std::ios::binary) << content;
        return (dir / name).string();
    };
    EXPECT_EQ(BuildJsonFromFile(write("a.json", R"({"a": 1})")).message,
              "1100F1000000{ \"a\": 1 }AC");
    EXPECT_EQ(BuildJsonFromFile(write("empty.json", "")).error, kTextConfigParseError);
    EXPECT_EQ(BuildJsonFromFile(write("array.json", "[]")).error, kTextConfigParseError);
    EXPECT_EQ(BuildJsonFromFile((dir / "missing.json").string()).error, kTextConfigParseError);
    EXPECT_EQ(BuildJsonFromFile(dir.string()).error, kTextConfigParseError);
    EXPECT_EQ(BuildJsonFromFile("").error, kTextNoConfigFile);
    {
        // A 50 MB file is refused by its size before it is read.
        std::ofstream huge(dir / "huge.json", std::ios::binary);
        huge << "{\"s\": \"";
        const std::string block(1 << 20, 'x');
        for (int i = 0; i < 50; ++i) huge << block;
        huge << "\"}";
    }
    EXPECT_EQ(BuildJsonFromFile((dir / "huge.json").string()).error, kTextConfigParseError);
    std::filesystem::remove_all(dir);
}

}  // namespace
