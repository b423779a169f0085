#include "ModelManifest.h"

#include "ManifestShape.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <set>

namespace zor::hmd {
namespace {

constexpr int kMaxInputSide = 4096;
constexpr int kMaxThreads = 256;
constexpr int kMaxTiles = 4;
// A manifest is a few hundred bytes; text from elsewhere is held to the same bound.
constexpr std::uintmax_t kMaxManifestBytes = 64 * 1024;

// Whether `text` is well-formed UTF-8: class names reach the label map, and
// from there every report a platform writes.
bool isUtf8(const std::string& text) {
    size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const int length = lead < 0x80           ? 1
                           : (lead >> 5) == 0x6  ? 2
                           : (lead >> 4) == 0xE  ? 3
                           : (lead >> 3) == 0x1E ? 4
                                                 : 0;
        if (length == 0 || i + length > text.size()) {
            return false;
        }
        unsigned int code = length == 1 ? lead : lead & (0x7F >> length);
        for (int k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) {
                return false;
            }
            code = (code << 6) | (next & 0x3F);
        }
        const unsigned int smallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < smallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            return false;
        }
        i += length;
    }
    return true;
}

// onnx_file must name a file inside the model folder: a manifest must not
// make the detector read whatever file it names elsewhere.
std::string outsideTheFolder(const std::filesystem::path& directory, const std::filesystem::path& file) {
    if (file.has_root_name() || file.has_root_directory() ||
        std::any_of(file.begin(), file.end(), [](const std::filesystem::path& part) { return part == ".."; })) {
        return "onnx_file must name a file inside the model folder, not '" + file.string() + "'";
    }
    std::error_code ec;
    const std::filesystem::path folder = std::filesystem::canonical(directory, ec);
    const std::filesystem::path target = std::filesystem::canonical(directory / file, ec);
    if (ec) {
        return {};  // missing: the loader names the file it cannot find
    }
    const auto [folderEnd, targetEnd] = std::mismatch(folder.begin(), folder.end(), target.begin(), target.end());
    if (folderEnd != folder.end()) {
        return "onnx_file '" + file.string() + "' leads out of the model folder (to " + target.string() + ")";
    }
    return {};
}

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
        if (!isUtf8(name)) {
            return "class names must be UTF-8 text";
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
    const cv::FileNode tiles = root["tiles"];
    if (!tiles.empty() && (!readInt(tiles, manifest.tiles) || manifest.tiles < 1 || manifest.tiles > kMaxTiles)) {
        return "tiles must be an integer from 1 to " + std::to_string(kMaxTiles);
    }
    const cv::FileNode threads = root["threads"];
    if (!threads.empty() &&
        (!readInt(threads, manifest.threads) || manifest.threads < 1 || manifest.threads > kMaxThreads)) {
        return "threads must be an integer from 1 to " + std::to_string(kMaxThreads);
    }
    return {};
}

std::string tooLarge() {
    return "larger than a manifest can be (" + std::to_string(kMaxManifestBytes / 1024) + " KiB)";
}

}  // namespace

std::string parseManifestText(const std::string& text, ModelManifest& manifest) {
    if (text.size() > kMaxManifestBytes) {
        return tooLarge();
    }
    if (const std::string problem = manifestShapeProblem(text); !problem.empty()) {
        return problem;
    }
    try {
        cv::FileStorage storage(text, cv::FileStorage::READ | cv::FileStorage::MEMORY | cv::FileStorage::FORMAT_YAML);
        if (!storage.isOpened() || !storage.root().isMap()) {
            return "not a YAML mapping";
        }
        return checkedFields(storage.root(), manifest);
    } catch (const cv::Exception& e) {
        return "not readable as YAML (" + e.msg + ")";
    }
}

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
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    std::string text;
    if (ec || size > kMaxManifestBytes) {
        cause = tooLarge();
    } else {
        std::ifstream file(path, std::ios::binary);
        text.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
        if (!file.good() && !file.eof()) {
            cause = "cannot be read";
        }
    }
    if (cause.empty()) {
        cause = parseManifestText(text, parsed);
    }
    if (cause.empty()) {
        cause = outsideTheFolder(directory, parsed.onnxPath);
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
