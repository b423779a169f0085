// Ground truth of a rendered video: "frame class cx cy w h" lines in video
// pixels, '#' lines are comments (helmet-render --labels).
#pragma once

#include "Boxes.h"
#include "ClassMap.h"

#include <filesystem>
#include <istream>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace zor::eval {

// Frame index -> its objects; frames without a line have none.
using FrameLabels = std::map<long, std::vector<LabelledBox>>;

// Classes missing from `classes` are left out. Throws tools::UserError naming
// `source` and the line for anything malformed, a box without width or height,
// and, where the frame size is known, a box reaching outside the frame (by
// more than a pixel of rounding).
FrameLabels parseRendererLabels(std::istream& in, const ClassMap& classes, const std::string& source,
                                std::optional<cv::Size> frameSize = std::nullopt);

// The same for a file, which must be a regular file of at most
// tools::kMaxTextInputBytes.
FrameLabels readRendererLabels(const std::filesystem::path& file, const ClassMap& classes,
                               std::optional<cv::Size> frameSize = std::nullopt);

}  // namespace zor::eval
