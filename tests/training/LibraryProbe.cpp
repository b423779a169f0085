// The library's side of the training scripts' tests: its input blob for an
// image, and its detections through the plugin interface, in forms Python
// reads back exactly.
//
//   library_probe blob IMAGE WIDTH HEIGHT PAD OUT.f32
//       writes the blob as raw float32 (NCHW) and prints
//       "shape 1 3 H W scale S offset X Y"
//   library_probe detect MODEL_DIR THRESHOLD IMAGE...
//       prints "IMAGE_INDEX CLASS CONFIDENCE X Y W H" per detection
#include "Preprocess.h"
#include "ZORCustomHMD.h"

#include <opencv2/imgcodecs.hpp>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace {

constexpr const char* kUsage =
    "usage: library_probe blob IMAGE WIDTH HEIGHT PAD OUT | library_probe detect MODEL_DIR THRESHOLD IMAGE...";

int fail(const std::string& reason, int status) {
    std::cerr << "library_probe: " << reason << "\n";
    return status;
}

bool readImage(const std::string& path, cv::Mat& image) {
    image = cv::imread(path, cv::IMREAD_COLOR);
    return !image.empty();
}

int writeBlob(const std::vector<std::string>& args) {
    if (args.size() != 5) {
        return fail(kUsage, 2);
    }
    cv::Mat image;
    if (!readImage(args[0], image)) {
        return fail(args[0] + ": cannot read the image", 1);
    }
    const cv::Size inputSize(std::stoi(args[1]), std::stoi(args[2]));
    const zor::hmd::Letterbox letterbox = zor::hmd::Letterbox::fit(image.size(), inputSize);
    const cv::Mat blob = zor::hmd::makeInputBlob(image, letterbox, inputSize, std::stoi(args[3]));
    std::ofstream out(args[4], std::ios::binary);
    out.write(reinterpret_cast<const char*>(blob.ptr<float>()), static_cast<std::streamsize>(blob.total() * 4));
    if (!out) {
        return fail(args[4] + ": cannot be written", 1);
    }
    std::printf("shape %d %d %d %d scale %.17g offset %d %d\n", blob.size[0], blob.size[1], blob.size[2], blob.size[3],
                letterbox.scale, letterbox.offset.x, letterbox.offset.y);
    return 0;
}

int printDetections(const std::vector<std::string>& args) {
    if (args.size() < 3) {
        return fail(kUsage, 2);
    }
    ZORCustomHMD detector;
    std::string labelMap;
    if (!detector.Initialize(args[0], std::stof(args[1]), labelMap)) {
        return fail(args[0] + ": Initialize failed", 1);
    }
    for (size_t i = 2; i < args.size(); ++i) {
        cv::Mat image;
        if (!readImage(args[i], image)) {
            return fail(args[i] + ": cannot read the image", 1);
        }
        for (const CustomObject& object : detector.RunInference(image)) {
            // Nine digits give a float back bit for bit.
            std::printf("%zu %d %.9g %d %d %d %d\n", i - 2, object.classId, object.confidence, object.box.x,
                        object.box.y, object.box.width, object.box.height);
        }
    }
    detector.Destroy();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        return fail(kUsage, 2);
    }
    const std::string command = argv[1];
    const std::vector<std::string> args(argv + 2, argv + argc);
    try {
        if (command == "blob") {
            return writeBlob(args);
        }
        if (command == "detect") {
            return printDetections(args);
        }
    } catch (const std::exception& e) {
        // std::stoi and std::stof on words that are not numbers.
        return fail(std::string("not a number: ") + e.what(), 2);
    }
    return fail(kUsage, 2);
}
