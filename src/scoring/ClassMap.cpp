#include "ClassMap.h"

#include "ToolExit.h"

#include <algorithm>
#include <charconv>

namespace zor::eval {

namespace {

std::string_view trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

std::vector<std::string_view> splitCommas(std::string_view text) {
    std::vector<std::string_view> items;
    for (std::size_t start = 0;;) {
        const std::size_t comma = text.find(',', start);
        items.push_back(trimmed(text.substr(start, comma == std::string_view::npos ? comma : comma - start)));
        if (comma == std::string_view::npos) {
            return items;
        }
        start = comma + 1;
    }
}

}  // namespace

ClassMap parseClassMap(std::string_view text) {
    ClassMap classes;
    for (const std::string_view item : splitCommas(text)) {
        const std::size_t colon = item.find(':');
        const std::string_view idText = trimmed(item.substr(0, colon));
        const std::string_view name =
            colon == std::string_view::npos ? std::string_view{} : trimmed(item.substr(colon + 1));
        int id = -1;
        const auto [end, error] = std::from_chars(idText.data(), idText.data() + idText.size(), id);
        if (idText.empty() || error != std::errc() || end != idText.data() + idText.size() || id < 0 || name.empty()) {
            throw tools::UserError("class map item '" + std::string(item) + "' is not ID:NAME, e.g. 0:helmet");
        }
        if (!classes.emplace(id, std::string(name)).second) {
            throw tools::UserError("class map gives class " + std::to_string(id) + " twice");
        }
    }
    return classes;
}

std::vector<std::string> parseLabelMap(std::string_view text) {
    std::vector<std::string> names;
    for (const std::string_view item : splitCommas(text)) {
        if (!item.empty()) {
            names.emplace_back(item);
        }
    }
    return names;
}

void checkClassMap(const ClassMap& classes, const std::vector<std::string>& detectorClasses) {
    for (const auto& [id, name] : classes) {
        if (std::find(detectorClasses.begin(), detectorClasses.end(), name) == detectorClasses.end()) {
            std::string known;
            for (const std::string& detectorClass : detectorClasses) {
                known += (known.empty() ? "" : ",") + detectorClass;
            }
            throw tools::UserError("class map names '" + name + "' (class " + std::to_string(id) +
                                   "), which the detector's label map '" + known + "' does not have");
        }
    }
}

}  // namespace zor::eval
