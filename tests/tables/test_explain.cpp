// Meanings, positional sub-rows, the summary row and the over-length rules of JSON tables.
#include <gtest/gtest.h>

#include <string>

#include "codec/TextDecode.h"
#include "codec/Conversions.h"
#include "iso/BuildIso8583.h"
#include "iso/ParseIso8583.h"
#include "tables/TableFile.h"

namespace {

// A UTF-8 table: binary bitmap, BCD type, ASCII fields, so that row texts read as written.
// fields: the members after field 0 and the closing brace of "fields".
std::string TableText(const std::string& top, const std::string& fields) {
    return R"({"name": "t", "charset": "UTF-8", "bitmap": {"bits": 64, "enc": "Binary"},)" + top +
           R"("fields": {"0": {"length": 4, "enc": "BCD"},)" + fields + "}";
}

FieldTable Load(const std::string& text) {
    TableLoad load = LoadJsonTable(text);
    EXPECT_TRUE(load.problems.empty()) << (load.problems.empty() ? "" : load.problems.front());
    return load.Ok() ? *load.table : FieldTable{};
}

std::string Lines(const CommandResult& r) {
    std::string s;
    for (const FieldRow& row : r.rows) {
        s.append(row.Name()).append("|").append(row.Length()).append("|").append(row.Value());
        if (!row.path.empty()) s.append("|").append(row.path);
        s += '\n';
    }
    return s;
}

// A message decoded, the sub-row named path set to value, and the rows built: the build's
// refusal, or the built message decoded again.
struct Rebuilt {
    bool ok = false;
    std::string reason;
    CommandResult again;
};
Rebuilt EditSubRowAndBuild(const FieldTable& t, const std::string& message, std::string_view path,
                           std::string_view value) {
    CommandResult decoded;
    ParseIso8583WithTable(message, t, decoded);
    EXPECT_EQ(std::string(decoded.error), "");
    for (FieldRow& row : decoded.rows) {
        std::string_view name = row.Name();
        name.remove_prefix(std::min(name.size(), name.find_first_not_of(' ')));
        if (row.parent >= 0 && name == path) SetRowText(row.value, value);
    }
    const BuiltMessage built = PackRows(decoded.rows, t, false);
    Rebuilt r;
    r.ok = built.ok;
    r.reason = built.reason;
    if (!built.ok) return r;
    std::string hex(2 * built.bytes.size(), '0');
    BytesToHex(reinterpret_cast<const std::uint8_t*>(built.bytes.data()), built.bytes.size(),
               hex.data());
    ParseIso8583WithTable(hex, t, r.again);
    EXPECT_EQ(std::string(r.again.error), "") << path;
    return r;
}

// Whether the build was to be refused (and checks that it was, for the reason); else checks that
// it was not.
bool Refused(const Rebuilt& r, bool refuse, std::string_view path, std::string_view reason) {
    if (!refuse) {
        EXPECT_TRUE(r.ok) << path << ": " << r.reason;
        return !r.ok;
    }
    EXPECT_FALSE(r.ok) << path;
    EXPECT_NE(r.reason.find(reason), std::string::npos) << r.reason;
    return true;
}

}  // namespace

TEST(Explain, ValuesMatchExactThenRangeThenLongestPrefix) {
    const FieldTable t = Load(TableText("", R"("39": {"length": 2, "values": {
        "9*": "prefix", "00-09": "range", "05": "exact", "A*": "A", "A0*": "A0"}}})"));
    const struct {
        const char* hex;
        const char* value;
    } cases[] = {{"3035", "3035 -> 05: exact"}, {"3037", "3037 -> 07: range"},
                 {"3936", "3936 -> 96: prefix"}, {"4130", "4130 -> A0: A0"},
                 {"4131", "4131 -> A1: A"},      {"3530", "3530 -> 50"}};
    for (const auto& c : cases) {
        CommandResult r;
        ParseIso8583WithTable(std::string("0210 0000000002000000 ") + c.hex, t, r);
        ASSERT_EQ(r.rows.size(), 3u) << c.hex;
        EXPECT_EQ(r.rows[2].Value(), c.value);
    }
}

TEST(Explain, PositionalSubFieldsNestAndEndWithTheData) {
    // A BCD field in digits with a nested sub-field; an ASCII field in characters.
    const FieldTable t = Load(TableText("", R"(
        "60": {"length": 30, "prefix": "BCD.LLL", "enc": "BCD", "subfields": {
            "1": {"name": "type", "length": 2, "values": {"22": "purchase"}},
            "2": {"length": 6, "subfields": {"1": {"length": 2}, "2": {"length": 4}}},
            "3": {"length": 3}}},
        "63": {"length": 20, "prefix": "BCD.LLL", "subfields": {
            "1": {"length": 3}, "2": {"length": 2, "enc": "Binary"}}}})"));
    const struct {
        const char* fields;
        const char* rows;
    } cases[] = {
        {"0000000000000012 0013 22000123000500 0005 4142433031",
         "Bit 60|7|001322000123000500\n  60.1|2|22: purchase|60.1\n  60.2|6|000123|60.2\n"
         "    60.2.1|2|00|60.2.1\n    60.2.2|4|0123|60.2.2\n  60.3|3|000|60.3\n"
         "Bit 63|5|00054142433031 -> ABC01\n  63.1|3|ABC|63.1\n  63.2|2|3031|63.2\n"},
        // Trailing sub-fields the sender left out are absent, a cut one shows what there is.
        {"0000000000000012 0005 220001 0002 4142",
         "Bit 60|3|0005220001\n  60.1|2|22: purchase|60.1\n  60.2|3|000|60.2\n"
         "    60.2.1|2|00|60.2.1\n    60.2.2|1|0|60.2.2\n"
         "Bit 63|2|00024142 -> AB\n  63.1|2|AB|63.1\n"},
    };
    for (const auto& c : cases) {
        CommandResult r;
        ParseIso8583WithTable(std::string("0200 ") + c.fields, t, r);
        ASSERT_EQ(std::string(r.error), "");
        r.rows.erase(r.rows.begin(), r.rows.begin() + 2);  // type and bitmap
        EXPECT_EQ(Lines(r), c.rows) << c.fields;
    }
}

TEST(Explain, SummaryOnlyWhenAskedForAnExactTable) {
    const std::string fields = R"(
        "2": {"length": 19, "prefix": "BCD.LL", "enc": "BCD"},
        "3": {"length": 6, "enc": "BCD"}, "4": {"length": 12, "enc": "BCD"},
        "39": {"length": 2, "values": {"51": "余额不足"}},
        "49": {"length": 3, "values": {"156": "CNY 人民币"}}})";
    const std::string rules = R"("transactions": [{"name": "消费", "type": "02", "processingCode": "00"}],)";
    const std::string message =
        "0210 7000000002008000 16 6225880123456789 000000 000000010050 3531 313536";
    const FieldTable always = Load(TableText(rules, fields));
    const FieldTable onRequest = Load(TableText(rules + R"("explain": "onRequest",)", fields));
    for (const bool mask : {false, true}) {
        CommandResult r;
        ParseIso8583WithTable(message, always, ParseOptions{false, mask}, r);
        ASSERT_FALSE(r.rows.empty());
        EXPECT_TRUE(r.rows[0].summary);
        EXPECT_EQ(r.rows[0].Value(),
                  mask ? "消费应答 · 51 余额不足 · 100.50 CNY · 622588******6789"
                       : "消费应答 · 51 余额不足 · 100.50 CNY · 6225880123456789");
    }
    CommandResult plain;
    ParseIso8583WithTable(message, onRequest, plain);
    for (const FieldRow& row : plain.rows) {
        EXPECT_FALSE(row.summary);
        EXPECT_TRUE(row.meaning.empty());
    }
    ParseOptions explain;
    explain.explain = true;
    CommandResult asked;
    ParseIso8583WithTable(message, onRequest, explain, asked);
    ASSERT_FALSE(asked.rows.empty());
    EXPECT_TRUE(asked.rows[0].summary);
}

TEST(Explain, BuiltinFormsTakeTheirMeaningsFromTheFullTablesOnRequest) {
    const std::string text = "600003000060310031000002100000000002000000 3531";
    ParseOptions options;
    options.explainTable = &ShippedTableValue;
    CommandResult plain;
    ParseIso8583Text(text, kInterface64, options, plain);
    options.explain = true;
    CommandResult explained;
    ParseIso8583Text(text, kInterface64, options, explained);
    ASSERT_EQ(plain.rows.size() + 1, explained.rows.size());  // the summary row
    EXPECT_EQ(plain.rows.back().Value(), "3531 -> 51");
    EXPECT_EQ(explained.rows.back().meaning, Utf8ToGbk("余额不足"));
    for (const FieldRow& row : explained.rows) {
        if (row.field == 0) {
            EXPECT_EQ(row.meaning, Utf8ToGbk("金融类"));  // the message class
        }
    }
}

TEST(Explain, OverLengthCutWholeOrRefuse) {
    // Field 2 states 6 characters, 4 allowed; field 3 follows.
    const std::string message = "0200 6000000000000000 06 414243444546 313233343536";
    const struct {
        const char* rule;
        const char* error;
        const char* field2;
    } cases[] = {
        {R"("overLength": "cut",)", "", "0641424344 -> ABCD"},
        {"", "", "06414243444546 -> ABCDEF"},  // a loaded table's default: whole
        {R"("overLength": "refuse",)", "iso8583报文解析出错!", nullptr},
    };
    for (const auto& c : cases) {
        const FieldTable t = Load(TableText(
            c.rule, R"("2": {"length": 4, "prefix": "BCD.LL"}, "3": {"length": 6}})"));
        CommandResult r;
        ParseIso8583WithTable(message, t, r);
        EXPECT_EQ(std::string(r.error), c.error) << c.rule;
        if (c.field2 == nullptr) continue;
        EXPECT_FALSE(r.warnings.empty()) << c.rule;
        ASSERT_GE(r.rows.size(), 3u);
        EXPECT_EQ(r.rows[2].Value(), c.field2);
    }
    // A field's own rule wins over the table's.
    const FieldTable perField = Load(TableText(
        R"("overLength": "refuse",)",
        R"("2": {"length": 4, "prefix": "BCD.LL", "overLength": "whole"}, "3": {"length": 6}})"));
    CommandResult r;
    ParseIso8583WithTable(message, perField, r);
    EXPECT_EQ(std::string(r.error), "");
}

TEST(Explain, EditedSubRowsRewriteTheirSlots) {
    const FieldTable t = Load(TableText("", R"(
        "60": {"length": 30, "prefix": "BCD.LLL", "enc": "BCD", "subfields": {
            "1": {"length": 2, "values": {"22": "purchase"}},
            "2": {"length": 6, "subfields": {"1": {"length": 2}, "2": {"length": 4}}},
            "3": {"length": 3, "padding": {"type": "Left", "pad": "0"}}}},
        "62": {"length": 20, "prefix": "BCD.LL", "enc": "Binary", "subfields": {
            "1": {"length": 2, "enc": "ASCII"}, "2": {"length": 3, "enc": "BCD"}}},
        "63": {"length": 20, "prefix": "BCD.LLL", "subfields": {
            "1": {"length": 3, "padding": {"type": "Right", "pad": " "}},
            "2": {"length": 2, "enc": "Binary"}}}})"));
    const std::string message =
        "0200 0000000000000016 0013 22000123000500 05 4142012F00 0005 4142433031";
    const struct {
        const char* path;
        const char* value;
        const char* field;  // the field's row after the build; empty: refused
        const char* reason;
    } cases[] = {
        {"60.1", "23: purchase", "001323000123000500", ""},  // the old meaning is dropped
        {"60.2", "000124", "001322000124000500", ""},
        {"60.2.2", "0999", "001322000999000500", ""},
        {"60.3", "001", "001322000123001500", ""},
        {"60.3", "7", "001322000123007500", ""},  // padded as the sub-field says
        {"63.1", "X", "0005582020", ""},
        {"62.1", "XY", "055859012F00", ""},
        {"62.2", "456", "054142456F00", ""},  // the pad nibble stays
        {"63.1", "XYZ", "000558595A", ""},
        {"63.2", "3132", "00054142433132", ""},
        {"60.2", "12345", "", "takes 6 digits, not 5"},
        {"62.2", "4X6", "", "takes hex digits only"},
    };
    for (const auto& c : cases) {
        const std::string_view field = std::string_view(c.path).substr(0, 2);
        const Rebuilt r = EditSubRowAndBuild(t, message, c.path, c.value);
        if (Refused(r, *c.field == '\0', c.path, c.reason)) continue;
        const CommandResult& again = r.again;
        bool found = false;
        for (const FieldRow& row : again.rows) {
            if (row.field >= 0 && std::to_string(row.field) == field) {
                EXPECT_TRUE(row.Value().starts_with(c.field)) << c.path << ": " << row.Value();
                found = true;
            }
            if (row.path == c.path) {
                const std::string value(c.value);
                EXPECT_TRUE(row.Value().find(value.substr(0, value.find(':'))) != std::string_view::npos)
                    << row.Value();
            }
        }
        EXPECT_TRUE(found) << c.path;
    }
}

TEST(Explain, SubRowsOfOneSlotEditedDifferentlyAreRefusedNamingBoth) {
    const FieldTable t = Load(TableText("", R"(
        "60": {"length": 30, "prefix": "BCD.LLL", "enc": "BCD", "subfields": {
            "1": {"length": 2},
            "2": {"length": 6, "subfields": {"1": {"length": 2}, "2": {"length": 4}}}}}})"));
    CommandResult decoded;
    ParseIso8583WithTable("0200 0000000000000010 0008 22000123", t, decoded);
    ASSERT_EQ(std::string(decoded.error), "");
    for (FieldRow& row : decoded.rows) {
        if (row.path == "60.2") SetRowText(row.value, "110123");
        if (row.path == "60.2.1") SetRowText(row.value, "22");
    }
    const BuiltMessage built = PackRows(decoded.rows, t, false);
    EXPECT_FALSE(built.ok);
    EXPECT_NE(built.reason.find("60.2\""), std::string::npos) << built.reason;
    EXPECT_NE(built.reason.find("60.2.1\""), std::string::npos) << built.reason;
}

TEST(Explain, CountryTagsOfIcCardDataTakeTheTablesCountryList) {
    const FieldTable t = Load(TableText("", R"(
        "19": {"length": 3, "enc": "BCD", "values": {"156": "China"}},
        "55": {"length": 255, "prefix": "BCD.LLL", "enc": "Binary", "tlv": true}})"));
    CommandResult r;
    ParseIso8583WithTable("0200 0000000000000200 0010 9F1A0201565F28020840", t, r);
    ASSERT_EQ(std::string(r.error), "");
    std::string meanings;
    for (const FieldRow& row : r.rows) {
        if (row.parent == 55) meanings.append(row.meaning).append("|");
    }
    EXPECT_EQ(meanings, "China||");  // 840 is not in this table's list
}

// "ISO 4217" and "ISO 3166" expand to the shared lists, in the table's charset; the summary
// reads the amount's minor digits by the currency's numeric code.
TEST(Explain, SharedCodeListsGiveMeaningsAndMinorDigits) {
    const std::string rules =
        R"("transactions": [{"name": "消费", "type": "02", "processingCode": "00"}],)";
    const std::string fields = R"(
        "3": {"length": 6, "enc": "BCD"}, "4": {"length": 12, "enc": "BCD"},
        "49": {"length": 3, "values": "ISO 4217"},
        "55": {"length": 255, "prefix": "BCD.LLL", "enc": "Binary", "tlv": true}})";
    const FieldTable t = Load(TableText(rules, fields));
    const struct {
        const char* code;  // field 49, ASCII hex
        const char* meaning;
        const char* summary;
    } cases[] = {
        {"313536", "CNY 人民币", "消费请求 · 100.50 CNY"},
        {"333630", "IDR 印尼盾", "消费请求 · 100.50 IDR"},
        {"303438", "BHD 巴林第纳尔", "消费请求 · 10.050 BHD"},
        {"333932", "JPY 日元", "消费请求 · 10050 JPY"},
        {"393939", "", "消费请求 · 100.50 999"},  // no such currency: two digits
    };
    for (const auto& c : cases) {
        CommandResult r;
        ParseIso8583WithTable(std::string("0200 3000000000008000 000000 000000010050 ") + c.code,
                              t, r);
        ASSERT_EQ(std::string(r.error), "");
        ASSERT_FALSE(r.rows.empty());
        EXPECT_EQ(r.rows[0].Value(), c.summary);
        EXPECT_EQ(r.rows.back().meaning, c.meaning) << c.code;
    }
    // Without a country list of its own, the table's IC card country tags read ISO 3166.
    CommandResult tags;
    ParseIso8583WithTable("0200 0000000000000200 0010 9F1A0201565F28020840", t, tags);
    std::string meanings;
    for (const FieldRow& row : tags.rows) {
        if (row.parent == 55) meanings.append(row.meaning).append("|");
    }
    EXPECT_EQ(meanings, "中国|美国|");

    std::string gbkText = TableText("", R"("19": {"length": 3, "values": "ISO 3166"}})");
    gbkText.replace(gbkText.find("UTF-8"), 5, "GBK");
    const FieldTable gbk = Load(gbkText);
    ASSERT_GT(gbk.fields.size(), 19u);
    ASSERT_NE(gbk.fields[19].explain, nullptr);
    EXPECT_EQ(MeaningOf(gbk.fields[19].explain->values, "344"), Utf8ToGbk("中国香港"));

    const TableLoad bad =
        LoadJsonTable(TableText("", R"("49": {"length": 3, "values": "ISO 4218"}})"));
    ASSERT_EQ(bad.problems.size(), 1u);
    EXPECT_NE(bad.problems[0].find("field 49"), std::string::npos) << bad.problems[0];
    EXPECT_NE(bad.problems[0].find("ISO 4218"), std::string::npos) << bad.problems[0];
}

// jPOS sub-field packagers: GenericSubFieldPackager children become positional sub-rows (BCD
// slices of a byte field take their digits' bytes; a BCD field is cut in digits; one nested
// level); any other packager or a child without a fixed place keeps the field whole, with a note.
TEST(Explain, JposGenericSubFieldPackagerGivesPositionalSubFields) {
    const auto xml = [](const std::string& field) {
        return "<isopackager><isofield id=\"0\" length=\"4\" class=\"org.jpos.iso.IFB_NUMERIC\"/>"
               "<isofield id=\"1\" length=\"8\" class=\"org.jpos.iso.IFB_BITMAP\"/>" +
               field + "</isopackager>";
    };
    const std::string generic = "packager=\"org.jpos.iso.packager.GenericSubFieldPackager\"";
    const auto sub = [](int id, int length, const char* cls) {
        return "<isofield id=\"" + std::to_string(id) + "\" length=\"" + std::to_string(length) +
               "\" name=\"S" + std::to_string(id) + "\" class=\"org.jpos.iso." + cls + "\"/>";
    };
    const struct {
        std::string field;
        const char* hex;   // field 60's bytes
        const char* rows;  // its sub-rows, or "" with a note
    } cases[] = {
        {"<isofieldpackager id=\"60\" length=\"99\" class=\"org.jpos.iso.IFB_LLCHAR\" " +
             generic + ">" + sub(2, 2, "IFB_NUMERIC") + sub(1, 2, "IF_CHAR") +
             "<isofieldpackager id=\"3\" length=\"3\" class=\"org.jpos.iso.IFB_BINARY\" " +
             generic + ">" + sub(1, 1, "IFB_BINARY") + sub(2, 2, "IFB_BINARY") +
             "</isofieldpackager></isofieldpackager>",
         "06 4142 22 0A0B0C",
         "  60.1|2|AB|60.1\n  60.2|2|22|60.2\n  60.3|3|0A0B0C|60.3\n"
         "    60.3.1|1|0A|60.3.1\n    60.3.2|2|0B0C|60.3.2\n"},
        // A BCD field in digits; the data ends inside 60.2.
        {"<isofieldpackager id=\"60\" length=\"20\" class=\"org.jpos.iso.IFB_LLNUM\" " +
             generic + ">" + sub(1, 2, "IFB_NUMERIC") + sub(2, 6, "IFB_NUMERIC") +
             sub(3, 3, "IFB_NUMERIC") + "</isofieldpackager>",
         "05 220001", "  60.1|2|22|60.1\n  60.2|3|000|60.2\n"},
        {"<isofieldpackager id=\"60\" length=\"20\" class=\"org.jpos.iso.IFB_LLNUM\" "
         "packager=\"org.jpos.iso.packager.Base1SubFieldPackager\">" +
             sub(1, 2, "IFB_NUMERIC") + "</isofieldpackager>",
         "02 22", ""},
        {"<isofieldpackager id=\"60\" length=\"20\" class=\"org.jpos.iso.IFB_LLCHAR\" " +
             generic + ">" + sub(1, 9, "IFB_LLCHAR") + "</isofieldpackager>",
         "02 4142", ""},
        {"<isofieldpackager id=\"60\" length=\"20\" class=\"org.jpos.iso.IFB_LLCHAR\" " +
             generic + " emitBitmap=\"true\">" + sub(1, 2, "IF_CHAR") + "</isofieldpackager>",
         "02 4142", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.field);
        const TableLoad load = LoadTableText(xml(c.field));
        ASSERT_TRUE(load.Ok()) << load.problems.front();
        EXPECT_EQ(load.notes.size(), *c.rows == '\0' ? 1u : 0u);
        CommandResult r;
        ParseIso8583WithTable(std::string("0200 0000000000000010 ") + c.hex, *load.table, r);
        ASSERT_TRUE(r.Ok()) << r.detail;
        ASSERT_GE(r.rows.size(), 3u);
        r.rows.erase(r.rows.begin(), r.rows.begin() + 3);  // type, bitmap, field 60
        EXPECT_EQ(Lines(r), c.rows);
        if (*c.rows != '\0') {
            EXPECT_EQ(r.rows[0].title, "S1");
        }
    }
}

// Tagged sub-fields: a tag, its value's length, the value; in the order the data gives them.
TEST(Explain, TaggedSubFieldsReadTagLengthValue) {
    const FieldTable t = Load(TableText("", R"(
        "48": {"length": 99, "prefix": "BCD.LL", "tag": {"length": 2, "enc": "ASCII",
               "prefix": "ASCII.LL"}, "subfields": {
            "AS": {"name": "as", "values": {"X1": "one"}},
            "FX": {"prefix": "Fixed", "length": 3,
                   "subfields": {"1": {"length": 1}, "2": {"length": 2}}}}},
        "62": {"length": 99, "prefix": "BCD.LL", "enc": "Binary",
               "tag": {"length": 1, "enc": "Binary"}, "subfields": {
            "DF": {"prefix": "Binary.L", "enc": "Binary"},
            "01": {"prefix": "Binary.L", "enc": "ASCII"}}}})"));
    const struct {
        const char* fields;
        const char* rows;
        bool warned;
    } cases[] = {
        // Listed tags in any order, a fixed one with positional parts, an unlisted one read by
        // the tag's own prefix.
        {"0000000000010000 16 4658 58595A 4153 3032 5831 5A5A 3031 51",
         "  48.FX|3|XYZ\n    48.FX.1|1|X\n    48.FX.2|2|YZ\n  48.AS|2|X1: one\n  48.ZZ|1|Q\n", false},
        {"0000000000000004 08 DF02ABCD 01024142", "  62.DF|2|ABCD\n  62.01|2|AB\n", false},
        // A length that overruns the data: the rest is one row, and a warning says why.
        {"0000000000010000 09 4153 3039 4142434445", "  48.?|9|AS09ABCDE\n", true},
        {"0000000000000004 05 7702ABCD00", "  62.?|5|7702ABCD00\n", true},  // unlisted, no prefix
    };
    for (const auto& c : cases) {
        CommandResult r;
        ParseIso8583WithTable(std::string("0200 ") + c.fields, t, r);
        ASSERT_EQ(std::string(r.error), "") << c.fields;
        std::string sub;
        for (const FieldRow& row : r.rows) {
            if (row.parent >= 0) {
                sub.append(row.Name()).append("|").append(row.Length()).append("|").append(row.Value()) += '\n';
            }
        }
        EXPECT_EQ(sub, c.rows) << c.fields;
        EXPECT_EQ(!r.warnings.empty(), c.warned) << c.fields;
    }
    const TableLoad bad = LoadJsonTable(TableText("", R"(
        "48": {"length": 99, "prefix": "BCD.LL", "tag": {"length": 2}, "subfields": {
            "ABC": {"prefix": "ASCII.LL"}, "AS": {}}},
        "55": {"length": 99, "prefix": "BCD.LL", "enc": "Binary", "tag": {"enc": "BER-TLV"}},
        "60": {"length": 9, "subfields": {"1": {"length": 1, "tag": {"enc": "BER-TLV"}}}}})"));
    ASSERT_EQ(bad.problems.size(), 3u);  // tag width, no length for AS, BER-TLV below a field
    EXPECT_TRUE(LoadJsonTable(TableText("", R"(
        "55": {"length": 99, "prefix": "BCD.LL", "enc": "Binary", "tag": {"enc": "BER-TLV"}}})"))
                    .table->fields[55].tlv);
}

// Layouts chosen by the message: the type, a field, and a sub-field of another field.
TEST(Explain, ConditionalLayoutsFollowTheMessage) {
    const FieldTable t = Load(TableText("", R"(
        "60": {"length": 20, "prefix": "BCD.LLL", "enc": "BCD", "subfields": {
            "1": {"length": 2}, "2": {"length": 6}, "3": {"length": 3}}},
        "62": {"length": 99, "prefix": "BCD.LL", "enc": "Binary", "layouts": [
            {"when": {"type": "081", "60.3": ["003", "004"]}, "subfields": {
                "1": {"name": "PIK", "length": 2, "enc": "Binary"},
                "2": {"name": "MAK", "length": 2, "enc": "Binary"}}},
            {"when": {"type": "081"}, "subfields": {"1": {"name": "PIK1", "length": 4, "enc": "Binary"}}}],
            "subfields": {"1": {"name": "data", "length": 4, "enc": "ASCII"}}}})"));
    const struct {
        const char* message;
        const char* titles;
    } cases[] = {
        {"0810 0000000000000014 0011 00000001003F 04 41424344", "PIK|MAK|"},
        {"0810 0000000000000014 0011 00000001001F 04 41424344", "PIK1|"},
        {"0210 0000000000000014 0011 00000001003F 04 41424344", "data|"},
        {"0810 0000000000000004 04 41424344", "PIK1|"},
    };
    for (const auto& c : cases) {
        CommandResult r;
        ParseIso8583WithTable(c.message, t, r);
        ASSERT_EQ(std::string(r.error), "") << c.message;
        std::string titles;
        for (const FieldRow& row : r.rows) {
            if (row.parent == 62) titles.append(row.title) += '|';
        }
        EXPECT_EQ(titles, c.titles) << c.message;
    }
    // Tests that name what the table lacks are refused when it loads.
    EXPECT_EQ(LoadJsonTable(TableText("", R"(
        "3": {"length": 6, "enc": "BCD"},
        "62": {"length": 9, "layouts": [{"when": {"61": "1", "3.1": "2"}, "subfields": {}}]}})"))
                  .problems.size(),
              2u);
}

// Editing a tagged sub-row rewrites its value and its length; the others keep their bytes.
TEST(Explain, EditedTaggedSubRowsRewriteValueAndLength) {
    const FieldTable t = Load(TableText("", R"(
        "48": {"length": 99, "prefix": "BCD.LL", "tag": {"length": 2, "prefix": "ASCII.LL"},
               "subfields": {"AS": {"length": 5}, "FX": {"prefix": "Fixed", "length": 3,
                   "subfields": {"1": {"length": 1}, "2": {"length": 2}}}}},
        "62": {"length": 99, "prefix": "BCD.LL", "enc": "Binary",
               "tag": {"length": 1, "enc": "Binary", "prefix": "Binary.L"}}})"));
    const std::string message = "0200 0000000000010004 11 415330325831465858595A 06 DF02ABCD0100";
    const struct {
        const char* path;
        const char* value;
        const char* field;   // the field's data after the build; empty: refused
        const char* reason;
    } cases[] = {
        {"48.AS", "X123", "AS04X123FXXYZ", ""},
        {"48.FX.2", "QQ", "AS02X1FXXQQ", ""},
        {"62.DF", "0102", "DF0201020100", ""},
        {"62.DF", "010203", "DF030102030100", ""},
        {"48.AS", "X12345", "", "takes at most 5"},
        {"48.FX", "XY", "", "takes 3 bytes"},
        {"62.DF", "ABC", "", "even count"},
    };
    for (const auto& c : cases) {
        const Rebuilt r = EditSubRowAndBuild(t, message, c.path, c.value);
        if (Refused(r, *c.field == '\0', c.path, c.reason)) continue;
        const int f = std::string_view(c.path).starts_with("48") ? 48 : 62;
        const CommandResult& again = r.again;
        for (const FieldRow& row : again.rows) {
            if (row.field != f) continue;
            std::string_view v = row.Value();
            if (f == 48) v = v.substr(v.find("-> ") + 3);
            else v.remove_prefix(2);
            EXPECT_EQ(v, c.field) << c.path;
        }
    }
}
