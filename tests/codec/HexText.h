// Test helpers: hex text to bytes and back, golden message files.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tests/common/GoldenText.h"

inline std::vector<std::uint8_t> Bytes(std::string_view hex) {
    std::vector<std::uint8_t> out;
    auto nib = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        if (hex[i] == ' ') {
            --i;
            continue;
        }
        out.push_back(static_cast<std::uint8_t>(nib(hex[i]) * 16 + nib(hex[i + 1])));
    }
    return out;
}

inline std::vector<std::uint8_t> Ascii(std::string_view s) { return {s.begin(), s.end()}; }

inline std::vector<std::uint8_t> operator+(std::vector<std::uint8_t> a,
                                           const std::vector<std::uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline std::string Hex(const std::uint8_t* p, std::size_t n) {
    static const char d[] = "0123456789ABCDEF";
    std::string s;
    for (std::size_t i = 0; i < n; ++i) {
        s += d[p[i] >> 4];
        s += d[p[i] & 15];
    }
    return s;
}
inline std::string Hex(const std::vector<std::uint8_t>& v) { return Hex(v.data(), v.size()); }

