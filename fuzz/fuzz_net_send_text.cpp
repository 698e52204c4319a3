// Fuzzes the send command's text-to-bytes rules and the reply's length forms.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "codec/Texts.h"
#include "net/SendCommand.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<std::uint8_t> bytes;
    const std::string_view refused = MessageTextToSendBytes(text, bytes);
    const std::size_t n = std::strlen(std::string(text).c_str());  // the text ends at a zero byte
    if (!refused.empty()) {
        if (!bytes.empty()) __builtin_trap();
        const bool tooLong = n > kMaxMessageText;
        const bool shortPacket = n > 12 && n < 14 && text[12] == '{';
        if (!tooLong && !shortPacket) __builtin_trap();
    } else if (n > 12 && text[12] == '{') {
        if (bytes.size() != n - 7) __builtin_trap();  // head, body as it stands, check byte
        if (std::memcmp(bytes.data() + 6, text.data() + 12, n - 14) != 0) __builtin_trap();
    } else if (bytes.size() > n / 2) {
        __builtin_trap();
    }
    const std::size_t expected = ExpectedReplyLength({data, size});
    if (expected != 0 && expected < 2) __builtin_trap();
    return 0;
}
