// The labelled frames of a run, one at a time: images of a YOLO folder in
// name order, or the frames of a video with the renderer's ground truth.
#pragma once

#include "Boxes.h"
#include "ClassMap.h"
#include "EvalOptions.h"

#include <opencv2/core.hpp>

#include <memory>
#include <string>
#include <vector>

namespace zor::eval {

struct LabelledFrame {
    long index = 0;
    std::string name;  // the image's file name, or "frame N"
    cv::Mat image;
    std::vector<LabelledBox> truths;
};

class LabelledData {
public:
    virtual ~LabelledData() = default;
    // False at the end. Throws tools::UserError for an unreadable image or label file.
    virtual bool next(LabelledFrame& frame) = 0;
    // Frames or images it will give; 0 when not known beforehand.
    virtual long expectedFrames() const = 0;
    // e.g. "data/test: 412 images (3 excluded)".
    virtual std::string description() const = 0;
    // Images left out by the exclusion list.
    virtual long excluded() const { return 0; }
};

// Opens the folder or video of `options` with its class map; throws tools::UserError
// when it cannot be used.
std::unique_ptr<LabelledData> openLabelledData(const Options& options, const ClassMap& classes);

}  // namespace zor::eval
