#include "ModelManifest.h"

#include <set>

namespace zor::hmd {
namespace {

constexpr int kMaxInputSide = 4096;
constexpr int kMaxThreads = 256;

bool readInt(const cv::FileNode& node, int& value) {
    if (!node.isInt()) {
        return false;
    }
    value = static_cast<int>(node);
    return true;
}

bool readReal(const cv::FileNode& node, float& value) {
    if (!node.isReal() && !node.isInt()) {
        return false;
    }
    value = static_cast<float>(static_cast<double>(node));
    return true;
}

bool readText(const cv::FileNode& node, std::string& value) {
    if (!node.isString()) {
        return false;
    }
    value = static_cast<std::string>(node);
    return true;
}

std::string checkedFields(const cv::FileNode& root, ModelManifest& manifest) {
    int version = 0;
    if (!readInt(root["format_version"], version)) {
        return "format_version must be an integer";
    }
    if (version != ModelManifest::kSupportedVersion) {
        return "unsupported format_version " + std::to_string(version);
    }
    std::string onnxFile;
    if (!readText(root["onnx_file"], onnxFile) || onnxFile.empty()) {
        return "onnx_file must be a file name";
    }
    manifest.onnxPath = onnxFile;
    int width = 0;
    int height = 0;
    if (!readInt(root["input_width"], width) || !readInt(root["input_height"], height)) {
        return "input_width and input_height must be integers";
    }
    if (width < 8 || height < 8 || width > kMaxInputSide || height > kMaxInputSide) {
        return "input size " + std::to_string(width) + "x" + std::to_string(height) + " is out of range";
    }
    manifest.inputSize = cv::Size(width, height);
    std::string layout;
    if (!readText(root["layout"], layout)) {
        return "layout must be a text";
    }
    if (layout == "yolov5") {
        manifest.layout = OutputLayout::YoloV5;
    } else if (layout == "yolov8") {
        manifest.layout = OutputLayout::YoloV8;
    } else {
        return "unknown layout '" + layout + "' (expected yolov5 or yolov8)";
    }
    const cv::FileNode classes = root["classes"];
    if (!classes.isSeq() || classes.size() == 0) {
        return "classes must be a non-empty list";
    }
    std::set<std::string> seen;
    for (const cv::FileNode& entry : classes) {
        std::string name;
        if (!readText(entry, name) || name.empty() || name.find(',') != std::string::npos) {
            return "class names must be non-empty texts without commas";
        }
        if (!seen.insert(name).second) {
            return "class name '" + name + "' appears twice";
        }
        manifest.classNames.push_back(name);
    }
    if (!readReal(root["nms_iou"], manifest.nmsIoU) || !(manifest.nmsIoU > 0.0f && manifest.nmsIoU <= 1.0f)) {
        return "nms_iou must be a number in (0, 1]";
    }
    if (!readInt(root["pad_value"], manifest.padValue) || manifest.padValue < 0 || manifest.padValue > 255) {
        return "pad_value must be an integer from 0 to 255";
    }
    // Optional keys: manifests written before them keep their meaning.
    const cv::FileNode nmsMode = root["nms_mode"];
    if (!nmsMode.empty()) {
        std::string mode;
        if (!readText(nmsMode, mode)) {
            return "nms_mode must be a text";
        }
        if (mode == suppressionScopeName(SuppressionScope::PerClass)) {
            manifest.nmsScope = SuppressionScope::PerClass;
        } else if (mode == suppressionScopeName(SuppressionScope::ClassAgnostic)) {
            manifest.nmsScope = SuppressionScope::ClassAgnostic;
        } else {
            return "unknown nms_mode '" + mode + "' (expected per_class or class_agnostic)";
        }
    }
    const cv::FileNode modelVersion = root["model_version"];
    if (!modelVersion.empty() && !readText(modelVersion, manifest.modelVersion)) {
        return "model_version must be a text";
    }
    const cv::FileNode backend = root["backend"];
    if (!backend.empty()) {
        std::string name;
        if (!readText(backend, name)) {
            return "backend must be a text";
        }
        if (name == backendChoiceName(BackendChoice::Auto)) {
            manifest.backend = BackendChoice::Auto;
        } else if (name == backendChoiceName(BackendChoice::OneDnn)) {
            manifest.backend = BackendChoice::OneDnn;
        } else if (name == backendChoiceName(BackendChoice::OpenCv)) {
            manifest.backend = BackendChoice::OpenCv;
        } else {
            return "unknown backend '" + name + "' (expected auto, onednn or opencv)";
        }
    }
    const cv::FileNode threads = root["threads"];
    if (!threads.empty() &&
        (!readInt(threads, manifest.threads) || manifest.threads < 1 || manifest.threads > kMaxThreads)) {
        return "threads must be an integer from 1 to " + std::to_string(kMaxThreads);
    }
    return {};
}

}  // namespace

const char* layoutName(OutputLayout layout) {
    return layout == OutputLayout::YoloV8 ? "yolov8" : "yolov5";
}

const char* suppressionScopeName(SuppressionScope scope) {
    return scope == SuppressionScope::ClassAgnostic ? "class_agnostic" : "per_class";
}

const char* backendChoiceName(BackendChoice choice) {
    switch (choice) {
        case BackendChoice::OneDnn:
            return "onednn";
        case BackendChoice::OpenCv:
            return "opencv";
        case BackendChoice::Auto:
            break;
    }
    return "auto";
}

bool readManifest(const std::filesystem::path& directory, ModelManifest& manifest, std::string& error) {
    const std::filesystem::path path = directory / ModelManifest::kFileName;
    std::error_code ec;
    if (!std::filesystem::is_directory(directory, ec)) {
        error = directory.string() + ": not a model directory";
        return false;
    }
    if (!std::filesystem::is_regular_file(path, ec)) {
        error = path.string() + ": manifest not found";
        return false;
    }
    ModelManifest parsed;
    std::string cause;
    try {
        cv::FileStorage storage(path.string(), cv::FileStorage::READ | cv::FileStorage::FORMAT_YAML);
        if (!storage.isOpened() || !storage.root().isMap()) {
            cause = "not a YAML mapping";
        } else {
            cause = checkedFields(storage.root(), parsed);
        }
    } catch (const cv::Exception& e) {
        cause = "not readable as YAML (" + e.msg + ")";
    }
    if (!cause.empty()) {
        error = path.string() + ": " + cause;
        return false;
    }
    parsed.onnxPath = directory / parsed.onnxPath;
    manifest = std::move(parsed);
    return true;
}

}  // namespace zor::hmd
