// helmet-render: synthetic construction-site scenes for the helmet detector.
#include "DatasetWriter.h"
#include "VideoWriter.h"

#include <opencv2/core.hpp>
#include <opencv2/core/utility.hpp>

#include <iostream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace {

// cv::CommandLineParser wants --key=value; also accept "--key value".
std::vector<std::string> joinValues(int argc, char** argv) {
    std::vector<std::string> out;
    for (int i = 0; i < argc; ++i) {
        std::string a = argv[i];
        const bool option = a.size() > 2 && a.rfind("--", 0) == 0 && a.find('=') == std::string::npos;
        const bool flag = a == "--help" || a == "--h" || a == "--usage";
        if (i > 0 && option && !flag && i + 1 < argc && argv[i + 1][0] != '-') {
            a += '=';
            a += argv[++i];
        }
        out.push_back(std::move(a));
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args = joinValues(argc, argv);
    std::vector<const char*> argp;
    for (const auto& a : args)
        argp.push_back(a.c_str());
    const char* keys =
        "{help h usage ? |     | show this help}"
        "{@mode          |     | dataset, frames or video}"
        "{out            |     | output folder (dataset, frames) or MJPEG AVI path (video)}"
        "{count          | 1000| number of images}"
        "{seed           | 1   | random seed}"
        "{size           | 256 | dataset: side of the square images}"
        "{format         |     | png or jpg (default: png for dataset, jpg for frames)}"
        "{mp4            |     | video: also write an H.264 MP4 here}"
        "{frames         | 300 | video: number of frames}"
        "{labels         |     | video: write per-frame ground truth here}"
        "{quality        | 50  | video: JPEG quality of the AVI when FFmpeg has no MJPEG encoder}";
    cv::CommandLineParser parser(static_cast<int>(argp.size()), argp.data(), keys);
    parser.about("helmet-render: synthetic helmet/head scenes (dataset, frames, video)");
    if (parser.has("help")) {
        parser.printMessage();
        return 0;
    }
    const std::string mode = parser.get<std::string>("@mode");
    const std::string out = parser.get<std::string>("out");
    const int count = parser.get<int>("count");
    const std::string seedText = parser.get<std::string>("seed");
    const std::string format = parser.get<std::string>("format");
    if (!parser.check()) {
        parser.printErrors();
        return 2;
    }
    std::uint64_t seed = 0;
    try {
        seed = std::stoull(seedText);
    } catch (const std::exception&) {
        std::cerr << "--seed must be a non-negative integer\n";
        return 2;
    }
    // Single-threaded so timings and load do not depend on the machine.
    cv::setNumThreads(1);
    if (mode == "dataset") {
        zor::render::DatasetOptions o;
        o.outDir = out;
        o.count = count;
        o.seed = seed;
        o.size = parser.get<int>("size");
        o.ext = format == "jpg" ? ".jpg" : ".png";
        if (o.size < 32 || o.count < 0) {
            std::cerr << "bad --size or --count\n";
            return 2;
        }
        return zor::render::writeDataset(o);
    }
    if (mode == "frames") {
        zor::render::FramesOptions o;
        o.outDir = out;
        o.count = count;
        o.seed = seed;
        o.ext = format == "png" ? ".png" : ".jpg";
        return zor::render::writeFrames(o);
    }
    if (mode == "video") {
        zor::render::VideoOptions o;
        o.path = out;
        o.mp4 = parser.get<std::string>("mp4");
        o.labels = parser.get<std::string>("labels");
        o.frames = parser.get<int>("frames");
        o.seed = seed;
        o.quality = parser.get<int>("quality");
        return zor::render::writeVideo(o);
    }
    std::cerr << "mode must be dataset, frames or video\n";
    parser.printMessage();
    return 2;
}
