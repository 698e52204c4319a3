// BER-TLV decoding, the explanation of bit-mapped EMV values, and card numbers hidden in rows.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "codec/Conversions.h"
#include "emv/DecodeTlvText.h"
#include "emv/EmvTags.h"
#include "emv/Tlv.h"
#include "iso/ParseIso8583.h"
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

// Constructed E1 objects nested levels deep around inner, each length what follows it (0x82 form
// above 127).
std::vector<std::uint8_t> Nested(int levels, std::vector<std::uint8_t> inner) {
    for (int i = 0; i < levels; ++i) {
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
    return inner;
}

TEST(Tlv, DeepNestingIsCappedAndReported) {
    // 1,000 levels: decoded down to the cap, then one reason, at the first object below it.
    TlvList list;
    DecodeTlv(Nested(1000, {}), list);
    ASSERT_EQ(list.objects.size(), kTlvMaxDepth + 1u);
    EXPECT_EQ(list.objects.back().depth, kTlvMaxDepth);
    EXPECT_EQ(list.error.reason, "nesting deeper than 32 levels");
    EXPECT_EQ(list.error.offset, list.objects.back().valueOffset);
    EXPECT_EQ(list.objects.front().next, list.objects.size());

    // 12 levels with a broken object inside: the rows stop at the shown depth and say so, and the
    // fault below it is still reported.
    const std::vector<std::uint8_t> data = Nested(12, Bytes("9A03251207 9F02"));
    DecodeTlv(data, list);
    FieldRowList rows;
    std::vector<TlvRowNote> notes;
    AppendTlvRows(rows, notes, kNoFieldRow, data, list, 0, false);
    ASSERT_EQ(rows.size(), kTlvShownDepth + 2u);
    EXPECT_TRUE(rows[kTlvShownDepth].Value().ends_with(": nesting deeper than 8 not expanded"));
    EXPECT_EQ(rows.back().Value(), "offset 29: length missing");
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
        {0x9A, "240229", -1, "2024-02-29"},
        // Dates and times that do not exist are said to be invalid, not given a calendar meaning.
        {0x9A, "251340", -1, "251340 (invalid date)"},
        {0x9A, "250229", -1, "250229 (invalid date)"},
        {0x5F24, "250400", -1, "250400 (invalid date)"},
        {0x9A, "2512", -1, "2512 (invalid date)"},
        {0x9F21, "235959", -1, "23:59:59"},
        {0x9F21, "246000", -1, "246000 (invalid time)"},
        {0x9F27, "40", -1, "TC"},
        {0x9F35, "22", -1, "22 attended, offline with online capability, operated by merchant"},
        {0x9F35, "14", -1, "14 unattended, online only, operated by financial institution"},
        {0x9F35, "31", -1, "31 (not a terminal type)"},
        {0x9F6C, "8080", -1, "Online PIN required; Consumer device CVM performed"},
        {0x9F66, "22000000", -1, "EMV mode supported; Signature supported"},
        {0x9F6E, "20700000", -1, "version 1; standard card"},
        {0x81, "00003039", 156, "123.45 CNY"},
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

TEST(EmvTags, DictionaryHoldsTheDataElementsFieldFiftyFiveCarries) {
    // Books 1 to 3 (card and terminal data) and the public contactless tags.
    constexpr std::uint32_t kTags[] = {
        0x42,   0x4F,   0x50,   0x56,   0x57,   0x5A,   0x61,   0x6F,   0x70,   0x71,   0x72,
        0x73,   0x77,   0x80,   0x81,   0x82,   0x83,   0x84,   0x86,   0x87,   0x88,   0x89,
        0x8A,   0x8C,   0x8D,   0x8E,   0x8F,   0x90,   0x91,   0x92,   0x93,   0x94,   0x95,
        0x97,   0x98,   0x99,   0x9A,   0x9B,   0x9C,   0x9D,   0xA5,   0x5F20, 0x5F24, 0x5F25,
        0x5F28, 0x5F2A, 0x5F2D, 0x5F30, 0x5F34, 0x5F36, 0x5F50, 0x5F53, 0x5F54, 0x5F55, 0x5F56,
        0x9F01, 0x9F02, 0x9F03, 0x9F04, 0x9F05, 0x9F06, 0x9F07, 0x9F08, 0x9F09, 0x9F0B, 0x9F0D,
        0x9F0E, 0x9F0F, 0x9F10, 0x9F11, 0x9F12, 0x9F13, 0x9F14, 0x9F15, 0x9F16, 0x9F17, 0x9F18,
        0x9F1A, 0x9F1B, 0x9F1C, 0x9F1D, 0x9F1E, 0x9F1F, 0x9F20, 0x9F21, 0x9F22, 0x9F23, 0x9F26,
        0x9F27, 0x9F2D, 0x9F2E, 0x9F2F, 0x9F32, 0x9F33, 0x9F34, 0x9F35, 0x9F36, 0x9F37, 0x9F38,
        0x9F39, 0x9F3A, 0x9F3B, 0x9F3C, 0x9F3D, 0x9F40, 0x9F41, 0x9F42, 0x9F43, 0x9F44, 0x9F45,
        0x9F46, 0x9F47, 0x9F48, 0x9F49, 0x9F4A, 0x9F4B, 0x9F4C, 0x9F4D, 0x9F4E, 0x9F4F, 0x9F66,
        0x9F6B, 0x9F6C, 0x9F6E, 0xBF0C,
    };
    for (const std::uint32_t tag : kTags) {
        SCOPED_TRACE(tag);
        const EmvTag* t = FindEmvTag(tag);
        ASSERT_NE(t, nullptr);
        EXPECT_FALSE(t->chinese.empty());
    }
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

// True when some row shows the middle digits of card number 4761739001010010 ("900101"), as
// digits, as packed hex or as the hex of its characters.
bool ShowsMiddleDigits(const FieldRowList& rows) {
    for (const FieldRow& row : rows) {
        const std::string_view v = row.Value();
        if (v.find("900101") != v.npos || v.find("393030313031") != v.npos) return true;
    }
    return false;
}

TEST(CardMask, NoRowOfChipCardDataShowsTheMiddleDigits) {
    const std::string track1 = "56 16 42 34373631373339303031303130303130 5E 41 5E 3235";
    const std::string cases[] = {
        "700A5A084761739001010010",                // a template's row
        "770B57094761739001010010D2",              // track 2 equivalent data
        "E10F 700D 9F6B0A4761739001010010D251",    // track 2 data, two levels
        "7018" + track1,                           // track 1 data (characters)
        "700D 5A084761739001010010 9F",            // stops after the number
        "700A 5A09 4761739001010010",              // child past its template
        "7010 9F0403000000 5A094761739001010010",  // stops before it decodes
    };
    for (const std::string& hex : cases) {
        SCOPED_TRACE(hex);
        CommandResult r;
        DecodeTlvText(hex, false, r);
        EXPECT_TRUE(ShowsMiddleDigits(r.rows) || r.rows.size() <= 1);
        DecodeTlvText(hex, true, r);
        ASSERT_TRUE(r.Ok());
        EXPECT_FALSE(ShowsMiddleDigits(r.rows));
    }
    // Below the shown depth: the rows stop, the number stays hidden in every template's row.
    std::string deep;
    for (const std::uint8_t b : Nested(12, Bytes("5A084761739001010010"))) {
        char h[3];
        BytesToHex(&b, 1, h);
        deep.append(h, 2);
    }
    CommandResult r;
    DecodeTlvText(deep, true, r);
    EXPECT_EQ(r.rows.size(), kTlvShownDepth + 1u);
    EXPECT_FALSE(ShowsMiddleDigits(r.rows));
}

TEST(CardMask, FieldFiftyFiveIsMaskedWhateverTheTableSays) {
    // Field 55 holds a template with the card number, then a tail that does not decode.
    const std::string head =
        "6000030000"
        "603100310000"
        "0200"
        "0000000000000200";
    const std::string msg = "002F" + head +
                            "0024"
                            "700A5A084761739001010010"
                            "9F2608A1B2C3D4E5F60718"
                            "9F";
    FieldTable unmarked = BuiltinTable(BuiltinForm::kUnionPay64);
    unmarked.fields[55].tlv = false;
    for (const bool tlv : {false, true}) {
        SCOPED_TRACE(tlv);
        CommandResult r;
        ParseIso8583WithTable(msg, unmarked, ParseOptions{tlv, true}, r);
        ASSERT_TRUE(r.Ok());
        EXPECT_TRUE(r.tlv.empty());  // no sub-rows for a field the table does not mark
        EXPECT_FALSE(ShowsMiddleDigits(r.rows));
    }
    // Data that is no TLV at all is hidden whole.
    const std::string notTlv = "001F" + head +
                               "0008"
                               "4761739001010010";
    CommandResult r;
    ParseIso8583WithTable(notTlv, unmarked, ParseOptions{false, true}, r);
    ASSERT_TRUE(r.Ok());
    EXPECT_FALSE(ShowsMiddleDigits(r.rows));
}

TEST(CardMask, OddDigitCountsNeverCountThePadNibble) {
    // 19 digits in packed field 2: the pad nibble on the right (the form's own), or on the left.
    const struct {
        std::string length, field2, expected;
    } cases[] = {
        {"0020", "1962170012345678901230", "Bit 2|19621700*********01230"},
        {"0020", "1906217001234567890123", "Bit 2|190621700*********0123"},
        {"001E", "15622588012345678F", "Bit 2|15622588*****5678F"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.field2);
        const auto rows = RowValues(c.length +
                                        "6000030000"
                                        "603100310000"
                                        "0200"
                                        "4000000000000000" +
                                        c.field2,
                                    0);
        EXPECT_TRUE(Has(rows, c.expected)) << ::testing::PrintToString(rows);
    }
}

TEST(DecodeTlvText, RefusesCharactersThatAreNotHex) {
    const struct {
        std::string text, detail;
    } cases[] = {
        {"9F2701ZZ", "character 'Z' at position 7 is not a hex digit"},
        {"9F 27\t01 8g", "character 'g' at position 11 is not a hex digit"},
        {std::string("9F27\x01") + "80", "character byte 0x01 at position 5 is not a hex digit"},
        {"9F 27\t01\r\n80", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        CommandResult r;
        DecodeTlvText(c.text, false, r);
        EXPECT_EQ(r.Ok(), c.detail.empty());
        if (!c.detail.empty()) {
            EXPECT_EQ(r.error, kTextTlvNotHex);
        }
        EXPECT_EQ(r.detail, c.detail);
    }
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
