// Ground truth of an image dataset in YOLO form: labels/NAME.txt per image,
// one object a line, coordinates normalised to the image size.
#pragma once

#include "Boxes.h"
#include "ClassMap.h"

#include <opencv2/core.hpp>

#include <filesystem>
#include <istream>
#include <string>
#include <vector>

namespace zor::eval {

// Reads "class cx cy w h" lines and polygon lines "class x1 y1 x2 y2 x3 y3 ..."
// (the polygon becomes its bounding box), scaled to `imageSize` pixels.
// Classes missing from `classes` are left out; blank lines are skipped.
// Throws tools::UserError naming `source` and the line for anything malformed
// and for values outside the image: coordinates outside 0..1, a box without
// width or height or reaching outside (1e-3 allowed for rounding).
std::vector<LabelledBox> parseYoloLabels(std::istream& in, cv::Size imageSize, const ClassMap& classes,
                                         const std::string& source);

// The same for a file; a missing file is an image without objects, anything
// but a regular file of at most tools::kMaxTextInputBytes a tools::UserError.
std::vector<LabelledBox> readYoloLabels(const std::filesystem::path& file, cv::Size imageSize, const ClassMap& classes);

}  // namespace zor::eval
