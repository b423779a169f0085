// Custom-model plugin interface shared by the video-analytics platform and its
// detector libraries. Every module that includes this header carries (and on
// Windows exports) its own copy of the non-virtual members defined here.
#pragma once

#include <opencv2/core.hpp>
#include <opencv2/core/cuda.hpp>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#if defined(_WIN32)
#define ZOR_CUSTOM_CLASS_API __declspec(dllexport)
#else
#define ZOR_CUSTOM_CLASS_API __attribute__((visibility("default")))
#endif

struct ParamFlagsEntry {
    std::uint8_t flag1 = 0;
    std::uint8_t flag2 = 0;
    std::uint8_t flag3 = 0;
    std::int32_t value1 = 0;
    std::int32_t value2 = 0;
    std::string text1;
    std::string text2;
};

struct ParamTextEntry {
    std::string text1;
    std::string text2;
    std::int32_t value1 = 0;
    std::int32_t value2 = 0;
    std::int32_t value3 = 0;
    std::string text3;
    std::vector<std::string> textList;
    std::string text4;
    std::string text5;
};

struct ParamListEntry {
    std::string text1;
    std::vector<double> valueList;
    std::string text2;
    std::string text3;
    std::int32_t value1 = 0;
};

struct CustomParams {
    std::vector<ParamFlagsEntry> flagEntries;
    std::vector<std::string> texts;
    std::vector<ParamTextEntry> textEntries;
    std::vector<ParamListEntry> listEntries;
};

// One detection.
struct CustomObject {
    std::int32_t classId = 0;
    std::string className;
    float confidence = 0.0f;
    cv::Rect box;
    std::vector<cv::Point2f> points;
    cv::Mat matrix;
    cv::cuda::GpuMat gpuMatrix;
    std::vector<float> values;
    std::string extraText;
    std::string tagText;
};

class ZOR_CUSTOM_CLASS_API IZORCustomClass {
public:
    std::string modelInfo;
    float threshold = 0.5f;
    CustomParams parameters;
    bool loadEngineOnCreate = false;

    IZORCustomClass() = default;

    IZORCustomClass(const IZORCustomClass& other) = default;

    IZORCustomClass(IZORCustomClass&& other) noexcept
        : modelInfo(std::exchange(other.modelInfo, std::string())),
          threshold(other.threshold),
          parameters(std::exchange(other.parameters, CustomParams())),
          loadEngineOnCreate(other.loadEngineOnCreate) {}

    IZORCustomClass& operator=(const IZORCustomClass& other) {
        if (this != &other) {
            modelInfo = other.modelInfo;
            threshold = other.threshold;
            parameters = other.parameters;
            loadEngineOnCreate = other.loadEngineOnCreate;
        }
        return *this;
    }

    // Each list releases its own storage and takes over the source's, which is
    // left empty; assigning an object to itself changes nothing.
    IZORCustomClass& operator=(IZORCustomClass&& other) noexcept {
        if (this != &other) {
            modelInfo = std::exchange(other.modelInfo, std::string());
            threshold = other.threshold;
            takeOver(parameters.flagEntries, other.parameters.flagEntries);
            takeOver(parameters.texts, other.parameters.texts);
            takeOver(parameters.textEntries, other.parameters.textEntries);
            takeOver(parameters.listEntries, other.parameters.listEntries);
            loadEngineOnCreate = other.loadEngineOnCreate;
        }
        return *this;
    }

    // Not virtual: a detector is always destroyed as its own concrete type.
    ~IZORCustomClass() = default;

    void SetLoadEngineOnCreate(bool value) { loadEngineOnCreate = value; }

    // Replaces the four lists with copies of the caller's. All copies are made
    // before anything is replaced, so a failure (out of memory or a throwing
    // copy) returns false and leaves every list as it was.
    bool SetParameters(const CustomParams& source) {
        try {
            CustomParams copy = source;
            parameters.flagEntries.swap(copy.flagEntries);
            parameters.texts.swap(copy.texts);
            parameters.textEntries.swap(copy.textEntries);
            parameters.listEntries.swap(copy.listEntries);
            return true;
        } catch (...) {
            return false;
        }
    }

    virtual bool Initialize(const std::string& modelDirectory, float threshold, std::string& labelMap) = 0;
    virtual bool OptimizeModel(bool option) = 0;
    // Slots: frame and camera identifier in 2, frame only in 3. MSVC gives the
    // overloads of one function adjacent slots in reverse declaration order,
    // so for it they are declared the other way round.
#if defined(_MSC_VER)
    virtual std::vector<CustomObject> RunInference(const cv::Mat& frame) = 0;
    virtual std::vector<CustomObject> RunInference(const cv::Mat& frame, const std::string& cameraId) = 0;
#else
    virtual std::vector<CustomObject> RunInference(const cv::Mat& frame, const std::string& cameraId) = 0;
    virtual std::vector<CustomObject> RunInference(const cv::Mat& frame) = 0;
#endif
    virtual bool ConfigureParameters(CustomParams& params) = 0;
    virtual bool Destroy() = 0;

private:
    template <typename T>
    static void takeOver(std::vector<T>& target, std::vector<T>& source) noexcept {
        std::vector<T>().swap(target);
        target.swap(source);
    }
};
