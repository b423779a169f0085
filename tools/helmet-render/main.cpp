// helmet-render: synthetic construction-site scenes for the helmet detector.
#include "CommandLine.h"
#include "DatasetWriter.h"
#include "OutputError.h"
#include "VideoWriter.h"

#include <opencv2/core/utility.hpp>

#include <cstdint>
#include <iostream>
#include <limits>
#include <optional>
#include <string>

namespace {

using zor::tools::Arguments;
using zor::tools::UserError;

const zor::tools::OptionTable kOptions{
    {"out", "count", "seed", "size", "format", "mp4", "frames", "labels", "quality", "variety", "camera", "white-hair"},
    {},
    1};

constexpr const char* kUsage =
    "helmet-render: synthetic helmet/head scenes (dataset, frames, far, video, sheet)\n"
    "Usage: helmet-render MODE --out PATH [options]; MODE is dataset, frames, far, video or sheet.\n"
    "Options take --name=value or --name value.\n"
    "  --out PATH      output folder (dataset, frames, far), MJPEG AVI path (video)\n"
    "                  or PNG path (sheet)\n"
    "  --count N       number of images, default 1000\n"
    "  --seed N        random seed, default 1\n"
    "  --size N        dataset, sheet: side of the square images, default 256\n"
    "  --variety V     dataset, sheet, far: standard (dataset's default, its original images)\n"
    "                  or wide (far's and sheet's default): more backs and sides, hard hats of\n"
    "                  every colour, hoods, sun hats, carried hard hats, red/orange/yellow\n"
    "                  negatives, infrared, low-light and motion-blurred frames\n"
    "  --camera C      with the wide variety: mixed (default; 10% infrared, 10% low light,\n"
    "                  10% motion blur) or normal (none; the same scenes otherwise)\n"
    "  --white-hair S  dataset, sheet, far: share S (0 to 1) of the workers without a hard\n"
    "                  hat drawn with white or silver hair, default 0 (other scenes then)\n"
    "  --format EXT    png or jpg (default: png for dataset, jpg for frames and far)\n"
    "  --mp4 PATH      video: also write an H.264 MP4 here\n"
    "  --frames N      video: number of frames, default 300\n"
    "  --labels PATH   video: write per-frame ground truth here\n"
    "  --quality N     video: JPEG quality of the AVI when FFmpeg has no MJPEG encoder, default 50\n"
    "Exit status: 0 done, 1 the run failed, 2 a bad option or an unusable output path.\n";

int render(const Arguments& arguments) {
    const std::string mode = arguments.positional().empty() ? "" : arguments.positional().front();
    const std::string out = arguments.text("out");
    if (out.empty()) {
        throw UserError("--out needs a path (see --help)");
    }
    const int count = arguments.number("count", 1000, 0, std::numeric_limits<int>::max());
    const auto seed = arguments.number<std::uint64_t>("seed", 1, 0, std::numeric_limits<std::uint64_t>::max());
    const std::string format = arguments.text("format");
    if (!format.empty() && format != "png" && format != "jpg") {
        throw UserError("--format must be png or jpg, not '" + format + "'");
    }
    // Single-threaded so timings and load do not depend on the machine.
    cv::setNumThreads(1);
    const std::string variety = arguments.text("variety");
    if (!variety.empty() && variety != "standard" && variety != "wide") {
        throw UserError("--variety must be standard or wide, not '" + variety + "'");
    }
    const std::string camera = arguments.text("camera");
    if (!camera.empty() && camera != "mixed" && camera != "normal") {
        throw UserError("--camera must be mixed or normal, not '" + camera + "'");
    }
    const double whiteHair = arguments.number("white-hair", 0.0, 0.0, 1.0);
    if (mode == "dataset" || mode == "sheet") {
        zor::render::DatasetOptions o;
        o.outDir = out;
        o.count = count;
        o.seed = seed;
        o.size = arguments.number("size", 256, 32, 8192);
        o.ext = format == "jpg" ? ".jpg" : ".png";
        o.wide = mode == "sheet" ? variety != "standard" : variety == "wide";
        o.cameraEffects = camera != "normal";
        o.whiteHair = whiteHair;
        if (mode == "sheet") {
            zor::render::writeSheet(o, out);
        } else {
            zor::render::writeDataset(o);
        }
        return zor::tools::kExitDone;
    }
    if (mode == "far") {
        zor::render::FarOptions o;
        o.outDir = out;
        o.count = count;
        o.seed = seed;
        o.ext = format == "png" ? ".png" : ".jpg";
        o.wide = variety != "standard";
        o.cameraEffects = camera != "normal";
        o.whiteHair = whiteHair;
        zor::render::writeFar(o);
        return zor::tools::kExitDone;
    }
    if (mode == "frames") {
        zor::render::FramesOptions o;
        o.outDir = out;
        o.count = count;
        o.seed = seed;
        o.ext = format == "png" ? ".png" : ".jpg";
        zor::render::writeFrames(o);
        return zor::tools::kExitDone;
    }
    if (mode == "video") {
        zor::render::VideoOptions o;
        o.path = out;
        o.mp4 = arguments.text("mp4");
        o.labels = arguments.text("labels");
        o.frames = arguments.number("frames", 300, 1, 1'000'000);
        o.seed = seed;
        o.quality = arguments.number("quality", 50, 1, 100);
        zor::render::writeVideo(o);
        return zor::tools::kExitDone;
    }
    throw UserError("the mode must be dataset, frames, far, video or sheet (see --help)");
}

}  // namespace

int main(int argc, char** argv) {
    return zor::tools::runToolMain("helmet-render", [&]() -> int {
        const std::optional<Arguments> arguments =
            zor::tools::parseCommandLine(argc, argv, kOptions, kUsage, std::cout);
        if (!arguments) {
            return zor::tools::kExitDone;
        }
        try {
            return render(*arguments);
        } catch (const zor::render::OutputError& error) {
            throw UserError(error.what());  // an output path the user can fix
        }
    });
}
