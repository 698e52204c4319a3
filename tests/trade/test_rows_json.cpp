// Tests of reading rows back from the parse commands' JSON.
#include <gtest/gtest.h>

#include <string>

#include "trade/RowsJson.h"

namespace {

TEST(RowsJson, ReadsNamesAndValuesOrSaysWhy) {
    struct Case {
        std::string json;
        std::size_t rows;  // read rows
        std::string why;   // empty: read
    };
    // clang-format off
    const Case cases[] = {
        {"\xEF\xBB\xBF{\"rows\":[{\"name\":\"Type\",\"length\":\"4\",\"value\":\"0200\"},{\"name\":\"x\"}]}", 2, ""},
        {"{\"rows\":[]}", 0, ""},
        {"{\"rows\":[{\"name\":1}]}", 0, "row 1 is not an object with string members \"name\" and \"value\""},
        {"{\"rows\":{}}", 0, "no \"rows\" array in a top-level object"},
        {"[1]", 0, "no \"rows\" array in a top-level object"},
        {"{\"rows\":[", 0, "unexpected end of the text at byte offset 9"},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.json);
        FieldRowList rows;
        std::string why;
        EXPECT_EQ(ReadRowsJson(c.json, rows, why), c.why.empty());
        EXPECT_EQ(why, c.why);
        EXPECT_EQ(rows.size(), c.rows);
    }
}

}  // namespace
