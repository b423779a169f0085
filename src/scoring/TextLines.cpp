#include "TextLines.h"

#include <charconv>
#include <cmath>

namespace zor::eval {

std::vector<std::string_view> wordsOf(std::string_view line) {
    std::vector<std::string_view> words;
    constexpr std::string_view kSpace = " \t\r\n\v\f";
    for (std::size_t start = line.find_first_not_of(kSpace); start != std::string_view::npos;
         start = line.find_first_not_of(kSpace, start)) {
        const std::size_t end = line.find_first_of(kSpace, start);
        words.push_back(line.substr(start, end == std::string_view::npos ? end : end - start));
        start = end;
    }
    return words;
}

std::optional<double> toNumber(std::string_view word) {
    if (!word.empty() && word.front() == '+') {
        word.remove_prefix(1);
    }
    double value = 0.0;
    const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
    if (word.empty() || error != std::errc() || end != word.data() + word.size() || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

std::optional<long> toInteger(std::string_view word) {
    long value = 0;
    const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
    if (word.empty() || error != std::errc() || end != word.data() + word.size()) {
        return std::nullopt;
    }
    return value;
}

}  // namespace zor::eval
