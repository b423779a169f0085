// Labelled still images: small training images that look like the detector's
// letterboxed input, full 1080p frames for evaluation, and wide 1080p scenes
// of many far workers for scoring small heads.
#pragma once

#include "Scene.h"

#include <opencv2/core.hpp>

#include <cstdint>
#include <string>
#include <vector>

namespace zor::render {

struct DatasetOptions {
    std::string outDir;
    int count = 1000;
    std::uint64_t seed = 1;
    int size = 256;  // square side of the written images
    std::string ext = ".png";
    bool wide = false;          // the wide variety; off keeps the original images
    bool cameraEffects = true;  // wide: infrared, low-light and motion-blurred shares
    double whiteHair = 0.0;     // share of workers without a hard hat with white or silver hair
};

struct FramesOptions {
    std::string outDir;
    int count = 500;
    std::uint64_t seed = 1;
    std::string ext = ".jpg";
};

struct FarOptions {
    std::string outDir;
    int count = 200;
    std::uint64_t seed = 1;
    std::string ext = ".jpg";
    bool wide = true;
    bool cameraEffects = true;
    double whiteHair = 0.0;
};

// One image with its scene; labels in canvas pixels, `scale` maps them to the image.
struct Rendered {
    cv::Mat image;
    Scene scene;
    double scale = 1.0;  // image pixels per canvas pixel
    std::vector<Label> labels;
};

Rendered renderDatasetItem(const DatasetOptions& opt, int index);
Rendered renderFarItem(const FarOptions& opt, int index);

// Throw OutputError when the folder cannot be created or an item written.
void writeDataset(const DatasetOptions& opt);
void writeFrames(const FramesOptions& opt);
void writeFar(const FarOptions& opt);

// A contact sheet: rows of crops from dataset items, one row per kind of
// head, hat, negative and camera, with the label boxes drawn.
// Throws OutputError when the PNG cannot be written.
void writeSheet(const DatasetOptions& opt, const std::string& path);

}  // namespace zor::render
