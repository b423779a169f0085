#include "HelmetEngine.h"

#include "Decode.h"
#include "Preprocess.h"

#include <opencv2/dnn.hpp>

#include <algorithm>
#include <array>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>

namespace zor::hmd {

namespace {

// A frame of padding only: the input for test and warm-up passes.
cv::Mat makePaddingBlob(const ModelManifest& manifest) {
    const cv::Mat padding(manifest.inputSize, CV_8UC3, cv::Scalar::all(manifest.padValue));
    return makeInputBlob(padding, Letterbox::fit(padding.size(), manifest.inputSize), manifest.inputSize,
                         manifest.padValue);
}

}  // namespace

struct HelmetEngine::LoadedModel {
    LoadedModel(std::filesystem::path directory, ModelManifest manifest, float threshold, std::vector<uchar> onnxBytes)
        : directory(std::move(directory)),
          manifest(std::move(manifest)),
          threshold(threshold),
          pool(std::move(onnxBytes)),
          warmUpBlob(makePaddingBlob(this->manifest)) {}

    const std::filesystem::path directory;
    const ModelManifest manifest;
    const float threshold;
    NetworkPool pool;
    const cv::Mat warmUpBlob;
};

namespace {

bool readBytes(const std::filesystem::path& path, std::vector<uchar>& bytes, std::string& error) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) {
        error = path.string() + ": ONNX file not found";
        return false;
    }
    std::ifstream file(path, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    if (!file.good() && !file.eof()) {
        error = path.string() + ": cannot be read";
        return false;
    }
    if (bytes.empty()) {
        error = path.string() + ": ONNX file is empty";
        return false;
    }
    return true;
}

std::string computeTargetName(ComputeTarget compute) {
    switch (compute.backend) {
        case cv::dnn::DNN_BACKEND_CUDA:
            return compute.target == cv::dnn::DNN_TARGET_CUDA_FP16 ? "cuda-fp16" : "cuda";
        case cv::dnn::DNN_BACKEND_INFERENCE_ENGINE:
            return "openvino";
        case cv::dnn::DNN_BACKEND_VKCOM:
            return "vulkan";
        default:
            return compute.target == cv::dnn::DNN_TARGET_OPENCL ? "opencv-opencl" : "opencv-cpu";
    }
}

ComputeTarget fastestComputeTarget() {
    const std::array<ComputeTarget, 4> preference{{
        {cv::dnn::DNN_BACKEND_CUDA, cv::dnn::DNN_TARGET_CUDA_FP16},
        {cv::dnn::DNN_BACKEND_CUDA, cv::dnn::DNN_TARGET_CUDA},
        {cv::dnn::DNN_BACKEND_INFERENCE_ENGINE, cv::dnn::DNN_TARGET_CPU},
        {cv::dnn::DNN_BACKEND_OPENCV, cv::dnn::DNN_TARGET_CPU},
    }};
    const auto available = cv::dnn::getAvailableBackends();
    for (const ComputeTarget& candidate : preference) {
        for (const auto& [backend, target] : available) {
            if (backend == candidate.backend && target == candidate.target) {
                return candidate;
            }
        }
    }
    return {};
}

}  // namespace

HelmetEngine::HelmetEngine() = default;
HelmetEngine::~HelmetEngine() = default;

std::shared_lock<std::shared_mutex> HelmetEngine::lockForInference() const {
    std::lock_guard waitBehindChanges(turnstile);
    return std::shared_lock(lifecycle);
}

std::unique_lock<std::shared_mutex> HelmetEngine::lockForChange() {
    std::lock_guard keepNewInferenceOut(turnstile);
    return std::unique_lock(lifecycle);
}

bool HelmetEngine::load(const std::filesystem::path& modelDirectory, float threshold, std::string& error) {
    std::unique_ptr<LoadedModel> loaded;
    if (!(threshold >= 0.0f && threshold <= 1.0f)) {
        error = "threshold " + std::to_string(threshold) + " is not between 0 and 1";
    } else {
        ModelManifest manifest;
        std::vector<uchar> onnxBytes;
        if (readManifest(modelDirectory, manifest, error) && readBytes(manifest.onnxPath, onnxBytes, error)) {
            const std::string onnxName = manifest.onnxPath.string();
            try {
                auto candidate =
                    std::make_unique<LoadedModel>(modelDirectory, std::move(manifest), threshold, std::move(onnxBytes));
                const ModelManifest& accepted = candidate->manifest;
                const std::string mismatch =
                    describeShapeMismatch(candidate->pool.borrow().forward(candidate->warmUpBlob), accepted.layout,
                                          static_cast<int>(accepted.classNames.size()));
                if (mismatch.empty()) {
                    loaded = std::move(candidate);
                } else {
                    error = onnxName + ": " + mismatch;
                }
            } catch (const cv::Exception& e) {
                error = onnxName + ": not a usable ONNX model (" + e.err + ")";
            }
        }
    }
    auto lock = lockForChange();
    model = std::move(loaded);
    return model != nullptr;
}

void HelmetEngine::unload() {
    auto lock = lockForChange();
    model.reset();
}

std::vector<Detection> HelmetEngine::detect(const cv::Mat& frame) const {
    const auto lock = lockForInference();
    if (!model) {
        return {};
    }
    const cv::Mat bgr = toDetectableBgr(frame);
    if (bgr.empty()) {
        return {};
    }
    const ModelManifest& manifest = model->manifest;
    const Letterbox letterbox = Letterbox::fit(bgr.size(), manifest.inputSize);
    const cv::Mat blob = makeInputBlob(bgr, letterbox, manifest.inputSize, manifest.padValue);

    std::vector<Candidate> candidates;
    {
        auto lease = model->pool.borrow();
        candidates = decodeOutput(lease.forward(blob), manifest.layout, static_cast<int>(manifest.classNames.size()),
                                  model->threshold);
    }
    std::vector<Detection> detections;
    for (const Candidate& candidate : suppressOverlaps(candidates, manifest.nmsIoU, manifest.nmsScope)) {
        const cv::Rect box = letterbox.toFrame(candidate.box);
        if (!box.empty()) {
            detections.push_back(
                {candidate.classId, manifest.classNames[candidate.classId], candidate.confidence, box});
        }
    }
    return detections;
}

bool HelmetEngine::optimize(bool fastest) {
    auto lock = lockForChange();
    if (!model) {
        return false;
    }
    const ComputeTarget wanted = fastest ? fastestComputeTarget() : ComputeTarget{};
    // One network per core, so that concurrent cameras never wait for a parse.
    const size_t networks = fastest ? std::max(1u, std::thread::hardware_concurrency()) : 1;
    try {
        model->pool.configureAll(wanted, networks, model->warmUpBlob);
        return true;
    } catch (const cv::Exception&) {
        // The chosen target failed on this model: fall back to the default.
        try {
            model->pool.configureAll(ComputeTarget{}, 1, model->warmUpBlob);
        } catch (const cv::Exception&) {
        }
        return false;
    }
}

EngineConfiguration HelmetEngine::configuration() const {
    const auto lock = lockForInference();
    EngineConfiguration configuration;
    if (model) {
        configuration.loaded = true;
        configuration.threshold = model->threshold;
        configuration.modelDirectory = model->directory;
        configuration.manifest = model->manifest;
        configuration.computeTarget = computeTargetName(model->pool.computeTarget());
    } else {
        configuration.computeTarget = computeTargetName(ComputeTarget{});
    }
    return configuration;
}

}  // namespace zor::hmd
