// JSON values as text, written the same way by every tool.
#pragma once

#include <array>
#include <charconv>
#include <cmath>
#include <string>
#include <type_traits>

namespace zor::tools {

// A JSON string literal: quotes, backslashes and control characters escaped,
// and each ill-formed UTF-8 sequence (stray bytes, overlong forms, surrogates,
// cut-off sequences) replaced by U+FFFD, so that the output is always valid.
std::string jsonString(const std::string& text);

// The shortest decimal form that reads back to the same value; null for NaN
// and infinities, which JSON cannot express.
template <typename Number>
std::string jsonNumber(Number value) {
    if constexpr (std::is_floating_point_v<Number>) {
        if (!std::isfinite(value)) {
            return "null";
        }
    }
    std::array<char, 64> digits{};
    const auto [end, error] = std::to_chars(digits.data(), digits.data() + digits.size(), value);
    return error == std::errc() ? std::string(digits.data(), end) : "null";
}

}  // namespace zor::tools
