// Tests of the trade codec, its field table, the trade frame and the trade rows.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codec/Conversions.h"
#include "trade/Trade.h"

namespace {

std::vector<std::uint8_t> Bytes(const std::string& hex) {
    std::vector<std::uint8_t> b((hex.size() + 1) / 2);
    HexToBytes(hex.data(), hex.size(), b.data());
    return b;
}

std::string Hex(const std::uint8_t* p, std::size_t n) {
    std::string s(2 * n + 1, '\0');
    BytesToHex(p, n, s.data());
    s.pop_back();
    return s;
}

TEST(TradeFrame, LayoutLengthMarkerAndCheckByte) {
    struct Case {
        const char* name;
        std::string payloadHex;
        std::string headHex;
        std::uint8_t check;
    };
    std::string payload300;
    for (int i = 0; i < 300; ++i) payload300 += "00";
    // clang-format off
    const Case cases[] = {
        {"empty payload", "", "0700F1000000", 0xF6},
        {"one byte", "41", "0800F1000000", 0x08 ^ 0xF1 ^ 0x41},
        {"300 bytes, little-endian length", payload300, "3301F1000000", 0x33 ^ 0x01 ^ 0xF1},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto payload = Bytes(c.payloadHex);
        std::vector<std::uint8_t> frame(payload.size() + 7, 0xEE);
        std::int32_t frameLen = 0;
        ASSERT_TRUE(BuildTradeFrame(payload.data(), static_cast<std::int32_t>(payload.size()),
                                    frame.data(), &frameLen));
        EXPECT_EQ(frameLen, static_cast<std::int32_t>(payload.size() + 7));
        EXPECT_EQ(Hex(frame.data(), 6), c.headHex);
        EXPECT_EQ(Hex(frame.data() + 6, payload.size()), c.payloadHex);
        EXPECT_EQ(frame.back(), c.check);
    }
}

TEST(TradeFrame, RefusesPayloadsOverTheLimit) {
    std::vector<std::uint8_t> payload(kMaxTradePayload + 1, 0x11);
    std::vector<std::uint8_t> frame(payload.size() + 7);
    std::int32_t frameLen = -5;
    EXPECT_TRUE(BuildTradeFrame(payload.data(), kMaxTradePayload, frame.data(), &frameLen));
    EXPECT_EQ(frameLen, kMaxTradePayload + 7);
    EXPECT_EQ(frame[0], (kMaxTradePayload + 7) & 0xFF);
    EXPECT_EQ(frame[1], (kMaxTradePayload + 7) >> 8);
    EXPECT_FALSE(BuildTradeFrame(payload.data(), kMaxTradePayload + 1, frame.data(), &frameLen));
    EXPECT_FALSE(BuildTradeFrame(payload.data(), -1, frame.data(), &frameLen));
}

// An independent copy of the trade table: {maxLen, lenBytes} per field 0..64.
TEST(TradeTable, MatchesTheTradeFieldTable) {
    CWebTrade t;
    for (int f = 0; f <= 64; ++f) {
        SCOPED_TRACE("field " + std::to_string(f));
        const FieldAttr& a = t.m_attr[static_cast<std::size_t>(f)];
        int maxLen = 100;
        if (f == 0) maxLen = 2;
        if (f == 1) maxLen = 8;
        if (f == 5 || f == 6) maxLen = 260;
        if (f == 16 || f == 41 || f == 42) maxLen = 1024;
        if (f >= 45) maxLen = 0;
        EXPECT_EQ(a.maxLen, maxLen);
        EXPECT_EQ(a.inMac, 0);
        if (f >= 45) {
            EXPECT_EQ(a.fixed, 0);
            EXPECT_EQ(a.format, 0);
            EXPECT_TRUE(t.m_value[static_cast<std::size_t>(f)].data.empty());
            continue;
        }
        EXPECT_EQ(a.fixed, f < 2 ? 1 : 0);
        EXPECT_EQ(a.lenBytes, f < 2 ? 0 : 2);
        EXPECT_EQ(a.format, f == 0 ? 'N' : f == 1 ? 'B' : 'A');
        EXPECT_EQ(a.lenFormat, 'N');
        // Every defined field has a buffer for its largest size and a terminator.
        const std::size_t largest = f == 0 ? 1 : f == 1 ? 8 : 2 + static_cast<std::size_t>(maxLen);
        EXPECT_GT(t.m_value[static_cast<std::size_t>(f)].data.size(), largest);
        EXPECT_EQ(t.m_value[static_cast<std::size_t>(f)].length, f == 1 ? 8 : 0);
    }
}

TEST(TradeCodec, UnpackCases) {
    struct Case {
        const char* name;
        std::string payloadHex;
        std::int32_t consumed;
        std::vector<std::pair<int, std::string>> fields;  // field, stored hex (prefix included)
    };
    std::string hundred;
    for (int i = 0; i < 100; ++i) hundred += "41";
    // clang-format off
    const Case cases[] = {
        {"command and empty bitmap", "010000000000000000", 9, {}},
        {"fields 3 and 11", "01" "2020000000000000" "0003414243" "0001FF", 17,
         {{3, "0003414243"}, {11, "0001FF"}}},
        {"stated 105 cut to maxLen 100", "00" "2000000000000000" "0105" + hundred + "99", 111,
         {{3, "0105" + hundred}}},
        {"non-BCD prefix 0A00 reads 1000, cut to 100", "00" "2000000000000000" "0A00" + hundred,
         111, {{3, "0A00" + hundred}}},
        {"bit 1 is ignored", "00" "8000000000000000" "0000", 9, {}},
        {"bitmap marks undefined field 50", "00" "0000000000004000" "0000", -1, {}},
        {"field starts past len", "00" "20000000000000", -1, {}},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto payload = Bytes(c.payloadHex);
        CWebTrade t;
        EXPECT_EQ(t.Unpack(payload.data(), static_cast<std::int32_t>(payload.size())), c.consumed);
        for (const auto& [f, hex] : c.fields) {
            const FieldValue& v = t.m_value[static_cast<std::size_t>(f)];
            EXPECT_EQ(Hex(v.data.data(), static_cast<std::size_t>(v.length)), hex) << f;
        }
    }
}

TEST(TradeCodec, LastFieldRunningPastLenReadsZeros) {
    // Field 3 states 4 bytes, but only 2 follow; the missing bytes count as zero.
    const auto payload = Bytes(
        "00"
        "2000000000000000"
        "0004AABB");
    CWebTrade t;
    EXPECT_EQ(t.Unpack(payload.data(), static_cast<std::int32_t>(payload.size())), 15);
    EXPECT_EQ(Hex(t.m_value[3].data.data(), 6), "0004AABB0000");
    EXPECT_EQ(t.Unpack(nullptr, 10), -1);
}

TEST(TradeCodec, PackWritesBitmapAndFieldsInOrder) {
    CWebTrade t;
    auto set = [&](int f, const std::string& hex) {
        const auto b = Bytes(hex);
        FieldValue& v = t.m_value[static_cast<std::size_t>(f)];
        std::copy(b.begin(), b.end(), v.data.begin());
        v.length = static_cast<std::int32_t>(b.size());
    };
    set(11, "0001FF");
    set(3, "0003414243");
    std::vector<std::uint8_t> out(static_cast<std::size_t>(t.MaxPackedSize()));
    std::int32_t n = 0;
    ASSERT_EQ(t.Pack(out.data(), &n), 16);
    EXPECT_EQ(n, 16);
    EXPECT_EQ(Hex(out.data(), 16),
              "20200000000000000003414243"
              "0001FF");
    EXPECT_EQ(t.Pack(nullptr, &n), 0);

    // A field of 1024 bytes and more is carried whole, never a bitmap bit without its bytes.
    CWebTrade big;
    std::string hex = "1022";
    for (int i = 0; i < 1022; ++i) hex += "5A";
    const auto b = Bytes(hex);
    std::copy(b.begin(), b.end(), big.m_value[16].data.begin());
    big.m_value[16].length = 1024;
    std::vector<std::uint8_t> out2(static_cast<std::size_t>(big.MaxPackedSize()));
    ASSERT_EQ(big.Pack(out2.data(), &n), 8 + 1024);
    CWebTrade back;
    std::vector<std::uint8_t> payload(static_cast<std::size_t>(n) + 1, 0x07);
    std::copy_n(out2.begin(), n, payload.begin() + 1);
    ASSERT_EQ(back.Unpack(payload.data(), static_cast<std::int32_t>(payload.size())), 1 + 8 + 1024);
    EXPECT_EQ(back.m_value[16].length, 1024);
    EXPECT_EQ(Hex(back.m_value[16].data.data(), 1024), hex);
}

TEST(TradeRows, DataBytesOnlyWithoutPrefixOrText) {
    const auto payload = Bytes(
        "01"
        "2020000000000000"
        "0003414243"
        "0001FF");
    CWebTrade t;
    ASSERT_GT(t.Unpack(payload.data(), static_cast<std::int32_t>(payload.size())), 0);
    FieldRowList rows;
    EXPECT_EQ(BuildTradeRows(rows, t), 0);
    const std::vector<std::vector<std::string>> expected = {
        {"CMD", "1", "01"},
        {"Bit 1", "8", "2020000000000000"},
        {"Bit 3", "3", "414243"},
        {"Bit 11", "1", "FF"},
    };
    ASSERT_EQ(rows.size(), expected.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(rows[i].Name(), expected[i][0]);
        EXPECT_EQ(rows[i].Length(), expected[i][1]);
        EXPECT_EQ(rows[i].Value(), expected[i][2]);
    }
}

TEST(TradeRows, LongFieldValueShowsWhole) {
    std::string hex =
        "00"
        "0001000000000000"
        "0600";
    for (int i = 0; i < 600; ++i) hex += "AB";
    const auto payload = Bytes(hex);  // field 16 with 600 bytes
    CWebTrade t;
    ASSERT_EQ(t.Unpack(payload.data(), static_cast<std::int32_t>(payload.size())), 611);
    FieldRowList rows;
    BuildTradeRows(rows, t);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[2].Name(), "Bit 16");
    EXPECT_EQ(rows[2].Length(), "600");
    EXPECT_EQ(rows[2].Value().size(), 1200u);
    EXPECT_EQ(rows[2].Value().substr(0, 4), "ABAB");
}

}  // namespace
