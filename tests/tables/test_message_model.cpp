// The message model: one field encoder against the unpacking of every field of every table, the
// engine's refusals of damaged messages, and tables used side by side.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "codec/Conversions.h"
#include "codec/Message.h"
#include "codec/TextDecode.h"
#include "iso/BuildIso8583.h"
#include "iso/ParseIso8583.h"
#include "tables/TableFile.h"
#include "tests/common/ShippedTables.h"

namespace {


std::string Sample(const char* file) {
    std::ifstream in(std::string(TARNWICK_TEST_DATA) + "/iso8583/" + file);
    std::stringstream s;
    s << in.rdbuf();
    std::string text = s.str();
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

// Every field of every table: random data encoded by EncodeFieldValue is what unpacking the
// field takes back, whole, with the same data.
TEST(MessageModel, EncodeFieldValueIsTheInverseOfUnpacking) {
    std::vector<FieldTable> tables = {BuiltinTable(BuiltinForm::kUnionPay64),
                                      BuiltinTable(BuiltinForm::kUnionPay128),
                                      BuiltinTable(BuiltinForm::kTrade)};
    for (const ShippedTable& s : ShippedTables()) tables.push_back(Shipped(s.name));
    std::mt19937 rng(8583);
    int checked = 0;
    for (const FieldTable& t : tables) {
        for (std::size_t f = 2; f < t.fields.size(); ++f) {
            const FieldDef& d = t.fields[f];
            if (!d.Defined()) continue;
            SCOPED_TRACE(t.name + " field " + std::to_string(f));
            for (int round = 0; round < 4; ++round) {
                const std::int32_t units =
                    d.fixed ? d.maxLen : static_cast<std::int32_t>(rng() % (d.maxLen + 1));
                std::vector<std::uint8_t> data(d.enc == DataEnc::Bcd ? (units + 1) / 2 : units);
                for (auto& b : data) b = static_cast<std::uint8_t>(rng());
                std::vector<std::uint8_t> stored;
                ASSERT_TRUE(EncodeFieldValue(d, static_cast<std::int32_t>(f), data, units, stored).ok);
                FieldValue v;
                FieldBufferArena arena;
                std::int32_t stated = -1;
                bool digits = true;
                const std::int32_t took = UnpackFieldValue(AttrOf(d), v, arena, stored.data(),
                                                           stored.size(), &stated, &digits);
                ASSERT_EQ(took, static_cast<std::int32_t>(stored.size()));
                EXPECT_TRUE(digits);
                if (!d.fixed) {
                    EXPECT_EQ(stated, units);
                }
                EXPECT_TRUE(std::equal(data.begin(), data.end(),
                                       stored.end() - static_cast<std::ptrdiff_t>(data.size())));
                ++checked;
            }
            // One unit too many is refused, naming the field.
            std::vector<std::uint8_t> tooLong(
                static_cast<std::size_t>(d.enc == DataEnc::Bcd ? (d.maxLen + 1) / 2 + 1 : d.maxLen + 1));
            std::vector<std::uint8_t> out;
            const EncodeStatus st =
                EncodeFieldValue(d, static_cast<std::int32_t>(f), tooLong, -1, out);
            EXPECT_FALSE(st.ok);
            EXPECT_NE(st.reason.find("field " + std::to_string(f)), std::string::npos);
        }
    }
    EXPECT_GT(checked, 1000);
}

// Damaged messages: the built-in forms read them on with a warning, a table refuses them where
// it happens.
TEST(MessageModel, DamageIsRefusedWhereItHappens) {
    const std::string typical = Sample("typical64.txt");
    FieldTable mandatory = Shipped("unionpay-pos64");
    mandatory.frame[0].presence = Presence::Always;
    const FieldTable pos64 = Shipped("unionpay-pos64");
    const FieldTable t128 = Shipped("unionpay-128");
    const FieldTable ascii = Shipped("iso8583-1987-ascii");
    std::string bcdPrefix = typical;
    bcdPrefix.replace(46, 2, "1A");  // field 2's prefix
    struct Case {
        const char* name;
        const FieldTable* table;  // null: the automatic mode
        std::string text;
        bool ok;
        std::int32_t field;
        std::string says;  // in the failure's reason, or in a warning
    };
    const Case cases[] = {
        {"BCD prefix, built-in", nullptr, bcdPrefix, true, -1, "length prefix 1A is not a decimal"},
        {"BCD prefix, table", &pos64, bcdPrefix, false, 2, "length prefix 1A is not a decimal"},
        {"mandatory length", &mandatory, "0099" + typical.substr(4), false, -1,
         "length 0x0099 states 153 bytes, 103 follow"},
        {"cut inside the header", &t128, "30303230" "2E81" + std::string(36, '3'), false, -1,
         "ends inside its \"Header\""},
        {"bitmap not hex", &ascii, "30323030" "3247303030303030" "3030303030303030", false, 1,
         "'G'"},
        {"trailing bytes", &pos64, typical + "DEADBEEF", true, -1, "4 bytes after them"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CommandResult r;
        if (c.table == nullptr) {
            ParseIso8583Text(c.text, kInterfaceAuto, r);
        } else {
            ParseIso8583WithTable(c.text, *c.table, r);
        }
        ASSERT_EQ(r.Ok(), c.ok) << r.failure.reason;
        std::string said = r.failure.reason;
        for (const std::string& w : r.warnings) said += "\n" + w;
        EXPECT_NE(said.find(c.says), std::string::npos) << said;
        if (!c.ok) {
            EXPECT_EQ(r.failure.field, c.field);
        }
    }
}

// Two tables in one process, on several threads at once: each text decodes with its own table.
TEST(MessageModel, TablesSideBySideKeepTheirOwnResults) {
    const FieldTable pos64 = Shipped("unionpay-pos64");
    const FieldTable t128 = Shipped("unionpay-128");
    const std::string m64 = Sample("typical64.txt");
    const std::string m128 = Sample("typical128.txt");
    CommandResult want64, want128;
    ParseIso8583WithTable(m64, pos64, want64);
    ParseIso8583WithTable(m128, t128, want128);
    ASSERT_TRUE(want64.Ok() && want128.Ok());
    std::vector<std::thread> threads;
    std::vector<int> wrong(2, 0);
    for (int k = 0; k < 2; ++k) {
        threads.emplace_back([&, k] {
            CommandResult r;
            for (int i = 0; i < 200; ++i) {
                const bool first = (i + k) % 2 == 0;
                ParseIso8583WithTable(first ? m64 : m128, first ? pos64 : t128, r);
                const CommandResult& want = first ? want64 : want128;
                if (r.rows.size() != want.rows.size() || r.rows[3].Value() != want.rows[3].Value()) {
                    ++wrong[static_cast<std::size_t>(k)];
                }
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(wrong, std::vector<int>(2, 0));
}

// A message parsed to rows builds back to its own bytes through the message model, with field
// 55's tags expanded into sub-rows and with a UTF-8 table's text that is not UTF-8.
TEST(MessageModel, RowsBuildBackToTheirBytes) {
    const FieldTable pos64 = Shipped("unionpay-pos64");
    const FieldTable ascii = Shipped("iso8583-1987-ascii");
    const std::string chip =
        "002960000300006031003100000200000000000000020000185A08622588012345678F570662258801234D";
    struct Case {
        const FieldTable* table;
        std::string text;
    };
    const Case cases[] = {{&pos64, Sample("typical64.txt")}, {&pos64, chip},
                          {&ascii, "30313030" "34303030303030303030303030303030" "3038"
                                   "414243FFB0B1B2B3"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        CommandResult parsed;
        ParseIso8583WithTable(c.text, *c.table, ParseOptions{true, false}, parsed);
        ASSERT_TRUE(parsed.Ok()) << parsed.detail;
        const CommandResult built = BuildIso8583WithTable(parsed.rows, *c.table, parsed.rowEncoding);
        ASSERT_TRUE(built.Ok()) << built.detail;
        std::string want = c.text;
        for (char& ch : want) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        EXPECT_EQ(built.message, want);
    }
}

// A decoder reused line after line: nothing of one line's rows reaches the next (a reused row's
// title among them), and a GBK table's own names read as the file wrote them.
TEST(MessageModel, ReusedDecoderKeepsNothingBetweenTexts) {
    const FieldTable pos64 = Shipped("unionpay-pos64");
    TableDecoder decoder(pos64);
    CommandResult r;
    decoder.Parse("000D" "0200" "2000000000000000" "000000", r);  // no TPDU: row 0 is the type
    ASSERT_TRUE(r.Ok()) << r.detail;
    ASSERT_FALSE(r.rows[0].title.empty());
    decoder.Parse(Sample("typical64.txt"), r);
    ASSERT_TRUE(r.Ok());
    EXPECT_EQ(r.rows[0].Name(), "TPDU");
    EXPECT_TRUE(r.rows[0].title.empty());

    const TableLoad gbk = LoadJsonTable(R"({"name":"g","charset":"GBK","bitmap":{"bits":64},
        "frame":[{"part":"tpdu","name":"TPDU头","bytes":5,"detect":[{"at":0,"mask":"F0","equals":"60"}]}],
        "fields":{"0":{"length":4,"prefix":"Fixed","enc":"BCD"},"3":{"length":6,"prefix":"Fixed","enc":"BCD"}}})");
    ASSERT_TRUE(gbk.Ok());
    ParseIso8583WithTable("600001000002002000000000000000123456", *gbk.table, r);
    ASSERT_TRUE(r.Ok()) << r.detail;
    EXPECT_EQ(ToUtf8(r.rows[0].Name(), TextEncoding::Gbk), "TPDU头");
}

}  // namespace
