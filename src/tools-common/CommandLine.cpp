#include "CommandLine.h"

#include <algorithm>

namespace zor::tools {

namespace {

bool contains(const std::vector<std::string_view>& names, std::string_view name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

bool isHelp(std::string_view name) {
    return name == "help" || name == "h" || name == "?";
}

}  // namespace

bool isHelpArgument(std::string_view argument) {
    if (argument.size() < 2 || argument[0] != '-') {
        return false;
    }
    return isHelp(argument.substr(argument[1] == '-' ? 2 : 1));
}

Arguments Arguments::parse(int argc, const char* const* argv, const OptionTable& table) {
    Arguments arguments;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument.size() < 2 || argument[0] != '-') {
            if (static_cast<int>(arguments.positional_.size()) >= table.positionalArguments) {
                throw UserError("unexpected argument '" + std::string(argument) + "' (see --help)");
            }
            arguments.positional_.emplace_back(argument);
            continue;
        }
        const std::string_view stripped = argument.substr(argument[1] == '-' ? 2 : 1);
        const std::size_t equals = stripped.find('=');
        const std::string name(stripped.substr(0, equals));
        const bool hasValue = equals != std::string_view::npos;
        if (isHelp(name) && !hasValue) {
            arguments.help_ = true;
            continue;
        }
        std::string value;
        if (contains(table.flagOptions, name)) {
            value = hasValue ? std::string(stripped.substr(equals + 1)) : "true";
            if (value != "true" && value != "false") {
                throw UserError("--" + name + " takes no value (or true/false)");
            }
        } else if (!contains(table.valueOptions, name)) {
            throw UserError("unknown option '" + std::string(argument) + "' (see --help)");
        } else if (hasValue) {
            value = std::string(stripped.substr(equals + 1));
        } else if (i + 1 < argc && std::string_view(argv[i + 1]).substr(0, 2) != "--") {
            value = argv[++i];
        } else {
            throw UserError("option --" + name + " needs a value (see --help)");
        }
        if (!arguments.values_.emplace(name, value).second) {
            throw UserError("option --" + name + " is given twice");
        }
    }
    return arguments;
}

std::optional<Arguments> parseCommandLine(int argc, const char* const* argv, const OptionTable& table,
                                          std::string_view usage, std::ostream& out) {
    Arguments arguments = Arguments::parse(argc, argv, table);
    if (arguments.helpRequested()) {
        out << usage;
        return std::nullopt;
    }
    return arguments;
}

std::string Arguments::text(std::string_view name, const std::string& fallback) const {
    const auto found = values_.find(std::string(name));
    return found == values_.end() ? fallback : found->second;
}

bool Arguments::flag(std::string_view name) const {
    return text(name, "false") == "true";
}

}  // namespace zor::tools
