// PIN blocks and sign-in working keys of whole messages: checked, shown only when asked, built.
#include <gtest/gtest.h>

#include <string>

#include "codec/FieldTable.h"
#include "iso/MessageKeys.h"
#include "tests/common/KeysFixture.h"

namespace {

std::vector<std::uint8_t> Bytes(std::string_view hex) {
    std::vector<std::uint8_t> b;
    EXPECT_EQ(ParseHex(hex, b), HexStatus::Ok);
    return b;
}

std::string RowsText(const CommandResult& result) {
    std::string s;
    for (const FieldRow& r : result.rows) {
        s.append(r.name.View()).append("|").append(r.value.View()).append("\n");
    }
    return s;
}

/// The key rows of checks (with their "name|value" lines) and its JSON, shown as show says.
struct KeyOutput {
    CommandResult result;
    std::string rows;
    std::string json;
};

KeyOutput ShowKeys(const MessageChecks& checks, KeyShow show) {
    KeyOutput o;
    o.result.rowEncoding = TextEncoding::Utf8OrGbk;
    AddKeyRows(o.result, checks, show);
    AppendKeyChecksJson(o.json, checks, show);
    o.rows = RowsText(o.result);
    return o;
}

TEST(MessagePin, BuiltBlocksReadBackOnlyWithTheirKeyAndPan) {
    struct Case {
        const char* built;    // keys the block is made with
        const char* checked;  // keys it is read with
        bool dropField2;      // the PAN from field 35 only
        bool valid;
        int format;
    };
    const Case cases[] = {
        {R"({"pik":"1111111111111111","pinFormat":0})", R"({"pik":"1111111111111111"})", false, true, 0},
        {R"({"pik":"1111111111111111","pinFormat":0})", R"({"pik":"1111111111111111"})", true, true, 0},
        {R"({"pik":"0123456789ABCDEFFEDCBA9876543210","pinFormat":3})",
         R"({"pik":"0123456789ABCDEFFEDCBA9876543210"})", false, true, 3},
        {R"({"pik":"0123456789ABCDEFFEDCBA9876543210","pinFormat":1})",
         R"({"pik":"0123456789ABCDEFFEDCBA9876543210"})", false, true, 1},
        // A wrong PIK gives "not valid", never a made-up PIN.
        {R"({"pik":"1111111111111111","pinFormat":0})", R"({"pik":"2222222222222222"})", false, false, -1},
    };
    for (const Case& c : cases) {
        std::string message(kTypical64);
        if (c.dropField2) {
            // Field 2 taken out: bitmap byte 1 0x70 -> 0x30 and its 9 bytes gone; length 0x67 -> 0x5E.
            message = "005E" + message.substr(4, 26) + "3020048020C08011" + message.substr(64);
        }
        std::string problem;
        ASSERT_TRUE(FillMessagePin(message, ParseRequest{}, Keys(c.built), "123456", problem)) << problem;
        MessageChecks checks;
        CheckTextKeys(message, ParseRequest{}, Keys(c.checked), checks);
        ASSERT_TRUE(checks.pin.done) << c.built;
        EXPECT_EQ(checks.pin.valid, c.valid) << c.built;
        EXPECT_EQ(checks.pin.format, c.format) << c.built;
        EXPECT_EQ(checks.pin.length, c.valid ? 6 : 0);
        EXPECT_EQ(checks.pin.pin, c.valid ? "123456" : "");
    }
}

TEST(MessagePin, FormatZeroBlockMatchesTheCommandAndDigitsShowOnlyWhenAsked) {
    std::string message(kTypical64);
    std::string problem;
    const KeySet keys = Keys(R"({"pik":"1111111111111111","mak":"2222222222222222"})");
    ASSERT_TRUE(FillMessagePin(message, ParseRequest{}, keys, "123456", problem));
    // pin-block --format 0 --pin 123456 --pan 6225880123456789 --key 1111111111111111
    EXPECT_NE(message.find("8427DE0F942A7A9D"), std::string::npos);
    MessageChecks checks;
    CheckTextKeys(message, ParseRequest{}, keys, checks);
    for (const bool show : {false, true}) {
        const KeyOutput shown = ShowKeys(checks, KeyShow{show, false});
        EXPECT_EQ(shown.rows.find("123456") != std::string::npos, show);
        EXPECT_EQ(shown.json.find("123456") != std::string::npos, show);
        EXPECT_NE(shown.json.find(R"("pin":{"field":52,"format":0,"length":6,"valid":true)"), std::string::npos);
    }
    EXPECT_FALSE(FillMessagePin(message, ParseRequest{}, keys, "12a4", problem));
    EXPECT_EQ(problem.find("12a4"), std::string::npos);
}

/// A sign-in reply of the 64-field form carrying field 60 with the code and field 62.
std::string SignInReply(std::string_view code, std::span<const std::uint8_t> field62) {
    const std::vector<std::uint8_t> bytes = Bytes(kTypical64);
    Message m(BuiltinTable(BuiltinForm::kUnionPay64));
    EXPECT_GE(m.Decode(bytes.data(), static_cast<std::int32_t>(bytes.size()), bytes.size(),
                       LengthRule::Match, {}), 0);
    EXPECT_TRUE(m.SetText(0, "0810").ok);
    EXPECT_TRUE(m.SetText(60, "00000001" + std::string(code)).ok);
    EXPECT_TRUE(m.Set(62, field62).ok);
    m.Clear(64);
    std::vector<std::uint8_t> out;
    EXPECT_TRUE(m.Encode(out).ok);
    return ToHex(out);
}

TEST(SignIn, WorkingKeysOpenUnderTheTmkForEachCode) {
    const KeySet keys = Keys(R"({"tmk":"0123456789ABCDEFFEDCBA9876543210"})");
    for (std::string_view code : {"001", "003", "004"}) {
        const SignInLayout layout = *SignInLayoutOf(code);
        KeySet working;
        std::vector<std::uint8_t> field;
        std::string problem;
        ASSERT_TRUE(MakeSignInKeys(keys.tmk, layout, working, field, problem)) << problem;
        ASSERT_EQ(field.size(), code == "001" ? 24u : code == "003" ? 40u : 60u);
        EXPECT_TRUE(HasOddParity(working.pik.Bytes()));

        field[field.size() - 1] ^= 0x01;  // the last key's check value broken
        MessageChecks checks;
        CheckTextKeys(SignInReply(code, field), ParseRequest{}, keys, checks);
        ASSERT_TRUE(checks.signIn.done) << code;
        ASSERT_EQ(checks.signIn.keys.size(), layout.keys);
        EXPECT_TRUE(checks.signIn.keys[0].match);
        EXPECT_FALSE(checks.signIn.keys.back().match);
        EXPECT_TRUE(std::ranges::equal(checks.signIn.keys[1].key.Bytes(), working.mak.Bytes()));

        const std::string pik = ToHex(working.pik.Bytes());
        for (const bool show : {false, true}) {
            const KeyOutput shown = ShowKeys(checks, KeyShow{false, show});
            const std::string& rows = shown.rows;
            const std::string& json = shown.json;
            EXPECT_NE(rows.find("  PIK|校验值正确"), std::string::npos);
            EXPECT_NE(rows.find(std::string("  ") + (code == "004" ? "TDK" : "MAK") + "|校验值错误"),
                      std::string::npos);
            EXPECT_EQ(rows.find(pik) != std::string::npos, show);
            EXPECT_EQ(json.find(pik) != std::string::npos, show);
            EXPECT_NE(json.find(R"("keys":[{"name":"PIK","kcv":")"), std::string::npos);
            for (const FieldRow& r : shown.result.rows) {
                if (r.name.View().starts_with("  ")) {
                    EXPECT_EQ(r.parent, kWorkingKeysField);
                }
            }
        }
    }
}

TEST(SignIn, NotOpenedWithoutTmkOrOnARequest) {
    KeySet working;
    std::vector<std::uint8_t> field;
    std::string problem;
    const KeySet keys = Keys(R"({"tmk":"0123456789ABCDEFFEDCBA9876543210"})");
    ASSERT_TRUE(MakeSignInKeys(keys.tmk, *SignInLayoutOf("001"), working, field, problem));
    MessageChecks checks;
    CheckTextKeys(SignInReply("001", field), ParseRequest{}, Keys(R"({"mak":"2222222222222222"})"), checks);
    EXPECT_FALSE(checks.signIn.done);
    EXPECT_FALSE(MakeSignInKeys(SecretKey{}, *SignInLayoutOf("001"), working, field, problem));
    EXPECT_FALSE(SignInLayoutOf("002"));
}

}  // namespace
