#include "JsonlWriter.h"

#include "JsonText.h"
#include "TextFile.h"
#include "ToolExit.h"

#include <fstream>

namespace zor::detect {

namespace {

void appendString(std::string& out, const std::string& text) {
    out += zor::tools::jsonString(text);
}

template <typename Number>
void appendNumber(std::string& out, Number value) {
    out += zor::tools::jsonNumber(value);
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

JsonLinesWriter::JsonLinesWriter(const std::filesystem::path& path) : path_(path) {
    // Created now so that an unwritable folder costs no run.
    std::ofstream probe(path, std::ios::binary | std::ios::trunc);
    if (!probe) {
        throw tools::UserError("cannot write into the folder " + path.parent_path().string());
    }
}

void JsonLinesWriter::write(const FrameRecord& record, const std::vector<CustomObject>& detections) {
    lines_ += formatRecord(record, detections);
    lines_ += '\n';
}

void JsonLinesWriter::close() {
    tools::writeTextFile(path_, lines_);
}

}  // namespace zor::detect
