// The ISO 4217 currency list and the ISO 3166-1 country list.
#include <gtest/gtest.h>

#include <string>

#include "codec/IsoCodes.h"
#include "codec/TextDecode.h"

namespace {

bool Upper(std::string_view s, std::size_t n) {
    if (s.size() != n) return false;
    for (const char c : s) {
        if (c < 'A' || c > 'Z') return false;
    }
    return true;
}

}  // namespace

// Sorted and unique (the look-up halves the list), well formed, every name in code page 936.
TEST(IsoCodes, ListsAreSortedUniqueAndWellFormed) {
    int last = 0;
    for (const IsoCurrency& c : IsoCurrencies()) {
        SCOPED_TRACE(std::string(c.letters));
        EXPECT_GT(c.numeric, last);
        last = c.numeric;
        EXPECT_LT(c.numeric, 1000);
        EXPECT_TRUE(Upper(c.letters, 3));
        EXPECT_LE(c.exponent, 4);
        EXPECT_EQ(FindIsoCurrency(c.numeric), &c);
        EXPECT_EQ(Utf8ToGbk(c.chinese).find('?'), std::string::npos);
    }
    last = 0;
    for (const IsoCountry& c : IsoCountries()) {
        SCOPED_TRACE(std::string(c.alpha2));
        EXPECT_GT(c.numeric, last);
        last = c.numeric;
        EXPECT_LT(c.numeric, 1000);
        EXPECT_TRUE(Upper(c.alpha2, 2));
        EXPECT_EQ(FindIsoCountry(c.numeric), &c);
        EXPECT_EQ(IsoCountryNameGbk(c.numeric), Utf8ToGbk(c.chinese));
        EXPECT_EQ(IsoCountryNameGbk(c.numeric).find('?'), std::string::npos);
    }
    EXPECT_EQ(IsoCountries().size(), 249u);  // every code ISO 3166-1 assigns
}

TEST(IsoCodes, Vectors) {
    const struct {
        int numeric;
        const char* letters;
        int exponent;
    } currencies[] = {
        {156, "CNY", 2}, {840, "USD", 2}, {978, "EUR", 2}, {360, "IDR", 2}, {392, "JPY", 0},
        {410, "KRW", 0}, {704, "VND", 0}, {152, "CLP", 0}, {352, "ISK", 0}, {48, "BHD", 3},
        {414, "KWD", 3}, {512, "OMR", 3}, {400, "JOD", 3}, {788, "TND", 3}, {434, "LYD", 3},
        {368, "IQD", 3}, {990, "CLF", 4}, {901, "TWD", 2}, {344, "HKD", 2}, {446, "MOP", 2},
    };
    for (const auto& c : currencies) {
        const IsoCurrency* found = FindIsoCurrency(c.numeric);
        ASSERT_NE(found, nullptr) << c.letters;
        EXPECT_EQ(found->letters, c.letters);
        EXPECT_EQ(found->exponent, c.exponent) << c.letters;
    }
    EXPECT_EQ(FindIsoCurrency(156)->chinese, "人民币");
    EXPECT_EQ(FindIsoCountry(156)->chinese, "中国");
    EXPECT_EQ(FindIsoCountry(840)->alpha2, "US");
    EXPECT_EQ(FindIsoCountry(344)->alpha2, "HK");
    for (const int unknown : {-1, 0, 999, 1156}) {
        EXPECT_EQ(FindIsoCurrency(unknown), nullptr);
        EXPECT_EQ(FindIsoCountry(unknown), nullptr);
        EXPECT_EQ(IsoCountryNameGbk(unknown), "");
    }
    EXPECT_EQ(IsoNumericCode("0156"), 156);
    EXPECT_EQ(IsoNumericCode("036"), 36);
    for (const char* bad : {"", "15a", "01566", "-15", " 156"}) EXPECT_EQ(IsoNumericCode(bad), -1);
}
