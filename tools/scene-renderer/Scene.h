// Scene model: people (with or without hard hats) and clutter, plus the
// random generation of whole scenes and the ground-truth boxes they imply.
#pragma once

#include "Rng.h"

#include <opencv2/core.hpp>

#include <vector>

namespace zor::render {

enum class Headwear { HardHat, Hair, Bald, Cap, Beanie };
enum class Facing { Front, Back, Left, Right };

struct Person {
    cv::Point2f head;    // centre of the head ellipse
    float headH = 40.f;  // crown to chin, canvas pixels
    Facing facing = Facing::Front;
    Headwear headwear = Headwear::Hair;
    cv::Scalar skin, hair, hat, shirt, trousers, vest;
    bool hasVest = false;
    bool chinStrap = false;
    bool hatRidge = true;
    bool pomPom = false;
    bool beard = false;
    float walkPhase = 0.f;   // radians
    float walkAmount = 0.f;  // 0 = standing, 1 = full stride
    float bodyScale = 1.f;   // build variation
};

enum class ClutterKind { Cone, Ball, Dome, Disc, Barrel, Crate, Bucket, Sign, Reel };

struct Clutter {
    ClutterKind kind = ClutterKind::Ball;
    cv::Point2f pos;    // centre
    float size = 20.f;  // main extent, canvas pixels
    float aspect = 1.f;
    cv::Scalar colour;
    int variant = 0;
};

// Shapes of the head and its headwear, shared by drawing and labelling so
// boxes match pixels.
struct HeadGeom {
    cv::Point2f c;             // head ellipse centre
    float ax = 0.f, ay = 0.f;  // head ellipse semi-axes
    float dir = 0.f;           // +1 facing right, -1 left, 0 front/back
    cv::Point2f crown;         // base centre of the top-half ellipse (hair, cap, beanie, dome)
    float crownAx = 0.f, crownAy = 0.f;
    cv::Point2f brim;  // hard-hat brim or cap visor; brimAx == 0 when none
    float brimAx = 0.f, brimAy = 0.f;
    float pomR = 0.f;  // beanie pom-pom radius
    cv::Rect2f box;    // label box
};

HeadGeom headGeom(const Person& p);

struct Label {
    int cls = 0;  // 0 = head wearing a hard hat, 1 = bare head
    cv::Rect2f box;
};

struct Scene {
    cv::Size canvas;
    bool plain = false;  // uniform frame, no site
    std::vector<Clutter> clutter;
    std::vector<Person> people;  // sorted far to near (draw order)
};

struct SceneParams {
    cv::Size canvas{768, 768};
    float minHead = 15.f;  // head height range, canvas pixels
    float maxHead = 108.f;
    float focusMin = 24.f;  // most heads come from this narrower band
    float focusMax = 66.f;
    double focusShare = 0.6;
    double plainShare = 0.03;
    double emptyShare = 0.10;
    int maxPeople = 9;
};

// Head-wear colours used for hard hats, and the ones reserved for other things.
cv::Scalar helmetColour(Rng& rng);
cv::Scalar nonHelmetColour(Rng& rng);
cv::Scalar skinColour(Rng& rng);

Person randomPerson(Rng& rng, cv::Point2f head, float headH, bool hardHat);
Scene randomScene(Rng& rng, const SceneParams& params);

// Extent of what the label box covers, and of the whole figure.
cv::Rect2f labelBox(const Person& p);
cv::Rect2f figureBox(const Person& p);

// Boxes clipped to the canvas; objects less than half visible are dropped.
std::vector<Label> sceneLabels(const std::vector<Person>& people, cv::Size canvas);

}  // namespace zor::render
