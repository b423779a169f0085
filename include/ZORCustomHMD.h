// The helmet detector of the ZORCustomHelmetDetection library.
#pragma once

#include "IZORCustomClass.h"

#include <memory>

#if defined(_WIN32)
#if defined(ZOR_HELMET_DETECTION_BUILD)
#define ZOR_HMD_API __declspec(dllexport)
#else
#define ZOR_HMD_API __declspec(dllimport)
#endif
#else
#define ZOR_HMD_API __attribute__((visibility("default")))
#endif

class ZOR_HMD_API ZORCustomHMD : public IZORCustomClass {
public:
    ZORCustomHMD();
    ~ZORCustomHMD();

    ZORCustomHMD(const ZORCustomHMD&) = delete;
    ZORCustomHMD& operator=(const ZORCustomHMD&) = delete;

    bool Initialize(const std::string& modelDirectory, float threshold, std::string& labelMap) override;
    bool OptimizeModel(bool option) override;
    std::vector<CustomObject> RunInference(const cv::Mat& frame, const std::string& cameraId) override;
    std::vector<CustomObject> RunInference(const cv::Mat& frame) override;
    bool ConfigureParameters(CustomParams& params) override;
    bool Destroy() override;

private:
    struct State;
    std::unique_ptr<State> state;
};
