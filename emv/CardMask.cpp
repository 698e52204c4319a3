// Hiding card numbers: the first 6 and the last 4 digits stay, the ones between show as '*'.
#include "emv/CardMask.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kShownFirst = 6;
constexpr std::size_t kShownLast = 4;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

HiddenRange CardNumberHiddenRange(std::string_view symbols, CardData kind) {
    std::size_t start = kind == CardData::Track3 ? 2 : 0;
    if (start > symbols.size()) return {};
    std::size_t end = start;
    while (end < symbols.size() && IsDigit(symbols[end])) ++end;
    if (end - start <= kShownFirst + kShownLast) return {};
    return {start + kShownFirst, end - kShownLast};
}

void MaskValueText(char* value, std::size_t len, const MaskedValue& v, CardData kind) {
    const std::size_t to = std::min(v.to, v.stored.size());
    if (v.from >= to) return;
    // Each symbol of the value and the nibble of the stored bytes it stands in (2 per byte).
    std::string symbols;
    std::vector<std::size_t> nibble;
    static constexpr char kHex[] = "0123456789ABCDEF";
    if (v.bcd) {
        std::size_t first = 2 * v.from;
        const std::size_t last = 2 * to;
        // An odd digit count padded on the left: a card number never starts with 0.
        if (v.digits % 2 == 1 && (v.stored[v.from] >> 4) == 0) ++first;
        for (std::size_t k = first; k < last; ++k) {
            const std::uint8_t b = v.stored[k / 2];
            symbols += kHex[k % 2 == 0 ? b >> 4 : b & 0x0F];
            nibble.push_back(k);
        }
    } else {
        for (std::size_t k = v.from; k < to; ++k) {
            symbols += static_cast<char>(v.stored[k]);
            nibble.push_back(2 * k);
        }
    }
    const HiddenRange r = CardNumberHiddenRange(symbols, kind);
    if (r.begin >= r.end) return;
    // The text part follows the first " -> "; hex digits never hold a space.
    std::size_t textAt = SIZE_MAX;
    if (v.textFrom != SIZE_MAX) {
        for (std::size_t i = 0; i + 4 <= len; ++i) {
            if (std::memcmp(value + i, " -> ", 4) == 0) {
                textAt = i + 4;
                break;
            }
        }
    }
    const std::size_t hexEnd = textAt != SIZE_MAX ? textAt - 4 : len;
    const auto hide = [&](std::size_t at, std::size_t end) {
        if (at < end && at < len) value[at] = '*';
    };
    for (std::size_t s = r.begin; s < r.end; ++s) {
        const std::size_t k = nibble[s];
        if (k >= 2 * v.hexFrom) {
            hide(k - 2 * v.hexFrom, hexEnd);
            if (!v.bcd) hide(k + 1 - 2 * v.hexFrom, hexEnd);
        }
        const std::size_t byte = k / 2;
        if (textAt != SIZE_MAX && byte >= v.textFrom) hide(textAt + (byte - v.textFrom), len);
    }
}
