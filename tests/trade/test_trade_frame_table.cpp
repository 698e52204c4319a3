// The trade frame as the built-in trade table states it: the same bytes as BuildTradeFrame.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codec/FrameCut.h"
#include "codec/Message.h"
#include "trade/Trade.h"

namespace {

TEST(TradeFrameTable, PacksWhatBuildTradeFrameBuilds) {
    const FieldTable& table = BuiltinTable(BuiltinForm::kTrade);
    // Field 16 with a short and a longer text: check bytes and lengths of both kinds.
    for (const std::string& text : {std::string("ABC"), std::string(300, 'x')}) {
        Message m(table);
        ASSERT_TRUE(m.SetText(0, "01").ok);
        ASSERT_TRUE(m.SetText(16, text).ok);
        std::vector<std::uint8_t> framed;
        ASSERT_TRUE(m.Encode(framed).ok);
        ASSERT_GT(framed.size(), 7u);

        // The payload is what lies between the 6 bytes in front and the check byte.
        const auto payloadLen = static_cast<std::int32_t>(framed.size() - 7);
        std::vector<std::uint8_t> built(framed.size());
        std::int32_t builtLen = 0;
        ASSERT_TRUE(BuildTradeFrame(framed.data() + 6, payloadLen, built.data(), &builtLen));
        built.resize(static_cast<std::size_t>(builtLen));
        EXPECT_EQ(built, framed);

        const FrameCut cut = CutFrame(table, framed, 4096);
        EXPECT_EQ(cut.kind, FrameCut::Kind::Whole) << cut.reason;
        EXPECT_EQ(cut.length, framed.size());
    }
}

}  // namespace
