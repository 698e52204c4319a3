// Hiding card numbers: the first 6 and the last 4 digits stay, the ones between show as '*'.
#include "emv/CardMask.h"

#include "codec/Conversions.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kShownFirst = 6;
constexpr std::size_t kShownLast = 4;


std::uint8_t NibbleAt(std::span<const std::uint8_t> stored, std::size_t k) {
    const std::uint8_t b = stored[k / 2];
    return k % 2 == 0 ? b >> 4 : b & 0x0F;
}

// Where the text part of a value text begins (after the first " -> "; hex digits never hold a
// space), or SIZE_MAX when the value has no text part.
std::size_t TextStart(const char* value, std::size_t len, const MaskedValue& v) {
    if (v.textFrom == SIZE_MAX) return SIZE_MAX;
    for (std::size_t i = 0; i + 4 <= len; ++i) {
        if (std::memcmp(value + i, " -> ", 4) == 0) return i + 4;
    }
    return SIZE_MAX;
}

// Hides the hex digit of stored nibble k and, when whole, the text character of its byte.
struct Hider {
    char* value;
    std::size_t len;
    const MaskedValue& v;
    std::size_t textAt;

    void Nibble(std::size_t k, bool wholeByte) const {
        const std::size_t hexEnd = textAt != SIZE_MAX ? textAt - 4 : len;
        const auto hide = [&](std::size_t at, std::size_t end) {
            if (at < end && at < len) value[at] = '*';
        };
        if (k >= 2 * v.hexFrom) {
            hide(k - 2 * v.hexFrom, hexEnd);
            if (wholeByte) hide(k + 1 - 2 * v.hexFrom, hexEnd);
        }
        const std::size_t byte = k / 2;
        if (textAt != SIZE_MAX && byte >= v.textFrom) hide(textAt + (byte - v.textFrom), len);
    }
};

}  // namespace

HiddenRange CardNumberHiddenRange(std::string_view symbols, CardData kind) {
    std::size_t start = 0;
    if (kind == CardData::Track3) start = 2;
    if (kind == CardData::Track1 && !symbols.empty() && !IsDecimalDigit(symbols[0])) start = 1;
    if (start > symbols.size()) return {};
    std::size_t end = start;
    while (end < symbols.size() && IsDecimalDigit(symbols[end])) ++end;
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
        std::size_t last = 2 * to;
        // An odd digit count has one pad nibble, which is not a digit of the number: on the left
        // when the value starts with 0 or F (a card number never starts with 0), else on the
        // right.
        if (v.digits % 2 == 1 && last - first == v.digits + 1) {
            const std::uint8_t lead = NibbleAt(v.stored, first);
            if (lead == 0x0 || lead == 0xF) {
                ++first;
            } else {
                --last;
            }
        }
        for (std::size_t k = first; k < last; ++k) {
            symbols += kHex[NibbleAt(v.stored, k)];
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
    const Hider hider{value, len, v, TextStart(value, len, v)};
    for (std::size_t s = r.begin; s < r.end; ++s) hider.Nibble(nibble[s], !v.bcd);
}

void HideValueText(char* value, std::size_t len, const MaskedValue& v) {
    const std::size_t to = std::min(v.to, v.stored.size());
    const Hider hider{value, len, v, TextStart(value, len, v)};
    for (std::size_t k = v.from; k < to; ++k) hider.Nibble(2 * k, true);
}
