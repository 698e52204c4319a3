// The options a subcommand was given, as its run reads them.
#pragma once

#include <charconv>
#include <optional>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

/// Option names with their values, in command-line order.
using CliOptionList = std::vector<std::pair<std::string_view, std::string_view>>;

/// The value of an option; given more than once, the last one wins.
[[nodiscard]] inline std::optional<std::string_view> OptionValue(const CliOptionList& options,
                                                                 std::string_view name) {
    std::optional<std::string_view> found;
    for (const auto& [n, v] : options) {
        if (n == name) found = v;
    }
    return found;
}

/// A whole decimal number within [low, high].
template <typename T>
[[nodiscard]] bool ReadNumber(std::string_view text, T low, T high, T& value) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size() && value >= low && value <= high;
}
