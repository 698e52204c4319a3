// The conversion rules: hex text, packed BCD, white space and the decimal text rule.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "codec/Conversions.h"
#include "tests/codec/HexText.h"

namespace {

TEST(Conversions, EveryByteThroughHexAndBack) {
    for (int b = 0; b < 256; ++b) {
        const std::uint8_t in = static_cast<std::uint8_t>(b);
        char text[3] = {'x', 'x', 'x'};
        BytesToHex(&in, 1, text);
        ASSERT_EQ(text[2], '\0');
        for (char c : std::string(text, 2)) ASSERT_TRUE(std::isdigit(c) || (c >= 'A' && c <= 'F'));
        std::uint8_t back = 0;
        HexToBytes(text, 2, &back);
        ASSERT_EQ(back, in);
        // Lower case reads the same.
        for (char& c : text) c = static_cast<char>(std::tolower(c));
        HexToBytes(text, 2, &back);
        ASSERT_EQ(back, in);
    }
}

TEST(Conversions, HexToBytesRules) {
    struct Case {
        const char* text;
        std::string expected;
    } cases[] = {
        {"0200", "0200"}, {"0a1B", "0A1B"},   {"123", "123F"}, {"G1", "F1"}, {"", ""},
        {"zz", "FF"},     {"\xB1\xA8", "FF"}, {"1 2", "1F2F"},  // not hex (space, Chinese) reads F
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const std::size_t n = std::strlen(c.text);
        std::uint8_t out[8];
        std::memset(out, 0xAA, sizeof out);
        HexToBytes(c.text, n, out);
        EXPECT_EQ(Hex(out, (n + 1) / 2), c.expected);
        EXPECT_EQ(out[(n + 1) / 2], 0xAA) << "wrote past (n+1)/2 bytes";
    }
}

TEST(Conversions, BytesToHexTerminatesAndWord32HasNoTerminator) {
    const std::uint8_t in[] = {0x0A, 0xFF};
    char text[8];
    std::memset(text, 'x', sizeof text);
    BytesToHex(in, 2, text);
    EXPECT_STREQ(text, "0AFF");
    BytesToHex(in, 0, text);
    EXPECT_STREQ(text, "");

    const std::uint8_t zero[4] = {};
    std::memset(text, 'x', sizeof text);
    Word32ToHex(zero, text);
    EXPECT_EQ(std::string(text, 8), "00000000");
    const std::uint8_t word[4] = {0xDE, 0xAD, 0x01, 0x2f};
    char nine[9];
    nine[8] = 'x';
    Word32ToHex(word, nine);
    EXPECT_EQ(std::string(nine, 9), "DEAD012Fx");
}

TEST(Conversions, EveryNumberThroughBcdAndBack) {
    for (std::int32_t v = 0; v <= 9999; ++v) {
        std::uint8_t b[2];
        IntToBcd2(b, v);
        ASSERT_EQ(Hex(b, 2), (v < 1000 ? std::string(4 - std::to_string(v).size(), '0') : "") +
                                 std::to_string(v));
        std::int32_t back = -1;
        BcdToInt(b, 2, &back);
        ASSERT_EQ(back, v);
    }
    IntToBcd2(nullptr, 37);  // a null output does nothing
}

TEST(Conversions, BcdToIntRules) {
    struct Case {
        const char* hex;
        std::int32_t expected;
    } cases[] = {{"19", 19}, {"0104", 104}, {"0037", 37}, {"1234", 1234},
                 {"1A", 20}, {"FF", 165},   {"", 0},      {"99999999", 99999999}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.hex);
        const auto b = Bytes(c.hex);
        std::int32_t r = -1;
        BcdToInt(b.data(), b.size(), &r);
        EXPECT_EQ(r, c.expected);
    }
}

TEST(Conversions, StripWhiteSpaceKeepsEverythingElse) {
    char buf[64] = "02 00\r\n30\t20";
    StripWhiteSpace(buf, buf);
    EXPECT_STREQ(buf, "02003020");

    const char in[] =
        "\x0b\x0c"
        "a\x01\x1f\xB1\xA8 \x7f"
        "b";
    char out[64];
    StripWhiteSpace(out, in);
    EXPECT_STREQ(out,
                 "a\x01\x1f\xB1\xA8\x7f"
                 "b");  // other control bytes and Chinese stay
}

TEST(Conversions, DecimalTextToIntFollowsAtoi) {
    const char* cases[] = {"0123",
                           "  42",
                           "\t\n-17x",
                           "+5",
                           "abc",
                           "",
                           "12 3",
                           "-",
                           "+-1",
                           "007",
                           "99999999999",
                           "-99999999999",
                           "\x0b"
                           "8"};
    for (const char* c : cases) {
        SCOPED_TRACE(c);
        const long expected = std::strtol(c, nullptr, 10);  // atoi's rule without its overflow UB
        const long clamped = std::max<long>(std::min<long>(expected, INT32_MAX), INT32_MIN);
        EXPECT_EQ(DecimalTextToInt(c, std::strlen(c)), clamped);
    }
    // Bounded: only the first n characters count; a zero byte ends the text.
    EXPECT_EQ(DecimalTextToInt("12345", 4), 1234);
    EXPECT_EQ(DecimalTextToInt("1\0"
                               "23",
                               4),
              1);
}

}  // namespace
