// Rasterisation of scenes: background, clutter, people and the camera "look"
// (lighting, shadow, blur, noise, compression).
#pragma once

#include "Rng.h"
#include "Scene.h"

#include <opencv2/core.hpp>

namespace zor::render {

// unit: a typical head height in canvas pixels, scales line widths and detail.
// horizonFrac < 0 picks a random horizon (sometimes none).
void drawBackground(cv::Mat& img, Rng& rng, float unit, bool plain, double horizonFrac = -1.0);
void drawClutter(cv::Mat& img, const Clutter& c);
void drawPerson(cv::Mat& img, const Person& p);

struct Look {
    double gain = 1.0, bias = 0.0;
    cv::Scalar cast{1, 1, 1};
    bool gradient = false;
    cv::Point2f gradDir{1, 0};
    double gradLo = 1.0, gradHi = 1.0;
    bool shadow = false;
    std::vector<cv::Point2f> shadowPoly;  // in canvas fractions
    double shadowGain = 0.6;
    double blurSigma = 0.0;   // canvas pixels
    double noiseSigma = 0.0;  // canvas pixels
    int jpegQuality = 0;      // 0 = none
    std::uint64_t noiseSeed = 1;
};

// pxPerNet: canvas pixels per pixel of the network input.
Look randomLook(Rng& rng, double pxPerNet);
void applyLook(cv::Mat& img, const Look& look);

// Applied to the finished image at output resolution, so boxes do not move.
// netPx: output pixels per pixel of the network input.
void applyCamera(cv::Mat& img, const Camera& cam, double netPx);

// Background, clutter, people, then the look.
cv::Mat renderScene(const Scene& s, Rng& rng, double pxPerNet);

}  // namespace zor::render
