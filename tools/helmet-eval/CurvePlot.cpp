#include "CurvePlot.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <stdexcept>

namespace zor::eval {

namespace {

const cv::Size kCanvas(640, 520);
const cv::Rect kPlot(80, 60, 520, 360);  // the unit square of recall x precision
const cv::Scalar kBlack(0, 0, 0), kGrid(225, 225, 225), kRaw(230, 170, 90), kInterpolated(140, 60, 0),
    kOperating(30, 30, 220);

cv::Point toPixel(double recall, double precision) {
    return {kPlot.x + static_cast<int>(std::lround(recall * kPlot.width)),
            kPlot.y + kPlot.height - static_cast<int>(std::lround(precision * kPlot.height))};
}

void text(cv::Mat& image, const std::string& line, cv::Point at, double scale = 0.5,
          const cv::Scalar& colour = kBlack) {
    cv::putText(image, line, at, cv::FONT_HERSHEY_SIMPLEX, scale, colour, 1, cv::LINE_AA);
}

std::string decimals(double value, int places) {
    if (std::isnan(value)) {
        return "-";
    }
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.*f", places, value);
    return buffer;
}

void drawAxes(cv::Mat& image) {
    for (int tick = 0; tick <= 10; ++tick) {
        const double at = tick / 10.0;
        cv::line(image, toPixel(at, 0.0), toPixel(at, 1.0), kGrid, 1);
        cv::line(image, toPixel(0.0, at), toPixel(1.0, at), kGrid, 1);
        if (tick % 2 == 0) {
            text(image, decimals(at, 1), toPixel(at, 0.0) + cv::Point(-12, 20), 0.45);
            text(image, decimals(at, 1), toPixel(0.0, at) + cv::Point(-36, 5), 0.45);
        }
    }
    cv::rectangle(image, kPlot, kBlack, 1);
    text(image, "recall", cv::Point(kPlot.x + kPlot.width / 2 - 25, kPlot.y + kPlot.height + 42));
    text(image, "precision", cv::Point(8, kPlot.y - 12));
}

}  // namespace

cv::Mat plotPrecisionRecall(const ClassFigures& figures, double operatingThreshold) {
    cv::Mat image(kCanvas, CV_8UC3, cv::Scalar(255, 255, 255));
    drawAxes(image);
    const std::string title = figures.groundTruth > 0
                                  ? figures.name + ": AP50 " + decimals(figures.ap50, 3) + ", AP50:95 " +
                                        decimals(figures.ap50to95, 3) + " (" + std::to_string(figures.groundTruth) +
                                        " GT, " + std::to_string(figures.detections) + " dets)"
                                  : figures.name + ": no ground truth, AP undefined";
    text(image, title, cv::Point(kPlot.x, 30), 0.55);
    if (figures.curve.empty()) {
        return image;
    }

    // The curve after each detection, from the top-ranked one.
    std::vector<cv::Point> raw;
    for (const PrPoint& point : figures.curve) {
        raw.push_back(toPixel(point.recall, point.precision));
    }
    cv::polylines(image, raw, false, kRaw, 1, cv::LINE_AA);

    // The 101 samples the AP averages, as steps.
    const std::vector<double> samples = sampledPrecision(figures.curve, 100);
    std::vector<cv::Point> steps;
    for (std::size_t k = 0; k < samples.size(); ++k) {
        const double from = static_cast<double>(k) / 100.0;
        steps.push_back(toPixel(from, samples[k]));
        steps.push_back(toPixel(std::min(1.0, from + 0.01), samples[k]));
    }
    cv::polylines(image, steps, false, kInterpolated, 2, cv::LINE_AA);

    // Operating point: the last detection at or above the threshold.
    const PrPoint* operating = nullptr;
    for (const PrPoint& point : figures.curve) {
        if (point.confidence >= operatingThreshold) {
            operating = &point;
        }
    }
    if (operating) {
        cv::circle(image, toPixel(operating->recall, operating->precision), 6, kOperating, 2, cv::LINE_AA);
    }

    const cv::Point legend(kPlot.x + 10, kPlot.y + kPlot.height + 72);
    cv::line(image, legend + cv::Point(0, -5), legend + cv::Point(25, -5), kRaw, 1);
    text(image, "precision at IoU 0.5", legend + cv::Point(32, 0), 0.45);
    cv::line(image, legend + cv::Point(195, -5), legend + cv::Point(220, -5), kInterpolated, 2);
    text(image, "101-point interpolation", legend + cv::Point(227, 0), 0.45);
    cv::circle(image, legend + cv::Point(420, -5), 5, kOperating, 2);
    char threshold[32];
    std::snprintf(threshold, sizeof threshold, "conf >= %g", operatingThreshold);
    text(image, threshold, legend + cv::Point(432, 0), 0.45);
    return image;
}

std::string curveFileName(const std::string& className) {
    std::string name = "pr-";
    for (const char c : className) {
        const bool safe = std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == '.';
        name += safe ? c : '_';
    }
    return name + ".png";
}

void writeCurves(const std::filesystem::path& folder, const std::vector<ClassFigures>& classes,
                 double operatingThreshold) {
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    for (const ClassFigures& figures : classes) {
        const std::filesystem::path file = folder / curveFileName(figures.name);
        bool written = false;
        try {
            written = cv::imwrite(file.string(), plotPrecisionRecall(figures, operatingThreshold));
        } catch (const cv::Exception&) {
        }
        if (!written) {
            throw std::runtime_error("cannot write " + file.string());
        }
    }
}

}  // namespace zor::eval
