// Hiding card numbers: the first 6 and the last 4 digits stay, the ones between show as '*'.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

/// Where the card number stands in a value: alone, in front of track 2 data (up to the
/// separator), after the 2-digit format code of track 3 data, or after the format code ('B') of
/// track 1 data (up to '^').
enum class CardData { Pan, Track2, Track3, Track1 };

/// Symbol indexes [begin, end) to hide.
struct HiddenRange {
    std::size_t begin = 0;
    std::size_t end = 0;
};

/// The digits of the card number within symbols (digits, separators 'D' or '=', padding 'F')
/// that are hidden: all but its first 6 and last 4. Empty for a number of 10 digits or fewer.
[[nodiscard]] HiddenRange CardNumberHiddenRange(std::string_view symbols, CardData kind);

/// Where a value's bytes stand in a row's value text and how they are coded.
struct MaskedValue {
    std::span<const std::uint8_t> stored;  // the field's stored bytes
    std::size_t from = 0;                  // the value: stored[from, to)
    std::size_t to = 0;
    bool bcd = false;                 // packed digits, else one character per digit
    std::size_t digits = 0;           // BCD: digits the value states; 0 when not stated. An odd
                                      // count has a pad nibble, which is never taken as a digit
    std::size_t textFrom = SIZE_MAX;  // stored byte shown first after " -> "; none
    std::size_t hexFrom = 0;          // stored byte whose hex the value text begins with
};

/// Hides the card number of a value in a row's value text (the hex of the stored bytes, then
/// optionally " -> " and text): the hex digits and the text characters that carry the hidden
/// digits become '*'; lengths are kept. Positions past len are left alone.
void MaskValueText(char* value, std::size_t len, const MaskedValue& v, CardData kind);

/// Hides the stored bytes [v.from, v.to) whole in a row's value text laid out as for
/// MaskValueText: their hex digits and their text characters become '*'.
void HideValueText(char* value, std::size_t len, const MaskedValue& v);
