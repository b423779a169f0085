// Drawing detections onto frames, and the contact sheet: a grid of evenly
// spaced annotated frames that shows a whole run at a glance.
#pragma once

#include "IZORCustomClass.h"

#include <opencv2/core.hpp>

#include <cstddef>
#include <set>
#include <string>
#include <vector>

namespace zor::detect {

// One colour (BGR) per class id; ids beyond the palette wrap around.
cv::Scalar classColour(int classId);

// "helmet 0.87": the class name and the confidence with two decimals.
std::string labelText(const CustomObject& object);

// Draws each detection's box and label. `scale` maps frame coordinates onto
// `image`: 1 for the frame itself, less for a scaled-down copy.
void drawDetections(cv::Mat& image, const std::vector<CustomObject>& detections, double scale = 1.0);

class ContactSheet {
public:
    // At most `tiles` tiles, each at most `tileWidth` pixels wide.
    explicit ContactSheet(std::size_t tiles = 12, int tileWidth = 480);

    // The number of frames the run is expected to have, when known: those
    // evenly spaced over it are kept whatever comes after. Call before add().
    void expectFrames(long count);

    // Offers one frame (frame indices must increase). Only a bounded number of
    // scaled-down frames is kept, whatever the length of the run.
    void add(long frameIndex, const cv::Mat& frame, const std::vector<CustomObject>& detections,
             const std::string& caption);

    // The frame indices the sheet shows: evenly spaced from the first frame
    // offered to the last.
    std::vector<long> chosenFrames() const;

    // The grid under a title line; empty when no frame was offered.
    cv::Mat render(const std::string& title) const;

private:
    struct Tile {
        long frame = 0;
        cv::Mat image;
        std::string caption;
    };

    Tile makeTile(long frameIndex, const cv::Mat& frame, const std::vector<CustomObject>& detections,
                  const std::string& caption) const;
    std::vector<const Tile*> chosenTiles() const;

    std::size_t tiles_;
    int tileWidth_;
    cv::Size cell_;           // set by the first frame
    std::set<long> planned_;  // evenly spaced over the expected run
    long stride_ = 1;         // kept_ holds the planned frames and those whose index is a multiple of stride_
    std::vector<Tile> kept_;
    Tile latest_;  // the last frame offered, so the sheet ends where the run ended
    bool hasLatest_ = false;
};

}  // namespace zor::detect
