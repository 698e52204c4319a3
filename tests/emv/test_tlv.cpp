// BER-TLV decoding, the explanation of bit-mapped EMV values, and card numbers hidden in rows.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "emv/EmvTags.h"
#include "iso/ParseIso8583.h"
#include "emv/Tlv.h"
#include "tests/codec/HexText.h"

namespace {

// Each object as "tag/depth/length", joined by spaces; then "!offset reason" when decoding stopped.
std::string Decoded(std::string_view hex) {
    const std::vector<std::uint8_t> data = Bytes(hex);
    TlvList list;
    DecodeTlv(data, list);
    std::string out;
    for (const TlvObject& o : list.objects) {
        char tag[8];
        if (!out.empty()) out += ' ';
        out.append(TlvTagText(o, tag)).append("/").append(std::to_string(o.depth));
        out.append("/").append(std::to_string(o.length));
    }
    if (list.Failed()) {
        out.append(" !").append(std::to_string(list.error.offset)).append(" ");
        out.append(list.error.reason);
    }
    return out;
}

TEST(Tlv, DecodesEveryFormAndStopsAtEveryMalformation) {
    const std::string long81 =
        "9F1081"
        "81" +
        std::string(2 * 0x81, 'A');
    const std::string long82 =
        "DF3182"
        "0100" +
        std::string(2 * 0x100, 'B');
    struct Case {
        std::string name, hex, expected;
    } cases[] = {
        {"short lengths", "9F2701809A03251207", "9F27/0/1 9A/0/3"},
        {"empty value", "9F0300", "9F03/0/0"},
        {"long form 0x81", long81, "9F10/0/129"},
        {"long form 0x82", long82, "DF31/0/256"},
        {"3-byte tag", "9F81010112", "9F8101/0/1"},
        {"constructed, nested",
         "7008"
         "7106"
         "9F18020001"
         "95",
         "70/0/8 71/1/6 9F18/2/2 !9 length missing"},
        {"constructed closes", "71059F1802000182027C00", "71/0/5 9F18/1/2 82/0/2"},
        {"padding between and after", "00FF9A03251207FF00009C0100FF", "9A/0/3 9C/0/1"},
        {"tag cut short", "9A032512079F", "9A/0/3 !5 tag cut short"},
        {"3-byte tag cut short", "9F81", " !0 tag cut short"},
        {"tag longer than 3 bytes", "9F81818101", " !0 tag longer than 3 bytes"},
        {"length missing", "9F26", " !0 length missing"},
        {"long length bytes missing", "9F2681", " !0 length bytes missing"},
        {"two length bytes, one there", "5A8201", " !0 length bytes missing"},
        {"length form above 0x82", "5A830000010F", " !0 length form above 0x82"},
        {"indefinite length", "70805A00", " !0 indefinite length not allowed"},
        {"length past the end", "9C01009F0206000000", "9C/0/1 !3 length past the end"},
        {"0x82 FFFF past the end", "9F1082FFFF00", " !0 length past the end"},
        {"child past its parent", "70035A0501020304059C0100", "70/0/3 !2 length past the end"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Decoded(c.hex), c.expected);
    }
}

TEST(Tlv, DeepNestingStaysFlatAndBounded) {
    // 1,000 constructed levels, each length what follows it (0x82 form above 127): the first
    // levels are opened, the rest stays one value.
    std::vector<std::uint8_t> inner;
    for (int i = 0; i < 1000; ++i) {
        std::vector<std::uint8_t> outer{0xE1};
        const std::size_t n = inner.size();
        if (n < 0x80) {
            outer.push_back(static_cast<std::uint8_t>(n));
        } else {
            outer.insert(outer.end(),
                         {0x82, static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)});
        }
        outer.insert(outer.end(), inner.begin(), inner.end());
        inner = std::move(outer);
    }
    TlvList list;
    DecodeTlv(inner, list);
    EXPECT_FALSE(list.Failed());
    ASSERT_EQ(list.objects.size(), kTlvMaxDepth + 1u);
    EXPECT_EQ(list.objects.back().depth, kTlvMaxDepth);
    EXPECT_FALSE(list.objects.back().opened);
    EXPECT_EQ(list.objects.front().next, list.objects.size());
}

std::string Explained(std::uint32_t tag, std::string_view hex, int currency = -1) {
    const EmvTag* t = FindEmvTag(tag);
    if (t == nullptr) return "not in the dictionary";
    std::string out;
    AppendTlvExplanation(out, *t, Bytes(hex), {currency, false});
    return out;
}

TEST(EmvTags, ExplainsBitsAndValues) {
    struct Case {
        std::uint32_t tag;
        std::string hex;
        int currency;
        std::string expected;
    } cases[] = {
        {0x95, "0000000000", -1, "no bit set"},
        {0x95, "8000048080", -1,
         "Offline data authentication was not performed; Online PIN entered; "
         "Transaction exceeds floor limit; Default TDOL used"},
        {0x95, "4000", -1, "SDA failed"},  // shorter than 5 bytes: only what is there
        {0x82, "5800", -1,
         "SDA supported; Cardholder verification is supported; Terminal risk management is to be "
         "performed"},
        {0x82, "3D00", -1,
         "DDA supported; Cardholder verification is supported; Terminal risk management is to be "
         "performed; Issuer authentication is supported; CDA supported"},
        {0x9F33, "E0F8C8", -1,
         "Manual key entry; Magnetic stripe; IC with contacts; Plaintext PIN for ICC verification; "
         "Enciphered PIN for online verification; Signature (paper); Enciphered PIN for offline "
         "verification; No CVM required; SDA; DDA; CDA"},
        {0x9F33, "2000", -1, "IC with contacts"},
        {0x9F02, "000000012345", 156, "123.45 CNY"},
        {0x9F02, "000000012345", 392, "12345 JPY"},
        {0x9F02, "00000001234A", 156, "00000001234A"},
        {0x9A, "991231", -1, "1999-12-31"},
        {0x9F27, "40", -1, "TC"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.hex);
        EXPECT_EQ(Explained(c.tag, c.hex, c.currency), c.expected);
    }
}

std::vector<std::string> RowValues(std::string_view text, int type) {
    CommandResult r;
    ParseIso8583Text(text, type, ParseOptions{true, true}, r);
    std::vector<std::string> out;
    for (const FieldRow& row : r.rows) {
        out.push_back(std::string(row.Name()) + "|" + std::string(row.Value()));
    }
    return out;
}

bool Has(const std::vector<std::string>& rows, const std::string& row) {
    return std::find(rows.begin(), rows.end(), row) != rows.end();
}

TEST(CardMask, HidesTheMiddleDigitsOfEveryCardNumber) {
    // 64 fields: PAN and track 2 as BCD; field 55 holds 5A (F-padded, 15 digits) and 57.
    const std::string msg64 =
        "004460000300006031003100000200600000002000020015622588012345678F000000286225880123456789"
        "D2812201000000185A08622588012345678F570662258801234D";
    const auto rows64 = RowValues(msg64, 0);
    EXPECT_TRUE(Has(rows64, "Bit 2|15622588*****5678F"));
    EXPECT_TRUE(Has(rows64, "Bit 35|28622588******6789D28122010000"));
    const std::string pan = "\xD3\xA6\xD3\xC3\xD6\xF7\xD5\xCB\xBA\xC5";  // 应用主账号
    const std::string track2 = "\xB6\xFE\xB4\xC5\xB5\xC0\xB5\xC8\xD0\xA7\xCA\xFD\xBE\xDD";
    EXPECT_TRUE(Has(rows64, "  5A|622588*****5678F -> " + pan + ": 622588*****5678"));
    // 57 holds 11 digits before its separator: 1 hidden.
    EXPECT_TRUE(Has(rows64, "  57|622588*1234D -> " + track2 + ": 622588*1234="));
    // The field's own row: the same digits hidden in its hex and in its text part.
    for (const std::string& row : rows64) {
        if (row.starts_with("Bit 55|")) {
            EXPECT_EQ(row.substr(7, 40), "00185A08622588*****5678F5706622588*1234D");
        }
    }

    // 128 fields, no header: PAN as ASCII digits, shown as hex and as text.
    const auto rows128 = RowValues(
        "30323030"
        "40000000000000000000000000000000"
        "3136"
        "36323235383830313233343536373839",
        2);
    ASSERT_FALSE(rows128.empty());
    EXPECT_EQ(rows128.back(), "Bit 2|3136363232353838************36373839 -> 16622588******6789");
}

}  // namespace

namespace {

TEST(TlvRows, TablesFromFilesDecodeTheirMarkedFieldsBuiltInOnesOnRequest) {
    const std::string msg =
        "002960000300006031003100000200000000000000020000185A08622588012345678F570662258801234D";
    const FieldTable& builtin = BuiltinTable(BuiltinForm::kUnionPay64);
    FieldTable fromFile = builtin;  // the same form, as a loaded table would give it
    fromFile.tlvRowsByDefault = true;
    const auto count = [](const CommandResult& r) {
        return std::pair{r.rows.size(), r.tlv.size()};
    };
    CommandResult r;
    ParseIso8583WithTable(msg, builtin, r);
    EXPECT_EQ(count(r), std::pair(std::size_t{5}, std::size_t{0}));
    ParseIso8583WithTable(msg, fromFile, r);
    EXPECT_EQ(count(r), std::pair(std::size_t{7}, std::size_t{2}));
    ParseIso8583WithTable(msg, builtin, ParseOptions{true, true}, r);
    CommandResult faces;
    ParseIso8583Text(msg, kInterfaceAuto, ParseOptions{true, true}, faces);
    ASSERT_EQ(count(r), count(faces));
    for (std::size_t i = 0; i < r.rows.size(); ++i)
        EXPECT_EQ(r.rows[i].Value(), faces.rows[i].Value());
    EXPECT_EQ(r.rows[5].Value().substr(0, 16), "622588*****5678F");
}

}  // namespace
