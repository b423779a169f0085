#include "Boxes.h"

#include <algorithm>

namespace zor::eval {

double iou(const cv::Rect2d& a, const cv::Rect2d& b) {
    const double width = std::min(a.x + a.width, b.x + b.width) - std::max(a.x, b.x);
    const double height = std::min(a.y + a.height, b.y + b.height) - std::max(a.y, b.y);
    if (!(width > 0.0 && height > 0.0)) {
        return 0.0;
    }
    const double intersection = width * height;
    const double united = a.area() + b.area() - intersection;
    return united > 0.0 ? intersection / united : 0.0;
}

}  // namespace zor::eval
