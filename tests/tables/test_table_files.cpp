// Loaded field tables: the shipped tables against the built-in forms and golden messages, jPOS
// classes, and the problems a table file can have.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "iso/ParseIso8583.h"
#include "tables/TableFile.h"
#include "tests/common/ShippedTables.h"
#include "iso/ParseIso8583.h"

namespace {


/// Rows as "name|length|value|title" lines.
std::string RowLines(const CommandResult& r) {
    std::string s;
    for (const FieldRow& row : r.rows) {
        s.append(row.Name()).append("|").append(row.Length()).append("|").append(row.Value());
        s.append("|").append(row.title).append("\n");
    }
    return s;
}

/// Everything a user sees of a decoding, titles aside.
std::string Seen(const CommandResult& r) {
    std::string s = std::to_string(static_cast<int>(r.outcome)) + " " + std::string(r.error) + " " +
                    std::to_string(r.failure.field) + " " + std::to_string(r.failure.offset) + " " +
                    r.failure.reason + "\n";
    for (const FieldRow& row : r.rows) {
        s.append(row.Name()).append("|").append(row.Length()).append("|").append(row.Value());
        s += '\n';
    }
    for (const std::string& w : r.warnings) s.append(w).append("\n");
    return s;
}

// The members that decide decoding, rows and packing; names are the tables' own.
void ExpectSameForm(const FieldTable& a, const FieldTable& b) {
    EXPECT_EQ(a.bitmap.bits, b.bitmap.bits);
    EXPECT_EQ(a.bitmap.secondary, b.bitmap.secondary);
    EXPECT_EQ(a.bitmap.enc, b.bitmap.enc);
    ASSERT_EQ(a.frame.size(), b.frame.size());
    for (std::size_t i = 0; i < a.frame.size(); ++i) {
        SCOPED_TRACE("frame part " + std::to_string(i));
        const FramePart& p = a.frame[i];
        const FramePart& q = b.frame[i];
        EXPECT_EQ(p.kind, q.kind);
        EXPECT_EQ(p.bytes, q.bytes);
        EXPECT_EQ(p.presence, q.presence);
        EXPECT_EQ(p.packDefault, q.packDefault);
        EXPECT_EQ(p.packed, q.packed);
        if (p.kind != FramePartKind::Length) {
            EXPECT_EQ(p.name, q.name);
        } else {
            EXPECT_EQ(p.lengthEnc, q.lengthEnc);
        }
        ASSERT_EQ(p.detect.size(), q.detect.size());
        for (std::size_t k = 0; k < p.detect.size(); ++k) {
            EXPECT_EQ(p.detect[k].offset, q.detect[k].offset);
            EXPECT_EQ(p.detect[k].mask, q.detect[k].mask);
            EXPECT_EQ(p.detect[k].value, q.detect[k].value);
        }
        ASSERT_EQ(p.members.size(), q.members.size());
        for (std::size_t k = 0; k < p.members.size(); ++k) {
            EXPECT_EQ(p.members[k].name, q.members[k].name);
            EXPECT_EQ(p.members[k].bytes, q.members[k].bytes);
            EXPECT_EQ(p.members[k].withText, q.members[k].withText);
            EXPECT_EQ(p.members[k].fill, q.members[k].fill);
        }
    }
    for (const auto& [x, y] : {std::pair{&a.typeRow, &b.typeRow}, {&a.bitmapRow, &b.bitmapRow}}) {
        EXPECT_EQ(x->name, y->name);
        EXPECT_EQ(x->lengthText, y->lengthText);
        EXPECT_EQ(x->shownBytes, y->shownBytes);
        EXPECT_EQ(x->withText, y->withText);
    }
    EXPECT_EQ(a.fieldRowPrefix, b.fieldRowPrefix);
    EXPECT_EQ(a.macField, b.macField);
    EXPECT_EQ(a.macFill, b.macFill);
    // A loaded table differs where the built-in forms keep their old reading of damaged
    // messages: a shorter stated length, prefixes that are not numbers, sub-rows on request only.
    EXPECT_TRUE(a.allowShorterLength && !b.allowShorterLength);
    EXPECT_TRUE(!a.lenientPrefixes && b.lenientPrefixes);
    EXPECT_EQ(a.minMessageBytes, b.minMessageBytes);
    EXPECT_EQ(a.packSetsBit1, b.packSetsBit1);
    EXPECT_EQ(a.packLastField, b.packLastField);
    EXPECT_EQ(a.packMaxStored, b.packMaxStored);
    EXPECT_EQ(a.strict, b.strict);
    ASSERT_EQ(a.fields.size(), b.fields.size());
    for (std::size_t f = 0; f < a.fields.size(); ++f) {
        SCOPED_TRACE("field " + std::to_string(f));
        const FieldDef& x = a.fields[f];
        const FieldDef& y = b.fields[f];
        EXPECT_EQ(x.maxLen, y.maxLen);
        if (!x.Defined() || !y.Defined()) continue;
        EXPECT_EQ(x.fixed, y.fixed);
        EXPECT_EQ(x.enc, y.enc);
        EXPECT_EQ(x.inMac, y.inMac);
        EXPECT_EQ(x.macBytes, y.macBytes);
        // The built-in tables mark field 55 for the sub-rows shown on request; the exact files
        // leave it unmarked, since a file's TLV fields always get them.
        if (f != 55) {
            EXPECT_EQ(x.tlv, y.tlv);
        }
        if (f == 1) continue;  // the bitmap row follows bitmapRow
        EXPECT_EQ(x.rowHex, y.rowHex);
        EXPECT_EQ(x.rowText, y.rowText);
        if (!x.fixed) {
            EXPECT_EQ(x.prefixBytes, y.prefixBytes);
            EXPECT_EQ(x.prefixEnc, y.prefixEnc);
        }
    }
}

TEST(ShippedTables, ExactTablesAreTheBuiltInForms) {
    ExpectSameForm(Shipped("unionpay-pos64"), BuiltinTable(BuiltinForm::kUnionPay64));
    ExpectSameForm(Shipped("unionpay-128"), BuiltinTable(BuiltinForm::kUnionPay128));
}

// Wire bytes of a random value for field f of table t (a stated length above the maximum now
// and then, which the built-in forms cut to the maximum).
void AppendRandomField(const FieldDef& d, std::mt19937& rng, std::vector<std::uint8_t>& out) {
    std::int32_t n = d.maxLen;
    if (!d.fixed) {
        n = static_cast<std::int32_t>(rng() % static_cast<unsigned>(d.maxLen + 1));
        if (rng() % 16 == 0) n = d.maxLen + 1;
        const std::int32_t cap = d.prefixBytes == 1 ? 99 : 999;
        n = std::min(n, cap);
        if (d.prefixEnc == PrefixEnc::Bcd) {
            if (d.prefixBytes == 2) out.push_back(static_cast<std::uint8_t>(n / 100));
            out.push_back(static_cast<std::uint8_t>((n / 10 % 10) * 16 + n % 10));
        } else {
            const std::string digits = std::to_string(n + (d.prefixBytes == 2 ? 100 : 1000));
            out.insert(out.end(), digits.end() - d.prefixBytes, digits.end());
        }
    }
    const std::int32_t bytes = d.enc == DataEnc::Bcd ? (n + 1) / 2 : n;
    for (std::int32_t i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(rng()));
}

std::vector<std::uint8_t> RandomBody(const FieldTable& t, std::mt19937& rng) {
    std::vector<std::uint8_t> out;
    AppendRandomField(t.fields[0], rng, out);
    const std::size_t bitmapAt = out.size();
    const std::size_t bitmapBytes = static_cast<std::size_t>(t.bitmap.bits / 8);
    out.resize(out.size() + bitmapBytes, 0);
    for (std::size_t f = 2; f < t.fields.size(); ++f) {
        // Now and then an undefined field, which fails the decoding.
        const bool take = t.fields[f].Defined() ? rng() % 3 == 0 : rng() % 400 == 0;
        if (!take) continue;
        out[bitmapAt + (f - 1) / 8] |= static_cast<std::uint8_t>(0x80 >> ((f - 1) % 8));
        if (t.fields[f].Defined()) AppendRandomField(t.fields[f], rng, out);
    }
    if (rng() % 8 == 0) out.resize(out.size() * (rng() % 100) / 100);  // cut short
    return out;
}

std::string HexOf(const std::vector<std::uint8_t>& b) {
    static const char d[] = "0123456789ABCDEF";
    std::string s;
    for (std::uint8_t c : b) s.append({d[c >> 4], d[c & 15]});
    return s;
}

bool LooksLikeAsciiLength(const std::vector<std::uint8_t>& m) {
    // The automatic and the 64-field mode take a fitting 4-digit ASCII length as 128 fields.
    if (m.size() < 4) return false;
    int v = 0;
    for (int i = 0; i < 4; ++i) {
        if (m[static_cast<std::size_t>(i)] < '0' || m[static_cast<std::size_t>(i)] > '9') {
            return false;
        }
        v = v * 10 + (m[static_cast<std::size_t>(i)] - '0');
    }
    return static_cast<std::size_t>(v) + 4 == m.size();
}

TEST(ShippedTables, ExactTablesDecodeAsTheBuiltInModes) {
    std::mt19937 rng(8583);
    for (const auto& [name, form, mode, lengthBytes] :
         {std::tuple{"unionpay-pos64", BuiltinForm::kUnionPay64, kInterface64, 2},
          std::tuple{"unionpay-128", BuiltinForm::kUnionPay128, kInterface128, 4}}) {
        // The shipped tables refuse damage that the built-in forms read on (length prefixes that
        // are not numbers, a message ending inside its framing): compared with that reading.
        FieldTable table = Shipped(name);
        table.lenientPrefixes = true;
        table.allowShorterLength = false;  // the built-in forms decode the whole text
        TableDecoder decoder(table);
        CommandResult expected, actual;
        int compared = 0;
        for (int i = 0; i < 1500; ++i) {
            std::vector<std::uint8_t> m;
            if (rng() % 2 == 0) {  // framing in front: TPDU and header, or the 46-byte header
                const std::size_t n = lengthBytes == 2 ? 11 : 46;
                for (std::size_t k = 0; k < n; ++k) m.push_back(static_cast<std::uint8_t>(rng()));
                m[0] = lengthBytes == 2 ? 0x60 : 0x2E;
                if (lengthBytes == 2) m[5] = 0x61;
            }
            const std::vector<std::uint8_t> body = RandomBody(table, rng);
            m.insert(m.end(), body.begin(), body.end());
            int interfaceType = mode;
            if (rng() % 2 == 0) {  // with its own length: as the automatic mode takes it
                const std::size_t n = m.size();
                std::vector<std::uint8_t> length;
                if (lengthBytes == 2) {
                    length = {static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)};
                } else {
                    const std::string digits = std::to_string(10000 + n % 10000).substr(1);
                    length.assign(digits.begin(), digits.end());
                }
                m.insert(m.begin(), length.begin(), length.end());
                interfaceType = kInterfaceAuto;
            }
            if (mode == kInterface64 && LooksLikeAsciiLength(m)) continue;
            const std::string hex = HexOf(m);
            ParseIso8583Text(hex, interfaceType, expected);
            decoder.Parse(hex, actual);
            ASSERT_EQ(Seen(expected), Seen(actual)) << name << " " << hex;
            ++compared;
        }
        EXPECT_GT(compared, 1400);
    }
}

// One golden message for each shipped table.
struct Golden {
    const char* table;
    const char* hex;
    const char* rows;  // RowLines of the decoding
};

const Golden kGolden[] = {
    {"unionpay-pos64", "0018 6000030000 603100310000 0200 2000000000000000 000000",
     "TPDU|5|6000030000|\nHeader|6|603100310000|\nType|4|0200|消息类型\n"
     "Bit 1|8|2000000000000000|\nBit 3|3|000000|交易处理码\n"},
    {"unionpay-pos64-full",
     "0200 2000000000200100 000000"
     "41424344454647484950515253545556575859606162636465666768696A6B6C6D6E6F7071727374 000341"
     "4243",
     "Type|4|0200|消息类型\nBit 1|8|2000000000200100|\nBit 3|3|000000|交易处理码\n"
     "Bit 43|40|"
     "41424344454647484950515253545556575859606162636465666768696A6B6C6D6E6F7071727374 -> "
     "ABCDEFGHIPQRSTUVWXY`abcdefghijklmnopqrst|受卡方名称地址\n"
     "Bit 56|3|0003414243 -> ABC|附加信息\n"},
    {"unionpay-128", "30323030 80000000000000000400000000000000 333031",
     "MsgType|4|30323030 -> 0200|消息类型\nBit 1|1|80000000000000000400000000000000|\n"
     "Bit 70|3|333031 -> 301|网络管理信息码\n"},
    {"unionpay-128-full", "30323030 80000000000000000000000000000020 303035 3132333435",
     "MsgType|4|30323030 -> 0200|消息类型\nBit 1|1|80000000000000000000000000000020|\n"
     "Bit 123|5|3030353132333435 -> 00512345|附加交易信息\n"},
    {"iso8583-1987-ascii",
     "30383030 30323230303030303030303030303030 30343031313233303030 313233343536",
     "Type|4|30383030 -> 0800|Message type indicator\n"
     "Bit 1|16|30323230303030303030303030303030|\n"
     "Bit 7|10|30343031313233303030 -> 0401123000|Transmission date and time\n"
     "Bit 11|6|313233343536 -> 123456|System trace audit number\n"},
    {"iso8583-1987-binary",
     "0200 C000000000000000 0000000000000001 16 6225880123456789 3030313233343536",
     "Type|4|0200|Message type indicator\nBit 1|16|C0000000000000000000000000000001|\n"
     "Bit 2|8|166225880123456789|Primary account number\n"
     "Bit 128|8|3030313233343536|Message authentication code\n"},
};

TEST(ShippedTables, GoldenMessages) {
    ASSERT_EQ(ShippedTables().size(), std::size(kGolden));
    for (const Golden& g : kGolden) {
        SCOPED_TRACE(g.table);
        const FieldTable table = Shipped(g.table);
        TableDecoder decoder(table);
        CommandResult r;
        decoder.Parse(g.hex, r);
        EXPECT_EQ(std::string(r.error), "");
        // The field rows as they have always been; what the tables explain is tested apart.
        std::erase_if(r.rows, [](const FieldRow& row) { return row.summary || row.parent >= 0; });
        for (FieldRow& row : r.rows) {
            if (row.meaning.empty()) continue;
            const std::string_view v = row.Value();
            SetRowText(row.value, std::string(v.substr(0, v.size() - row.meaning.size() - 2)));
        }
        EXPECT_EQ(RowLines(r), g.rows);
    }
}

// The jPOS classes, one field 2 each, on a binary 64-bit message with BCD message type.
struct JposCase {
    const char* cls;
    int length;
    const char* field2;  // wire hex of field 2
    const char* value;   // its row value
};

const JposCase kJposCases[] = {
    {"IFB_NUMERIC", 5, "012345", "012345"},
    {"IFB_LLNUM", 19, "03123F", "03123F"},
    {"IFB_LLLNUM", 200, "0003123F", "0003123F"},
    {"IFB_LLCHAR", 10, "03414243", "03414243 -> ABC"},
    {"IFB_LLLCHAR", 300, "0003414243", "0003414243 -> ABC"},
    {"IFB_BINARY", 3, "0A0B0C", "0A0B0C"},
    {"IFB_LLBINARY", 10, "020A0B", "020A0B"},
    {"IFB_LLLBINARY", 300, "00020A0B", "00020A0B"},
    {"IFB_LLHBINARY", 200,
     "C8"
     "00",
     ""},  // 200 bytes: checked by length below
    {"IF_CHAR", 3, "414243", "414243 -> ABC"},
    {"IFA_NUMERIC", 4, "31323334", "31323334 -> 1234"},
    {"IFA_LLNUM", 19,
     "3034"
     "31323334",
     "303431323334 -> 1234"},
    {"IFA_LLLNUM", 200,
     "303034"
     "31323334",
     "30303431323334 -> 1234"},
    {"IFA_LLCHAR", 25,
     "3032"
     "4142",
     "30324142 -> AB"},
    {"IFA_LLLCHAR", 999,
     "303032"
     "4142",
     "3030324142 -> AB"},
    {"IFA_LLBINARY", 20,
     "3032"
     "0A0B",
     "30320A0B"},
    {"IFA_LLLBINARY", 300,
     "303032"
     "0A0B",
     "3030320A0B"},
};

std::string JposXml(std::string_view fields, std::string_view bitmapClass = "IFB_BITMAP",
                    int bitmapLength = 8) {
    return "<?xml version=\"1.0\"?>\n<!DOCTYPE isopackager SYSTEM \"genericpackager.dtd\">\n"
           "<isopackager>\n"
           "<isofield id=\"0\" length=\"4\" name=\"MTI\" class=\"org.jpos.iso.IFB_NUMERIC\"/>\n"
           "<isofield id=\"1\" length=\"" +
           std::to_string(bitmapLength) + "\" name=\"BITMAP\" class=\"org.jpos.iso." +
           std::string(bitmapClass) + "\"/>\n" + std::string(fields) + "</isopackager>\n";
}

TEST(JposTables, EachClassDecodesItsField) {
    for (const JposCase& c : kJposCases) {
        SCOPED_TRACE(c.cls);
        const std::string xml = JposXml("<isofield id=\"2\" length=\"" + std::to_string(c.length) +
                                        "\" name=\"F2\" class=\"org.jpos.iso." + c.cls + "\"/>\n");
        const TableLoad load = LoadTableText(xml);
        ASSERT_TRUE(load.Ok()) << load.problems.front();
        std::string hex = std::string("0200 4000000000000000 ") + c.field2;
        if (std::string_view(c.cls) == "IFB_LLHBINARY") hex += std::string(398, 'A');
        TableDecoder decoder(*load.table);
        CommandResult r;
        decoder.Parse(hex, r);
        ASSERT_TRUE(r.Ok()) << r.detail;
        ASSERT_EQ(r.rows.size(), 3u);
        EXPECT_EQ(r.rows[2].title, "F2");
        if (*c.value != '\0') {
            EXPECT_EQ(r.rows[2].Value(), c.value);
        } else {
            EXPECT_EQ(r.rows[2].Length(), "200");
        }
    }
}

TEST(JposTables, BitmapHeaderSubFieldsAndRefusedClasses) {
    // Hex-character bitmap of 128 bits (secondary by bit 1) and a 3-byte header.
    TableLoad load = LoadTableText(
        "<isopackager headerLength=\"3\">"
        "<isofield id=\"0\" length=\"4\" class=\"org.jpos.iso.IFA_NUMERIC\"/>"
        "<isofield id=\"1\" length=\"16\" class=\"org.jpos.iso.IFA_BITMAP\"/>"
        "<isofieldpackager id=\"70\" length=\"3\" class=\"org.jpos.iso.IFA_NUMERIC\" "
        "packager=\"org.jpos.iso.packager.Base1SubFieldPackager\">"
        "<isofield id=\"1\" length=\"3\" class=\"org.jpos.iso.IFA_NUMERIC\"/>"
        "</isofieldpackager></isopackager>");
    ASSERT_TRUE(load.Ok()) << load.problems.front();
    ASSERT_EQ(load.notes.size(), 1u);
    EXPECT_NE(load.notes[0].find("field 70"), std::string::npos);
    TableDecoder decoder(*load.table);
    CommandResult r;
    decoder.Parse(
        "414243 30383030 "
        "38303030303030303030303030303030 30343030303030303030303030303030 333031",
        r);
    ASSERT_TRUE(r.Ok()) << r.detail;
    EXPECT_EQ(r.rows.front().Name(), "Header");
    EXPECT_EQ(r.rows.back().Value(), "333031 -> 301");

    for (const char* cls : {"org.jpos.iso.IFE_CHAR", "org.jpos.iso.IFB_AMOUNT", "com.acme.IF_X"}) {
        SCOPED_TRACE(cls);
        load = LoadTableText(
            JposXml(std::string("<isofield id=\"4\" length=\"12\" class=\"") + cls + "\"/>"));
        ASSERT_EQ(load.problems.size(), 1u);
        EXPECT_NE(load.problems[0].find("field 4"), std::string::npos);
        EXPECT_NE(load.problems[0].find(cls), std::string::npos);
    }
}

// Bad tables: each gives a problem that names its place and what is wrong.
struct BadCase {
    const char* name;
    std::string text;  // file contents; empty: path is the file
    const char* path;
    const char* problem;  // a part of the first problem text
};

std::string Json(std::string_view fields, std::string_view extra = "") {
    return "{\"name\": \"t\", " + std::string(extra) + "\"fields\": {\"0\": {\"length\": 4, " +
           "\"enc\": \"BCD\"}" + std::string(fields) + "}}";
}

TEST(BadTables, EveryProblemNamesItsPlace) {
    const std::string dir = testing::TempDir() + "tarnwick_tables_dir";
    const std::string fifo = testing::TempDir() + "tarnwick_tables_fifo";
    ::mkdir(dir.c_str(), 0700);
    ::unlink(fifo.c_str());
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const BadCase cases[] = {
        {"malformed JSON", "{\"name\": \"t\",\n \"fields\": {\"0\": {\"length\": 4,}}", nullptr,
         "offset "},
        {"not an object", "[1, 2]", nullptr, "offset 0: the table must be a JSON object"},
        {"text after the table", Json("") + " x", nullptr, "text after the end"},
        {"unknown prefix", Json(", \"2\": {\"length\": 19, \"prefix\": \"BCD.LLLL\"}"), nullptr,
         "field 2, key \"prefix\": unknown word \"BCD.LLLL\""},
        {"unknown enc", Json(", \"3\": {\"length\": 6, \"enc\": \"EBCDIC\"}"), nullptr,
         "field 3, key \"enc\": unknown word \"EBCDIC\""},
        {"field outside the bitmap", Json(", \"65\": {\"length\": 1}", R"("bitmap":{"bits":64},)"),
         nullptr, "field 65: outside the 64-bit bitmap"},
        {"fixed field without length", Json(", \"4\": {\"prefix\": \"Fixed\"}"), nullptr,
         "field 4, key \"length\": missing: a fixed field needs its length"},
        {"length over LL", Json(", \"2\": {\"length\": 100, \"prefix\": \"ASCII.LL\"}"), nullptr,
         "field 2, key \"length\": 100 is more than its prefix can state (at most 99)"},
        {"length over Binary.L", Json(", \"2\": {\"length\": 256, \"prefix\": \"Binary.L\"}"),
         nullptr, "at most 255"},
        {"duplicate key", Json(", \"2\": {\"length\": 2, \"length\": 3}"), nullptr,
         "field 2, key \"length\" at offset 78: duplicate key"},
        {"unknown key", Json("", R"("bitmaps": {},)"), nullptr, "key \"bitmaps\": unknown key"},
        {"one field under two keys", Json(", \"2\": {\"length\": 2}, \"02\": {\"length\": 3}"),
         nullptr, "fields, key \"02\": field 2 is defined twice"},
        {"members that do not add up",
         Json("", R"("frame": [{"part": "header", "bytes": 4, "members": [{"bytes": 3}]}],)"),
         nullptr, "the widths add up to 3, not 4 bytes"},
        {"no message type", R"({"name": "t", "fields": {}})", nullptr, "field 0: missing"},
        {"malformed XML", "<isopackager><isofield id=\"2\"></isopackager>", nullptr,
         "offset 32: malformed XML"},
        {"over 1 MiB", std::string(kMaxTableFileBytes + 1, ' '), nullptr, "is over 1 MiB"},
        {"directory", "", dir.c_str(), "is a directory"},
        {"FIFO", "", fifo.c_str(), "is a FIFO"},
        {"device", "", "/dev/zero", "is a device"},
        {"missing file", "", "/nonexistent/table.json", "cannot open"},
    };
    for (const BadCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = c.path != nullptr ? c.path : "";
        if (path.empty()) {
            path = testing::TempDir() + "tarnwick_bad_table";
            std::FILE* f = std::fopen(path.c_str(), "wb");
            ASSERT_NE(f, nullptr);
            std::fwrite(c.text.data(), 1, c.text.size(), f);
            std::fclose(f);
        }
        const TableLoad load = LoadTableFile(path);
        EXPECT_FALSE(load.Ok());
        ASSERT_FALSE(load.problems.empty());
        EXPECT_NE(load.problems[0].find(c.problem), std::string::npos) << load.problems[0];
    }
    ::unlink(fifo.c_str());
    ::rmdir(dir.c_str());
}

TEST(BadTables, WhatIsNotATableIsSaidInPlainWords) {
    const struct {
        const char* name;
        std::string text;
        std::vector<std::string> problems;
    } cases[] = {
        {"empty", "", {"the file is empty"}},
        {"white space", " \r\n", {"the file holds only white space"}},
        {"NUL byte", std::string("{\"name\": \"t\",\0 \"fields\": {}}", 27),
         {"offset 13: a NUL byte; a table file is text (UTF-8)"}},
        {"not UTF-8", Json("", "\"title\": \"\xCF\xFB\", "),
         {"offset 24: not valid UTF-8 (a table file is UTF-8; convert it from its encoding, for "
          "example GBK, first)"}},
        {"GBK declared",
         "<?xml version=\"1.0\" encoding=\"GBK\"?><isopackager></isopackager>",
         {"offset 30: the file declares encoding \"GBK\", but table files are read as UTF-8 "
          "only; convert the file to UTF-8 and declare encoding=\"UTF-8\""}},
        {"jPOS field without class",
         "<isopackager><isofield id=\"0\" length=\"4\"/>"
         "<isofield id=\"1\" length=\"16\" class=\"org.jpos.iso.IFB_BITMAP\"/></isopackager>",
         {"field 0: attribute \"class\" is missing",
          "field 0: missing: the message type must be defined"}},
        {"misspelt key", Json(", \"4\": {\"lenght\": 12}"),
         {"field 4, key \"length\": missing: a fixed field needs its length",
          "field 4, key \"lenght\": unknown key (did you mean \"length\"?)"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(LoadTableText(c.text).problems, c.problems);
    }
}

TEST(TableText, ByteOrderMarkCommentsAndEveryProblemAtOnce) {
    TableLoad load = LoadTableText("\xEF\xBB\xBF// a table\n" +
                                   Json(", /* PAN */ \"2\": {\"length\": 19, \"prefix\": "
                                        "\"BCD.LL\", \"enc\": \"BCD\"}"));
    ASSERT_TRUE(load.Ok()) << load.problems.front();
    EXPECT_EQ(load.table->fields[2].prefixBytes, 1);
    load =
        LoadJsonTable(Json(", \"2\": {\"length\": 100, \"prefix\": \"BCD.LL\"}, \"3\": {}, "
                           "\"x\": {}"));
    EXPECT_EQ(load.problems.size(), 3u);
}

}  // namespace
