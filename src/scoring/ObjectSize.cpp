#include "ObjectSize.h"

namespace zor::eval {

ObjectSize objectSizeOf(const cv::Rect2d& box) {
    const double area = box.width * box.height;
    if (area < kSmallAreaLimit) {
        return ObjectSize::small;
    }
    return area < kMediumAreaLimit ? ObjectSize::medium : ObjectSize::large;
}

const char* objectSizeName(ObjectSize size) {
    switch (size) {
        case ObjectSize::small:
            return "small";
        case ObjectSize::medium:
            return "medium";
        case ObjectSize::large:
            break;
    }
    return "large";
}

}  // namespace zor::eval
