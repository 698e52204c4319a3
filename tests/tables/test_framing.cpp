// Every framing a table file can state: packed around one message, cut from a stream that comes
// a byte at a time, and decoded back; and the framings the loader refuses.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "codec/FrameCut.h"
#include "codec/Message.h"
#include "tables/TableFile.h"

namespace {

std::string Hex(std::span<const std::uint8_t> bytes) {
    std::string s;
    char b[3];
    for (std::uint8_t c : bytes) {
        std::snprintf(b, sizeof b, "%02X", c);
        s += b;
    }
    return s;
}

TableLoad Load(const std::string& frame, const std::string& trailer) {
    return LoadJsonTable(R"({"name": "framed", "bitmap": {"bits": 64},
        "frame": [)" + frame + R"(], "trailer": [)" + trailer + R"(],
        "fields": {"0": {"length": 4, "enc": "BCD"}, "3": {"length": 6, "enc": "BCD"},
                   "11": {"length": 6, "enc": "BCD"}, "41": {"length": 8}}})");
}

// Type 0200, bitmap of 3, 11 and 41, their values: 24 bytes.
constexpr const char* kBody = "0200" "2020000000800000" "000000" "000123" "3132333435363738";

struct FrameCase {
    const char* what;
    const char* frame;
    const char* trailer;
    const char* head;  // the bytes in front of the body
    const char* tail;  // the bytes after it
};

const FrameCase kCases[] = {
    {"2-byte binary", R"({"part": "length", "enc": "Binary", "bytes": 2})", "", "0018", ""},
    {"4-byte little-endian",
     R"({"part": "length", "enc": "Binary", "bytes": 4, "littleEndian": true})", "", "18000000",
     ""},
    {"2-byte BCD", R"({"part": "length", "enc": "BCD", "bytes": 2})", "", "0024", ""},
    {"4 ASCII digits", R"({"part": "length", "enc": "ASCII", "bytes": 4})", "", "30303234", ""},
    {"6 ASCII digits", R"({"part": "length", "enc": "ASCII", "bytes": 6})", "", "303030303234",
     ""},
    {"counting itself", R"({"part": "length", "bytes": 2, "countsItself": true})", "", "001A", ""},
    {"marker after the length",
     R"({"part": "length", "bytes": 2}, {"part": "marker", "bytes": 4, "pack": "F1000000"})", "",
     "001CF1000000", ""},
    {"STX, ETX and an LRC from 1",
     R"({"part": "marker", "pack": "02"}, {"part": "length", "enc": "BCD", "bytes": 2})",
     R"({"part": "marker", "pack": "03"}, {"part": "check", "from": 1})", "020026", "038D"},
};

TEST(Framing, EachKindPacksCutsAndDecodes) {
    for (const FrameCase& c : kCases) {
        SCOPED_TRACE(c.what);
        const TableLoad load = Load(c.frame, c.trailer);
        ASSERT_TRUE(load.Ok()) << load.problems.front();
        const FieldTable& table = *load.table;

        Message m(table);
        for (const auto& [f, text] : {std::pair{0, "0200"}, {3, "000000"}, {11, "000123"},
                                      {41, "12345678"}}) {
            ASSERT_TRUE(m.SetText(f, text).ok) << f;
        }
        std::vector<std::uint8_t> out;
        ASSERT_TRUE(m.Encode(out).ok);
        EXPECT_EQ(Hex(out), std::string(c.head) + kBody + c.tail);

        for (std::size_t n = 1; n <= out.size(); ++n) {
            const FrameCut cut = CutFrame(table, std::span(out.data(), n), 4096);
            if (n < out.size()) {
                ASSERT_EQ(cut.kind, FrameCut::Kind::NeedMore) << n << " " << cut.reason;
            } else {
                ASSERT_EQ(cut.kind, FrameCut::Kind::Whole) << cut.reason;
                EXPECT_EQ(cut.length, out.size());
            }
        }

        Message back(table);
        FailureDetail failure;
        std::vector<std::string> warnings;
        const auto size = static_cast<std::int32_t>(out.size());
        EXPECT_EQ(back.Decode(out.data(), size, out.size(), LengthRule::Match,
                              {&failure, size, &warnings}),
                  size)
            << failure.reason;
        EXPECT_TRUE(warnings.empty()) << warnings.front();
        EXPECT_EQ(back.Present(), m.Present());
        for (const std::int32_t f : {0, 3, 11, 41}) {
            EXPECT_EQ(Hex(back.Stored(f)), Hex(m.Stored(f))) << f;
        }

        // A stated length one byte off is an error, not a guess.
        std::vector<std::uint8_t> wrong = out;
        wrong.push_back(0x00);
        Message off(table);
        EXPECT_EQ(off.Decode(wrong.data(), size + 1, wrong.size(), LengthRule::Match,
                             {&failure, size + 1, nullptr}),
                  -1);
    }
}

TEST(Framing, LoaderRefusesWhatCannotWork) {
    const struct {
        const char* frame;
        const char* trailer;
        const char* problem;
    } cases[] = {
        {R"({"part": "length", "enc": "ASCII", "bytes": 4, "littleEndian": true})", "",
         "frame part 1, key \"littleEndian\": only a binary length has a byte order"},
        {R"({"part": "length", "enc": "BCD", "bytes": 4})", "", "a BCD length has 2 bytes"},
        {R"({"part": "length", "enc": "Binary", "bytes": 3})", "", "2 or 4 bytes"},
        {R"({"part": "length", "enc": "ASCII", "bytes": 5})", "", "4 or 6 digits"},
        {R"({"part": "marker", "bytes": 1})", "", "frame part 1, key \"pack\": missing"},
        {R"({"part": "marker", "bytes": 2, "pack": "02"})", "", "must be 2 bytes"},
        {R"({"part": "tpdu", "bytes": 5}, {"part": "length", "bytes": 2})", "",
         "frame part 2: a length part must come first"},
        {R"({"part": "check"})", "", "put it in \"trailer\""},
        {R"({"part": "length", "bytes": 2})",
         R"({"part": "check"}, {"part": "marker", "pack": "03"})",
         "trailer part 1: the check byte must be the trailer's last part"},
        {R"({"part": "length", "bytes": 2})", R"({"part": "check", "from": 3})",
         "trailer part 1, key \"from\": 3 lies past the framing"},
        {R"({"part": "length", "bytes": 2})", R"({"part": "tpdu", "bytes": 5})",
         "trailer part 1, key \"part\": unknown word"},
    };
    for (const auto& c : cases) {
        const TableLoad load = Load(c.frame, c.trailer);
        ASSERT_FALSE(load.Ok()) << c.problem;
        std::string all;
        for (const std::string& p : load.problems) all += p + "\n";
        EXPECT_NE(all.find(c.problem), std::string::npos) << all;
    }
}

}  // namespace
