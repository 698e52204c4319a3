// The MAC of whole messages in both forms, and the keys file's refusals.
#include <gtest/gtest.h>

#include <string>

#include "iso/MessageKeys.h"
#include "tests/common/KeysFixture.h"

namespace {

TEST(MessageMac, Form64TakesTheBytesFromTypeToField64) {
    const KeySet keys = Keys(R"({"mak":"2222222222222222","macAlgorithm":"unionpay-ecb"})");
    // Independently: 13 bytes of length, TPDU and header before the type; 8 bytes of MAC last.
    const std::string_view input = kTypical64.substr(26, kTypical64.size() - 26 - 16);
    std::vector<std::uint8_t> bytes;
    ASSERT_EQ(ParseHex(input, bytes), HexStatus::Ok);
    MacValue expected;
    ASSERT_EQ(ComputeMac(MacAlgorithm::UnionPayEcb, keys.mak, bytes, {}, expected),
              CryptoStatus::Ok);

    MacCheck check;
    CheckTextMac(kTypical64, ParseRequest{}, keys, check);
    ASSERT_TRUE(check.done);
    EXPECT_FALSE(check.match);
    EXPECT_EQ(check.given, "3A4F9C0D12E5B776");
    EXPECT_EQ(check.computed, std::string(expected.field.begin(), expected.field.end()));

    std::string built(kTypical64);
    std::string problem;
    ASSERT_TRUE(FillMessageMac(built, ParseRequest{}, keys, problem)) << problem;
    EXPECT_EQ(built.substr(0, built.size() - 16), kTypical64.substr(0, kTypical64.size() - 16));
    const KeySet automatic = Keys(R"({"mak":"2222222222222222"})");
    CheckTextMac(built, ParseRequest{}, automatic, check);
    EXPECT_TRUE(check.match);
    EXPECT_EQ(check.algorithm, "unionpay-ecb");
}

TEST(MessageMac, Form128FillsHexTextAndSeesAChangedField) {
    const KeySet keys = Keys(R"({"mak":"0123456789ABCDEFFEDCBA9876543210","macAlgorithm":"x9.19"})");
    const ParseRequest request;  // automatic: the 4-digit ASCII length chooses 128 fields
    std::string message = GoldenText("typical128.txt");
    std::string problem;
    ASSERT_TRUE(FillMessageMac(message, request, keys, problem)) << problem;
    MacCheck check;
    CheckTextMac(message, request, keys, check);
    ASSERT_TRUE(check.done);
    EXPECT_EQ(check.field, 128);
    EXPECT_TRUE(check.match);
    EXPECT_EQ(check.given.size(), 8u);
    EXPECT_EQ(check.given.find_first_not_of("0123456789ABCDEF"), std::string::npos);
    // One digit of the PAN (field 2, part of the MAC text) changed: the MAC no longer holds.
    const std::size_t pan = message.find("36323235383830");
    ASSERT_NE(pan, std::string::npos);
    message[pan + 1] = '7';
    CheckTextMac(message, request, keys, check);
    EXPECT_FALSE(check.match);
}

TEST(KeysFile, RefusesNamingTheMember) {
    const struct {
        const char* json;
        const char* problem;
    } cases[] = {
        {R"({"mak":"0123456789ABCD"})", "\"mak\": a key must be 8, 16 or 24 bytes"},
        {R"({"tmk":"0123456789ABCDEG"})", "\"tmk\": holds a character that is not a hex digit"},
        {R"({"macAlgorithm":"md5"})", "\"macAlgorithm\": must be unionpay-ecb, x9.9, x9.19 or auto"},
        {R"({"pinFormat":7})", "\"pinFormat\": must be a number from 0 to 4"},
        {R"({"mac":"00"})", "\"mac\": not a member of a keys file"},
        {R"([1])", "not a JSON object"},
        {R"({"pik":"00"} x)", "not a JSON object"},
    };
    for (const auto& c : cases) {
        KeySet keys;
        std::string problem;
        EXPECT_FALSE(ParseKeysJson(c.json, keys, problem));
        EXPECT_EQ(problem, c.problem);
    }
}

}  // namespace
