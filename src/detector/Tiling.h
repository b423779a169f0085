// Tiling: a frame much larger than the network input is also looked at in
// overlapping tiles, each letterboxed on its own, so that small far heads are
// seen at a larger scale than the whole frame allows.
#pragma once

#include <opencv2/core.hpp>

#include <vector>

namespace zor::hmd {

// The views to run for `frame`: the whole frame first, then a `tiles` x
// `tiles` grid of tiles overlapping by a fifth of a tile. Only the whole frame
// when `tiles` is 1 or the frame fits the input without shrinking by more than
// half.
std::vector<cv::Rect> tileViews(cv::Size frame, cv::Size input, int tiles);

// Whether `box` (frame pixels) reaches an edge of `view` that lies inside the
// frame: such a box is likely cut by the tile, and the overlapping tile or the
// whole frame sees the object whole.
bool touchesInnerEdge(const cv::Rect& box, const cv::Rect& view, cv::Size frame);

}  // namespace zor::hmd
