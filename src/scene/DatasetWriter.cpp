#include "DatasetWriter.h"

#include "Draw.h"
#include "OutputError.h"
#include "Scene.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>

namespace zor::render {
namespace {

// Drawn at this many times the output resolution and area-downscaled, like
// the 1/6 reduction of a 1080p frame to the 320-px network input.
constexpr int kSupersample = 3;
// Detector input pixels per 1080p pixel.
constexpr double kNetPerFrame = 320.0 / 1920.0;

std::string stem(int i) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%06d", i);
    return buf;
}

// YOLO format: `class cx cy w h`, normalised by the image size, as real
// datasets (and helmet-eval) read them.
bool writeLabels(const std::filesystem::path& file, const std::vector<Label>& labels, double scale, double minSide,
                 cv::Size image) {
    std::ofstream out(file);
    out.precision(8);
    for (const auto& l : labels) {
        const double w = l.box.width * scale, h = l.box.height * scale;
        if (w < minSide || h < minSide) {
            continue;
        }
        out << l.cls << ' ' << (l.box.x * scale + w / 2) / image.width << ' '
            << (l.box.y * scale + h / 2) / image.height << ' ' << w / image.width << ' ' << h / image.height << '\n';
    }
    return static_cast<bool>(out);
}

void prepare(const std::string& dir) {
    for (const char* part : {"images", "labels"}) {
        std::error_code ec;
        std::filesystem::create_directories(std::filesystem::path(dir) / part, ec);
        if (ec) {
            throw OutputError("cannot create " + dir + ": " + ec.message());
        }
    }
}

template <typename Render>
void writeAll(const std::string& outDir, int count, const std::string& ext, Render&& render) {
    prepare(outDir);
    const auto t0 = std::chrono::steady_clock::now();
    const std::filesystem::path root(outDir);
    for (int i = 0; i < count; ++i) {
        const Rendered r = render(i);
        const std::string name = stem(i);
        if (!cv::imwrite((root / "images" / (name + ext)).string(), r.image,
                         {cv::IMWRITE_JPEG_QUALITY, 92, cv::IMWRITE_PNG_COMPRESSION, 1}) ||
            !writeLabels(root / "labels" / (name + ".txt"), r.labels, r.scale, 2.0, r.image.size())) {
            throw OutputError("cannot write item " + std::to_string(i) + " under " + outDir);
        }
        if ((i + 1) % 1000 == 0) {
            std::cout << (i + 1) << " / " << count << '\n';
        }
    }
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::cout << "wrote " << count << " images to " << outDir << " in " << s << " s\n";
}

SceneParams datasetParams(const DatasetOptions& opt) {
    SceneParams params;
    const int k = kSupersample;
    params.canvas = {opt.size * k, opt.size * k};
    // Head heights in network pixels: the test video gives about 10..18.
    params.minHead = 5.f * k;
    params.maxHead = 36.f * k;
    params.focusMin = 8.f * k;
    params.focusMax = 22.f * k;
    params.wide = opt.wide;
    if (opt.wide) {
        params.helmetShare = 0.5;
    }
    if (!opt.cameraEffects) {
        params.irShare = params.lowLightShare = params.motionShare = 0.0;
    }
    params.whiteHairShare = opt.whiteHair;
    return params;
}

}  // namespace

Rendered renderDatasetItem(const DatasetOptions& opt, int index) {
    const SceneParams params = datasetParams(opt);
    Rng rng(mixSeed(opt.seed, static_cast<std::uint64_t>(index)));
    Rendered r;
    r.scene = randomScene(rng, params);
    const cv::Mat big = renderScene(r.scene, rng, kSupersample);
    cv::resize(big, r.image, {opt.size, opt.size}, 0, 0, cv::INTER_AREA);
    applyCamera(r.image, r.scene.camera, 1.0);
    r.labels = sceneLabels(r.scene.people, r.scene.canvas);
    r.scale = 1.0 / kSupersample;
    return r;
}

Rendered renderFarItem(const FarOptions& opt, int index) {
    SceneParams params;
    params.canvas = {1920, 1080};
    // Crown-to-chin 11..35 px gives label boxes about 12..41 px tall.
    params.minHead = 11.f;
    params.maxHead = 35.f;
    params.focusShare = 0.0;
    params.plainShare = 0.0;
    params.emptyShare = 0.0;
    params.minPeople = 12;
    params.maxPeople = 40;
    params.farLayout = true;
    params.wide = opt.wide;
    params.helmetShare = 0.5;
    if (!opt.cameraEffects) {
        params.irShare = params.lowLightShare = params.motionShare = 0.0;
    }
    params.whiteHairShare = opt.whiteHair;
    Rng rng(mixSeed(opt.seed ^ 0xFA5Cu, static_cast<std::uint64_t>(index)));
    Rendered r;
    r.scene = randomScene(rng, params);
    r.image = renderScene(r.scene, rng, 1.0 / kNetPerFrame);
    applyCamera(r.image, r.scene.camera, 1.0 / kNetPerFrame);
    r.labels = sceneLabels(r.scene.people, r.scene.canvas);
    return r;
}

void writeDataset(const DatasetOptions& opt) {
    writeAll(opt.outDir, opt.count, opt.ext, [&](int i) { return renderDatasetItem(opt, i); });
}

void writeFar(const FarOptions& opt) {
    writeAll(opt.outDir, opt.count, opt.ext, [&](int i) { return renderFarItem(opt, i); });
}

void writeFrames(const FramesOptions& opt) {
    SceneParams params;
    params.canvas = {1920, 1080};
    params.minHead = 36.f;
    params.maxHead = 160.f;
    params.focusMin = 54.f;
    params.focusMax = 120.f;
    writeAll(opt.outDir, opt.count, opt.ext, [&](int i) {
        Rng rng(mixSeed(opt.seed, static_cast<std::uint64_t>(i)));
        Rendered r;
        r.scene = randomScene(rng, params);
        r.image = renderScene(r.scene, rng, 1.0 / kNetPerFrame);
        r.labels = sceneLabels(r.scene.people, r.scene.canvas);
        return r;
    });
}

}  // namespace zor::render
