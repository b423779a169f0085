// detections.jsonl: one JSON object per line, one line per frame.
//   {"frame": 0, "time": 0.04, "image": "a.jpg", "detections": [
//     {"class": "helmet", "classId": 0, "confidence": 0.87, "box": [x, y, w, h]}]}
// "image" only for image input. Numbers are written in their shortest form
// that reads back to the same value.
#pragma once

#include "IZORCustomClass.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace zor::detect {

struct FrameRecord {
    long frame = 0;
    double time = 0.0;                 // seconds from the start of the video; 0 for images
    std::optional<std::string> image;  // the image's file name
};

// The record as one line of JSON, without the line break.
std::string formatRecord(const FrameRecord& record, const std::vector<CustomObject>& detections);

class JsonLinesWriter {
public:
    // Throws tools::UserError when the file cannot be created.
    explicit JsonLinesWriter(const std::filesystem::path& path);

    // Lines are kept until close(), which writes them all or throws
    // std::runtime_error.
    void write(const FrameRecord& record, const std::vector<CustomObject>& detections);
    void close();

private:
    std::filesystem::path path_;
    std::string lines_;
};

}  // namespace zor::detect
