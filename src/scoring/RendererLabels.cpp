#include "RendererLabels.h"

#include "TextFile.h"
#include "TextLines.h"
#include "ToolExit.h"

#include <algorithm>
#include <limits>
#include <sstream>

namespace zor::eval {

namespace {

// Rounding in the renderer's output, in pixels.
constexpr double kTolerancePixels = 1.0;

bool insideFrame(double cx, double cy, double w, double h, cv::Size frame) {
    return cx - w / 2.0 >= -kTolerancePixels && cy - h / 2.0 >= -kTolerancePixels &&
           cx + w / 2.0 <= frame.width + kTolerancePixels && cy + h / 2.0 <= frame.height + kTolerancePixels;
}

}  // namespace

FrameLabels parseRendererLabels(std::istream& in, const ClassMap& classes, const std::string& source,
                                std::optional<cv::Size> frameSize) {
    FrameLabels frames;
    long lineNumber = 0;
    for (std::string line; std::getline(in, line);) {
        ++lineNumber;
        const std::vector<std::string_view> words = wordsOf(line);
        if (words.empty() || words[0].front() == '#') {
            continue;
        }
        std::optional<long> frame;
        std::optional<long> classId;
        std::optional<double> numbers[4];
        bool wellFormed = words.size() == 6 && (frame = toInteger(words[0])) && *frame >= 0 &&
                          (classId = toInteger(words[1])) && *classId >= 0;
        for (int i = 0; wellFormed && i < 4; ++i) {
            numbers[i] = toNumber(words[2 + i]);
            wellFormed = numbers[i].has_value();
        }
        const std::string where = source + ":" + std::to_string(lineNumber) + ": ";
        if (!wellFormed) {
            throw tools::UserError(where + "not 'frame class cx cy w h': " + line);
        }
        if (*numbers[2] <= 0.0 || *numbers[3] <= 0.0) {
            throw tools::UserError(where + "width and height must be above 0: " + line);
        }
        if (frameSize && !insideFrame(*numbers[0], *numbers[1], *numbers[2], *numbers[3], *frameSize)) {
            throw tools::UserError(where + "the box reaches outside the " + std::to_string(frameSize->width) + "x" +
                                   std::to_string(frameSize->height) + " frame: " + line);
        }
        const auto mapped = classes.find(static_cast<int>(std::min<long>(*classId, std::numeric_limits<int>::max())));
        if (mapped == classes.end()) {
            continue;
        }
        const double w = *numbers[2];
        const double h = *numbers[3];
        frames[*frame].push_back({mapped->second, cv::Rect2d(*numbers[0] - w / 2.0, *numbers[1] - h / 2.0, w, h)});
    }
    return frames;
}

FrameLabels readRendererLabels(const std::filesystem::path& file, const ClassMap& classes,
                               std::optional<cv::Size> frameSize) {
    std::istringstream in(tools::readTextFile(file, tools::kMaxTextInputBytes, "labels file"));
    return parseRendererLabels(in, classes, file.string(), frameSize);
}

}  // namespace zor::eval
