// The display row that every decoder produces, and the list of them.
#pragma once

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

/// One row of the field list: three zero-terminated texts of fixed width.
/// A new row is not zero-filled (that would cost more than the decoding); every writer ends each
/// text with its zero byte, and nothing reads past it.
struct FieldRow {
    FieldRow() {}  // NOLINT: deliberately leaves the texts unwritten
    char name[16];
    char length[16];
    char value[1024];

    std::string_view Name() const { return TextOf(name, sizeof name); }
    std::string_view Length() const { return TextOf(length, sizeof length); }
    std::string_view Value() const { return TextOf(value, sizeof value); }

private:
    static std::string_view TextOf(const char* t, std::size_t cap) {
        std::size_t n = 0;
        while (n < cap && t[n] != '\0') ++n;
        return {t, n};
    }
};

using FieldRowList = std::vector<FieldRow>;

/// Copies text into a row text of capacity N, cut to N-1 bytes, and terminates it.
template <std::size_t N>
void SetRowText(char (&dst)[N], std::string_view text) {
    const std::size_t n = text.size() < N ? text.size() : N - 1;
    for (std::size_t i = 0; i < n; ++i) dst[i] = text[i];
    dst[n] = '\0';
}

/// Writes prefix and the decimal text of v ("%d"), terminated; rows are built often, so no printf.
template <std::size_t N>
void SetRowNumber(char (&dst)[N], std::string_view prefix, std::int32_t v) {
    static_assert(N >= 16);
    const std::size_t p = prefix.size() < 4 ? prefix.size() : 4;
    std::memcpy(dst, prefix.data(), p);
    char* at = dst + p;
    if (v >= 0 && v < 1000) {  // every field number and nearly every length: no general path
        if (v >= 100) *at++ = static_cast<char>('0' + v / 100);
        if (v >= 10) *at++ = static_cast<char>('0' + v / 10 % 10);
        *at++ = static_cast<char>('0' + v % 10);
    } else {
        at = std::to_chars(at, dst + N - 1, v).ptr;
    }
    *at = '\0';
}
