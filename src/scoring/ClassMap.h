// Which dataset class ids count as which detector class.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace zor::eval {

// Dataset class id -> detector class name; ids not in the map are ignored.
using ClassMap = std::map<int, std::string>;

// "1:helmet,0:head" (spaces around items allowed). Throws tools::UserError for a
// malformed item, a negative or repeated id or an empty name.
ClassMap parseClassMap(std::string_view text);

// The label map Initialize fills, "helmet,head", as names in class order.
std::vector<std::string> parseLabelMap(std::string_view text);

// Throws tools::UserError when the class map names a class the detector does not have.
void checkClassMap(const ClassMap& classes, const std::vector<std::string>& detectorClasses);

}  // namespace zor::eval
