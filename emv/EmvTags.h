// The EMV and PBOC/UnionPay tags that chip card data carries, and the explanation of their values.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

/// Data formats of the EMV books: binary, numeric (BCD), compressed numeric (BCD, F-padded),
/// alphanumeric, alphanumeric and special characters.
enum class TlvFormat : std::uint8_t { B, N, Cn, An, Ans };

/// How a value is explained beyond the tag's name.
enum class TlvExplain : std::uint8_t {
    None,          // the hex says it all (keys, cryptograms, templates)
    Digits,        // n: the BCD digits; cn: the digits before the F padding
    Text,          // an, ans: the characters
    Date,          // n 6, YYMMDD
    Time,          // n 6, HHMMSS
    Amount,        // n 12, in the currency of 5F2A
    Currency,      // n 3, ISO 4217 numeric code
    TransType,     // 9C
    Bits,          // a bit-mapped value: the names of the set bits
    Cid,           // 9F27
    CvmResults,    // 9F34
    Pan,           // 5A: the card number, hidden in the middle when masking
    Track2,        // 57, 9F6B: track 2 data, the card number hidden when masking
    Track1,        // 56: track 1 data, the card number hidden when masking
    BinaryAmount,  // b 4: an amount in minor units, binary, in the currency of 5F2A
    TerminalType,  // 9F35: who operates the terminal, attended or not, online or offline
    FormFactor,    // 9F6E: the form factor of the payment device
};

struct EmvTag {
    std::uint32_t tag;  // tag bytes, first byte highest
    TlvFormat format;
    TlvExplain explain;
    std::string_view english;
    std::string_view chinese;  // UTF-8
};

/// The dictionary entry of a tag, or null when the tag is not in it.
[[nodiscard]] const EmvTag* FindEmvTag(std::uint32_t tag);
/// Every entry, in ascending tag order.
[[nodiscard]] std::span<const EmvTag> EmvTags();
/// The Chinese name of an entry in code page 936, converted once.
[[nodiscard]] std::string_view ChineseNameGbk(const EmvTag& t);

/// What the explanation of one value may need from the rest of the data.
struct TlvContext {
    std::int32_t currency = -1;  // 5F2A, when the data holds it
    bool mask = false;           // hide the middle digits of card numbers
};

/// Appends the decoded value and the set bits of a value of tag t (code page 936 text; nothing
/// for TlvExplain::None). Never reads outside value, whatever its length.
void AppendTlvExplanation(std::string& out, const EmvTag& t, std::span<const std::uint8_t> value,
                          const TlvContext& context);

/// The ISO 4217 letters of a numeric currency code and its minor unit digits; empty letters and
/// two digits for a code that no active currency has.
struct CurrencyInfo {
    std::string_view letters;
    int exponent = 2;
};
[[nodiscard]] CurrencyInfo FindCurrency(int numeric);
