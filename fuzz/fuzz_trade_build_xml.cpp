// Fuzzes the XML build command with arbitrary configuration texts, a share of them through a file.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "fuzz/TempFile.h"
#include "trade/TradeCommands.h"

namespace {

void Check(const CommandResult& r) {
    if (r.Ok() && (r.message.size() < 32 || r.rows.size() < 2)) __builtin_trap();
    if (!r.Ok() && !r.message.empty()) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The text form, and the file form for one input in eight, which must agree with it.
    CheckTextAndFileForms(
        std::string_view(reinterpret_cast<const char*>(data), size), BuildTradeFromXmlText,
        [](const std::string& path) { return BuildTradeFromXmlFile(path); }, Check);
    return 0;
}
