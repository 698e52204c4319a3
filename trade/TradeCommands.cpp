// Placeholder until the trade commands land.
#include "trade/TradeCommands.h"

#include "codec/Texts.h"

CommandResult ParseTradeText(std::string_view text) {
    CommandResult r;
    ParseTradeText(text, r);
    return r;
}
void ParseTradeText(std::string_view, CommandResult& result) {
    result.Reset();
    result.Fail(kTextTradeParseError, "not built yet");
}
CommandResult BuildTradeFromXmlFile(std::string_view) {
    CommandResult r;
    r.Fail(kTextConfigParseError, "not built yet");
    return r;
}
CommandResult BuildTradeFromXmlText(std::string_view) { return BuildTradeFromXmlFile({}); }
CommandResult BuildJsonFromFile(std::string_view) {
    CommandResult r;
    r.Fail(kTextConfigParseError, "not built yet");
    return r;
}
CommandResult BuildJsonFromText(std::string_view) { return BuildJsonFromFile({}); }
