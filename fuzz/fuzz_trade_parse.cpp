// Fuzzes the trade parse command with arbitrary message texts.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "trade/TradeCommands.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    CommandResult result;
    ParseTradeText(text, result);
    if (result.Ok() && result.rows.size() < 2) __builtin_trap();
    // A decoding that stops says where and why; only what was decoded before stays.
    if (result.failure.field >= 0 &&
        (result.failure.offset < 6 || result.failure.reason.empty() ||
         result.failedRows != FailedRows::Partial || result.rows.size() < 2)) {
        __builtin_trap();
    }
    for (const FieldRow& row : result.rows) {
        if (row.Value().size() > 2 * 1024) __builtin_trap();  // hex of the largest field
    }
    return 0;
}
