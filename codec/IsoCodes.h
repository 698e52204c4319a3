// The ISO 4217 currencies and ISO 3166-1 countries, looked up by their numeric codes.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

/// An active ISO 4217 currency. Codes without a minor unit (precious metals, bond units, the SDR,
/// the test and no-currency codes) are not listed.
struct IsoCurrency {
    std::uint16_t numeric;
    std::string_view letters;  ///< "CNY"
    std::uint8_t exponent;     ///< digits of the minor unit: 0 (JPY), 2 (CNY), 3 (BHD), 4 (CLF)
    std::string_view chinese;  ///< UTF-8, the usual mainland name ("人民币")
};

/// An ISO 3166-1 country or territory.
struct IsoCountry {
    std::uint16_t numeric;
    std::string_view alpha2;   ///< "CN"
    std::string_view chinese;  ///< UTF-8 ("中国")
};

/// Every currency, in ascending numeric order.
[[nodiscard]] std::span<const IsoCurrency> IsoCurrencies();
/// Every country, in ascending numeric order.
[[nodiscard]] std::span<const IsoCountry> IsoCountries();

/// The currency of a numeric code, or null when no active currency has it.
[[nodiscard]] const IsoCurrency* FindIsoCurrency(int numeric);
/// The country of a numeric code, or null when none has it.
[[nodiscard]] const IsoCountry* FindIsoCountry(int numeric);

/// The Chinese name of the country of a numeric code in code page 936, converted once; empty
/// when no country has the code.
[[nodiscard]] std::string_view IsoCountryNameGbk(int numeric);

/// The number a code text of one to four decimal digits states ("156", "0156"); -1 otherwise.
[[nodiscard]] int IsoNumericCode(std::string_view digits);
