// Tests of building a message from rows: both built-in forms, the value rules, every refusal, and
// the round trip over the golden messages.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "iso/BuildIso8583.h"
#include "iso/ParseIso8583.h"
#include "codec/Texts.h"
#include "tests/codec/HexText.h"

namespace {

using Rows = std::vector<std::pair<std::string, std::string>>;  // name, value (UTF-8)

FieldRowList Make(const Rows& rows) {
    FieldRowList list;
    for (const auto& [name, value] : rows) {
        FieldRow& r = list.emplace_back();
        SetRowText(r.name, name);
        SetRowText(r.value, value);
    }
    return list;
}

TEST(BuildIso8583, RowsToBytes) {
    struct Case {
        const char* name;
        int mode;
        Rows rows;
        std::string hex;
    };
    // clang-format off
    const Case cases[] = {
        {"64: bitmap recomputed", 1, {{"Type", "0200"}, {"Bit 1", "FFFFFFFFFFFFFFFF"}, {"Bit 3", "000000"}},
         "0200" "2000000000000000" "000000"},
        {"64 auto: length, TPDU, header, prefix kept, MAC as given", 0,
         {{"TPDU", "6000030000"}, {"Header", "603100310000"}, {"Type", "0200"},
          {"Bit 2", "166225880123456789"}, {"Bit 64", "0102030405060708"}},
         "0026" "6000030000" "603100310000" "0200" "4000000000000001" "166225880123456789"
         "0102030405060708"},
        {"64: prefix computed", 1, {{"Type", "0200"}, {"Bit 2", "6225880123456789"}},
         "0200" "4000000000000000" "166225880123456789"},
        {"64: odd BCD digits padded", 1, {{"Type", "0200"}, {"Bit 2", "622588012345678"}},
         "0200" "4000000000000000" "156225880123456780"},
        {"64: changed text wins", 1, {{"Type", "0200"}, {"Bit 41", "3132333435363738 -> ABCDEFGH"}},
         "0200" "0000000000800000" "4142434445464748"},
        {"64: matching text keeps the hex", 1, {{"Type", "0200"}, {"Bit 41", "3132333435363738 -> 12345678"}},
         "0200" "0000000000800000" "3132333435363738"},
        {"64: text in code page 936, prefix recomputed", 1, {{"Type", "0200"}, {"Bit 63", "00023132 -> 中文"}},
         "0200" "0000000000000002" "0004D6D0CEC4"},
        {"64: rows in any order, blank rows passed over", 1,
         {{"Bit 44", "4142"}, {"", ""}, {"Type", "0200"}}, "0200" "0000000000100000" "024142"},
        {"128: secondary bitmap always", 2, {{"MsgType", "30383030 -> 0800"}, {"Bit 70", "333031 -> 301"}},
         "30383030" "80000000000000000400000000000000" "333031"},
        {"128 auto: 4-digit length", 0, {{"MsgType", "30383030 -> 0800"}, {"Bit 70", "333031 -> 301"}},
         "30303233" "30383030" "80000000000000000400000000000000" "333031"},
        {"128: changed text with its length digits gone", 2,
         {{"MsgType", "30323030"}, {"Bit 2", "3033313233 -> 12345"}},
         "30323030" "C0000000000000000000000000000000" "30353132333435"},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const CommandResult r = BuildIso8583FromRows(Make(c.rows), c.mode);
        ASSERT_TRUE(r.Ok()) << r.detail;
        EXPECT_EQ(r.message, c.hex);
        EXPECT_FALSE(r.rows.empty());  // decoded again
    }
}

TEST(BuildIso8583, RowsThatCannotBePacked) {
    struct Case {
        int mode;
        Rows rows;
        std::string detail;
    };
    const Rows type = {{"Type", "0200"}};
    auto with = [&](Rows extra) {
        Rows r = type;
        r.insert(r.end(), extra.begin(), extra.end());
        return r;
    };
    // clang-format off
    const Case cases[] = {
        {1, with({{"Bitt 3", "000000"}}), "row 2 \"Bitt 3\": no such row in this message form"},
        {1, with({{"Bit 5", "00"}}), "row 2 \"Bit 5\": field 5 is not defined by the table"},
        {1, with({{"Bit 65", "00"}}), "row 2 \"Bit 65\": field 65 is not defined by the table"},
        {1, with({{"Bit 3", "00000000"}}), "row 2 \"Bit 3\": value of 4 bytes, the field takes 3"},
        {1, with({{"Bit 2", std::string(20, '1')}}),
         "row 2 \"Bit 2\": value of length 20 exceeds the field's 19"},
        {1, with({{"Bit 52", "123"}}), "row 2 \"Bit 52\": odd number of hex digits (3)"},
        {1, with({{"Bit 3", "00000G"}}),
         "row 2 \"Bit 3\": the hex part holds a character that is not a hex digit"},
        {1, with({{"Bit 3", "000000"}, {"Bit 3", "000001"}}), "row 3 \"Bit 3\": given twice"},
        {1, {{"Bit 3", "000000"}}, "no message type row (\"Type\")"},
        {1, type, "the built message of 10 bytes does not decode: message of 10 bytes is shorter "
                  "than 13 bytes"},
        {0, with({{"TPDU", "6000030000"}}),
         "\"TPDU\" and \"Header\" come together: the rows give only one of them"},
        {0, with({{"TPDU", "5000030000"}, {"Header", "603100310000"}}),
         "\"TPDU\" would not be recognised when the message is read"},
        {2, {{"MsgType", "30323030"}, {"field 1", "2E"}}, "header row \"field 2\" is missing"},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.detail);
        const CommandResult r = BuildIso8583FromRows(Make(c.rows), c.mode);
        EXPECT_EQ(r.error, kTextIsoBuildError);
        EXPECT_EQ(r.detail, c.detail);
        EXPECT_TRUE(r.message.empty());
    }
}

TEST(BuildIso8583, GoldenMessagesRoundTrip) {
    const std::pair<const char*, int> cases[] = {
        {"typical64.txt", kInterfaceAuto},
        {"typical128.txt", kInterfaceAuto},
        {"typical64_nolength.txt", kInterface64},
        {"../cli/gbk64_nolength.txt", kInterface64},
    };
    for (const auto& [file, mode] : cases) {
        SCOPED_TRACE(file);
        const std::string text = GoldenText(file);
        const CommandResult parsed = ParseIso8583Text(text, mode);
        ASSERT_TRUE(parsed.Ok());
        const CommandResult built = BuildIso8583FromRows(parsed.rows, mode, parsed.rowEncoding);
        ASSERT_TRUE(built.Ok()) << built.detail;
        EXPECT_EQ(built.message, text);
        EXPECT_EQ(built.rows.size(), parsed.rows.size());
    }
    // The same through the table values of the two forms, each message with its length.
    const std::pair<const char*, BuiltinForm> forms[] = {
        {"typical64.txt", BuiltinForm::kUnionPay64}, {"typical128.txt", BuiltinForm::kUnionPay128}};
    for (const auto& [file, form] : forms) {
        SCOPED_TRACE(file);
        const std::string text = GoldenText(file);
        const CommandResult parsed = ParseIso8583WithTable(text, BuiltinTable(form));
        const CommandResult built =
            BuildIso8583WithTable(parsed.rows, BuiltinTable(form), parsed.rowEncoding);
        ASSERT_TRUE(built.Ok()) << built.detail;
        EXPECT_EQ(built.message, text);
    }
}

}  // namespace
