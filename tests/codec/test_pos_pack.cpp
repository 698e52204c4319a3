// The 64-field and 128-field pack objects: tables, field store, unpack, pack and the MAC input.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "codec/PosPack.h"
#include "codec/PosPackExt.h"
#include "codec/Rows.h"
#include "tests/codec/HexText.h"

namespace {

// One field as it stands on the wire, written out independently of the tables.
struct WireCase {
    int field;
    std::vector<std::uint8_t> wire;  // the field's bytes, length prefix included
    std::int32_t largest;            // UnpackField without source: the largest encoded size
};

std::vector<std::uint8_t> Filler(std::size_t n, std::uint8_t b = 0x31) {
    return std::vector<std::uint8_t>(n, b);
}

// The UnionPay 64-field table: BCD length prefixes, 'N' fields packed two digits a byte.
std::vector<WireCase> Wire64() {
    return {
        {0, Bytes("0200"), 2},
        {1, Bytes("7020048020C08011"), 8},
        {2, Bytes("16 6225880123456789"), 20},
        {3, Bytes("000000"), 3},
        {4, Bytes("000000010000"), 6},
        {11, Bytes("000123"), 3},
        {12, Bytes("210130"), 3},
        {13, Bytes("1207"), 2},
        {14, Bytes("2812"), 2},
        {15, Bytes("1208"), 2},
        {22, Bytes("0510"), 2},
        {23, Bytes("0001"), 2},
        {25, Bytes("00"), 1},
        {26, Bytes("12"), 1},
        {32, Bytes("08 01020000"), 12},
        {35, Bytes("37 6225880123456789D2812201000012345678 9F"), 38},
        {36, Bytes("0104") + Filler(52, 0x99), 106},
        {37, Ascii("123456789012"), 12},
        {38, Ascii("A1B2C3"), 6},
        {39, Ascii("00"), 2},
        {41, Ascii("12345678"), 8},
        {42, Ascii("123456789012345"), 15},
        {44, Bytes("05") + Ascii("ABCDE"), 26},
        {48, Bytes("0003 1230"), 514},
        {49, Ascii("156"), 3},
        {52, Bytes("0123456789ABCDEF"), 8},
        {53, Bytes("2600000000000000"), 8},
        {54, Bytes("0012") + Ascii("1002156C0000"), 42},
        {55, Bytes("0004 9F260801"), 257},
        {58, Bytes("0003") + Ascii("XYZ"), 102},
        {59, Bytes("0005") + Ascii("A0001"), 602},
        {60, Bytes("0013 22000123000500"), 19},
        {61, Bytes("0029") + Filler(15, 0x12), 31},
        {62, Bytes("0003") + Ascii("abc"), 514},
        {63, Bytes("0003") + Ascii("CUP"), 514},
        {64, Bytes("3A4F9C0D12E5B776"), 8},
    };
}

// The UnionPay 128-field table: ASCII text with ASCII length digits, three binary fields.
std::vector<WireCase> Wire128() {
    return {
        {0, Ascii("0200"), 4},
        {1, Bytes("F238448188E08010 0000000014000001"), 16},
        {2, Ascii("166225880123456789"), 21},
        {3, Ascii("000000"), 6},
        {4, Ascii("000000010000"), 12},
        {7, Ascii("1207210130"), 10},
        {11, Ascii("000123"), 6},
        {12, Ascii("210130"), 6},
        {13, Ascii("1207"), 4},
        {14, Ascii("2812"), 4},
        {15, Ascii("1208"), 4},
        {18, Ascii("5411"), 4},
        {22, Ascii("051"), 3},
        {23, Ascii("001"), 3},
        {25, Ascii("00"), 2},
        {26, Ascii("12"), 2},
        {28, Ascii("C00000100"), 9},
        {32, Ascii("0801020000"), 13},
        {33, Ascii("0803050000"), 13},
        {35, Ascii("246225880123456789=2812201"), 39},
        {36, Ascii("005ABCDE"), 107},
        {37, Ascii("123456789012"), 12},
        {38, Ascii("A1B2C3"), 6},
        {39, Ascii("00"), 2},
        {41, Ascii("12345678"), 8},
        {42, Ascii("123456789012345"), 15},
        {43, Ascii("TARNWICK TEST MERCHANT SHANGHAI   CN    "), 40},
        {44, Ascii("05ABCDE"), 27},
        {48, Ascii("003abc"), 603},
        {49, Ascii("156"), 3},
        {52, Bytes("0123456789ABCDEF"), 8},
        {53, Ascii("2600000000000000"), 16},
        {54, Ascii("0121002156C0000"), 43},
        {55, Ascii("0049F26"), 258},
        {59, Ascii("005A0001"), 603},
        {60, Ascii("01100000000030"), 103},
        {61, Ascii("003xyz"), 258},
        {62, Ascii("003abc"), 515},
        {63, Ascii("003CUP"), 515},
        {70, Ascii("301"), 3},
        {90, Ascii("020000012312070101300000000100000000000000"), 42},
        {96, Bytes("0011223344556677"), 8},
        {100, Ascii("0801050000"), 13},
        {102, Ascii("196225880123456789012"), 30},
        {103, Ascii("04ACCT"), 30},
        {121, Ascii("002ok"), 103},
        {122, Ascii("000"), 103},
        {128, Bytes("1122334455667788"), 8},
    };
}

const std::set<int> kInMac128 = {0,  2,  3,  4,  7,  11, 18, 25,  28,
                                 32, 33, 38, 39, 41, 42, 90, 102, 103};

template <typename Pack>
void CheckTable(const std::vector<WireCase>& cases, int fields) {
    std::set<int> defined;
    for (const WireCase& c : cases) {
        SCOPED_TRACE("field " + std::to_string(c.field));
        defined.insert(c.field);
        Pack pack;
        EXPECT_EQ(pack.UnpackField(nullptr, c.field), c.largest);
        EXPECT_EQ(pack.m_value[c.field].length, 0) << "a null source stores nothing";
        // The field is followed by bytes that must not be taken.
        const auto input = c.wire + Filler(700, 0x39);
        ASSERT_EQ(pack.UnpackField(input.data(), c.field),
                  static_cast<std::int32_t>(c.wire.size()));
        const FieldValue& v = pack.m_value[c.field];
        ASSERT_EQ(v.length, static_cast<std::int32_t>(c.wire.size()));
        EXPECT_EQ(Hex(v.data.data(), c.wire.size()), Hex(c.wire));
        EXPECT_EQ(v.data[c.wire.size()], 0) << "stored bytes end with a zero byte";
        EXPECT_GE(v.data.size(), static_cast<std::size_t>(c.largest) + 1);
    }
    Pack pack;
    const auto junk = Filler(64);
    for (int f = 0; f < fields; ++f) {
        if (defined.count(f)) continue;
        SCOPED_TRACE("undefined field " + std::to_string(f));
        EXPECT_EQ(pack.m_attr[f].maxLen, 0);
        EXPECT_TRUE(pack.m_value[f].data.empty());
        EXPECT_EQ(pack.UnpackField(junk.data(), f), -1);
        EXPECT_EQ(pack.UnpackField(nullptr, f), -1);
        EXPECT_EQ(pack.m_value[f].length, 0);
    }
    EXPECT_EQ(pack.UnpackField(junk.data(), -1), -1);
    EXPECT_EQ(pack.UnpackField(junk.data(), fields), -1);
}

TEST(PosPackTable, EveryRowOf64FieldTableMatchesTheWire) {
    CheckTable<CCupPosPack>(Wire64(), 65);
    EXPECT_EQ(Wire64().size(), 36u);
}

TEST(PosPackTable, EveryRowOf128FieldTableMatchesTheWire) {
    CheckTable<CCupPosPackExt>(Wire128(), 129);
    EXPECT_EQ(Wire128().size(), 48u);
}

TEST(PosPackTable, MacInputTakesExactlyTheMarkedFields) {
    for (const WireCase& c : Wire128()) {
        SCOPED_TRACE("field " + std::to_string(c.field));
        CCupPosPackExt pack;
        ASSERT_GT(pack.UnpackField(c.wire.data(), c.field), 0);
        std::uint8_t out[kMacInputScratch] = {};
        const std::int32_t n = pack.BuildMacInput(out);
        if (kInMac128.count(c.field)) {
            const std::size_t expect = c.field == 90 ? 20 : c.wire.size();
            EXPECT_EQ(n, static_cast<std::int32_t>(expect));
            EXPECT_EQ(Hex(out, expect), Hex(c.wire.data(), expect));
        } else {
            EXPECT_EQ(n, 0);
        }
    }
}

TEST(PosPackTable, TextFieldsOf64FieldTableShowTheirCharacters) {
    // Format 'A' rows carry " -> " and the characters; 'N' and 'B' show hex only.
    const std::set<int> text = {37, 38, 39, 41, 42, 44, 49, 54, 55, 58, 59, 62, 63};
    for (const WireCase& c : Wire64()) {
        if (c.field < 2) continue;
        SCOPED_TRACE("field " + std::to_string(c.field));
        CCupPosPack pack;
        ASSERT_GT(pack.UnpackField(c.wire.data(), c.field), 0);
        pack.m_fieldList[static_cast<std::size_t>(c.field - 1)] =
            static_cast<std::uint8_t>(c.field);
        FieldRowList rows;
        BuildRows(rows, pack);
        ASSERT_EQ(rows.size(), 3u);
        const bool shown = rows[2].Value().find(" -> ") != std::string_view::npos;
        EXPECT_EQ(shown, text.count(c.field) == 1);
    }
}

TEST(FieldStore, StatedLengthsAreCappedAndOddDigitsRoundUp) {
    CCupPosPack pack;
    const auto over = Bytes("25 11223344556677889900AABB");  // states 25 digits, max 19
    EXPECT_EQ(pack.UnpackField(over.data(), 2), 11);
    const auto odd = Bytes("19 1122334455667788990F");  // 19 digits take 10 bytes
    EXPECT_EQ(pack.UnpackField(odd.data(), 2), 11);
    const auto big = Bytes("0999") + Filler(700);  // field 59 states 999, max 600
    EXPECT_EQ(pack.UnpackField(big.data(), 59), 602);
    EXPECT_EQ(pack.m_value[59].data[602], 0);

    CCupPosPackExt ext;
    const auto pan = Ascii("9912345678901234567890123");
    EXPECT_EQ(ext.UnpackField(pan.data(), 2), 21);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(ext.m_value[2].data.data())),
              "991234567890123456789");
    const auto signedLen = Ascii("-5ABCDE");  // a sign in the digits: no data, not a huge copy
    EXPECT_EQ(ext.UnpackField(signedLen.data(), 44), 2);
    const auto spaced = Ascii(" 7ABCDEFG");  // leading white space is skipped, as atoi does
    EXPECT_EQ(ext.UnpackField(spaced.data(), 44), 9);
}

TEST(FieldStore, ReadsNoMoreThanReadableAndZeroFillsTheRest) {
    CCupPosPackExt pack;
    const auto part = Ascii("010AB");  // 10 stated, 3 present
    ASSERT_EQ(pack.UnpackField(part.data(), 121, part.size()), 13);
    EXPECT_EQ(Hex(pack.m_value[121].data.data(), 14), Hex(Ascii("010AB") + Filler(9, 0)));
}

// The interface every pack object shares.
template <typename T>
class PackInterface : public ::testing::Test {};
using PackTypes = ::testing::Types<CCupPosPack, CCupPosPackExt>;
TYPED_TEST_SUITE(PackInterface, PackTypes);

TYPED_TEST(PackInterface, NewObjectIsEmptyAndClearKeepsBuffers) {
    TypeParam pack;
    for (const FieldValue& v : pack.m_value) EXPECT_EQ(v.length, 0);
    for (std::uint8_t e : pack.m_fieldList) EXPECT_EQ(e, 0);
    EXPECT_EQ(pack.m_hasLengthPrefix, 1);
    EXPECT_TRUE(pack.Reserved1(1, 2, 3));
    EXPECT_EQ(pack.Reserved2(1, 2), 0);
    const auto* before = pack.m_value[2].data.data();
    const auto pan = Bytes("3136") + Filler(30);
    ASSERT_GT(pack.UnpackField(pan.data(), 2), 0);
    pack.Clear();
    for (const FieldValue& v : pack.m_value) EXPECT_EQ(v.length, 0);
    EXPECT_EQ(pack.m_value[2].data.data(), before);
}

TYPED_TEST(PackInterface, NullAndShortInputsFail) {
    TypeParam pack;
    const auto data = Filler(64, 0);
    EXPECT_EQ(pack.Unpack(nullptr, 64), -1);
    EXPECT_EQ(pack.Unpack(data.data(), 12), -1);
    EXPECT_EQ(pack.Unpack(data.data(), -5), -1);
    std::int32_t len = 0;
    EXPECT_EQ(pack.Pack(nullptr, &len), 0);
    std::vector<std::uint8_t> out(static_cast<std::size_t>(pack.MaxPackedSize()));
    EXPECT_EQ(pack.Pack(out.data(), nullptr), 0);
    EXPECT_EQ(pack.Pack(out.data(), &len), -1) << "an empty object has no body";
}

TEST(CupPosPack, ThirteenBytesDecodeTwelveFail) {
    CCupPosPack pack;
    pack.m_hasLengthPrefix = 0;
    const auto msg = Bytes("0200 0000000000000000 00 00 00");  // type, empty bitmap, 3 spare
    EXPECT_EQ(pack.Unpack(msg.data(), 12), -1);
    EXPECT_EQ(pack.Unpack(msg.data(), 13), 10);
    EXPECT_EQ(pack.m_hasTpdu, 0);
}

TEST(CupPosPack, TpduOnlyWhenBothStartWithSix) {
    const auto with = Bytes("6000070000 603100310000 0800 0000000000000000");
    CCupPosPack a;
    a.m_hasLengthPrefix = 0;
    EXPECT_EQ(a.Unpack(with.data(), static_cast<std::int32_t>(with.size())), 21);
    EXPECT_EQ(a.m_hasTpdu, 1);
    EXPECT_EQ(Hex(a.m_tpdu.data(), 5), "6000070000");
    EXPECT_EQ(Hex(a.m_header.data(), 6), "603100310000");

    const auto without = Bytes("0200 2000000000000000 000000 000000");  // field 3
    CCupPosPack b;
    b.m_hasLengthPrefix = 0;
    EXPECT_EQ(b.Unpack(without.data(), static_cast<std::int32_t>(without.size())), 13);
    EXPECT_EQ(b.m_hasTpdu, 0);
    EXPECT_EQ(b.m_value[3].length, 3);
}

TEST(CupPosPack, OffsetIsTestedBeforeEachFieldOnly) {
    // Field 41 starts inside the 13 bytes and runs past them: read whole, zeros after len.
    const auto msg = Bytes("0200 0000000000800000 3132 33");
    CCupPosPack pack;
    pack.m_hasLengthPrefix = 0;
    EXPECT_EQ(pack.Unpack(msg.data(), 13), 18);
    EXPECT_EQ(Hex(pack.m_value[41].data.data(), 8), "3132330000000000");
    // A further field due after the offset has passed len fails.
    const auto two = Bytes("0200 0000000000C00000 3132 33");  // fields 41 and 42
    CCupPosPack other;
    other.m_hasLengthPrefix = 0;
    EXPECT_EQ(other.Unpack(two.data(), 13), -1);
}

TEST(CupPosPack, BitOneTakesTheSecondaryBitmapAsTheFirstFieldData) {
    // Bit 1 and bit 3 set: the 8 secondary bitmap bytes are read as field 3 and beyond.
    const auto msg = Bytes("0200 A000000000000000 000000 0000000000");
    CCupPosPack pack;
    pack.m_hasLengthPrefix = 0;
    EXPECT_EQ(pack.Unpack(msg.data(), static_cast<std::int32_t>(msg.size())), 13);
    EXPECT_EQ(pack.m_value[3].length, 3);
}

TEST(CupPosPack, UndefinedFieldInTheBitmapFails) {
    const auto msg = Bytes("0200 0800000000000000 000000000000");  // field 5
    CCupPosPack pack;
    pack.m_hasLengthPrefix = 0;
    EXPECT_EQ(pack.Unpack(msg.data(), static_cast<std::int32_t>(msg.size())), -1);
}

TEST(CupPosPack, PackWritesLengthDefaultsBodyAndMacPlaceholder) {
    CCupPosPack pack;
    const auto type = Bytes("0200");
    ASSERT_EQ(pack.UnpackField(type.data(), 0), 2);
    pack.m_value[1].length = 8;
    const auto f3 = Bytes("310000");
    ASSERT_EQ(pack.UnpackField(f3.data(), 3), 3);
    const auto mac = Bytes("1122334455667788");
    ASSERT_EQ(pack.UnpackField(mac.data(), 64), 8);
    std::vector<std::uint8_t> out(static_cast<std::size_t>(pack.MaxPackedSize()), 0xEE);
    std::int32_t len = 0;
    ASSERT_EQ(pack.Pack(out.data(), &len), 34);
    EXPECT_EQ(len, 34);
    EXPECT_EQ(Hex(out.data(), 34),
              "0020"
              "6000070000"
              "602200000000"
              "0200"
              "2000000000000001"
              "310000"
              "0000000000000000");
}

TEST(CupPosPack, StoredTpduServesOnePackOnly) {
    const auto msg = Bytes("6000030000 603100310000 0200 2000000000000000 000000");
    CCupPosPack pack;
    pack.m_hasLengthPrefix = 0;
    ASSERT_GT(pack.Unpack(msg.data(), static_cast<std::int32_t>(msg.size())), 0);
    std::vector<std::uint8_t> out(static_cast<std::size_t>(pack.MaxPackedSize()));
    std::int32_t len = 0;
    ASSERT_EQ(pack.Pack(out.data(), &len), 26);
    EXPECT_EQ(Hex(out.data(), 13),
              "0018"
              "6000030000"
              "603100310000");
    ASSERT_EQ(pack.Pack(out.data(), &len), 26);
    EXPECT_EQ(Hex(out.data(), 13),
              "0018"
              "6000070000"
              "602200000000");
    EXPECT_EQ(pack.m_hasTpdu, 1) << "Clear and Pack leave m_hasTpdu alone";
}

TEST(CupPosPack, GoldenMessageRoundTrips) {
    const auto msg = Bytes(GoldenText("typical64.txt"));
    ASSERT_EQ(msg.size(), 105u);
    CCupPosPack pack;
    ASSERT_EQ(pack.Unpack(msg.data(), static_cast<std::int32_t>(msg.size())), 105);
    std::vector<std::uint8_t> out(static_cast<std::size_t>(pack.MaxPackedSize()));
    std::int32_t len = 0;
    ASSERT_EQ(pack.Pack(out.data(), &len), 105);
    // Everything but the MAC comes back; the MAC's place is left zero.
    EXPECT_EQ(Hex(out.data(), 97), Hex(msg.data(), 97));
    EXPECT_EQ(Hex(out.data() + 97, 8), "0000000000000000");
}

TEST(CupPosPackExt, ExampleMessageWithLengthPrefix) {
    const auto msg =
        Ascii("0023") + Ascii("0800") + Bytes("8000000000000000 0400000000000000") + Ascii("301");
    CCupPosPackExt pack;
    EXPECT_EQ(pack.Unpack(msg.data(), static_cast<std::int32_t>(msg.size())), 27);
    EXPECT_EQ(pack.m_hasHeader, 0);
    EXPECT_EQ(pack.m_value[70].length, 3);
    EXPECT_EQ(pack.m_fieldList[0], 1);
    EXPECT_EQ(pack.m_fieldList[1], 70);

    CCupPosPackExt noPrefix;
    noPrefix.m_hasLengthPrefix = 0;
    (void)noPrefix.Unpack(msg.data(), static_cast<std::int32_t>(msg.size()));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(noPrefix.m_value[0].data.data())), "0023");
}

TEST(CupPosPackExt, HeaderIsTakenWhenTheFirstByteIs2E) {
    const auto msg = Bytes(GoldenText("typical128.txt"));
    CCupPosPackExt pack;
    const auto n = pack.Unpack(msg.data(), static_cast<std::int32_t>(msg.size()));
    EXPECT_EQ(n, static_cast<std::int32_t>(msg.size()));
    EXPECT_EQ(pack.m_hasHeader, 1);
    EXPECT_EQ(pack.m_header.headerField1[0], 0x2E);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(pack.m_header.headerField5), 11),
              "66661234   ");
    pack.Clear();
    EXPECT_EQ(pack.m_hasHeader, 1);
    EXPECT_EQ(pack.m_header.headerField1[0], 0);
}

TEST(CupPosPackExt, GoldenMessageRoundTripsExactly) {
    const auto msg = Bytes(GoldenText("typical128.txt"));
    CCupPosPackExt pack;
    ASSERT_GT(pack.Unpack(msg.data(), static_cast<std::int32_t>(msg.size())), 0);
    std::vector<std::uint8_t> out(static_cast<std::size_t>(pack.MaxPackedSize()));
    std::int32_t len = 0;
    ASSERT_EQ(pack.Pack(out.data(), &len), static_cast<std::int32_t>(msg.size() - 4));
    // The golden header holds the values Pack writes, and its MAC is the 00000000 Pack writes.
    EXPECT_EQ(Hex(out.data(), msg.size() - 4), Hex(msg.data() + 4, msg.size() - 4));
}

TEST(CupPosPackExt, PackWithoutMacAndWithMac) {
    CCupPosPackExt pack;
    const auto type = Ascii("0200");
    const auto stan = Ascii("000123");
    ASSERT_EQ(pack.UnpackField(type.data(), 0), 4);
    pack.m_value[1].length = 16;
    ASSERT_EQ(pack.UnpackField(stan.data(), 11), 6);
    std::vector<std::uint8_t> out(static_cast<std::size_t>(pack.MaxPackedSize()));
    std::int32_t len = 0;
    ASSERT_EQ(pack.Pack(out.data(), &len), 46 + 4 + 16 + 6);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.data()) + 2, 4), "0072");
    EXPECT_EQ(Hex(out.data() + 50, 16), "80200000000000000000000000000000");

    const auto mac = Bytes("1122334455667788");
    ASSERT_EQ(pack.UnpackField(mac.data(), 128), 8);
    ASSERT_EQ(pack.Pack(out.data(), &len), 80);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.data()) + 72, 8), "00000000");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(pack.m_value[128].data.data()), 8),
              "00000000");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.data()) + 2, 4), "0080");
    EXPECT_EQ(Hex(out.data() + 50, 16), "80200000000000000000000000000001");

    // A MAC without any field for its input fails.
    CCupPosPackExt bare;
    const auto f52 = Bytes("0011223344556677");
    ASSERT_EQ(bare.UnpackField(f52.data(), 52), 8);
    ASSERT_EQ(bare.UnpackField(mac.data(), 128), 8);
    bare.m_value[1].length = 16;
    EXPECT_EQ(bare.Pack(out.data(), &len), -1);
}

TEST(CupPosPackExt, MacInputText) {
    CCupPosPackExt pack;
    std::uint8_t out[kMacInputScratch];
    std::memset(out, 0xEE, sizeof out);
    EXPECT_EQ(pack.BuildMacInput(out), 0);
    EXPECT_EQ(out[0], 0xEE) << "nothing written when no field qualifies";
    const auto type = Ascii("0200");
    const auto stan = Ascii("000123");
    ASSERT_EQ(pack.UnpackField(type.data(), 0), 4);
    ASSERT_EQ(pack.UnpackField(stan.data(), 11), 6);
    EXPECT_EQ(pack.BuildMacInput(out), 11);
    EXPECT_STREQ(reinterpret_cast<const char*>(out), "0200 000123");
}

TEST(CupPosPackExt, BitmapConversions) {
    CCupPosPackExt pack;
    std::uint8_t bitmap[16] = {};
    bitmap[0] = 0xC0;
    bitmap[15] = 0x01;
    std::uint8_t list[129];
    std::memset(list, 0xEE, sizeof list);
    ASSERT_EQ(pack.BitmapToFieldList(128, bitmap, list), 3);
    EXPECT_EQ(list[0], 1);
    EXPECT_EQ(list[1], 2);
    EXPECT_EQ(list[2], 128);
    EXPECT_EQ(list[3], 0);

    // Every single bit, and all bits, through the list and back.
    for (int bit = 1; bit <= 128; ++bit) {
        std::uint8_t one[16] = {};
        one[(bit - 1) / 8] = static_cast<std::uint8_t>(0x80 >> ((bit - 1) % 8));
        ASSERT_EQ(pack.BitmapToFieldList(128, one, list), 1);
        ASSERT_EQ(list[0], bit);
        std::uint8_t back[16];
        ASSERT_EQ(pack.FieldListToBitmap(list, back, 128), 0);
        ASSERT_EQ(Hex(back, 16), Hex(one, 16));
    }
    std::uint8_t full[16];
    std::memset(full, 0xFF, sizeof full);
    ASSERT_EQ(pack.BitmapToFieldList(128, full, list), 128);
    for (int i = 0; i < 128; ++i) ASSERT_EQ(list[i], i + 1);

    std::uint8_t out[16];
    std::memset(out, 0xEE, sizeof out);
    const std::uint8_t l128[] = {1, 2, 128, 0};
    ASSERT_EQ(pack.FieldListToBitmap(l128, out, 128), 0);
    EXPECT_EQ(Hex(out, 16), "C0000000000000000000000000000001");

    std::memset(out, 0xEE, sizeof out);
    const std::uint8_t l64[] = {1, 2, 64, 0};
    ASSERT_EQ(pack.FieldListToBitmap(l64, out, 64), 0);
    EXPECT_EQ(Hex(out, 9), "4000000000000001EE");

    // Numbers beyond the bit count are outside the bitmap: ignored, nothing written past it.
    std::memset(out, 0xEE, sizeof out);
    const std::uint8_t beyond[] = {2, 65, 128, 200, 0};
    ASSERT_EQ(pack.FieldListToBitmap(beyond, out, 64), 0);
    EXPECT_EQ(Hex(out, 9), "4000000000000000EE");

    std::memset(out, 0xEE, sizeof out);
    EXPECT_EQ(pack.FieldListToBitmap(l128, out, 96), -1);
    EXPECT_EQ(out[0], 0xEE);
}

TEST(CupPosPackExt, UndefinedFieldFailsWhenReached) {
    const auto msg = Ascii("0200") + Bytes("0800000000000000 0000000000000000") + Ascii("xxxxxx");
    CCupPosPackExt pack;
    pack.m_hasLengthPrefix = 0;
    EXPECT_EQ(pack.Unpack(msg.data(), static_cast<std::int32_t>(msg.size())), -1);
}

}  // namespace
