// Real UnionPay terminal messages through the -full terminal table: the field rows stay those of
// the built-in form, and a field 60 longer than the built-in 17 digits is read whole, so the
// fields after it stay aligned.

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "iso/ParseIso8583.h"
#include "tables/TableFile.h"
#include "tests/common/ShippedTables.h"

namespace {


// The field rows as "name|length|value" lines: no summary, no sub-rows, no meanings.
std::string FieldLines(const CommandResult& r) {
    std::string s;
    for (const FieldRow& row : r.rows) {
        if (row.summary || row.parent >= 0) continue;
        std::string_view v = row.Value();
        if (!row.meaning.empty()) v = v.substr(0, v.size() - row.meaning.size() - 2);
        s.append(row.Name()).append("|").append(row.Length()).append("|").append(v).append("\n");
    }
    return s;
}

std::string ValueOf(const CommandResult& r, std::string_view name) {
    for (const FieldRow& row : r.rows) {
        if (row.Name() == name) return std::string(row.Value());
    }
    return "(absent)";
}

// A consume request (0200, magnetic stripe, field 60 of 13 digits) from the public test code of
// an open-source acquirer front end (package cn.mocredit.posp, App.java).
constexpr const char* kConsume =
    "00B460000583816022000000000200302404C030C09815000000000000000999000161350102100406354218"
    "710000002182D35011010593158700000080994218710000002182D156156000000000325400300000003434"
    "3435010DDD0000000059315870003030303030303031333035343931303730313130303633313536"
    "2E1BDD09A3C4897D2600000000000000001322000399000500"
    "00194143544E303030303030303030303030333231"
    "3046364332343444";

// A sign-in reply (0810, 60.3 = 003, field 62 with 40 bytes of working keys) from the quick-start
// example of the open-source java8583 library (package cn.ajsgn.common.java8583, QuickStart).
constexpr const char* kSignInReply =
    "007960000000006022000000000810003800010AC0001400017210014105100803099988303531303030"
    "303030323033303035303038303030313330393331303038333938353030380011000000420030004051DB"
    "A323AF60599287F61C7E5A9484AEEF8DE29BD3E614FCB51122D4E9B84E2A608CD9C2A4DAABF2";

TEST(RealMessages, FullTerminalTableKeepsTheBuiltinFieldRows) {
    const FieldTable full = Shipped("unionpay-pos64-full");
    for (const char* hex : {kConsume, kSignInReply}) {
        SCOPED_TRACE(std::string(hex).substr(0, 40));
        CommandResult builtin, decoded;
        ParseIso8583Text(hex, kInterfaceAuto, builtin);
        ASSERT_EQ(std::string(builtin.error), "");
        TableDecoder(full).Parse(hex, decoded);
        EXPECT_EQ(std::string(decoded.error), "");
        EXPECT_TRUE(decoded.warnings.empty());
        EXPECT_EQ(FieldLines(decoded), FieldLines(builtin));
    }
    // The sign-in reply's field 62 opens by its 60.3 (003: double-length keys).
    CommandResult reply;
    TableDecoder(full).Parse(kSignInReply, reply);
    EXPECT_EQ(ValueOf(reply, "  62.2"), "EF8DE29B");
    EXPECT_EQ(ValueOf(reply, "  62.4"), "A4DAABF2");
}

// Built from the consume request above, its field 60 lengthened to 19 digits as later revisions
// of the terminal form send it (60.1-60.7 and two digits after them), the length bytes adjusted.
constexpr const char* kLongField60 =
    "00B760000583816022000000000200302404C030C09815000000000000000999000161350102100406354218"
    "710000002182D35011010593158700000080994218710000002182D156156000000000325400300000003434"
    "3435010DDD0000000059315870003030303030303031333035343931303730313130303633313536"
    "2E1BDD09A3C4897D2600000000000000001922000399000500000000"
    "00194143544E303030303030303030303030333231"
    "3046364332343444";

TEST(RealMessages, LongField60IsReadWholeByTheFullTableAndCutByTheExactOne) {
    CommandResult full;
    TableDecoder(Shipped("unionpay-pos64-full")).Parse(kLongField60, full);
    ASSERT_EQ(std::string(full.error), "");
    EXPECT_TRUE(full.warnings.empty());
    EXPECT_EQ(ValueOf(full, "Bit 60"), "001922000399000500000000");
    EXPECT_EQ(ValueOf(full, "  60.7"), "000");
    // The fields after 60 are those of the original message.
    CommandResult original;
    ParseIso8583Text(kConsume, kInterfaceAuto, original);
    EXPECT_EQ(ValueOf(full, "Bit 62"), ValueOf(original, "Bit 62"));
    EXPECT_EQ(ValueOf(full, "Bit 64"), ValueOf(original, "Bit 64"));

    // The exact table cuts field 60 at 17 digits, as the built-in form does: the fields after it
    // are misaligned, and a warning says so.
    CommandResult exact, builtin;
    TableDecoder(Shipped("unionpay-pos64")).Parse(kLongField60, exact);
    ParseIso8583Text(std::string_view(kLongField60).substr(4), kInterface64, builtin);
    EXPECT_FALSE(exact.warnings.empty());
    EXPECT_EQ(FieldLines(exact), FieldLines(builtin));
    EXPECT_NE(ValueOf(exact, "Bit 64"), ValueOf(original, "Bit 64"));
}

}  // namespace
