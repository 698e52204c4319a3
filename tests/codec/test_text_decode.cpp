// Code page 936 / UTF-8 decoding, JSON string escaping and the way back to code page 936.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "codec/TextDecode.h"

namespace {

struct DecodeCase {
    const char* name;
    std::string in;
    TextEncoding encoding;
    std::string expected;
};

TEST(TextDecode, DecodesAndReplacesWithoutDroppingText) {
    const std::string fffd = "\xEF\xBF\xBD";
    const DecodeCase cases[] = {
        {"empty", "", TextEncoding::Gbk, ""},
        {"ascii", "3030 -> 00", TextEncoding::Gbk, "3030 -> 00"},
        {"zero byte kept", std::string("a\0b", 3), TextEncoding::Gbk, std::string("a\0b", 3)},
        {"gbk chinese", "\xD6\xD0\xCE\xC4", TextEncoding::Gbk, "中文"},
        {"gbk after ascii", "41 -> A\xB1\xA8\xCE\xC4", TextEncoding::Gbk, "41 -> A报文"},
        {"cp936 euro", "\x80", TextEncoding::Gbk, "\xE2\x82\xAC"},
        {"ff undecodable", "\xFF", TextEncoding::Gbk, fffd},
        {"lead byte then ascii",
         "\x81"
         "0A",
         TextEncoding::Gbk, fffd + "0A"},
        {"cut pair at end", "A\xD6", TextEncoding::Gbk, "A" + fffd},
        {"bad in middle", "\xD6\xD0\xFF\xCE\xC4", TextEncoding::Gbk, "中" + fffd + "文"},
        {"two bad", "\xFF\xFF", TextEncoding::Gbk, fffd + fffd},
        {"undefined pair is one", "\xA1\x81Z", TextEncoding::Gbk, fffd + "Z"},
        {"undefined pair ascii trail", "\xA1\x30Z", TextEncoding::Gbk, fffd + "0Z"},
        {"utf8 passes", "中文", TextEncoding::Utf8OrGbk, "中文"},
        {"not utf8 is gbk", "\xD6\xD0\xCE\xC4", TextEncoding::Utf8OrGbk, "中文"},
        {"utf8 ascii", "T01", TextEncoding::Utf8OrGbk, "T01"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ToUtf8(c.in, c.encoding), c.expected);
        std::string out = "pre";
        AppendUtf8(out, c.in, c.encoding);
        EXPECT_EQ(out, "pre" + c.expected);
    }
}

TEST(TextDecode, EveryByteSequenceGivesValidUtf8) {
    // Every byte alone and every lead byte with every trail byte: the result is valid UTF-8 and
    // an ASCII character after the pair is never swallowed.
    for (int a = 0; a < 256; ++a) {
        for (int b = 0; b < 256; b += (a >= 0x81 && a <= 0xFE ? 1 : 255)) {
            const std::string in = {static_cast<char>(a), static_cast<char>(b), 'Z'};
            const std::string out = ToUtf8(in, TextEncoding::Gbk);
            ASSERT_TRUE(IsValidUtf8(out)) << a << " " << b;
            ASSERT_EQ(out.back(), 'Z') << a << " " << b;
        }
    }
}

TEST(TextDecode, Utf8Validity) {
    const std::pair<std::string, bool> cases[] = {
        {"", true},
        {"abc", true},
        {"中文", true},
        {"\xF0\x9F\x98\x80", true},   // U+1F600
        {"\xC0\xAF", false},          // overlong '/'
        {"\xE0\x80\xAF", false},      // overlong
        {"\xED\xA0\x80", false},      // surrogate
        {"\xF4\x90\x80\x80", false},  // above U+10FFFF
        {"\xE4\xB8", false},          // cut off
        {"\x80", false},              // lone trail byte
        {"\xD6\xD0", false},          // GBK
    };
    for (const auto& [in, valid] : cases) {
        SCOPED_TRACE(in);
        EXPECT_EQ(IsValidUtf8(in), valid);
    }
}

TEST(TextDecode, JsonStringEscaping) {
    const std::pair<std::string, std::string> cases[] = {
        {"", R"("")"},
        {"plain", R"("plain")"},
        {R"(a"b\c)", R"("a\"b\\c")"},
        {"a/b", R"("a/b")"},
        {"\n\t\x01\x1F", R"("\u000a\u0009\u0001\u001f")"},
        {std::string("\0", 1), R"("\u0000")"},
        {"中文", "\"中文\""},
    };
    for (const auto& [in, expected] : cases) {
        SCOPED_TRACE(expected);
        std::string out;
        AppendJsonString(out, in);
        EXPECT_EQ(out, expected);
    }
}

TEST(TextDecode, Utf8ToGbk) {
    EXPECT_EQ(Utf8ToGbk("Port为空!"), "Port\xCE\xAA\xBF\xD5!");
    EXPECT_EQ(Utf8ToGbk("a\xF0\x9F\x98\x80z"), "a?z");  // not in code page 936
    EXPECT_EQ(Utf8ToGbk("a\xFFz"), "a?z");              // not UTF-8
    EXPECT_EQ(Utf8ToGbk("a\xE4\xB8"), "a?");            // cut off
    for (const char* text : {"报文为空!", "建立socket连接异常!", "解析配置文件出错!"}) {
        SCOPED_TRACE(text);
        EXPECT_EQ(ToUtf8(Utf8ToGbk(text), TextEncoding::Gbk), text);
    }
}

TEST(TextDecode, EachThreadHasItsOwnConverter) {
    std::string results[4];
    std::thread threads[4];
    for (int t = 0; t < 4; ++t) {
        threads[t] = std::thread([&results, t] {
            for (int i = 0; i < 200; ++i)
                results[t] = ToUtf8("\xD6\xD0\xFF\xCE\xC4", TextEncoding::Gbk);
        });
    }
    for (auto& th : threads) th.join();
    for (const auto& r : results) EXPECT_EQ(r, "中\xEF\xBF\xBD文");
}

}  // namespace
