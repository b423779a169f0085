#include "YoloLabels.h"

#include "TextFile.h"
#include "TextLines.h"
#include "ToolExit.h"

#include <algorithm>
#include <limits>
#include <sstream>

namespace zor::eval {

namespace {

// Rounding in the tools that write labels puts edges a hair outside 0..1.
constexpr double kTolerance = 1e-3;

bool inUnitRange(double value) {
    return value >= -kTolerance && value <= 1.0 + kTolerance;
}

// What is wrong with the values of a well-formed line and its box, or
// nothing: a value outside the image, or a box no detection can match,
// would silently move AP.
std::optional<std::string> valueProblem(const std::vector<double>& numbers, const cv::Rect2d& box) {
    if (!std::all_of(numbers.begin(), numbers.end(), inUnitRange)) {
        return "coordinates must lie between 0 and 1";
    }
    if (box.width <= 0.0 || box.height <= 0.0) {
        return numbers.size() == 4 ? "width and height must be above 0" : "the polygon encloses no area";
    }
    if (numbers.size() != 4) {
        return std::nullopt;
    }
    const double cx = numbers[0], cy = numbers[1], w = numbers[2], h = numbers[3];
    if (!inUnitRange(cx - w / 2.0) || !inUnitRange(cx + w / 2.0) || !inUnitRange(cy - h / 2.0) ||
        !inUnitRange(cy + h / 2.0)) {
        return "the box reaches outside the image";
    }
    return std::nullopt;
}

// The normalised box of one line's coordinates: a centre box for four
// numbers, the bounding box of the points for three or more pairs.
std::optional<cv::Rect2d> normalisedBox(const std::vector<double>& numbers) {
    if (numbers.size() == 4) {
        const double w = numbers[2];
        const double h = numbers[3];
        return cv::Rect2d(numbers[0] - w / 2.0, numbers[1] - h / 2.0, w, h);
    }
    if (numbers.size() < 6 || numbers.size() % 2 != 0) {
        return std::nullopt;
    }
    double left = numbers[0], right = numbers[0], top = numbers[1], bottom = numbers[1];
    for (std::size_t i = 2; i < numbers.size(); i += 2) {
        left = std::min(left, numbers[i]);
        right = std::max(right, numbers[i]);
        top = std::min(top, numbers[i + 1]);
        bottom = std::max(bottom, numbers[i + 1]);
    }
    return cv::Rect2d(left, top, right - left, bottom - top);
}

}  // namespace

std::vector<LabelledBox> parseYoloLabels(std::istream& in, cv::Size imageSize, const ClassMap& classes,
                                         const std::string& source) {
    std::vector<LabelledBox> boxes;
    long lineNumber = 0;
    for (std::string line; std::getline(in, line);) {
        ++lineNumber;
        const std::vector<std::string_view> words = wordsOf(line);
        if (words.empty()) {
            continue;
        }
        const std::optional<long> classId = toInteger(words[0]);
        std::vector<double> numbers;
        for (std::size_t i = 1; i < words.size(); ++i) {
            const std::optional<double> number = toNumber(words[i]);
            if (!number) {
                break;
            }
            numbers.push_back(*number);
        }
        const std::optional<cv::Rect2d> box =
            numbers.size() + 1 == words.size() ? normalisedBox(numbers) : std::nullopt;
        const std::string where = source + ":" + std::to_string(lineNumber) + ": ";
        if (!classId || *classId < 0 || !box) {
            throw tools::UserError(where + "not 'class cx cy w h' or 'class x1 y1 x2 y2 x3 y3 ...': " + line);
        }
        if (const std::optional<std::string> problem = valueProblem(numbers, *box)) {
            throw tools::UserError(where + *problem + ": " + line);
        }
        const auto mapped = classes.find(static_cast<int>(std::min<long>(*classId, std::numeric_limits<int>::max())));
        if (mapped == classes.end()) {
            continue;
        }
        boxes.push_back({mapped->second, cv::Rect2d(box->x * imageSize.width, box->y * imageSize.height,
                                                    box->width * imageSize.width, box->height * imageSize.height)});
    }
    return boxes;
}

std::vector<LabelledBox> readYoloLabels(const std::filesystem::path& file, cv::Size imageSize,
                                        const ClassMap& classes) {
    std::error_code error;
    if (!std::filesystem::exists(file, error)) {
        return {};
    }
    std::istringstream in(tools::readTextFile(file, tools::kMaxTextInputBytes, "label file"));
    return parseYoloLabels(in, imageSize, classes, file.string());
}

}  // namespace zor::eval
