// Labelled still images: small training images that look like the detector's
// letterboxed input, and full 1080p frames for evaluation.
#pragma once

#include <cstdint>
#include <string>

namespace zor::render {

struct DatasetOptions {
    std::string outDir;
    int count = 1000;
    std::uint64_t seed = 1;
    int size = 256;  // square side of the written images
    std::string ext = ".png";
};

// Returns 0 on success.
int writeDataset(const DatasetOptions& opt);

struct FramesOptions {
    std::string outDir;
    int count = 500;
    std::uint64_t seed = 1;
    std::string ext = ".jpg";
};

int writeFrames(const FramesOptions& opt);

}  // namespace zor::render
