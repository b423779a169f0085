// A Motion-JPEG AVI cut short, as a copy that stopped mid-way leaves it: its
// header still counts every frame written, only the frames before the cut
// decode.
#pragma once

#include "ScratchFolder.h"

#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

namespace zor::test {

// Writes `frames` frames of `size` (a bright square moving on grey) to `path`
// and keeps the first third of the file's bytes; false when no MJPEG writer.
inline bool writeTruncatedVideo(const fs::path& path, int frames, cv::Size size) {
    {
        cv::VideoWriter writer(path.string(), cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 25.0, size);
        if (!writer.isOpened()) {
            return false;
        }
        for (int i = 0; i < frames; ++i) {
            cv::Mat frame(size, CV_8UC3, cv::Scalar(128, 128, 128));
            cv::rectangle(frame, cv::Rect((7 * i) % (size.width / 2), size.height / 3, size.width / 4, size.height / 4),
                          cv::Scalar(250, 250, 250), cv::FILLED);
            writer.write(frame);
        }
    }
    const std::string bytes = readFile(path);
    writeFile(path, bytes.substr(0, bytes.size() / 3));
    return true;
}

}  // namespace zor::test
