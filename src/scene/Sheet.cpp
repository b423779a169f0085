#include "DatasetWriter.h"
#include "Draw.h"
#include "OutputError.h"
#include "Scene.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

namespace zor::render {
namespace {

constexpr int kTile = 128;
constexpr int kPerRow = 8;
constexpr int kLegend = 170;

// Finds the thing a row shows in a rendered item: a canvas rectangle to crop
// around, or an empty one.
using Finder = std::function<cv::Rect2f(const Rendered&)>;

struct Row {
    std::string name;
    Finder find;
    std::vector<cv::Mat> tiles;
    double margin = 3.0;  // crop side per object extent
};

Finder personWith(std::function<bool(const Person&)> want, bool wholeFigure = false) {
    return [want, wholeFigure](const Rendered& r) {
        const cv::Rect2f frame(0, 0, static_cast<float>(r.scene.canvas.width),
                               static_cast<float>(r.scene.canvas.height));
        for (const auto& p : r.scene.people) {
            const cv::Rect2f box = wholeFigure ? figureBox(p) : labelBox(p);
            if (want(p) && (box & frame).area() >= 0.9f * box.area() && labelBox(p).height * r.scale >= 9.0) {
                return box;
            }
        }
        return cv::Rect2f();
    };
}

Finder clutterOf(ClutterKind kind) {
    return [kind](const Rendered& r) {
        for (const auto& c : r.scene.clutter) {
            if (c.kind == kind && c.size * r.scale >= 8.0) {
                return clutterBox(c);
            }
        }
        return cv::Rect2f();
    };
}

Finder cameraOf(CameraKind kind) {
    return [kind](const Rendered& r) {
        return r.scene.camera.kind == kind && !r.labels.empty()
                   ? cv::Rect2f(0, 0, static_cast<float>(r.scene.canvas.width),
                                static_cast<float>(r.scene.canvas.height))
                   : cv::Rect2f();
    };
}

cv::Mat tileOf(const Rendered& r, const cv::Rect2f& canvasBox, double margin) {
    // A square around the object, `margin` times its size, in image pixels.
    const double s = r.scale;
    const cv::Point2d c((canvasBox.x + canvasBox.width / 2) * s, (canvasBox.y + canvasBox.height / 2) * s);
    const double side = std::min<double>(std::max({margin * canvasBox.height * s, margin * canvasBox.width * s, 40.0}),
                                         std::min(r.image.cols, r.image.rows));
    const int x0 = std::clamp(cvRound(c.x - side / 2), 0, r.image.cols - cvRound(side));
    const int y0 = std::clamp(cvRound(c.y - side / 2), 0, r.image.rows - cvRound(side));
    const cv::Rect crop(x0, y0, cvRound(side), cvRound(side));
    cv::Mat tile;
    cv::resize(r.image(crop), tile, {kTile, kTile}, 0, 0, cv::INTER_LINEAR);
    const double f = kTile / side;
    for (const auto& l : r.labels) {
        const cv::Rect2d b((l.box.x * s - x0) * f, (l.box.y * s - y0) * f, l.box.width * s * f, l.box.height * s * f);
        cv::rectangle(tile, cv::Rect(cvRound(b.x), cvRound(b.y), cvRound(b.width), cvRound(b.height)),
                      l.cls == 0 ? cv::Scalar(0, 255, 0) : cv::Scalar(255, 0, 255), 1);
    }
    return tile;
}

}  // namespace

void writeSheet(const DatasetOptions& opt, const std::string& path) {
    auto facing = [](Facing f) { return [f](const Person& p) { return p.facing == f; }; };
    auto wears = [](Headwear h) { return [h](const Person& p) { return p.headwear == h; }; };
    std::vector<Row> rows;
    rows.push_back({"back", personWith(facing(Facing::Back)), {}});
    rows.push_back({"side",
                    personWith([](const Person& p) { return p.facing == Facing::Left || p.facing == Facing::Right; }),
                    {}});
    rows.push_back(
        {"hard hat back/side",
         personWith([](const Person& p) { return p.headwear == Headwear::HardHat && p.facing != Facing::Front; }),
         {}});
    for (int t = 0; t < 6; ++t) {
        rows.push_back({std::string("hard hat ") + kHatTones[t].name,
                        personWith([t](const Person& p) { return p.headwear == Headwear::HardHat && p.hatTone == t; }),
                        {}});
    }
    rows.push_back({"cap/beanie hat colour",
                    personWith([](const Person& p) {
                        return (p.headwear == Headwear::Cap || p.headwear == Headwear::Beanie) && p.hatTone >= 0;
                    }),
                    {}});
    rows.push_back({"hood", personWith(wears(Headwear::Hood)), {}});
    rows.push_back({"sun hat", personWith(wears(Headwear::SunHat)), {}});
    rows.push_back({"carried hard hat", personWith([](const Person& p) { return p.carriesHardHat; }, true), {}, 1.15});
    rows.push_back({"seats", clutterOf(ClutterKind::Seats), {}, 1.4});
    rows.push_back({"hanging vest", clutterOf(ClutterKind::HangingVest), {}, 1.4});
    rows.push_back({"post lamp", clutterOf(ClutterKind::PostLamp), {}, 1.4});
    rows.push_back({"infrared", cameraOf(CameraKind::Infrared), {}});
    rows.push_back({"low light", cameraOf(CameraKind::LowLight), {}});
    rows.push_back({"motion blur", cameraOf(CameraKind::MotionBlur), {}});

    auto full = [&] {
        return std::all_of(rows.begin(), rows.end(), [](const Row& r) { return r.tiles.size() >= kPerRow; });
    };
    for (int i = 0; i < 20000 && !full(); ++i) {
        const Rendered r = renderDatasetItem(opt, i);
        for (auto& row : rows) {
            const cv::Rect2f box = row.tiles.size() < kPerRow ? row.find(r) : cv::Rect2f();
            if (box.area() > 0.f) {
                row.tiles.push_back(tileOf(r, box, row.margin));
            }
        }
    }
    cv::Mat sheet(static_cast<int>(rows.size()) * kTile, kLegend + kPerRow * kTile, CV_8UC3, cv::Scalar::all(40));
    for (std::size_t y = 0; y < rows.size(); ++y) {
        const int top = static_cast<int>(y) * kTile;
        cv::putText(sheet, rows[y].name, {6, top + kTile / 2}, cv::FONT_HERSHEY_SIMPLEX, 0.45, cv::Scalar::all(230), 1,
                    cv::LINE_AA);
        for (std::size_t x = 0; x < rows[y].tiles.size(); ++x) {
            rows[y].tiles[x].copyTo(sheet(cv::Rect(kLegend + static_cast<int>(x) * kTile, top, kTile, kTile)));
        }
    }
    if (!cv::imwrite(path, sheet)) {
        throw OutputError("cannot write " + path);
    }
    std::cout << "wrote " << path << '\n';
}

}  // namespace zor::render
