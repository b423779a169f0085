// The command line of every tool, read one way: "--name=value" or
// "--name value" (one dash works too); flags stand alone or take =true/=false;
// "--help", "-h" and "-?" ask for the usage. Unknown options, missing values,
// an option given twice and unexpected arguments are user errors.
#pragma once

#include "ToolExit.h"

#include <charconv>
#include <map>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace zor::tools {

struct OptionTable {
    std::vector<std::string_view> valueOptions;  // take a value
    std::vector<std::string_view> flagOptions;   // true when given alone
    int positionalArguments = 0;                 // how many bare arguments are allowed
};

class Arguments {
public:
    // Throws UserError for anything the table does not allow.
    static Arguments parse(int argc, const char* const* argv, const OptionTable& table);

    bool helpRequested() const { return help_; }
    bool has(std::string_view name) const { return values_.count(std::string(name)) != 0; }
    std::string text(std::string_view name, const std::string& fallback = {}) const;
    bool flag(std::string_view name) const;
    const std::vector<std::string>& positional() const { return positional_; }

    // The option as a number in [minimum, maximum]; `fallback` when absent.
    template <typename Number>
    Number number(std::string_view name, Number fallback, Number minimum, Number maximum) const;

private:
    bool help_ = false;
    std::map<std::string, std::string> values_;
    std::vector<std::string> positional_;
};

// The command line of a tool read against `table`: nothing after printing
// `usage` to `out` for --help; throws UserError for anything the table does
// not allow.
std::optional<Arguments> parseCommandLine(int argc, const char* const* argv, const OptionTable& table,
                                          std::string_view usage, std::ostream& out);

// Whether `argument` asks for the usage: --help, -h or -? (one dash or two).
bool isHelpArgument(std::string_view argument);

// The whole of `text` as a number; nothing for anything else.
template <typename Number>
std::optional<Number> parseNumber(std::string_view text) {
    Number value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

template <typename Number>
Number Arguments::number(std::string_view name, Number fallback, Number minimum, Number maximum) const {
    if (!has(name)) {
        return fallback;
    }
    const std::string value = text(name);
    const std::optional<Number> parsed = parseNumber<Number>(value);
    if (!parsed || !(*parsed >= minimum && *parsed <= maximum)) {
        std::ostringstream message;
        message << "--" << name << " must be a number from " << minimum << " to " << maximum << ", not '" << value
                << "'";
        throw UserError(message.str());
    }
    return *parsed;
}

}  // namespace zor::tools
