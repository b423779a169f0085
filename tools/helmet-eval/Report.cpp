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

// The helmet class, whose false detections on images without hard hats a
// safety product cares about most; null when the label map has none.
const ClassFigures* helmetClass(const EvalReport& report) {
    const auto found = std::find_if(report.classes.begin(), report.classes.end(),
                                    [](const ClassFigures& figures) { return figures.name == kHelmetClass; });
    return found == report.classes.end() ? nullptr : &*found;
}

// AP50 per object size and false detections on images without the class, one
// row per class under the main table.
void printSizesAndNegatives(std::ostream& out, const EvalReport& report, std::size_t nameWidth) {
    const std::string tall = "h>=" + plain(report.minHeight);
    out << "\n" << std::left << std::setw(static_cast<int>(nameWidth)) << "class" << std::right;
    for (const ObjectSize size : kObjectSizes) {
        out << std::setw(19) << "AP50 " + std::string(objectSizeName(size)) + " (GT)";
    }
    out << std::setw(15) << "images w/o GT" << std::setw(18) << "FP/image w/o GT";
    if (report.minHeight > 0.0) {
        out << std::setw(static_cast<int>(tall.size()) + 15) << "recall " + tall + " (GT)";
    }
    out << "\n";
    for (const ClassFigures& figures : report.classes) {
        out << std::left << std::setw(static_cast<int>(nameWidth)) << figures.name << std::right;
        for (const SizeFigures& sized : figures.bySize) {
            out << std::setw(19) << figure(sized.ap50) + " (" + std::to_string(sized.groundTruth) + ")";
        }
        out << std::setw(15) << figures.imagesWithoutGroundTruth << std::setw(18)
            << figure(figures.falsePositivesPerImageWithoutGroundTruth);
        if (report.minHeight > 0.0) {
            out << std::setw(static_cast<int>(tall.size()) + 15)
                << figure(figures.recallMinHeight) + " (" + std::to_string(figures.groundTruthMinHeight) + ")";
        }
        out << "\n";
    }
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
        << (report.grayscale ? "  grayscale   yes: every frame turned BGR -> GRAY -> BGR before RunInference\n" : "")
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
    printSizesAndNegatives(out, report, nameWidth);
    for (const ClassFigures& figures : report.classes) {
        if (figures.groundTruth == 0) {
            out << figures.name << ": no ground truth, AP and recall undefined\n";
        }
    }
    if (const ClassFigures* helmet = helmetClass(report)) {
        out << "\nfalse helmets per image without hard hats: "
            << figure(helmet->falsePositivesPerImageWithoutGroundTruth) << " ("
            << helmet->falsePositivesWithoutGroundTruth << " at >= " << plain(report.threshold) << " on "
            << helmet->imagesWithoutGroundTruth << " " << noun << " with no " << kHelmetClass << " ground truth)\n";
    }
    out << "\nmean AP50 over classes with ground truth: " << figure(report.meanAp50) << " (AP50:95 "
        << figure(report.meanAp50to95) << ")\n"
        << "AP: COCO 101-point interpolation; AP50:95 averages IoU 0.50, 0.55, ..., 0.95.\n"
        << "-: undefined (AP and recall: the class has no ground truth; precision: no detections at the "
           "operating threshold).\n"
        << "Sizes: box area in image pixels, small < 32x32, medium < 96x96, large >= 96x96. As COCO, truths of\n"
           "other sizes are ignored, and so are the detections they take and unmatched detections of other sizes.\n"
        << "w/o GT: " << noun
        << " with no ground truth of the class; FP/image: the class's detections at >= " << plain(report.threshold)
        << " on them, per image.\n";
    if (report.minHeight > 0.0) {
        out << "recall "
            << "h>=" << plain(report.minHeight) << ": recall at " << plain(report.threshold)
            << " over the truths at least " << plain(report.minHeight) << " px tall.\n";
    }
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
        << "  \"grayscale\": " << (report.grayscale ? "true" : "false") << ",\n"
        << "  \"minHeight\": " << jsonNumber(report.minHeight) << ",\n"
        << "  \"meanInferenceMs\": " << jsonNumber(report.meanInferenceMs) << ",\n"
        << "  \"meanAp50\": " << jsonNumber(report.meanAp50) << ",\n"
        << "  \"meanAp50to95\": " << jsonNumber(report.meanAp50to95) << ",\n";
    const ClassFigures* helmet = helmetClass(report);
    out << "  \"imagesWithoutHelmet\": " << (helmet ? std::to_string(helmet->imagesWithoutGroundTruth) : "null")
        << ",\n"
        << "  \"falseHelmetsPerImageWithoutHelmet\": "
        << jsonNumber(helmet ? helmet->falsePositivesPerImageWithoutGroundTruth : kUndefined) << ",\n"
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
            << ", \"f1\": " << jsonNumber(figures.f1);
        for (const ObjectSize size : kObjectSizes) {
            std::string name = objectSizeName(size);
            name[0] = static_cast<char>(name[0] - 'a' + 'A');
            const SizeFigures& sized = figures.bySize[static_cast<std::size_t>(size)];
            out << ", \"groundTruth" << name << "\": " << sized.groundTruth << ", \"ap50" << name
                << "\": " << jsonNumber(sized.ap50);
        }
        out << ", \"imagesWithoutGroundTruth\": " << figures.imagesWithoutGroundTruth
            << ", \"falsePositivesWithoutGroundTruth\": " << figures.falsePositivesWithoutGroundTruth
            << ", \"falsePositivesPerImageWithoutGroundTruth\": "
            << jsonNumber(figures.falsePositivesPerImageWithoutGroundTruth)
            << ", \"groundTruthMinHeight\": " << figures.groundTruthMinHeight
            << ", \"recallMinHeight\": " << jsonNumber(figures.recallMinHeight) << "}";
    }
    out << "\n  ]\n}\n";
}

}  // namespace zor::eval
