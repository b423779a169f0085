#include "Report.h"

#include "JsonText.h"

#include <algorithm>
#include <cmath>
#include <iomanip>
#include <sstream>

namespace zor::eval {

namespace {

// Three decimals, or "-" when undefined.
std::string figure(double value) {
    if (std::isnan(value)) {
        return "-";
    }
    std::ostringstream text;
    text << std::fixed << std::setprecision(3) << value;
    return text.str();
}

std::string plain(double value) {
    std::ostringstream text;
    text << value;
    return text.str();
}

}  // namespace

std::string jsonNumber(double value) {
    return zor::tools::jsonNumber(value);
}
std::string jsonNumber(float value) {
    return zor::tools::jsonNumber(value);
}

std::string jsonString(const std::string& text) {
    return zor::tools::jsonString(text);
}

void printTable(std::ostream& out, const EvalReport& report) {
    const char* noun = report.video ? "frames" : "images";
    out << "helmet-eval\n"
        << "  model       " << report.modelDirectory << "\n"
        << "  data        " << report.data << "\n"
        << "  thresholds  detect " << plain(report.detectThreshold) << " (given to Initialize), operating "
        << plain(report.threshold) << ", IoU " << plain(report.iou) << " for precision/recall/F1\n"
        << "  " << std::left << std::setw(12) << noun << report.frames << ", mean RunInference " << std::fixed
        << std::setprecision(2) << report.meanInferenceMs << " ms\n\n";
    out.unsetf(std::ios::floatfield);

    std::size_t nameWidth = 5;
    for (const ClassFigures& figures : report.classes) {
        nameWidth = std::max(nameWidth, figures.name.size());
    }
    const std::string atThreshold = "dets>=" + plain(report.threshold);
    out << std::left << std::setw(static_cast<int>(nameWidth)) << "class" << std::right << std::setw(8) << "GT"
        << std::setw(8) << "dets" << std::setw(std::max(10, static_cast<int>(atThreshold.size()) + 1)) << atThreshold
        << std::setw(8) << "AP50" << std::setw(9) << "AP50:95" << std::setw(11) << "precision" << std::setw(8)
        << "recall" << std::setw(8) << "F1"
        << "\n";
    for (const ClassFigures& figures : report.classes) {
        out << std::left << std::setw(static_cast<int>(nameWidth)) << figures.name << std::right << std::setw(8)
            << figures.groundTruth << std::setw(8) << figures.detections
            << std::setw(std::max(10, static_cast<int>(atThreshold.size()) + 1)) << figures.detectionsAtThreshold
            << std::setw(8) << figure(figures.ap50) << std::setw(9) << figure(figures.ap50to95) << std::setw(11)
            << figure(figures.precision) << std::setw(8) << figure(figures.recall) << std::setw(8) << figure(figures.f1)
            << "\n";
    }
    for (const ClassFigures& figures : report.classes) {
        if (figures.groundTruth == 0) {
            out << figures.name << ": no ground truth, AP and recall undefined\n";
        }
    }
    out << "\nmean AP50 over classes with ground truth: " << figure(report.meanAp50) << " (AP50:95 "
        << figure(report.meanAp50to95) << ")\n"
        << "AP: COCO 101-point interpolation; AP50:95 averages IoU 0.50, 0.55, ..., 0.95.\n"
        << "-: undefined (AP and recall: the class has no ground truth; precision: no detections at the "
           "operating threshold).\n";
}

void writeJson(std::ostream& out, const EvalReport& report) {
    out << "{\n"
        << "  \"model\": " << jsonString(report.modelDirectory) << ",\n"
        << "  \"data\": " << jsonString(report.data) << ",\n"
        << "  \"input\": " << jsonString(report.video ? "video" : "images") << ",\n"
        << "  \"frames\": " << report.frames << ",\n"
        << "  \"excluded\": " << report.excluded << ",\n"
        << "  \"detectThreshold\": " << jsonNumber(report.detectThreshold) << ",\n"
        << "  \"threshold\": " << jsonNumber(report.threshold) << ",\n"
        << "  \"iou\": " << jsonNumber(report.iou) << ",\n"
        << "  \"meanInferenceMs\": " << jsonNumber(report.meanInferenceMs) << ",\n"
        << "  \"meanAp50\": " << jsonNumber(report.meanAp50) << ",\n"
        << "  \"meanAp50to95\": " << jsonNumber(report.meanAp50to95) << ",\n"
        << "  \"classes\": [";
    for (std::size_t c = 0; c < report.classes.size(); ++c) {
        const ClassFigures& figures = report.classes[c];
        out << (c ? "," : "") << "\n    {\"name\": " << jsonString(figures.name)
            << ", \"groundTruth\": " << figures.groundTruth << ", \"detections\": " << figures.detections
            << ", \"detectionsAtThreshold\": " << figures.detectionsAtThreshold
            << ", \"ap50\": " << jsonNumber(figures.ap50) << ", \"ap50to95\": " << jsonNumber(figures.ap50to95)
            << ", \"apAtIou\": [";
        for (std::size_t t = 0; t < figures.apAtIou.size(); ++t) {
            out << (t ? ", " : "") << jsonNumber(figures.apAtIou[t]);
        }
        out << "], \"truePositives\": " << figures.truePositives << ", \"falsePositives\": " << figures.falsePositives
            << ", \"falseNegatives\": " << figures.falseNegatives
            << ", \"precision\": " << jsonNumber(figures.precision) << ", \"recall\": " << jsonNumber(figures.recall)
            << ", \"f1\": " << jsonNumber(figures.f1) << "}";
    }
    out << "\n  ]\n}\n";
}

}  // namespace zor::eval
