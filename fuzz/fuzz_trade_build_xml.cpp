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
    const std::string_view xml(reinterpret_cast<const char*>(data), size);
    const CommandResult fromText = BuildTradeFromXmlText(xml);
    Check(fromText);
    // The file wrapper for one input in eight: it must agree with the text reader.
    if (size > 0 && data[0] % 8 == 0) {
        const std::string path = WriteTemporary(xml);
        if (!path.empty()) {
            const CommandResult fromFile = BuildTradeFromXmlFile(path);
            std::remove(path.c_str());
            Check(fromFile);
            if (fromFile.error != fromText.error || fromFile.message != fromText.message) {
                __builtin_trap();
            }
        }
    }
    return 0;
}
