#include "Annotate.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

namespace zor::detect {

namespace {

constexpr int kFont = cv::FONT_HERSHEY_SIMPLEX;
const cv::Scalar kSheetBackground(32, 32, 32);
const cv::Scalar kCaptionColour(235, 235, 235);
constexpr int kCaptionHeight = 28;
constexpr int kGap = 8;

// Black text on light colours, white on dark ones.
cv::Scalar textColourOn(const cv::Scalar& background) {
    const double luma = 0.114 * background[0] + 0.587 * background[1] + 0.299 * background[2];
    return luma > 140.0 ? cv::Scalar(0, 0, 0) : cv::Scalar(255, 255, 255);
}

// `text` shortened with "..." until it fits in `width` pixels.
std::string fitText(std::string text, double fontScale, int thickness, int width) {
    int baseline = 0;
    while (!text.empty() && cv::getTextSize(text, kFont, fontScale, thickness, &baseline).width > width) {
        text.erase(text.size() > 4 ? text.size() - 4 : 0);
        text += text.empty() ? "" : "...";
    }
    return text;
}

cv::Rect scaled(const cv::Rect& box, double scale) {
    const int x0 = static_cast<int>(std::lround(box.x * scale));
    const int y0 = static_cast<int>(std::lround(box.y * scale));
    const int x1 = static_cast<int>(std::lround((box.x + box.width) * scale));
    const int y1 = static_cast<int>(std::lround((box.y + box.height) * scale));
    return {x0, y0, std::max(1, x1 - x0), std::max(1, y1 - y0)};
}

// The first label already placed that `label` would cover, if any.
const cv::Rect* overlapped(const cv::Rect& label, const std::vector<cv::Rect>& placed) {
    for (const cv::Rect& other : placed) {
        if ((label & other).area() > 0) {
            return &other;
        }
    }
    return nullptr;
}

// The label above the box where there is room, otherwise inside its top
// edge. A label that would cover one already placed goes above it, or below
// it when there is no room above, so that none hides another.
void drawLabel(cv::Mat& image, const std::string& text, const cv::Rect& box, const cv::Scalar& colour, double fontScale,
               int thickness, std::vector<cv::Rect>& placed) {
    int baseline = 0;
    const cv::Size size = cv::getTextSize(text, kFont, fontScale, thickness, &baseline);
    const int pad = std::max(2, size.height / 4);
    cv::Rect label(0, 0, size.width + 2 * pad, size.height + baseline + 2 * pad);
    label.x = std::clamp(box.x, 0, std::max(0, image.cols - label.width));
    label.y = box.y - label.height >= 0 ? box.y - label.height : std::max(0, box.y);

    cv::Rect up = label;
    for (const cv::Rect* other = overlapped(up, placed); other && up.y >= 0; other = overlapped(up, placed)) {
        up.y = other->y - up.height;
    }
    if (up.y >= 0) {
        label = up;
    } else {
        for (const cv::Rect* other = overlapped(label, placed); other && label.y < image.rows;
             other = overlapped(label, placed)) {
            label.y = other->y + other->height;
        }
    }
    placed.push_back(label);
    cv::rectangle(image, label, colour, cv::FILLED);
    cv::putText(image, text, {label.x + pad, label.y + pad + size.height}, kFont, fontScale, textColourOn(colour),
                thickness, cv::LINE_AA);
}

}  // namespace

cv::Scalar classColour(int classId) {
    static constexpr std::array<std::array<double, 3>, 8> kPalette{{
        {60, 200, 60},    // green
        {40, 40, 230},    // red
        {230, 140, 30},   // blue
        {0, 210, 240},    // yellow
        {210, 70, 200},   // magenta
        {210, 210, 0},    // cyan
        {0, 140, 255},    // orange
        {190, 190, 190},  // grey
    }};
    const auto size = static_cast<int>(kPalette.size());
    const auto& colour = kPalette[static_cast<std::size_t>(((classId % size) + size) % size)];
    return {colour[0], colour[1], colour[2]};
}

std::string labelText(const CustomObject& object) {
    std::array<char, 32> confidence{};
    std::snprintf(confidence.data(), confidence.size(), "%.2f", static_cast<double>(object.confidence));
    return object.className + " " + confidence.data();
}

void drawDetections(cv::Mat& image, const std::vector<CustomObject>& detections, double scale) {
    // Line and text sizes follow the picture's size: readable on 1080p frames
    // and on contact-sheet tiles alike.
    const int shortSide = std::min(image.cols, image.rows);
    const int lineWidth = std::max(1, static_cast<int>(std::lround(shortSide / 360.0)));
    const double fontScale = std::max(0.4, image.rows / 1200.0);
    const int textThickness = fontScale >= 0.8 ? 2 : 1;
    // All boxes first, so that no box line crosses a label.
    for (const CustomObject& object : detections) {
        cv::rectangle(image, scaled(object.box, scale), classColour(object.classId), lineWidth, cv::LINE_AA);
    }
    std::vector<cv::Rect> placed;
    for (const CustomObject& object : detections) {
        drawLabel(image, labelText(object), scaled(object.box, scale), classColour(object.classId), fontScale,
                  textThickness, placed);
    }
}

ContactSheet::ContactSheet(std::size_t tiles, int tileWidth)
    : tiles_(std::max<std::size_t>(tiles, 1)), tileWidth_(std::max(tileWidth, 16)) {}

ContactSheet::Tile ContactSheet::makeTile(long frameIndex, const cv::Mat& frame,
                                          const std::vector<CustomObject>& detections,
                                          const std::string& caption) const {
    // Fitted into the cell, centred; the cell has the first frame's shape.
    const double scale =
        std::min(static_cast<double>(cell_.width) / frame.cols, static_cast<double>(cell_.height) / frame.rows);
    const cv::Size fitted(std::max(1, static_cast<int>(std::lround(frame.cols * scale))),
                          std::max(1, static_cast<int>(std::lround(frame.rows * scale))));
    Tile tile{frameIndex, cv::Mat(cell_, CV_8UC3, kSheetBackground), caption};
    cv::Mat area = tile.image(
        cv::Rect((cell_.width - fitted.width) / 2, (cell_.height - fitted.height) / 2, fitted.width, fitted.height));
    cv::resize(frame, area, fitted, 0, 0, scale < 1.0 ? cv::INTER_AREA : cv::INTER_LINEAR);
    drawDetections(area, detections, scale);
    return tile;
}

void ContactSheet::expectFrames(long count) {
    planned_.clear();
    if (count <= 0) {
        return;
    }
    for (std::size_t i = 0; i < tiles_; ++i) {
        planned_.insert(tiles_ == 1 ? 0
                                    : std::lround(static_cast<double>(count - 1) * static_cast<double>(i) /
                                                  static_cast<double>(tiles_ - 1)));
    }
}

void ContactSheet::add(long frameIndex, const cv::Mat& frame, const std::vector<CustomObject>& detections,
                       const std::string& caption) {
    if (frame.empty() || frame.type() != CV_8UC3) {
        return;
    }
    if (cell_.empty()) {
        const int width = std::min(tileWidth_, frame.cols);
        cell_ = {width,
                 std::max(1, static_cast<int>(std::lround(static_cast<double>(width) * frame.rows / frame.cols)))};
    }
    latest_ = makeTile(frameIndex, frame, detections, caption);
    hasLatest_ = true;
    if (frameIndex % stride_ != 0 && planned_.count(frameIndex) == 0) {
        return;
    }
    kept_.push_back(latest_);
    // Bounded memory: when full, keep every other frame and double the stride.
    if (kept_.size() > 4 * tiles_ + planned_.size()) {
        stride_ *= 2;
        std::erase_if(
            kept_, [this](const Tile& tile) { return tile.frame % stride_ != 0 && planned_.count(tile.frame) == 0; });
    }
}

std::vector<const ContactSheet::Tile*> ContactSheet::chosenTiles() const {
    std::vector<const Tile*> candidates;
    for (const Tile& tile : kept_) {
        candidates.push_back(&tile);
    }
    if (hasLatest_ && (candidates.empty() || candidates.back()->frame != latest_.frame)) {
        candidates.push_back(&latest_);
    }
    if (candidates.size() <= tiles_) {
        return candidates;
    }
    // For each evenly spaced target, the nearest candidate that still leaves
    // one candidate for each later target.
    const double first = static_cast<double>(candidates.front()->frame);
    const double last = static_cast<double>(candidates.back()->frame);
    std::vector<const Tile*> chosen;
    std::size_t next = 0;
    for (std::size_t i = 0; i < tiles_; ++i) {
        const double target = first + (last - first) * static_cast<double>(i) / static_cast<double>(tiles_ - 1);
        const std::size_t end = candidates.size() - (tiles_ - 1 - i);
        std::size_t best = next;
        for (std::size_t j = next; j < end; ++j) {
            if (std::abs(candidates[j]->frame - target) < std::abs(candidates[best]->frame - target)) {
                best = j;
            }
        }
        chosen.push_back(candidates[best]);
        next = best + 1;
    }
    return chosen;
}

std::vector<long> ContactSheet::chosenFrames() const {
    std::vector<long> frames;
    for (const Tile* tile : chosenTiles()) {
        frames.push_back(tile->frame);
    }
    return frames;
}

cv::Mat ContactSheet::render(const std::string& title) const {
    const std::vector<const Tile*> tiles = chosenTiles();
    if (tiles.empty()) {
        return {};
    }
    const int count = static_cast<int>(tiles.size());
    const int columns = count <= 4 ? count : (count <= 9 ? 3 : 4);
    const int rows = (count + columns - 1) / columns;
    const int titleHeight = 36;
    const cv::Size step(cell_.width + kGap, cell_.height + kCaptionHeight + kGap);
    cv::Mat sheet(titleHeight + rows * step.height + kGap, kGap + columns * step.width, CV_8UC3, kSheetBackground);
    cv::putText(sheet, fitText(title, 0.7, 1, sheet.cols - 2 * kGap), {kGap, 25}, kFont, 0.7, kCaptionColour, 1,
                cv::LINE_AA);
    for (int i = 0; i < count; ++i) {
        const cv::Point corner(kGap + (i % columns) * step.width, titleHeight + (i / columns) * step.height);
        tiles[static_cast<std::size_t>(i)]->image.copyTo(sheet(cv::Rect(corner, cell_)));
        cv::putText(sheet, fitText(tiles[static_cast<std::size_t>(i)]->caption, 0.55, 1, cell_.width),
                    {corner.x, corner.y + cell_.height + 20}, kFont, 0.55, kCaptionColour, 1, cv::LINE_AA);
    }
    return sheet;
}

}  // namespace zor::detect
