// A table's MAC rules: each input kind and field form against a MAC computed here, the shipped
// UnionPay tables against the built-in forms, and the rules check-table refuses.
#include <gtest/gtest.h>

#include <string>

#include "codec/Conversions.h"
#include "iso/MessageKeys.h"
#include "tables/TableFile.h"
#include "tests/common/KeysFixture.h"

namespace {

constexpr const char* kMak = R"({"mak":"0123456789ABCDEFFEDCBA9876543210"})";

// A 2-byte length, then type, bitmap and fields 3, 11, 41 and 64 (binary, 8 bytes).
std::string Table(const std::string& mac, bool mark11) {
    return R"({"name":"t","charset":"UTF-8","bitmap":{"bits":64,"secondary":"never"},
      "frame":[{"part":"length","enc":"Binary","bytes":2}],"pack":{"macField":64},"mac":)" +
           mac + R"(,"fields":{"0":{"length":4},"3":{"length":6},"11":{"length":6,"mac":)" +
           (mark11 ? "true" : "false") +
           R"(},"41":{"length":8},"64":{"length":8,"enc":"Binary"}}})";
}

const std::string kLength = "0028";
const std::string kBody = ToHex(std::string_view("0200")) + "2020000000800001" +
                          ToHex(std::string_view("000000000123TERM0001"));

TEST(TableMac, EachInputAndFormMatchesTheMacComputedHere) {
    const struct {
        const char* mac;
        bool mark11;
        MacAlgorithm alg;
        std::string input;  // hex
        MacForm form;
    } cases[] = {
        {R"({"field":64,"input":"bytes","from":"type","algorithm":"x9.9","form":"block"})", false,
         MacAlgorithm::X99, kBody, MacForm::Block},
        {R"({"input":"bytes","from":0,"algorithm":"x9.19","form":"hex8"})", false,
         MacAlgorithm::X919, kLength + kBody, MacForm::Hex8},
        {R"({"input":"fields","fields":[0,11,41],"separator":"|","algorithm":"unionpay-ecb",
             "form":"algorithm"})", false,
         MacAlgorithm::UnionPayEcb, ToHex(std::string_view("0200|000123|TERM0001")),
         MacForm::Algorithm},
        // A marked field and nothing else stated: the fields' text, 8 hex characters.
        {R"({"algorithm":"x9.9"})", true, MacAlgorithm::X99,
         ToHex(std::string_view("000123")), MacForm::Hex8},
    };
    const KeySet keys = Keys(kMak);  // "auto": the table's algorithm is used
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mac);
        const TableLoad load = LoadJsonTable(Table(c.mac, c.mark11));
        ASSERT_TRUE(load.Ok()) << (load.problems.empty() ? "" : load.problems[0]);
        std::vector<std::uint8_t> input;
        ASSERT_EQ(ParseHex(c.input, input), HexStatus::Ok);
        MacValue mac;
        ASSERT_EQ(ComputeMac(c.alg, keys.mak, input, {}, mac), CryptoStatus::Ok);
        std::string field = ToHex(mac.field);
        if (c.form == MacForm::Block) field = ToHex(mac.block);
        if (c.form == MacForm::Hex8) {
            field = ToHex(std::string_view(ToHex(std::span<const std::uint8_t>(mac.block).first(4))));
        }

        ParseRequest request;
        request.table = &*load.table;
        std::string message = kLength + kBody + "0000000000000000";
        std::string problem;
        ASSERT_TRUE(FillMessageMac(message, request, keys, problem)) << problem;
        EXPECT_EQ(message, kLength + kBody + field);
        MacCheck check;
        CheckTextMac(message, request, keys, check);
        EXPECT_TRUE(check.match);
        EXPECT_EQ(check.algorithm, MacAlgorithmName(c.alg));
    }
}

TEST(TableMac, ShippedTablesGiveTheBuiltInFormsRows) {
    for (const auto& [table, golden] : {std::pair{"unionpay-pos64", "typical64.txt"},
                                        std::pair{"unionpay-128", "typical128.txt"}}) {
        ParseRequest shipped;
        shipped.table = ShippedTableValue(table);
        ASSERT_NE(shipped.table, nullptr);
        const std::string text = GoldenText(golden);
        for (const char* alg : {"unionpay-ecb", "x9.9", "x9.19", "auto"}) {
            SCOPED_TRACE(std::string(table) + " " + alg);
            const KeySet keys = Keys(R"({"mak":"0123456789ABCDEFFEDCBA9876543210","macAlgorithm":")" +
                                     std::string(alg) + "\"}");
            std::string built = text;
            std::string fromTable = text;
            std::string problem;
            ASSERT_TRUE(FillMessageMac(built, ParseRequest{}, keys, problem)) << problem;
            ASSERT_TRUE(FillMessageMac(fromTable, shipped, keys, problem)) << problem;
            EXPECT_EQ(fromTable, built);
            for (const std::string& message : {text, built}) {
                MacCheck a;
                MacCheck b;
                CheckTextMac(message, ParseRequest{}, keys, a);
                CheckTextMac(message, shipped, keys, b);
                ASSERT_TRUE(a.done);
                EXPECT_EQ(b.field, a.field);
                EXPECT_EQ(b.given, a.given);
                EXPECT_EQ(b.computed, a.computed);
                EXPECT_EQ(b.algorithm, a.algorithm);
                EXPECT_EQ(b.match, a.match);
                EXPECT_EQ(b.tried, a.tried);
            }
        }
    }
}

TEST(TableMac, CheckRefusesRulesThatCannotHold) {
    const struct {
        const char* mac;
        const char* problem;
    } cases[] = {
        {R"({"input":"fields"})", "no field before the MAC field is marked"},
        {R"({"from":3})", "offset 3 lies past the framing"},
        {R"({"from":"length"})", "must be \"type\" or a byte offset"},
        {R"({"algorithm":"md5"})", "unknown word \"md5\""},
        {R"({"form":"hex"})", "unknown word \"hex\""},
        {R"({"field":3})", "field 3 must be fixed at 8 bytes"},
        {R"({"fields":[65]})", "entry 1 is not a field number"},
        {R"({"fields":[2]})", "field 2, key \"mac\": the field is not defined"},
        {R"({"separator":"123456789","fields":[3]})", "more than 8 bytes"},
        {R"({"sepraator":" "})", "sepraator"},
    };
    for (const auto& c : cases) {
        const TableLoad load = LoadJsonTable(Table(c.mac, false));
        EXPECT_FALSE(load.Ok()) << c.mac;
        std::string all;
        for (const std::string& p : load.problems) all += p + "\n";
        EXPECT_NE(all.find(c.problem), std::string::npos) << c.mac << ": " << all;
    }
}

}  // namespace
