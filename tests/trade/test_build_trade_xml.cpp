// Tests of the XML build command: every rule of the "bit" elements, on small texts and files.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "codec/Texts.h"
#include "trade/TradeCommands.h"

namespace {

std::string Config(const std::string& body) {
    return "<orbo8583-build-config>" + body + "</orbo8583-build-config>";
}

std::string Bit(const std::string& number, const std::string& value) {
    return "<bit number=\"" + number + "\" value=\"" + value + "\"/>";
}

std::string Repeat(const std::string& s, int n) {
    std::string r;
    for (int i = 0; i < n; ++i) r += s;
    return r;
}

// The expected frame text, computed here independently of the frame builder.
std::string Frame(const std::string& payloadHex) {
    auto nibble = [](char c) { return c <= '9' ? c - '0' : c - 'A' + 10; };
    std::vector<unsigned> bytes;
    const unsigned total = static_cast<unsigned>(payloadHex.size() / 2 + 7);
    bytes = {total & 0xFF, total >> 8, 0xF1, 0, 0, 0};
    for (std::size_t i = 0; i < payloadHex.size(); i += 2) {
        bytes.push_back(
            static_cast<unsigned>(nibble(payloadHex[i]) * 16 + nibble(payloadHex[i + 1])));
    }
    unsigned check = 0;
    for (const unsigned b : bytes) check ^= b;
    bytes.push_back(check);
    std::string hex;
    char buf[3];
    for (const unsigned b : bytes) {
        std::snprintf(buf, sizeof buf, "%02X", b);
        hex += buf;
    }
    return hex;
}

constexpr const char* kGolden = "1500F1000000012000000000000000000341424386";

TEST(BuildTradeXml, BitRules) {
    struct Case {
        const char* name;
        std::string xml;
        std::string message;
    };
    // clang-format off
    const Case cases[] = {
        {"golden", Config(Bit("0", "01") + Bit("3", "414243")), kGolden},
        {"opposite order", Config(Bit("3", "414243") + Bit("0", "01")), kGolden},
        {"length attribute ignored",
         Config(Bit("0", "01") + "<bit number=\"3\" length=\"99\" value=\"414243\"/>"), kGolden},
        {"white space inside the value", Config(Bit("0", "01") + Bit("3", " 41 42\n\t43\r\n")),
         kGolden},
        {"lower-case digits", Config(Bit("0", "01") + Bit("3", "41424 3")), kGolden},
        {"empty root", Config(""), "1000F1000000000000000000000000E1"},
        {"empty root element form", "<orbo8583-build-config/>", "1000F1000000000000000000000000E1"},
        {"odd digit count drops the last digit", Config(Bit("3", "123")),
         Frame("00" "2000000000000000" "0001" "12")},
        {"missing number sets the command code", Config("<bit value=\"7F\"/>"),
         Frame("7F" "0000000000000000")},
        {"number without digits is 0", Config(Bit("abc", "7F")), Frame("7F" "0000000000000000")},
        {"atoi rule: space, sign, trailing text", Config(Bit(" +3xyz", "41")),
         Frame("00" "2000000000000000" "0001" "41")},
        {"command code takes the first byte only", Config(Bit("0", "0102")),
         Frame("01" "0000000000000000")},
        {"single command digit pads with F", Config(Bit("0", "5")), Frame("5F" "0000000000000000")},
        {"white-space-only command value keeps the byte", Config(Bit("0", "01") + Bit("0", "  ")),
         Frame("01" "0000000000000000")},
        {"empty value skipped", Config(Bit("5", "")), "1000F1000000000000000000000000E1"},
        {"missing value skipped", Config("<bit number=\"5\"/>"),
         "1000F1000000000000000000000000E1"},
        {"skipped element keeps an earlier value", Config(Bit("3", "41") + Bit("3", "")),
         Frame("00" "2000000000000000" "0001" "41")},
        {"number 1 has no effect", Config(Bit("1", "FFFFFFFFFFFFFFFF") + Bit("1", "")),
         "1000F1000000000000000000000000E1"},
        {"white-space-only value is not skipped", Config(Bit("7", " \t ")),
         Frame("00" "0200000000000000" "0000")},
        {"last one wins", Config(Bit("3", "41") + Bit("3", "4243")),
         Frame("00" "2000000000000000" "0002" "4243")},
        {"fields in ascending order", Config(Bit("44", "44") + Bit("2", "02") + Bit("9", "09")),
         Frame("00" "4080000000100000" "000102" "000109" "000144")},
        {"other nodes and nested bits ignored",
         Config("text<!-- c --><other number=\"3\" value=\"41\"/><bit number=\"4\" value=\"44\">"
                "<bit number=\"5\" value=\"55\"/></bit>"),
         Frame("00" "1000000000000000" "0001" "44")},
        {"field 3 at its 100 bytes", Config(Bit("3", Repeat("AB", 100))),
         Frame("00" "2000000000000000" "0100" + Repeat("AB", 100))},
        {"field 5 at its 260 bytes", Config(Bit("5", Repeat("CD", 260))),
         Frame("00" "0800000000000000" "0260" + Repeat("CD", 260))},
        {"payload of exactly 2048 bytes",
         Config(Bit("16", Repeat("11", 1024)) + Bit("41", Repeat("22", 1011))),
         Frame("00" "0001000000800000" "1024" + Repeat("11", 1024) + "1011" + Repeat("22", 1011))},
        {"value text of 10239 characters", Config(Bit("3", Repeat(" ", 10237) + "41")),
         Frame("00" "2000000000000000" "0001" "41")},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const CommandResult r = BuildTradeFromXmlText(c.xml);
        ASSERT_TRUE(r.Ok()) << r.error << " " << r.detail;
        EXPECT_EQ(r.message, c.message);
        // The rows are those of parsing the message again.
        const CommandResult parsed = ParseTradeText(r.message);
        ASSERT_EQ(r.rows.size(), parsed.rows.size());
        for (std::size_t i = 0; i < r.rows.size(); ++i) {
            EXPECT_EQ(r.rows[i].Value(), parsed.rows[i].Value());
        }
    }
}

TEST(BuildTradeXml, GoldenRows) {
    const CommandResult r = BuildTradeFromXmlText(Config(Bit("0", "01") + Bit("3", "414243")));
    ASSERT_EQ(r.rows.size(), 3u);
    EXPECT_EQ(r.rows[0].Name(), "CMD");
    EXPECT_EQ(r.rows[0].Value(), "01");
    EXPECT_EQ(r.rows[1].Value(), "2000000000000000");
    EXPECT_EQ(r.rows[2].Name(), "Bit 3");
    EXPECT_EQ(r.rows[2].Length(), "3");
    EXPECT_EQ(r.rows[2].Value(), "414243");
}

TEST(BuildTradeXml, Failures) {
    struct Case {
        const char* name;
        std::string xml;
        std::string_view error;
    };
    // clang-format off
    const Case cases[] = {
        {"not well-formed", "<orbo8583-build-config><bit", kTextConfigParseError},
        {"mismatched tags", "<orbo8583-build-config></other>", kTextConfigParseError},
        {"empty text", "", kTextNoBuildConfigRoot},
        {"white space only", " \r\n\t ", kTextNoBuildConfigRoot},
        {"comment only", "<!-- nothing -->", kTextNoBuildConfigRoot},
        {"other root with the element nested",
         "<config>" + Config(Bit("0", "01")) + "</config>", kTextNoBuildConfigRoot},
        {"root name is case-sensitive", "<ORBO8583-build-config/>", kTextNoBuildConfigRoot},
        {"number 45", Config(Bit("45", "01")), kTextConfigParseError},
        {"number 64", Config(Bit("64", "01")), kTextConfigParseError},
        {"number 65", Config(Bit("65", "01")), kTextConfigParseError},
        {"number -1", Config(Bit("-1", "01")), kTextConfigParseError},
        {"number far out", Config(Bit("99999999999", "01")), kTextConfigParseError},
        {"field 3 over 100 bytes", Config(Bit("3", Repeat("AB", 101))), kTextConfigParseError},
        {"field 5 over 260 bytes", Config(Bit("5", Repeat("AB", 261))), kTextConfigParseError},
        {"field 16 over 1024 bytes", Config(Bit("16", Repeat("AB", 1025))), kTextConfigParseError},
        {"value text of 10240 characters", Config(Bit("3", Repeat(" ", 10238) + "41")),
         kTextConfigParseError},
        {"payload over 2048 bytes",
         Config(Bit("16", Repeat("11", 1024)) + Bit("41", Repeat("22", 1012))),
         kTextTradeBuildError},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const CommandResult r = BuildTradeFromXmlText(c.xml);
        EXPECT_EQ(r.outcome, Outcome::Failed);
        EXPECT_EQ(r.error, c.error) << r.detail;
        EXPECT_TRUE(r.message.empty());
        EXPECT_TRUE(r.rows.empty());
    }
    // Out-of-range numbers on elements that are skipped anyway do no harm.
    EXPECT_TRUE(BuildTradeFromXmlText(Config(Bit("50", ""))).Ok());
}

TEST(BuildTradeXml, FailuresNameFieldAndPlace) {
    // field: the bit number at fault; offset: where its element (or the XML fault) lies.
    const std::string tooLong = Config(Bit("3", "41") + Bit("7", Repeat("AB", 101)));
    const std::string outside = Config(Bit("50", "41"));
    const std::string broken = Config("<bit number=\"3\" value=41/>");
    const std::string payload =
        Config(Bit("16", Repeat("11", 1024)) + Bit("41", Repeat("22", 1012)));
    struct Case {
        const std::string* xml;
        std::int32_t field;
        std::int64_t offset;
    };
    const Case cases[] = {
        {&tooLong, 7, static_cast<std::int64_t>(tooLong.find("bit number=\"7\""))},
        {&outside, -1, static_cast<std::int64_t>(outside.find("bit number"))},
        {&broken, -1, static_cast<std::int64_t>(broken.find("41/>"))},
        {&payload, -1, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(*c.xml);
        const CommandResult r = BuildTradeFromXmlText(*c.xml);
        EXPECT_EQ(r.failure.field, c.field);
        EXPECT_EQ(r.failure.offset, c.offset);
        EXPECT_EQ(r.failure.reason, r.detail);
        EXPECT_FALSE(r.detail.empty());
    }
}

TEST(BuildTradeXml, RoundTripGivesTheConfiguredFieldsBack) {
    std::string body = Bit("0", "9A");
    for (int f = 2; f <= 44; ++f) {
        std::string value;
        for (int i = 0; i < f % 7 + 1; ++i) value += "0123456789ABCDEF"[(f + i) % 16], value += 'A';
        if (f == 16) value = Repeat("5A", 600);
        body += Bit(std::to_string(f), value);
    }
    const CommandResult r = BuildTradeFromXmlText(Config(body));
    ASSERT_TRUE(r.Ok()) << r.detail;
    ASSERT_EQ(r.rows.size(), 2u + 43u);
    EXPECT_EQ(r.rows[0].Value(), "9A");
    EXPECT_EQ(r.rows[1].Value(), "7FFFFFFFFFF00000");
    for (int f = 2; f <= 44; ++f) {
        const FieldRow& row = r.rows[static_cast<std::size_t>(f)];
        SCOPED_TRACE(f);
        EXPECT_EQ(row.Name(), "Bit " + std::to_string(f));
        if (f == 16) {
            EXPECT_EQ(row.Length(), "600");
            EXPECT_EQ(row.Value(), Repeat("5A", 600));  // whole
            continue;
        }
        EXPECT_EQ(row.Length(), std::to_string(f % 7 + 1));
        std::string value;
        for (int i = 0; i < f % 7 + 1; ++i) value += "0123456789ABCDEF"[(f + i) % 16], value += 'A';
        EXPECT_EQ(row.Value(), value);
    }
}

class BuildTradeXmlFile : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = std::filesystem::temp_directory_path() /
                ("tarnwick_trade_xml_" +
                 std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(m_dir);
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }
    std::string Write(const std::string& name, const std::string& content) {
        const auto path = m_dir / name;
        std::ofstream(path, std::ios::binary) << content;
        return path.string();
    }
    std::filesystem::path m_dir;
};

TEST_F(BuildTradeXmlFile, WrapperReadsFilesLikeTexts) {
    struct Case {
        const char* name;
        std::string content;
        std::string_view error;  // empty: Ok with the golden message
    };
    // clang-format off
    const Case cases[] = {
        {"golden.xml",
         "<?xml version=\"1.0\"?>\n" + Config(Bit("0", "01") + Bit("3", "414243")), {}},
        {"empty.xml", "", kTextNoBuildConfigRoot},
        {"blank.xml", "  \n\n\t", kTextNoBuildConfigRoot},
        {"broken.xml", "<orbo8583-build-config>", kTextConfigParseError},
        {"binary.xml", std::string("<\x01\xFF\x00\xFE", 5), kTextConfigParseError},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const CommandResult r = BuildTradeFromXmlFile(Write(c.name, c.content));
        if (c.error.empty()) {
            ASSERT_TRUE(r.Ok()) << r.detail;
            EXPECT_EQ(r.message, kGolden);
            EXPECT_EQ(r.rows.size(), 3u);
        } else {
            EXPECT_EQ(r.error, c.error) << r.detail;
        }
    }
    EXPECT_EQ(BuildTradeFromXmlFile("").error, kTextNoConfigFile);
    EXPECT_EQ(BuildTradeFromXmlFile((m_dir / "missing.xml").string()).error, kTextConfigParseError);
    EXPECT_EQ(BuildTradeFromXmlFile(m_dir.string()).error, kTextConfigParseError);
}

}  // namespace
