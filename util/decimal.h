#pragma once

#include <charconv>
#include <optional>
#include <string_view>
#include <system_error>

namespace korvel {

// The whole of text as a decimal number of type T: digits only (and a minus
// sign for a signed T), nothing before or after them. nullopt for an empty
// text, anything else in it, or a value T cannot hold.
template <typename T>
std::optional<T> ParseDecimal(std::string_view text) {
    T value{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

// ParseDecimal, and nullopt also for a value above max.
template <typename T>
std::optional<T> ParseDecimalAtMost(std::string_view text, T max) {
    const std::optional<T> value = ParseDecimal<T>(text);
    return value && *value <= max ? value : std::nullopt;
}

}  // namespace korvel
