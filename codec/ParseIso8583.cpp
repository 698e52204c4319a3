// Placeholder until the parse command lands.
#include "codec/ParseIso8583.h"

#include "codec/Texts.h"

CommandResult ParseIso8583Text(std::string_view text, int interfaceType) {
    CommandResult r;
    ParseIso8583Text(text, interfaceType, r);
    return r;
}

void ParseIso8583Text(std::string_view, int, CommandResult& result) {
    result.Reset();
    result.Fail(kTextIsoParseError, "not built yet");
}
