#include "Tiling.h"

#include <algorithm>
#include <cmath>

namespace zor::hmd {

namespace {

// A box this close to an inner tile edge counts as cut.
constexpr int kEdgeMargin = 2;
// Input pixels: objects the whole frame shows this tall are its own.
constexpr double kLargestTileObject = 16.0;

// Starts and length of `tiles` spans over `length` overlapping by a fifth.
std::vector<cv::Range> spans(int length, int tiles) {
    const int span = static_cast<int>(std::ceil(length / (tiles - (tiles - 1) * 0.2)));
    std::vector<cv::Range> ranges;
    for (int i = 0; i < tiles; ++i) {
        const int start = i == tiles - 1 ? length - span : static_cast<int>(std::lround(i * span * 0.8));
        ranges.emplace_back(std::max(start, 0), std::min(std::max(start, 0) + span, length));
    }
    return ranges;
}

}  // namespace

std::vector<cv::Rect> tileViews(cv::Size frame, cv::Size input, int tiles) {
    std::vector<cv::Rect> views{cv::Rect(cv::Point(), frame)};
    const double scale =
        std::min(static_cast<double>(input.width) / frame.width, static_cast<double>(input.height) / frame.height);
    if (tiles < 2 || scale >= 0.5) {
        return views;
    }
    for (const cv::Range& rows : spans(frame.height, tiles)) {
        for (const cv::Range& cols : spans(frame.width, tiles)) {
            views.emplace_back(cols.start, rows.start, cols.size(), rows.size());
        }
    }
    return views;
}

bool keptFromTile(const cv::Rect& box, const cv::Rect& view, cv::Size frame, double wholeFrameScale) {
    const bool cut = (view.x > 0 && box.x <= view.x + kEdgeMargin) || (view.y > 0 && box.y <= view.y + kEdgeMargin) ||
                     (view.br().x < frame.width && box.br().x >= view.br().x - kEdgeMargin) ||
                     (view.br().y < frame.height && box.br().y >= view.br().y - kEdgeMargin);
    return !cut && box.height * wholeFrameScale < kLargestTileObject;
}

}  // namespace zor::hmd
