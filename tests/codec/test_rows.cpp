// Row texts of decoded messages, for every field kind, and the cut of values that do not fit.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "codec/Conversions.h"
#include "codec/PosPack.h"
#include "codec/PosPackExt.h"
#include "codec/Rows.h"
#include "tests/codec/HexText.h"

namespace {

struct RowText {
    std::string name, length, value;
};

std::vector<RowText> Texts(const FieldRowList& rows) {
    std::vector<RowText> out;
    for (const FieldRow& r : rows) {
        out.push_back({std::string(r.Name()), std::string(r.Length()), std::string(r.Value())});
    }
    return out;
}

void ExpectRows(const FieldRowList& rows, const std::vector<RowText>& expected) {
    const auto got = Texts(rows);
    ASSERT_EQ(got.size(), expected.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        SCOPED_TRACE("row " + std::to_string(i));
        EXPECT_EQ(got[i].name, expected[i].name);
        EXPECT_EQ(got[i].length, expected[i].length);
        EXPECT_EQ(got[i].value, expected[i].value);
    }
}

FieldRowList Rows64(const std::vector<std::uint8_t>& msg, std::uint8_t hasLength = 0) {
    CCupPosPack pack;
    pack.m_hasLengthPrefix = hasLength;
    EXPECT_GT(pack.Unpack(msg.data(), static_cast<std::int32_t>(msg.size())), 0);
    FieldRowList rows;
    EXPECT_EQ(BuildRows(rows, pack), 0);
    return rows;
}

FieldRowList Rows128(const std::vector<std::uint8_t>& msg, std::uint8_t hasLength = 0) {
    CCupPosPackExt pack;
    pack.m_hasLengthPrefix = hasLength;
    EXPECT_GT(pack.Unpack(msg.data(), static_cast<std::int32_t>(msg.size())), 0);
    FieldRowList rows;
    EXPECT_EQ(BuildRows(rows, pack), 0);
    return rows;
}

TEST(Rows64, BitOneShowsAsStored) {
    // Bits 1 and 3: the 64-field object ignores bit 1, the row shows the bitmap as received.
    const auto msg = Bytes("0200 A000000000000000 000000 0000000000");
    ExpectRows(Rows64(msg), {
                                {"Type", "4", "0200"},
                                {"Bit 1", "8", "A000000000000000"},
                                {"Bit 3", "3", "000000"},
                            });
}

TEST(Rows64, RowTextsOfEachFieldKind) {
    const auto msg = Bytes("6000030000 603100310000 0200 6000040002101000") +
                     Bytes("16 6225880123456789 000000 0510") + Ascii("00") + Bytes("05") +
                     Ascii("ABCDE") + Bytes("0123456789ABCDEF");
    ExpectRows(Rows64(msg), {
                                {"TPDU", "5", "6000030000"},
                                {"Header", "6", "603100310000"},
                                {"Type", "4", "0200"},
                                {"Bit 1", "8", "6000040002101000"},
                                {"Bit 2", "8", "166225880123456789"},
                                {"Bit 3", "3", "000000"},
                                {"Bit 22", "2", "0510"},
                                {"Bit 39", "2", "3030 -> 00"},
                                {"Bit 44", "5", "054142434445 -> ABCDE"},
                                {"Bit 52", "8", "0123456789ABCDEF"},
                            });
}

TEST(Rows64, WithoutTpduTypeComesFirst) {
    const auto msg = Bytes("0200 0000000002000000 3030 000000");
    ExpectRows(Rows64(msg), {
                                {"Type", "4", "0200"},
                                {"Bit 1", "8", "0000000002000000"},
                                {"Bit 39", "2", "3030 -> 00"},
                            });
}

TEST(Rows128, HeaderMessageTypeBitmapAndFields) {
    const auto msg = Bytes(GoldenText("typical128.txt"));
    const FieldRowList rows = Rows128(msg, 1);
    const auto t = Texts(rows);
    ASSERT_EQ(t.size(), 10u + 2u + 21u);
    ExpectRows(FieldRowList(rows.begin(), rows.begin() + 12),
               {
                   {"field 1", "1", "2E"},
                   {"field 2", "1", "81"},
                   {"field 3", "4", "30323838 -> 0288"},
                   {"field 4", "11", "3030303130303030202020 -> 00010000   "},
                   {"field 5", "11", "3636363631323334202020 -> 66661234   "},
                   {"field 6", "3", "000000"},
                   {"field 7", "1", "00"},
                   {"field 8", "8", "3030303030303030 -> 00000000"},
                   {"field 9", "1", "00"},
                   {"field 10", "5", "3030303030 -> 00000"},
                   {"MsgType", "4", "30323030 -> 0200"},
                   {"Bit 1", "1", "F238448188E080100000000014000001"},
               });
    EXPECT_EQ(t[12].name, "Bit 2");
    EXPECT_EQ(t[12].length, "16");
    EXPECT_EQ(t[12].value, "313636323235383830313233343536373839 -> 166225880123456789");
    EXPECT_EQ(t.back().name, "Bit 128");
    EXPECT_EQ(t.back().length, "8");
    EXPECT_EQ(t.back().value, "3030303030303030 -> 00000000");
}

TEST(Rows128, NetworkMessageWithoutHeaderAndBinaryFieldShowsItsBytes) {
    const auto msg = Ascii("0800") + Bytes("8000000000000000 0400000000000000") + Ascii("301");
    ExpectRows(Rows128(msg), {
                                 {"MsgType", "4", "30383030 -> 0800"},
                                 {"Bit 1", "1", "80000000000000000400000000000000"},
                                 {"Bit 70", "3", "333031 -> 301"},
                             });
    // Binary field 52 shows " -> " and its raw bytes too; a zero byte ends the text.
    const auto bin =
        Ascii("0200") + Bytes("0000000000001000 0000000000000000") + Bytes("41420043FFFFFFFF");
    const auto rows = Texts(Rows128(bin));
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[2].name, "Bit 52");
    EXPECT_EQ(rows[2].value, "41420043FFFFFFFF -> AB");
}

// Values are whole: every hex pair, " -> ", and the text up to its first zero byte.
TEST(RowCut, SetHexValueKeepsTheWholeValue) {
    struct Case {
        const char* name;
        std::size_t hexBytes;
        std::vector<std::uint8_t> text;
        bool withText;
        std::size_t expectedLength;  // characters of the value text
        std::string expectedTail;
    };
    const std::vector<std::uint8_t> ascii(600, 'a');
    std::vector<std::uint8_t> gbk;
    for (int i = 0; i < 300; ++i) gbk.insert(gbk.end(), {0xB1, 0xA8});
    const Case cases[] = {
        {"hex only", 600, {}, false, 1200, "11"},
        {"hex and long text", 600, ascii, true, 1804, "aaa"},
        {"empty text keeps arrow", 3, {}, true, 10, "111111 -> "},
        {"double-byte text whole", 339, gbk, true, 1282, "\xB1\xA8"},
        {"text ends at a zero byte", 2, Ascii(std::string("ab\0cd", 5)), true, 10, " -> ab"},
        {"zero byte first, longer text", 2, Ascii(std::string("\0bcdefghijk", 12)), true, 8,
         " -> "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<std::uint8_t> hex(c.hexBytes, 0x11);
        FieldRow row;
        const std::uint8_t* text = c.text.empty() ? hex.data() : c.text.data();
        SetHexValue(row, hex.data(), hex.size(), c.withText ? text : nullptr, c.text.size());
        const std::string v(row.Value());
        EXPECT_EQ(v.size(), c.expectedLength);
        ASSERT_GE(v.size(), c.expectedTail.size());
        EXPECT_EQ(v.substr(v.size() - c.expectedTail.size()), c.expectedTail);
    }
}

TEST(RowCut, HexOfEveryByteAtEveryAlignment) {
    std::vector<std::uint8_t> all(256 + 3);
    for (std::size_t i = 0; i < all.size(); ++i) all[i] = static_cast<std::uint8_t>(i * 7 + 3);
    for (std::size_t start = 0; start < 4; ++start) {
        const std::uint8_t* p = all.data() + start;
        const std::size_t n = 256 - start;
        char expected[2 * 256 + 1];
        BytesToHex(p, n, expected);
        FieldRow row;
        SetHexValue(row, p, n);
        EXPECT_EQ(row.Value(), expected);
    }
}

// Short values cross the hex writer's and the text copy's block and byte steps at every length.
TEST(RowCut, HexOfEveryLengthUpToThreeBlocks) {
    std::vector<std::uint8_t> bytes(48);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 37 + 0x9A);
    for (std::size_t n = 0; n <= bytes.size(); ++n) {
        char hex[2 * 48 + 1];
        BytesToHex(bytes.data(), n, hex);
        FieldRow row;
        SetHexValue(row, bytes.data(), n);
        EXPECT_EQ(row.Value(), hex) << n;
        // The bytes as text too, any length: a printable copy of them.
        std::string text(n, ' ');
        for (std::size_t i = 0; i < n; ++i) text[i] = static_cast<char>('A' + i % 26);
        SetHexValue(row, bytes.data(), n, reinterpret_cast<const std::uint8_t*>(text.c_str()), n);
        EXPECT_EQ(row.Value(), std::string(hex) + " -> " + text) << n;
    }
}

// The type and bitmap rows show their width whatever buffer holds the value: zeros past a short
// one, and no bytes but the arrow from none.
TEST(RowCut, HeadRowsPastAShortBuffer) {
    FieldTable t;
    t.typeRow = {"Type", "4", 4, true};
    t.bitmapRow = {"Bit 1", "", 0, true};
    std::uint8_t two[2] = {0x02, 0x31};
    std::vector<FieldValue> values(2);
    values[0] = {2, std::span<std::uint8_t>(two)};
    const std::vector<FieldAttr> attrs(2);
    const std::vector<std::uint8_t> list(2, 0);
    FieldRowList rows;
    AppendBodyRows(rows, t, attrs, list, values);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].Value(), "02310000 -> \x02" "1");
    EXPECT_EQ(rows[1].Value(), " -> ");
}

TEST(RowCut, LongFieldsOfBothObjectsShowWhole) {
    // 64-field 59: 600 text bytes: 602 stored, 1204 hex + " -> " + 600 text = 1808.
    const auto msg64 = Bytes("0200 0000000000000020 0600") + std::vector<std::uint8_t>(600, 'Q');
    const auto rows64 = Texts(Rows64(msg64));
    ASSERT_EQ(rows64.size(), 3u);
    EXPECT_EQ(rows64[2].length, "600");
    EXPECT_EQ(rows64[2].value.size(), 1808u);
    EXPECT_EQ(rows64[2].value.substr(0, 8), "06005151");

    // 128-field 62: 300 text bytes with digits: 303 stored, 606 hex + " -> " + 303 raw = 913.
    const auto msg128 = Ascii("0200") + Bytes("0000000000000004 0000000000000000") + Ascii("300") +
                        std::vector<std::uint8_t>(300, 'R');
    const auto rows128 = Texts(Rows128(msg128));
    ASSERT_EQ(rows128.size(), 3u);
    EXPECT_EQ(rows128[2].name, "Bit 62");
    EXPECT_EQ(rows128[2].length, "300");
    EXPECT_EQ(rows128[2].value.size(), 913u);
    // 340 bytes: 680 hex + 4 + 340 text bytes.
    const auto cut128 = Ascii("0200") + Bytes("0000000000000004 0000000000000000") + Ascii("337") +
                        std::vector<std::uint8_t>(337, 'R');
    const auto cutRows = Texts(Rows128(cut128));
    EXPECT_EQ(cutRows[2].value.size(), 1024u);
    EXPECT_EQ(cutRows[2].value.substr(680, 7), " -> 337");
}

}  // namespace
