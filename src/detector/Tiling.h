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

// Whether a tile's `box` (frame pixels) counts. It does not when it reaches
// an edge of `view` that lies inside the frame (the tile likely cuts it; the
// overlapping tile or the whole frame sees it whole), nor when the whole frame
// shows it at least two stride-8 cells (16 input pixels) tall at
// `wholeFrameScale`: the whole frame finds such objects, and what only a tile
// finds at that size is mostly a false alarm.
bool keptFromTile(const cv::Rect& box, const cv::Rect& view, cv::Size frame, double wholeFrameScale);

}  // namespace zor::hmd
