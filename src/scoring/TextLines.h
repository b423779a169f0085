// Words and numbers of label lines, for both label formats.
#pragma once

#include <istream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zor::eval {

// The whitespace-separated words of a line (a trailing '\r' is whitespace).
std::vector<std::string_view> wordsOf(std::string_view line);

// The whole word as a number; nothing for anything else (NaN and inf included).
std::optional<double> toNumber(std::string_view word);
std::optional<long> toInteger(std::string_view word);

}  // namespace zor::eval
