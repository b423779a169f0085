// The manifest reader on any text: it must refuse or accept, never crash,
// hang or throw, and what it accepts must be a usable manifest.
#include "ModelManifest.h"

#include <opencv2/core/utils/logger.hpp>

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    zor::hmd::ModelManifest manifest;
    if (!zor::hmd::parseManifestText(text, manifest).empty()) {
        return 0;
    }
    // The engine relies on these without checking again.
    const bool usable = !manifest.onnxPath.empty() && manifest.inputSize.width >= 8 && manifest.inputSize.height >= 8 &&
                        !manifest.classNames.empty() && manifest.nmsIoU > 0.0f && manifest.nmsIoU <= 1.0f &&
                        manifest.padValue >= 0 && manifest.padValue <= 255 && manifest.threads >= 1 &&
                        manifest.tiles >= 1;
    if (!usable) {
        std::abort();
    }
    return 0;
}
