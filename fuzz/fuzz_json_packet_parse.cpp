// Fuzzes the JSON packet parse command with arbitrary packet texts.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "codec/Texts.h"
#include "trade/ParseJsonPacket.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    CommandResult result;
    ParseJsonPacketText(text, result);
    // Success always ends with the check row; a failure never leaves rows behind.
    if (result.Ok() && (result.rows.empty() || result.rows.back().Name() != kTextCheckRow)) {
        __builtin_trap();
    }
    if (!result.Ok() && !result.rows.empty()) __builtin_trap();
    return 0;
}
