#include "VideoWriter.h"

#include "Draw.h"
#include "OutputError.h"
#include "Scene.h"

#include <opencv2/videoio.hpp>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <utility>

namespace zor::render {
namespace {

const cv::Size kFrame{1920, 1080};
constexpr double kFps = 25.0;

// A worker pacing back and forth inside [x0, x1] of one depth lane.
struct Walker {
    Person look;
    float x0 = 0.f, x1 = 0.f;
    float speed = 3.f;  // px per frame
    float start = 0.f;  // distance already walked at frame 0
};

struct Lane {
    float headY;
    float headH;
};

// Lanes are spaced so that a nearer worker never hides a farther one's head.
constexpr Lane kLanes[3] = {{300.f, 62.f}, {440.f, 80.f}, {622.f, 104.f}};

Person walkerAt(const Walker& w, int frame) {
    const float span = w.x1 - w.x0;
    const float d = w.start + w.speed * static_cast<float>(frame);
    const float m = std::fmod(d, 2.f * span);
    const bool forward = m < span;
    Person p = w.look;
    p.head.x = forward ? w.x0 + m : w.x1 - (m - span);
    p.facing = forward ? Facing::Right : Facing::Left;
    p.walkPhase = d / (0.75f * p.headH);
    p.head.y = w.look.head.y - 0.03f * p.headH * std::abs(std::sin(p.walkPhase));
    return p;
}

std::vector<Walker> makeWalkers(Rng& rng) {
    // Helmet on most workers, two bare heads (hair, cap or beanie).
    const bool helmet[6] = {true, false, true, true, true, false};
    std::vector<Walker> out;
    for (int i = 0; i < 6; ++i) {
        const Lane& lane = kLanes[i / 2];
        const bool left = i % 2 == 0;
        Walker w;
        w.x0 = left ? 110.f : 1010.f;
        w.x1 = left ? 910.f : 1810.f;
        w.speed = rng.uniformF(2.2, 4.0);
        w.start = rng.uniformF(0, 2 * (w.x1 - w.x0));
        w.look = randomPerson(rng, {0.f, lane.headY}, lane.headH * rng.uniformF(0.95, 1.05), helmet[i]);
        if (!helmet[i] && w.look.headwear == Headwear::Bald) {
            w.look.headwear = Headwear::Hair;
        }
        w.look.walkAmount = rng.uniformF(0.7, 1.0);
        out.push_back(w);
    }
    return out;
}

cv::Mat makeBackground(Rng& rng) {
    cv::Mat bg(kFrame, CV_8UC3);
    drawBackground(bg, rng, 80.f, false, 0.22);
    // Clutter only where no head passes.
    int placed = 0;
    for (int tries = 0; tries < 200 && placed < 8; ++tries) {
        Clutter c;
        c.kind = static_cast<ClutterKind>(rng.uniformInt(0, 8));
        c.size = rng.uniformF(40, 160);
        c.pos = {rng.uniformF(0, kFrame.width), rng.uniformF(0, kFrame.height)};
        c.aspect = rng.uniformF(0.55, 1.0);
        c.variant = rng.uniformInt(0, 3);
        c.colour = c.kind == ClutterKind::Dome ? nonHelmetColour(rng) : helmetColour(rng);
        bool ok = true;
        for (const auto& lane : kLanes) {
            const float top = lane.headY - 0.8f * lane.headH, bottom = lane.headY + 0.7f * lane.headH;
            if (c.pos.y + c.size > top && c.pos.y - c.size < bottom) {
                ok = false;
            }
        }
        if (ok) {
            drawClutter(bg, c);
            ++placed;
        }
    }
    return bg;
}

// Full-size frames readable through the given backend; -1 if it cannot open.
int countFrames(const std::string& path, int api) {
    cv::VideoCapture cap(path, api);
    if (!cap.isOpened()) {
        return -1;
    }
    int read = 0;
    cv::Mat frame;
    while (cap.read(frame)) {
        if (frame.size() != kFrame) {
            return -1;
        }
        ++read;
    }
    return read;
}

}  // namespace

void writeVideo(const VideoOptions& opt) {
    const auto t0 = std::chrono::steady_clock::now();
    Rng rng(mixSeed(opt.seed, 0));
    const cv::Mat bg = makeBackground(rng);
    const std::vector<Walker> walkers = makeWalkers(rng);
    Look look;
    look.blurSigma = 1.0;
    look.noiseSigma = 0.0;  // sensor noise would only bloat the MJPEG file
    look.gradient = true;
    look.gradDir = {0.8f, 0.6f};
    look.gradLo = 0.85;
    look.gradHi = 1.1;

    for (const auto& p :
         {std::filesystem::path(opt.path), std::filesystem::path(opt.mp4), std::filesystem::path(opt.labels)}) {
        std::error_code ec;
        if (!p.empty() && p.has_parent_path() && !std::filesystem::create_directories(p.parent_path(), ec) && ec) {
            throw OutputError("cannot create " + p.parent_path().string() + ": " + ec.message());
        }
    }

    // OpenCV's own MJPEG writer only accepts an .avi name; write one, rename later.
    // FFmpeg's MJPEG encoder comes first: frames from OpenCV's own encoder make
    // libjpeg warn "Corrupt JPEG data" on reading, which lands in every report.
    const std::string part = opt.path + ".part.avi";
    const int mjpg = cv::VideoWriter::fourcc('M', 'J', 'P', 'G');
    cv::VideoWriter avi(part, cv::CAP_FFMPEG, mjpg, kFps, kFrame);
    if (!avi.isOpened()) {
        avi.open(part, cv::CAP_OPENCV_MJPEG, mjpg, kFps, kFrame, {cv::VIDEOWRITER_PROP_QUALITY, opt.quality});
        // The open() parameter is ignored by this backend in OpenCV 4.6; set() is not.
        avi.set(cv::VIDEOWRITER_PROP_QUALITY, opt.quality);
    }
    if (!avi.isOpened()) {
        throw OutputError("cannot open MJPEG writer for " + part);
    }
    cv::VideoWriter mp4;
    if (!opt.mp4.empty()) {
        mp4.open(opt.mp4, cv::CAP_FFMPEG, cv::VideoWriter::fourcc('a', 'v', 'c', '1'), kFps, kFrame);
        if (!mp4.isOpened()) {
            std::cerr << "warning: no H.264 writer, skipping " << opt.mp4 << '\n';
        }
    }
    std::ofstream labels;
    if (!opt.labels.empty()) {
        labels.open(opt.labels);
        if (!labels) {
            throw OutputError("cannot write " + opt.labels);
        }
        labels << "# frame class cx cy w h (1920x1080 pixels; class 0 helmet, 1 head)\n";
    }

    for (int f = 0; f < opt.frames; ++f) {
        cv::Mat frame = bg.clone();
        std::vector<Person> people;
        people.reserve(walkers.size());
        for (const auto& w : walkers) {
            people.push_back(walkerAt(w, f));
        }
        for (const auto& p : people) {
            drawPerson(frame, p);
        }
        look.noiseSeed = mixSeed(opt.seed, static_cast<std::uint64_t>(f) + 1);
        look.gain = 1.0 + 0.03 * std::sin(f * 0.05);
        applyLook(frame, look);
        avi.write(frame);
        if (mp4.isOpened()) {
            mp4.write(frame);
        }
        if (labels.is_open()) {
            for (const auto& l : sceneLabels(people, kFrame)) {
                labels << f << ' ' << l.cls << ' ' << (l.box.x + l.box.width / 2) << ' ' << (l.box.y + l.box.height / 2)
                       << ' ' << l.box.width << ' ' << l.box.height << '\n';
            }
        }
    }
    avi.release();
    mp4.release();
    std::error_code renameError;
    std::filesystem::rename(part, opt.path, renameError);
    if (renameError) {
        throw std::runtime_error("cannot rename " + part + " to " + opt.path + ": " + renameError.message());
    }
    const double genS = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();

    std::error_code ec;
    const auto bytes = std::filesystem::file_size(opt.path, ec);
    std::cout << "wrote " << opt.frames << " frames (" << (ec ? 0 : bytes) << " bytes) to " << opt.path << " in "
              << genS << " s\n";
    // Readers of the AVI: the generic one, and OpenCV's own MJPEG reader
    // (the one left when FFmpeg rejects the path).
    for (const auto& [api, name] :
         {std::pair{cv::CAP_ANY, "CAP_ANY"}, std::pair{cv::CAP_OPENCV_MJPEG, "CAP_OPENCV_MJPEG"}}) {
        const int read = countFrames(opt.path, api);
        std::cout << "read back " << read << " frames with " << name << '\n';
        if (read != opt.frames) {
            throw std::runtime_error("read back " + std::to_string(read) + " of " + std::to_string(opt.frames) +
                                     " frames from " + opt.path + " with " + name);
        }
    }
}

}  // namespace zor::render
