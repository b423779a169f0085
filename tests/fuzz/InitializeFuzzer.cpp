// Initialize on generated model folders: the input is written as model.yml
// beside a tiny valid ONNX model, then Initialize, one inference when it
// loaded, and Destroy. Whatever the manifest says, nothing may crash, hang or
// throw, and a refusal leaves no model.
#include "ZORCustomHMD.h"

#include <opencv2/core/utils/logger.hpp>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>

namespace fs = std::filesystem;

namespace {

// A scratch model folder for the whole run, removed at exit.
class ScratchModel {
public:
    ScratchModel() {
        std::string pattern = (fs::temp_directory_path() / "hmd-fuzz-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            std::abort();
        }
        folder_ = pattern;
        fs::copy_file(HMD_FUZZ_ONNX_MODEL, folder_ / "model.onnx");
    }
    ~ScratchModel() {
        std::error_code error;
        fs::remove_all(folder_, error);
    }
    const fs::path& folder() const { return folder_; }

private:
    fs::path folder_;
};

const ScratchModel& scratch() {
    static const ScratchModel model;
    return model;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
    // The detector explains every refusal on std::cerr.
    std::cerr.setstate(std::ios::badbit);
    scratch();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fs::path& folder = scratch().folder();
    {
        std::ofstream manifest(folder / "model.yml", std::ios::binary | std::ios::trunc);
        manifest.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    ZORCustomHMD detector;
    std::string labelMap;
    const bool loaded = detector.Initialize(folder.string(), 0.25f, labelMap);
    const std::vector<CustomObject> objects = detector.RunInference(cv::Mat(48, 64, CV_8UC3, cv::Scalar(90, 120, 150)));
    if (loaded == labelMap.empty() || (!loaded && !objects.empty()) || !detector.Destroy()) {
        std::abort();
    }
    return 0;
}
