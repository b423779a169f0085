#include "ExcludeList.h"

#include "TextFile.h"

#include <algorithm>
#include <sstream>

namespace zor::eval {

ExcludeList ExcludeList::parse(std::istream& in) {
    ExcludeList list;
    for (std::string line; std::getline(in, line);) {
        std::replace(line.begin(), line.end(), '\\', '/');
        const auto first = line.find_first_not_of(" \t\r");
        if (first == std::string::npos || line[first] == '#') {
            continue;
        }
        line = line.substr(first, line.find_last_not_of(" \t\r") - first + 1);
        const std::string name = std::filesystem::path(line).filename().string();
        if (!name.empty()) {
            list.names_.insert(name);
        }
    }
    return list;
}

ExcludeList ExcludeList::read(const std::filesystem::path& file) {
    std::istringstream in(tools::readTextFile(file, tools::kMaxTextInputBytes, "exclusion list"));
    return parse(in);
}

bool ExcludeList::excludes(const std::filesystem::path& image) const {
    return names_.count(image.filename().string()) != 0;
}

}  // namespace zor::eval
