#include "RendererLabels.h"

#include "TextLines.h"
#include "ToolExit.h"

#include <algorithm>
#include <fstream>
#include <limits>

namespace zor::eval {

FrameLabels parseRendererLabels(std::istream& in, const ClassMap& classes, const std::string& source) {
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
        if (!wellFormed || *numbers[2] < 0.0 || *numbers[3] < 0.0) {
            throw tools::UserError(source + ":" + std::to_string(lineNumber) +
                                   ": not 'frame class cx cy w h': " + line);
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

FrameLabels readRendererLabels(const std::filesystem::path& file, const ClassMap& classes) {
    std::ifstream in(file);
    if (!in) {
        throw tools::UserError("cannot read the labels file " + file.string());
    }
    return parseRendererLabels(in, classes, file.string());
}

}  // namespace zor::eval
