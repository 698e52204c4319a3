// The table-driven engine: built-in tables against the objects, failure detail, warnings,
// buffers under changed tables, and a loaded-style table through decode and pack.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codec/Engine.h"
#include "iso/ParseIso8583.h"
#include "codec/PosPack.h"
#include "codec/PosPackExt.h"
#include "codec/Texts.h"
#include "tests/codec/HexText.h"

namespace {

std::string HexText(const std::vector<std::uint8_t>& b) { return Hex(b.data(), b.size()); }

void ExpectSameRows(const CommandResult& a, const CommandResult& b) {
    ASSERT_EQ(a.rows.size(), b.rows.size());
    for (std::size_t i = 0; i < a.rows.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(a.rows[i].Name(), b.rows[i].Name());
        EXPECT_EQ(a.rows[i].Length(), b.rows[i].Length());
        EXPECT_EQ(a.rows[i].Value(), b.rows[i].Value());
    }
}

// The built-in table values decode exactly as the objects do, over golden messages and
// variants of them (each one cut one field shorter, lengths fixed up).
TEST(EngineTable, BuiltinTablesDecodeAsTheAutomaticMode) {
    struct Case {
        const char* name;
        std::string text;
        BuiltinForm form;
    };
    std::vector<Case> cases = {
        {"golden 64", GoldenText("typical64.txt"), BuiltinForm::kUnionPay64},
        {"golden 128", GoldenText("typical128.txt"), BuiltinForm::kUnionPay128},
        {"64 with TPDU, no fields", "0015 6000070000 603100310000 0800 0000000000000000",
         BuiltinForm::kUnionPay64},
        {"128 without header", HexText(Ascii("0023")) + HexText(Ascii("0800")) +
                                   "80000000000000000400000000000000" + HexText(Ascii("301")),
         BuiltinForm::kUnionPay128},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const CommandResult builtin = ParseIso8583Text(c.text, 0);
        const CommandResult table = ParseIso8583WithTable(c.text, BuiltinTable(c.form));
        ASSERT_EQ(builtin.outcome, Outcome::Ok) << builtin.detail;
        ASSERT_EQ(table.outcome, Outcome::Ok) << table.detail;
        ExpectSameRows(builtin, table);
    }
}

// Every failure says which field, where it starts (from the first byte, length included) and
// why; the rows decoded before it stay with the result.
TEST(EngineFailure, FieldOffsetAndReasonPerCause) {
    FieldTable strict = BuiltinTable(BuiltinForm::kUnionPay64);
    strict.strict = true;
    const std::string golden64 = GoldenText("typical64.txt");
    struct Case {
        const char* name;
        std::string text;
        int mode;                  // interface type; -1: decode with `strict`
        std::int32_t field;
        std::int64_t offset;
        std::string reason;        // start of the reason
        std::size_t partialRows;   // rows decoded before the failure
    };
    const Case cases[] = {
        {"undefined field", "0200 0800000000000000 000000", 1, 5, 10,
         "field 5 is marked in the bitmap but not defined", 2},
        {"field past the end", "0027" + golden64.substr(4, 78), 0, 22, 44,
         "field 22 would start at byte 44", 8},
        {"shorter than the framing rule", "0200000000000000000000", 2, -1, 0,
         "message of 11 bytes is shorter than 13 bytes", 0},
        {"stated length above the maximum", "0200 4000000000000000 25 1122334455667788990011223344",
         -1, 2, 10, "field 2 states length 25, above its maximum 19", 2},
        {"message shorter than its framing", "6000070000 6031", -1, -1, 0,
         "message of 7 bytes is shorter than its framing of 11 bytes", 0},
    };
    FieldTable shortFrame = strict;  // TPDU and header always there
    shortFrame.minMessageBytes = 0;
    shortFrame.frame[1].presence = Presence::Always;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const CommandResult r =
            c.mode >= 0 ? ParseIso8583Text(c.text, c.mode)
                        : ParseIso8583WithTable(c.text, c.field == -1 ? shortFrame : strict);
        ASSERT_EQ(r.outcome, Outcome::Failed);
        EXPECT_EQ(r.error, kTextIsoParseError);
        EXPECT_EQ(r.failure.field, c.field);
        EXPECT_EQ(r.failure.offset, c.offset);
        EXPECT_EQ(r.failure.reason.substr(0, c.reason.size()), c.reason) << r.failure.reason;
        EXPECT_EQ(r.detail, r.failure.reason);
        EXPECT_EQ(r.failedRows, FailedRows::Partial);
        EXPECT_EQ(r.rows.size(), c.partialRows);
    }
}

TEST(EngineWarnings, ShortMessagesAndStatedLengths) {
    FieldTable shorter = BuiltinTable(BuiltinForm::kUnionPay64);
    shorter.allowShorterLength = true;
    struct Case {
        const char* name;
        std::string text;
        const FieldTable* table;  // null: the interface type
        int mode;
        std::string warning;  // start of the one warning
        std::size_t rows;
    };
    const Case cases[] = {
        {"fields run past the end", "0200 0000000000800000 313233 4", nullptr, 1,
         "the message is 5 bytes shorter than its fields", 3},
        {"overlong stated length is cut", "0015 0200 4000000000000000 25 11223344556677889900",
         nullptr, 0, "field 2 states length 25, above its maximum 19; read as the maximum", 3},
        {"own length states fewer bytes", "000D 0200 2000000000000000 000000 0D0A4C4F47",
         &shorter, 0, "the message's length states 13 bytes; the 5 bytes after them", 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const CommandResult r = c.table != nullptr ? ParseIso8583WithTable(c.text, *c.table)
                                                   : ParseIso8583Text(c.text, c.mode);
        ASSERT_EQ(r.outcome, Outcome::Ok) << r.detail;
        ASSERT_EQ(r.warnings.size(), 1u);
        EXPECT_EQ(r.warnings[0].substr(0, c.warning.size()), c.warning) << r.warnings[0];
        EXPECT_EQ(r.rows.size(), c.rows);
    }
}

// A table raised after the buffers were reserved never makes a store run past a buffer.
TEST(EngineBuffers, TableChangedAfterConstruction) {
    CCupPosPack pack;
    pack.m_attr[3] = {0, 900, 3, 'A', 'A', 0};  // was 6 BCD digits in 3 bytes
    const auto long3 = Ascii("900") + std::vector<std::uint8_t>(900, 'x');
    const std::uint8_t* neighbour = pack.m_value[4].data.data();
    ASSERT_EQ(pack.UnpackField(long3.data(), 3), 903);
    EXPECT_GE(pack.m_value[3].data.size(), 904u);
    EXPECT_EQ(pack.m_value[4].data.data(), neighbour);
    EXPECT_EQ(pack.m_value[4].data[0], 0) << "the next field's buffer is untouched";

    CCupPosPackExt ext;
    ext.m_attr[70] = {1, 2000, 0, 'A', 'A', 0};
    const auto msg = Ascii("0800") + Bytes("8000000000000000 0400000000000000") +
                     std::vector<std::uint8_t>(2000, 'y');
    ext.m_hasLengthPrefix = 0;
    ASSERT_EQ(ext.Unpack(msg.data(), static_cast<std::int32_t>(msg.size())), 2020);
    std::vector<std::uint8_t> out(static_cast<std::size_t>(ext.MaxPackedSize()));
    std::int32_t len = 0;
    EXPECT_GT(ext.Pack(out.data(), &len), 0);
}

// A table of another shape: ASCII bitmap with the secondary half by bit 1, binary and ASCII
// length prefixes, a fixed ASCII length frame; decoded, then packed back to the same bytes.
FieldTable AsciiBitmapTable() {
    FieldTable t;
    t.name = "test";
    t.bitmap = {128, SecondaryBitmap::Bit1, BitmapEnc::Ascii};
    FramePart length;
    length.kind = FramePartKind::Length;
    length.bytes = 4;
    length.lengthEnc = LengthEnc::Ascii;
    length.presence = Presence::LengthMatch;
    t.frame = {length};
    t.fields.assign(129, FieldDef{});
    auto def = [&](int f, bool fixed, int maxLen, int prefix, PrefixEnc pe, DataEnc enc) {
        FieldDef& d = t.fields[static_cast<std::size_t>(f)];
        d.fixed = fixed;
        d.maxLen = maxLen;
        d.prefixBytes = prefix;
        d.prefixEnc = pe;
        d.enc = enc;
        d.rowText = enc == DataEnc::Ascii ? RowTextPart::Data : RowTextPart::None;
    };
    def(0, true, 4, 0, PrefixEnc::Ascii, DataEnc::Ascii);
    def(1, true, 32, 0, PrefixEnc::Ascii, DataEnc::Ascii);
    def(2, false, 19, 2, PrefixEnc::Ascii, DataEnc::Ascii);
    def(52, false, 300, 2, PrefixEnc::Binary, DataEnc::Binary);
    def(70, true, 3, 0, PrefixEnc::Ascii, DataEnc::Ascii);
    t.typeRow = {"MTI", "", 0, true};
    t.bitmapRow = {"Bitmap", "", 0, true};
    t.packLastField = 128;
    return t;
}

TEST(EngineTable, AsciiBitmapBinaryPrefixDecodeAndPack) {
    const FieldTable t = AsciiBitmapTable();
    struct Case {
        const char* name;
        std::vector<std::uint8_t> body;
        std::vector<std::string> rows;  // "name|length|value"
    };
    const Case cases[] = {
        {"primary only",
         Ascii("0100" "4000000000001000" "05ABCDE") + Bytes("0002 BEEF"),
         {"MTI|4|30313030 -> 0100", "Bitmap|16|34303030303030303030303031303030 -> 4000000000001000",
          "Bit 2|5|30354142434445 -> ABCDE", "Bit 52|2|0002BEEF"}},
        {"secondary by bit 1",
         Ascii("0800" "80000000000000000400000000000000" "301"),
         {"MTI|4|30383030 -> 0800",
          "Bitmap|32|" + HexText(Ascii("80000000000000000400000000000000")) +
              " -> 80000000000000000400000000000000",
          "Bit 70|3|333031 -> 301"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        char len[5];
        std::snprintf(len, sizeof len, "%04zu", c.body.size());
        const auto wire = Ascii(len) + c.body;
        const CommandResult r = ParseIso8583WithTable(HexText(wire), t);
        ASSERT_EQ(r.outcome, Outcome::Ok) << r.detail;
        std::vector<std::string> got;
        for (const FieldRow& row : r.rows) {
            got.push_back(std::string(row.Name()) + "|" + std::string(row.Length()) + "|" +
                          std::string(row.Value()));
        }
        EXPECT_EQ(got, c.rows);

        // Pack the same values back: length, type, bitmap, fields.
        std::vector<FieldAttr> attrs = AttrsOf(t);
        std::vector<std::uint8_t> list(attrs.size());
        std::vector<FieldValue> values(attrs.size());
        FieldBufferArena arena;
        arena.Reserve(attrs, values);
        FrameFound found;
        const FieldSet set{attrs, list, values, arena};
        ASSERT_EQ(UnpackFramed(t, set, wire.data(), static_cast<std::int32_t>(wire.size()),
                               wire.size(), LengthRule::Match, found, DecodeContext{}),
                  static_cast<std::int32_t>(wire.size()));
        std::vector<std::uint8_t> out(static_cast<std::size_t>(MaxFramedSize(t, attrs)));
        std::int32_t outLen = 0;
        ASSERT_EQ(PackFramed(t, set, FrameBytes{}, out.data(), &outLen),
                  static_cast<std::int32_t>(wire.size()));
        EXPECT_EQ(Hex(out.data(), wire.size()), HexText(wire));
    }
}

}  // namespace

// A built-in table's field records are made once and shared; a copy, which its holder may
// change, makes its own from its fields as they are.
TEST(EngineRecords, SealedTablesShareRecordsAndCopiesFollowTheirFields) {
    const FieldTable& builtin = BuiltinTable(BuiltinForm::kUnionPay128);
    const FieldAttrCache::Records sealed = SharedAttrsOf(builtin);
    ASSERT_NE(sealed, nullptr);
    EXPECT_EQ(SharedAttrsOf(builtin), sealed);
    const std::vector<FieldAttr> fresh = AttrsOf(builtin);
    ASSERT_EQ(sealed->attrs.size(), fresh.size());
    for (std::size_t f = 0; f < fresh.size(); ++f) EXPECT_TRUE(SameAttr(sealed->attrs[f], fresh[f]));
    EXPECT_EQ(sealed->maxFramed, MaxFramedSize(builtin, fresh));

    FieldTable copy = builtin;
    EXPECT_EQ(copy.attrs.Get(), nullptr);
    copy.fields[2].maxLen = 5;
    Message m(copy);
    EXPECT_EQ(m.Attrs()[2].maxLen, 5);
    EXPECT_FALSE(m.SetText(2, "123456").ok);
    EXPECT_TRUE(m.SetText(2, "12345").ok);
}

// A new message's room is not cleared, yet its type and bitmap rows, which show a fixed number of
// bytes whatever is stored, show zeros.
TEST(EngineRecords, NewMessageShowsZeroTypeAndBitmap) {
    for (const BuiltinForm form : {BuiltinForm::kUnionPay64, BuiltinForm::kUnionPay128}) {
        Message m(BuiltinTable(form));
        FieldRowList rows;
        RowAppender out(rows);
        m.AppendRows(out);
        out.Finish();
        ASSERT_EQ(rows.size(), 2u);
        for (const FieldRow& row : rows) {
            const std::string_view hex = row.Value().substr(0, row.Value().find(' '));
            EXPECT_FALSE(hex.empty());
            EXPECT_EQ(hex.find_first_not_of('0'), std::string_view::npos) << row.Value();
        }
    }
}
