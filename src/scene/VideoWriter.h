// The 1080p test video: workers walking across a site, as Motion-JPEG AVI
// (OpenCV's built-in writer and reader) plus an optional H.264 MP4 copy.
#pragma once

#include <cstdint>
#include <string>

namespace zor::render {

struct VideoOptions {
    std::string path;    // MJPEG AVI, whatever its extension
    std::string mp4;     // optional H.264 copy
    std::string labels;  // optional per-frame ground truth
    int frames = 300;
    std::uint64_t seed = 1;
    int quality = 50;  // JPEG quality of the AVI
};

// Throws OutputError when an output cannot be created, std::runtime_error
// when the AVI does not read back with every frame.
void writeVideo(const VideoOptions& opt);

}  // namespace zor::render
