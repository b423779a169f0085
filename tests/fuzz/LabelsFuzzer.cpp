// Both label readers and the class map on any text: a malformed file is a
// tools::UserError, and every box they accept lies where they promise.
#include "ClassMap.h"
#include "RendererLabels.h"
#include "ToolExit.h"
#include "YoloLabels.h"

#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

namespace {

const cv::Size kImage(640, 480);

void require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// Inside `size`, with the readers' rounding allowance (and a hair for the
// arithmetic of scaling).
bool inside(const cv::Rect2d& box, cv::Size size, double allowance) {
    return box.width > 0.0 && box.height > 0.0 && box.x >= -allowance && box.y >= -allowance &&
           box.x + box.width <= size.width + allowance && box.y + box.height <= size.height + allowance;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const zor::eval::ClassMap classes{{0, "helmet"}, {1, "head"}};
    try {
        std::istringstream in(text);
        for (const zor::eval::LabelledBox& truth : zor::eval::parseYoloLabels(in, kImage, classes, "fuzz")) {
            require(inside(truth.box, kImage, 1e-3 * kImage.width + 1e-6));
        }
    } catch (const zor::tools::UserError&) {
    }
    for (const bool knownSize : {false, true}) {
        try {
            std::istringstream in(text);
            const zor::eval::FrameLabels frames = zor::eval::parseRendererLabels(
                in, classes, "fuzz", knownSize ? std::optional<cv::Size>(kImage) : std::nullopt);
            for (const auto& [frame, truths] : frames) {
                require(frame >= 0);
                for (const zor::eval::LabelledBox& truth : truths) {
                    require(truth.box.width > 0.0 && truth.box.height > 0.0);
                    require(!knownSize || inside(truth.box, kImage, 1.0 + 1e-6));
                }
            }
        } catch (const zor::tools::UserError&) {
        }
    }
    // The first line as a --classes value.
    try {
        const zor::eval::ClassMap map = zor::eval::parseClassMap(text.substr(0, text.find('\n')));
        for (const auto& [id, name] : map) {
            require(id >= 0 && !name.empty());
        }
    } catch (const zor::tools::UserError&) {
    }
    return 0;
}
