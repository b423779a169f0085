// COCO's object sizes by box area in image pixels: small below 32x32,
// medium below 96x96, large from 96x96 on.
#pragma once

#include <opencv2/core.hpp>

#include <array>

namespace zor::eval {

enum class ObjectSize { small, medium, large };

constexpr int kObjectSizeCount = 3;
constexpr double kSmallAreaLimit = 32.0 * 32.0;
constexpr double kMediumAreaLimit = 96.0 * 96.0;

// Half-open ranges, so that every box has exactly one size (COCO's own code
// takes both ends of each range, giving a box of exactly 32x32 two sizes).
ObjectSize objectSizeOf(const cv::Rect2d& box);

// "small", "medium", "large".
const char* objectSizeName(ObjectSize size);

constexpr std::array<ObjectSize, kObjectSizeCount> kObjectSizes{ObjectSize::small, ObjectSize::medium,
                                                                ObjectSize::large};

}  // namespace zor::eval
