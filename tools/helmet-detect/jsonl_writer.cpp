#include "jsonl_writer.h"

#include "user_error.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <type_traits>

namespace hdet {

namespace {

void appendString(std::string& out, const std::string& text) {
    out += '"';
    for (const char c : text) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    std::array<char, 8> escaped{};
                    std::snprintf(escaped.data(), escaped.size(), "\\u%04x", static_cast<unsigned>(c));
                    out += escaped.data();
                } else {
                    out += c;
                }
        }
    }
    out += '"';
}

// Shortest decimal form that reads back to the same value; null for NaN and
// infinities, which JSON cannot express.
template <typename Number>
void appendNumber(std::string& out, Number value) {
    if constexpr (std::is_floating_point_v<Number>) {
        if (!std::isfinite(value)) {
            out += "null";
            return;
        }
    }
    std::array<char, 64> digits{};
    const auto result = std::to_chars(digits.data(), digits.data() + digits.size(), value);
    out.append(digits.data(), result.ptr);
}

}  // namespace

std::string formatRecord(const FrameRecord& record, const std::vector<CustomObject>& detections) {
    std::string line = "{\"frame\":";
    appendNumber(line, record.frame);
    line += ",\"time\":";
    appendNumber(line, record.time);
    if (record.image) {
        line += ",\"image\":";
        appendString(line, *record.image);
    }
    line += ",\"detections\":[";
    for (std::size_t i = 0; i < detections.size(); ++i) {
        const CustomObject& object = detections[i];
        line += i == 0 ? "{\"class\":" : ",{\"class\":";
        appendString(line, object.className);
        line += ",\"classId\":";
        appendNumber(line, object.classId);
        line += ",\"confidence\":";
        appendNumber(line, object.confidence);
        line += ",\"box\":[";
        appendNumber(line, object.box.x);
        line += ',';
        appendNumber(line, object.box.y);
        line += ',';
        appendNumber(line, object.box.width);
        line += ',';
        appendNumber(line, object.box.height);
        line += "]}";
    }
    line += "]}";
    return line;
}

JsonLinesWriter::JsonLinesWriter(const std::filesystem::path& path)
    : path_(path), file_(path, std::ios::binary | std::ios::trunc) {
    if (!file_) {
        throw UserError("cannot write into the folder " + path.parent_path().string());
    }
}

void JsonLinesWriter::write(const FrameRecord& record, const std::vector<CustomObject>& detections) {
    file_ << formatRecord(record, detections) << '\n';
    if (!file_) {
        throw std::runtime_error("cannot write " + path_.string());
    }
}

void JsonLinesWriter::close() {
    file_.close();
    if (!file_) {
        throw std::runtime_error("cannot write " + path_.string());
    }
}

}  // namespace hdet
