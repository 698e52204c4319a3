// The ISO 8583 parse command: object choice in the three modes, errors and golden messages.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "codec/Conversions.h"
#include "iso/ParseIso8583.h"
#include "codec/PosPack.h"
#include "codec/PosPackExt.h"
#include "codec/Rows.h"
#include "codec/Texts.h"
#include "tests/codec/HexText.h"

namespace {

std::string FirstName(const CommandResult& r) {
    return r.rows.empty() ? std::string() : std::string(r.rows.front().Name());
}

std::string ValueOf(const CommandResult& r, std::string_view name) {
    for (const FieldRow& row : r.rows) {
        if (row.Name() == name) return std::string(row.Value());
    }
    return "<no row " + std::string(name) + ">";
}

const std::string kZeros36(72, '0');

struct ChoiceCase {
    const char* name;
    std::string text;
    int mode;
    Outcome outcome;
    std::string firstRow;   // name of the first row when Ok
    std::string typeValue;  // value of the "Type" or "MsgType" row when Ok
};

TEST(ParseIso8583, ObjectChoiceInAllThreeModes) {
    // 00 2E and 46 bytes: the binary length matches.
    const std::string bin =
        "002E"
        "0000"
        "0000000000000000" +
        kZeros36;
    // "0123" and 123 bytes: the ASCII length matches.
    const std::string ascii =
        "30313233"
        "00000000" +
        std::string(32, '0') + std::string(206, '0');
    const std::string noLength = GoldenText("typical64_nolength.txt");
    const ChoiceCase cases[] = {
        {"binary length, auto", bin, 0, Outcome::Ok, "Type", "0000"},
        {"binary length, 64: length read as type", bin, 1, Outcome::Ok, "Type", "002E"},
        {"binary length, 128", bin, 2, Outcome::Ok, "MsgType", "002E0000 -> "},
        {"ascii length, auto", ascii, 0, Outcome::Ok, "MsgType", "00000000 -> "},
        {"ascii length wins over 64", ascii, 1, Outcome::Ok, "MsgType", "00000000 -> "},
        {"ascii length, 128: not skipped", ascii, 2, Outcome::Ok, "MsgType", "30313233 -> 0123"},
        {"no length, auto: nothing", noLength, 0, Outcome::NoLengthMatch, "", ""},
        {"no length, 64", noLength, 1, Outcome::Ok, "TPDU", "0200"},
        {"white space, auto", " \r\n\t ", 0, Outcome::NoLengthMatch, "", ""},
        {"white space, 64", " \r\n\t ", 1, Outcome::Failed, "", ""},
        {"white space, 128", " \r\n\t ", 2, Outcome::Failed, "", ""},
        {"unknown mode acts as auto", noLength, 7, Outcome::NoLengthMatch, "", ""},
    };
    for (const ChoiceCase& c : cases) {
        SCOPED_TRACE(c.name);
        const CommandResult r = ParseIso8583Text(c.text, c.mode);
        ASSERT_EQ(r.outcome, c.outcome) << r.detail;
        if (c.outcome == Outcome::Failed) {
            EXPECT_EQ(r.error, kTextIsoParseError);
        }
        if (c.outcome != Outcome::Ok) {
            EXPECT_TRUE(r.rows.empty());
            continue;
        }
        EXPECT_EQ(FirstName(r), c.firstRow);
        EXPECT_EQ(ValueOf(r, c.firstRow == "MsgType" ? "MsgType" : "Type"), c.typeValue);
    }
}

TEST(ParseIso8583, EmptyAndOverlongTexts) {
    const CommandResult empty = ParseIso8583Text("", 1);
    EXPECT_EQ(empty.outcome, Outcome::Failed);
    EXPECT_EQ(empty.error, kTextMessageEmpty);

    // 10239 characters are taken (white space here, so automatic mode finds no length) ...
    EXPECT_EQ(ParseIso8583Text(std::string(kMaxMessageText, ' '), 0).outcome,
              Outcome::NoLengthMatch);
    // ... one more is refused, whatever the mode.
    for (int mode : {0, 1, 2}) {
        const CommandResult r = ParseIso8583Text(std::string(kMaxMessageText + 1, '0'), mode);
        EXPECT_EQ(r.outcome, Outcome::Failed);
        EXPECT_EQ(r.error, kTextIsoParseError);
        EXPECT_NE(r.detail.find("10239"), std::string::npos);
    }
}

TEST(ParseIso8583, GoldenMessagesDecodeInAutomaticMode) {
    const CommandResult r64 = ParseIso8583Text(GoldenText("typical64.txt"), 0);
    ASSERT_EQ(r64.outcome, Outcome::Ok) << r64.detail;
    ASSERT_EQ(r64.rows.size(), 4u + 12u);
    EXPECT_EQ(ValueOf(r64, "TPDU"), "6000030000");
    EXPECT_EQ(ValueOf(r64, "Bit 41"), "3132333435363738 -> 12345678");
    EXPECT_EQ(ValueOf(r64, "Bit 35"), "286225880123456789D28122010000");
    EXPECT_EQ(ValueOf(r64, "Bit 64"), "3A4F9C0D12E5B776");

    const CommandResult r128 = ParseIso8583Text(GoldenText("typical128.txt"), 0);
    ASSERT_EQ(r128.outcome, Outcome::Ok) << r128.detail;
    EXPECT_EQ(r128.rows.size(), 10u + 2u + 21u);
    EXPECT_EQ(FirstName(r128), "field 1");
    EXPECT_EQ(ValueOf(r128, "Bit 43"),
              "5441524E5749434B2054455354204D45524348414E54205348414E47484149202020434E20202020"
              " -> TARNWICK TEST MERCHANT SHANGHAI   CN    ");
}

TEST(ParseIso8583, LowerCaseLineBreaksAndOddDigitParseTheSame) {
    for (const char* file : {"typical64.txt", "typical128.txt"}) {
        SCOPED_TRACE(file);
        const std::string text = GoldenText(file);
        std::string pasted;
        for (std::size_t i = 0; i < text.size(); ++i) {
            pasted += static_cast<char>(std::tolower(static_cast<unsigned char>(text[i])));
            if (i % 32 == 31) pasted += "\r\n";
            if (i % 7 == 6) pasted += ' ';
        }
        const CommandResult a = ParseIso8583Text(text, 0);
        const CommandResult b = ParseIso8583Text(pasted, 0);
        const CommandResult c = ParseIso8583Text(text + "7", 0);  // the odd digit is not counted
        ASSERT_EQ(a.outcome, Outcome::Ok);
        for (const CommandResult* other : {&b, &c}) {
            ASSERT_EQ(other->outcome, Outcome::Ok);
            ASSERT_EQ(other->rows.size(), a.rows.size());
            for (std::size_t i = 0; i < a.rows.size(); ++i) {
                EXPECT_EQ(other->rows[i].Name(), a.rows[i].Name());
                EXPECT_EQ(other->rows[i].Length(), a.rows[i].Length());
                EXPECT_EQ(other->rows[i].Value(), a.rows[i].Value());
            }
        }
    }
}

TEST(ParseIso8583, LastFieldRunsIntoTheOddHalfByteThenZeros) {
    // 13 counted bytes; field 41 starts at 10 and runs on into the odd digit's byte 4F, then zeros.
    const CommandResult r = ParseIso8583Text("0200 0000000000800000 313233 4", 1);
    ASSERT_EQ(r.outcome, Outcome::Ok) << r.detail;
    EXPECT_EQ(ValueOf(r, "Bit 41"), "3132334F00000000 -> 123O");
}

TEST(ParseIso8583, DecodeFailuresSayWhere) {
    const std::string full = GoldenText("typical64.txt");
    // Cut after field 4, with the binary length fixed up: field 11 starts at the end and is read
    // from zeros; field 22 is then due past the end.
    const std::string head = full.substr(4, 2 * (11 + 2 + 8 + 9 + 3 + 6));
    ASSERT_EQ(head.size() / 2, 39u);
    const CommandResult cut = ParseIso8583Text("0027" + head, 0);
    ASSERT_EQ(cut.outcome, Outcome::Failed);
    EXPECT_EQ(cut.error, kTextIsoParseError);
    EXPECT_EQ(cut.detail, "field 22 would start at byte 44, past the end of the 41-byte message")
        << cut.detail;

    const CommandResult undefinedField = ParseIso8583Text("0200 0800000000000000 000000", 1);
    ASSERT_EQ(undefinedField.outcome, Outcome::Failed);
    EXPECT_EQ(undefinedField.detail, "field 5 is marked in the bitmap but not defined");

    const CommandResult shortOne = ParseIso8583Text("0200000000000000000000", 2);
    ASSERT_EQ(shortOne.outcome, Outcome::Failed);
    EXPECT_EQ(shortOne.detail, "message of 11 bytes is shorter than 13 bytes");
}

TEST(ParseIso8583, EachMessageDecodesAsWithANewObject) {
    // A long message, then shorter ones of the same kind: nothing of an earlier one shows.
    const std::string texts[] = {
        GoldenText("typical128.txt"),
        "30303235"
        "30383030"
        "80000000000000000400000000000000"
        "333031"
        "4142",
        GoldenText("typical64.txt"),
        "0017"
        "6000030000"
        "603100310000"
        "0200"
        "0000000002000000"
        "3030",
    };
    for (const std::string& text : texts) {
        SCOPED_TRACE(text.substr(0, 12));
        const CommandResult r = ParseIso8583Text(text, 0);
        ASSERT_EQ(r.outcome, Outcome::Ok) << r.detail;
        const auto bytes = Bytes(text);
        FieldRowList fresh;
        if (text.front() == '3') {
            CCupPosPackExt pack;
            ASSERT_GT(pack.Unpack(bytes.data(), static_cast<std::int32_t>(bytes.size())), 0);
            BuildRows(fresh, pack);
        } else {
            CCupPosPack pack;
            ASSERT_GT(pack.Unpack(bytes.data(), static_cast<std::int32_t>(bytes.size())), 0);
            BuildRows(fresh, pack);
        }
        ASSERT_EQ(r.rows.size(), fresh.size());
        for (std::size_t i = 0; i < fresh.size(); ++i) {
            EXPECT_EQ(r.rows[i].Name(), fresh[i].Name());
            EXPECT_EQ(r.rows[i].Length(), fresh[i].Length());
            EXPECT_EQ(r.rows[i].Value(), fresh[i].Value());
        }
    }
}

TEST(ParseIso8583, GarbageNeverCrashesAndReuseResetsTheResult) {
    const std::string inputs[] = {
        "zz",
        "\xB1\xA8\xCE\xC4\xCE\xAA\xBF\xD5",  // Chinese text
        std::string(5000, 'F'),
        "0200FFFFFFFFFFFFFFFF" + std::string(400, '9'),
        "30303130"
        "2E" +
            std::string(300, 'F'),
        std::string("0200\0"
                    "0000000000000000",
                    21),
        "FFFF" + std::string(2000, 'F'),
    };
    CommandResult reused;
    for (const std::string& in : inputs) {
        for (int mode : {0, 1, 2}) {
            SCOPED_TRACE(in.substr(0, 16) + " mode " + std::to_string(mode));
            const CommandResult fresh = ParseIso8583Text(in, mode);
            ParseIso8583Text(in, mode, reused);
            ASSERT_EQ(reused.outcome, fresh.outcome);
            ASSERT_EQ(reused.rows.size(), fresh.rows.size());
            ASSERT_EQ(reused.detail, fresh.detail);
            for (const FieldRow& row : fresh.rows) {
                EXPECT_EQ(row.Value().find('\0'), std::string_view::npos);
                EXPECT_LE(row.Name().size(), 15u);
            }
        }
    }
}

}  // namespace

namespace {

// The reference: StripWhiteSpace on the zero-terminated text, then HexToBytes.
std::string ReferenceBytes(const std::string& text) {
    std::string buf = text.substr(0, kMaxMessageText);
    buf.push_back('\0');
    StripWhiteSpace(buf.data(), buf.data());
    const std::size_t n = std::strlen(buf.c_str());
    std::vector<std::uint8_t> out((n + 1) / 2);
    HexToBytes(buf.data(), n, out.data());
    return std::to_string(n) + ":" + Hex(out);
}

std::string FastBytes(const std::string& text) {
    std::vector<std::uint8_t> out(kMaxMessageText / 2 + 1, 0xEE);
    const std::size_t n = MessageTextToBytes(text, out.data());
    for (std::size_t i = (n + 1) / 2; i < out.size(); ++i) {
        if (out[i] != 0xEE) return "wrote past the digits";
    }
    return std::to_string(n) + ":" + Hex(out.data(), (n + 1) / 2);
}

TEST(MessageTextToBytes, MatchesStripThenHexToBytes) {
    // Every byte value in every position of the first 16- and 8-character blocks, and after.
    for (int c = 0; c < 256; ++c) {
        for (std::size_t pos = 0; pos < 36; ++pos) {
            std::string text = "0123456789abcdefABCDEF0123456789abcdef";
            text.insert(pos, 1, static_cast<char>(c));
            SCOPED_TRACE("byte " + std::to_string(c) + " at " + std::to_string(pos));
            ASSERT_EQ(FastBytes(text), ReferenceBytes(text));
        }
    }
    // Lengths 0..40 of plain digits, so every tail length is taken.
    std::string digits;
    for (int len = 0; len <= 40; ++len) {
        ASSERT_EQ(FastBytes(digits), ReferenceBytes(digits)) << len;
        digits += "9aF0"[len % 4];
    }
    // Longer than 10239: only the first 10239 characters count.
    const std::string longText(kMaxMessageText + 5, 'a');
    EXPECT_EQ(FastBytes(longText), ReferenceBytes(longText));
}

}  // namespace
