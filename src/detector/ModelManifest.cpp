#include "ModelManifest.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <fstream>
#include <iterator>
#include <set>
#include <string_view>

namespace zor::hmd {
namespace {

constexpr int kMaxInputSide = 4096;
constexpr int kMaxThreads = 256;
constexpr int kMaxTiles = 4;
// A manifest is a few hundred bytes; text from elsewhere is held to the same bound.
constexpr std::uintmax_t kMaxManifestBytes = 64 * 1024;

// Reads one line of a manifest from the left; each step consumes what it
// accepts and says whether it did.
class LineReader {
public:
    explicit LineReader(std::string_view line) : line_(line) {}

    bool atEnd() const { return at_ == line_.size(); }
    void skipSpaces() {
        while (!atEnd() && (line_[at_] == ' ' || line_[at_] == '\t')) {
            ++at_;
        }
    }
    bool take(char c) {
        if (atEnd() || line_[at_] != c) {
            return false;
        }
        ++at_;
        return true;
    }
    bool take(std::string_view text) {
        if (line_.substr(at_, text.size()) != text) {
            return false;
        }
        at_ += text.size();
        return true;
    }
    // Whether a comment follows after spaces.
    bool commentFollows() const {
        LineReader ahead = *this;
        return ahead.takeRest() && !ahead.atEnd();
    }
    // Whether the last scalar taken was unquoted text, not a number: OpenCV's
    // reader makes a comment after it part of the text.
    bool tookPlainText() const { return plainText_; }
    // Spaces, then a comment or nothing up to the end of the line.
    bool takeRest() {
        const size_t before = at_;
        skipSpaces();
        return atEnd() || (line_[at_] == '#' && (at_ > before || at_ == 0));
    }
    bool takeKey() {
        const size_t from = at_;
        while (!atEnd() && (std::isalnum(static_cast<unsigned char>(line_[at_])) || line_[at_] == '_')) {
            ++at_;
        }
        return at_ > from && !std::isdigit(static_cast<unsigned char>(line_[from]));
    }
    // A quoted text without escapes, or a plain word run: letters, digits,
    // UTF-8, "_.+-/" and single spaces between them.
    bool takeScalar() {
        plainText_ = false;
        if (take('"') || take('\'')) {
            const char quote = line_[at_ - 1];
            while (!atEnd() && line_[at_] != quote && line_[at_] != '\\' &&
                   static_cast<unsigned char>(line_[at_]) >= 0x20) {
                ++at_;
            }
            return take(quote);
        }
        const size_t from = at_;
        while (!atEnd() && isPlain(line_[at_])) {
            ++at_;
            if (at_ + 1 < line_.size() && line_[at_] == ' ' && isPlain(line_[at_ + 1])) {
                ++at_;
            }
        }
        double number = 0.0;
        const char* end = line_.data() + at_;
        plainText_ = std::from_chars(line_.data() + from, end, number).ptr != end;
        // "-" alone or "- x" would start a list.
        return at_ > from && !(line_[from] == '-' && (at_ - from == 1 || line_[from + 1] == ' '));
    }
    // A scalar, or a one-line [list] of scalars.
    bool takeValue() {
        if (!take('[')) {
            return takeScalar();
        }
        skipSpaces();
        if (!take(']')) {
            do {
                skipSpaces();
                if (!takeScalar()) {
                    return false;
                }
                skipSpaces();
            } while (take(','));
            if (!take(']')) {
                return false;
            }
        }
        plainText_ = false;
        return true;
    }

private:
    static bool isPlain(char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || static_cast<unsigned char>(c) >= 0x80 || c == '_' ||
               c == '.' || c == '+' || c == '-' || c == '/';
    }

    std::string_view line_;
    size_t at_ = 0;
    bool plainText_ = false;
};

enum class LineKind { Other, CommentInText, Nothing, Directive, Marker, Key, KeyWithValue, Item };

// What one line of a manifest is; `indent` is an item's indentation.
LineKind lineKind(std::string_view line, size_t& indent) {
    if (LineReader directive(line); directive.take("%YAML")) {
        return (directive.take(":1.0") || directive.take(" 1.0")) && directive.takeRest() ? LineKind::Directive
                                                                                          : LineKind::Other;
    }
    if (LineReader marker(line); marker.take("---")) {
        return marker.takeRest() ? LineKind::Marker : LineKind::Other;
    }
    if (LineReader entry(line); entry.takeKey()) {
        if (!entry.take(':')) {
            return LineKind::Other;
        }
        if (LineReader rest = entry; rest.takeRest()) {
            return LineKind::Key;  // its list follows
        }
        if (!entry.take(' ') && !entry.take('\t')) {
            return LineKind::Other;
        }
        entry.skipSpaces();
        if (!entry.takeValue()) {
            return LineKind::Other;
        }
        if (entry.tookPlainText() && entry.commentFollows()) {
            return LineKind::CommentInText;
        }
        return entry.takeRest() ? LineKind::KeyWithValue : LineKind::Other;
    }
    indent = line.find_first_not_of(" ");
    if (LineReader item(line); (item.skipSpaces(), item.take("- ") || item.take("-\t"))) {
        item.skipSpaces();
        if (!item.takeScalar()) {
            return LineKind::Other;
        }
        if (item.tookPlainText() && item.commentFollows()) {
            return LineKind::CommentInText;
        }
        return item.takeRest() ? LineKind::Item : LineKind::Other;
    }
    return LineReader(line).takeRest() ? LineKind::Nothing : LineKind::Other;
}

// The first line that does not fit a manifest's shape: the "%YAML:1.0"
// directive on the first line, one document marker before the first key,
// comments, "key: value" with a scalar or one-line [list] as value, and
// "- item" lines, equally indented, of a list under a key without a value.
// OpenCV's YAML reader loops for ever on some texts outside this shape
// (fuzzing found four: a '%' or text after the marker, a quote opened
// mid-word) and recurses once per nesting level with no limit, so nothing
// else reaches it.
std::string unsupportedLine(const std::string& text) {
    std::string_view rest(text);
    LineKind last = LineKind::Nothing;  // the last line that was not blank
    bool keysBegan = false;
    bool markerSeen = false;
    size_t listIndent = 0;
    for (int number = 1; !rest.empty(); ++number) {
        const size_t end = std::min(rest.find('\n'), rest.size());
        std::string_view line = rest.substr(0, end);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        rest.remove_prefix(std::min(end + 1, rest.size()));
        size_t indent = 0;
        const LineKind kind = lineKind(line, indent);
        bool fits = kind != LineKind::Other;
        if (kind == LineKind::Directive) {
            fits = number == 1;
        } else if (kind == LineKind::Marker) {
            fits = !keysBegan && !markerSeen;
            markerSeen = true;
        } else if (kind == LineKind::Item) {
            fits = last == LineKind::Key || (last == LineKind::Item && indent == listIndent);
            listIndent = indent;
        }
        if (kind == LineKind::CommentInText) {
            return "line " + std::to_string(number) +
                   ": a comment after an unquoted text would become part of the text; quote the text";
        }
        if (!fits) {
            return "line " + std::to_string(number) +
                   " does not fit a manifest (%YAML:1.0, ---, key: value, - item under a key, a comment)";
        }
        keysBegan = keysBegan || kind == LineKind::Key || kind == LineKind::KeyWithValue;
        last = kind == LineKind::Nothing ? last : kind;
    }
    return {};
}

// Whether a '%' stands anywhere but at the start of the first line: a
// manifest needs none, and OpenCV's reader has looped on one inside text.
bool hasStrayDirective(const std::string& text) {
    return text.find('%', 1) != std::string::npos;
}

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
    if (hasStrayDirective(text)) {
        return "a '%' may only start the first line (%YAML:1.0)";
    }
    if (const std::string line = unsupportedLine(text); !line.empty()) {
        return line;
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
