// Messages the tests share: the typical 64-field message as hex text, and hex text to bytes.
#pragma once

#include <string>
#include <string_view>

/// The typical 64-field terminal message: 2-byte length, TPDU, header, then type 0200 to field
/// 64. PAN 6225880123456789 in field 2 and in the track 2 data of field 35; MAC 3A4F9C0D12E5B776.
inline constexpr std::string_view kTypical64 =
    "0067600003000060310031000002007020048020C08011166225880123456789000000000000010000000123051"
    "000286225880123456789D2812201000031323334353637383132333435363738393031323334353135360013220"
    "001230005003A4F9C0D12E5B776";

/// Hex text (an even count of digits) as the bytes it spells.
inline std::string HexBytes(std::string_view hex) {
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        out += static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16));
    }
    return out;
}
