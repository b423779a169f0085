#include "HelmetEngine.h"

#include "Decode.h"
#include "Preprocess.h"
#include "Tiling.h"
#ifdef HMD_WITH_ONEDNN
#include "OneDnnNetwork.h"
#endif

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
    LoadedModel(std::filesystem::path directory, ModelManifest manifest, float threshold, std::vector<uchar> onnxBytes,
                std::shared_ptr<const OneDnnPlan> plan, std::string backendNote)
        : directory(std::move(directory)),
          manifest(std::move(manifest)),
          threshold(threshold),
          chosen(plan ? ComputeTarget{Engine::OneDnn} : ComputeTarget{}),
          pool(std::move(onnxBytes), chosen, std::move(plan), this->manifest.threads),
          warmUpBlob(makePaddingBlob(this->manifest)),
          backendNote(std::move(backendNote)) {}

    const std::filesystem::path directory;
    const ModelManifest manifest;
    const float threshold;
    const ComputeTarget chosen;  // at loading, by the manifest
    NetworkPool pool;
    const cv::Mat warmUpBlob;
    const std::string backendNote;
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

// The model compiled for oneDNN, or null with the reason in `whyNot`.
std::shared_ptr<const OneDnnPlan> oneDnnPlanFor([[maybe_unused]] const ModelManifest& manifest,
                                                [[maybe_unused]] const std::vector<uchar>& onnxBytes,
                                                std::string& whyNot) {
#ifdef HMD_WITH_ONEDNN
    OnnxGraph graph;
    if (!parseOnnx(onnxBytes, graph, whyNot)) {
        return nullptr;
    }
    return compileOneDnnPlan(graph, {1, 3, manifest.inputSize.height, manifest.inputSize.width}, whyNot);
#else
    // Nothing to explain under `auto`: this build only has OpenCV.
    if (manifest.backend == BackendChoice::OneDnn) {
        whyNot = "this build has no oneDNN backend";
    }
    return nullptr;
#endif
}

std::string computeTargetName(ComputeTarget compute) {
    if (compute.engine == Engine::OneDnn) {
        return "onednn-cpu";
    }
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
        {Engine::OpenCv, cv::dnn::DNN_BACKEND_CUDA, cv::dnn::DNN_TARGET_CUDA_FP16},
        {Engine::OpenCv, cv::dnn::DNN_BACKEND_CUDA, cv::dnn::DNN_TARGET_CUDA},
        {Engine::OpenCv, cv::dnn::DNN_BACKEND_INFERENCE_ENGINE, cv::dnn::DNN_TARGET_CPU},
        {Engine::OpenCv, cv::dnn::DNN_BACKEND_OPENCV, cv::dnn::DNN_TARGET_CPU},
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
    std::lock_guard waitBehindChanges(turnstile_);
    return std::shared_lock(lifecycle_);
}

std::unique_lock<std::shared_mutex> HelmetEngine::lockForChange() {
    std::lock_guard keepNewInferenceOut(turnstile_);
    return std::unique_lock(lifecycle_);
}

bool HelmetEngine::load(const std::filesystem::path& modelDirectory, float threshold, std::string& error) {
    std::unique_ptr<LoadedModel> loaded = makeModel(modelDirectory, threshold, error);
    auto lock = lockForChange();
    model_ = std::move(loaded);
    return model_ != nullptr;
}

std::unique_ptr<HelmetEngine::LoadedModel> HelmetEngine::makeModel(const std::filesystem::path& modelDirectory,
                                                                   float threshold, std::string& error) {
    if (!(threshold >= 0.0f && threshold <= 1.0f)) {
        error = "threshold " + std::to_string(threshold) + " is not between 0 and 1";
        return nullptr;
    }
    ModelManifest manifest;
    std::vector<uchar> onnxBytes;
    if (!readManifest(modelDirectory, manifest, error) || !readBytes(manifest.onnxPath, onnxBytes, error)) {
        return nullptr;
    }
    const std::string onnxName = manifest.onnxPath.string();
    std::string whyNot;
    std::shared_ptr<const OneDnnPlan> plan;
    if (manifest.backend != BackendChoice::OpenCv) {
        plan = oneDnnPlanFor(manifest, onnxBytes, whyNot);
        if (!plan && manifest.backend == BackendChoice::OneDnn) {
            error = onnxName + ": the oneDNN backend cannot run it (" + whyNot + ")";
            return nullptr;
        }
    }
    try {
        auto candidate = std::make_unique<LoadedModel>(modelDirectory, std::move(manifest), threshold,
                                                       std::move(onnxBytes), std::move(plan), std::move(whyNot));
        const ModelManifest& accepted = candidate->manifest;
        const std::string mismatch =
            describeShapeMismatch(candidate->pool.borrow().forward(candidate->warmUpBlob), accepted.layout,
                                  static_cast<int>(accepted.classNames.size()));
        if (mismatch.empty()) {
            return candidate;
        }
        error = onnxName + ": " + mismatch;
    } catch (const cv::Exception& e) {
        error = onnxName + ": not a usable ONNX model (" + e.err + ")";
    }
    return nullptr;
}

void HelmetEngine::unload() {
    auto lock = lockForChange();
    model_.reset();
}

std::vector<Detection> HelmetEngine::detect(const cv::Mat& frame) const {
    const auto lock = lockForInference();
    if (!model_) {
        return {};
    }
    const cv::Mat bgr = toDetectableBgr(frame);
    if (bgr.empty()) {
        return {};
    }
    const ModelManifest& manifest = model_->manifest;
    const int classCount = static_cast<int>(manifest.classNames.size());
    auto candidatesOf = [&](const cv::Mat& view, const Letterbox& letterbox) {
        auto lease = model_->pool.borrow();
        cv::Mat& blob = lease.inputBuffer();
        makeInputBlob(view, letterbox, manifest.inputSize, manifest.padValue, blob);
        return decodeOutput(lease.forward(blob), manifest.layout, classCount, model_->threshold);
    };
    std::vector<Detection> detections;
    const std::vector<cv::Rect> views = tileViews(bgr.size(), manifest.inputSize, manifest.tiles);
    if (views.size() == 1) {
        // Suppression in input pixels, before the boxes are rounded to the frame's.
        const Letterbox letterbox = Letterbox::fit(bgr.size(), manifest.inputSize);
        const std::vector<Candidate> candidates = candidatesOf(bgr, letterbox);
        for (const Candidate& candidate : suppressOverlaps(candidates, manifest.nmsIoU, manifest.nmsScope)) {
            const cv::Rect box = letterbox.toFrame(candidate.box);
            if (!box.empty()) {
                detections.push_back(
                    {candidate.classId, manifest.classNames[candidate.classId], candidate.confidence, box});
            }
        }
        return detections;
    }
    // Views of different scales meet in frame pixels.
    std::vector<Candidate> inFrame;
    const double wholeFrameScale = Letterbox::fit(bgr.size(), manifest.inputSize).scale;
    for (const cv::Rect& view : views) {
        const Letterbox letterbox = Letterbox::fit(view.size(), manifest.inputSize);
        const bool wholeFrame = view.size() == bgr.size();
        for (const Candidate& candidate : candidatesOf(bgr(view), letterbox)) {
            const cv::Rect box = letterbox.toFrame(candidate.box) + view.tl();
            if (!box.empty() && (wholeFrame || keptFromTile(box, view, bgr.size(), wholeFrameScale))) {
                inFrame.push_back({candidate.classId, candidate.confidence, cv::Rect2f(box)});
            }
        }
    }
    for (const Candidate& candidate : suppressOverlaps(inFrame, manifest.nmsIoU, manifest.nmsScope)) {
        detections.push_back(
            {candidate.classId, manifest.classNames[candidate.classId], candidate.confidence, cv::Rect(candidate.box)});
    }
    return detections;
}

bool HelmetEngine::optimize(bool fastest) {
    auto lock = lockForChange();
    if (!model_) {
        return false;
    }
    ComputeTarget wanted = model_->chosen;
    if (fastest) {
        // A GPU beats any CPU engine; on the CPU oneDNN beats OpenCV's own kernels.
        wanted = fastestComputeTarget();
        const bool gpu = wanted.backend == cv::dnn::DNN_BACKEND_CUDA;
        if (!gpu && model_->pool.canRunOneDnn()) {
            wanted = ComputeTarget{Engine::OneDnn};
        }
    }
    // One network per core, so that concurrent cameras never wait for one to be made.
    const size_t networks = fastest ? std::max(1u, std::thread::hardware_concurrency()) : 1;
    try {
        model_->pool.configureAll(wanted, networks, model_->warmUpBlob);
        return true;
    } catch (const cv::Exception&) {
        // The chosen target failed on this model_: back to the one chosen at loading.
        try {
            model_->pool.configureAll(model_->chosen, 1, model_->warmUpBlob);
        } catch (const cv::Exception&) {
        }
        return false;
    }
}

EngineConfiguration HelmetEngine::configuration() const {
    const auto lock = lockForInference();
    EngineConfiguration configuration;
    if (model_) {
        configuration.loaded = true;
        configuration.threshold = model_->threshold;
        configuration.modelDirectory = model_->directory;
        configuration.manifest = model_->manifest;
        const ComputeTarget running = model_->pool.computeTarget();
        configuration.computeTarget = computeTargetName(running);
        configuration.threads = running.engine == Engine::OneDnn ? model_->pool.threads() : cv::getNumThreads();
        configuration.backendNote = model_->backendNote;
    } else {
        configuration.computeTarget = computeTargetName(ComputeTarget{});
    }
    return configuration;
}

}  // namespace zor::hmd
