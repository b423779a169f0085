// Ground truth of a rendered video: "frame class cx cy w h" lines in video
// pixels, '#' lines are comments (helmet-render --labels).
#pragma once

#include "Boxes.h"
#include "ClassMap.h"

#include <filesystem>
#include <istream>
#include <map>
#include <string>
#include <vector>

namespace zor::eval {

// Frame index -> its objects; frames without a line have none.
using FrameLabels = std::map<long, std::vector<LabelledBox>>;

// Classes missing from `classes` are left out. Throws tools::UserError naming
// `source` and the line for anything malformed.
FrameLabels parseRendererLabels(std::istream& in, const ClassMap& classes, const std::string& source);

// The same for a file, which must exist.
FrameLabels readRendererLabels(const std::filesystem::path& file, const ClassMap& classes);

}  // namespace zor::eval
