// Scene model: people (with or without hard hats) and clutter, plus the
// random generation of whole scenes and the ground-truth boxes they imply.
#pragma once

#include "Rng.h"

#include <opencv2/core.hpp>

#include <cstdint>
#include <vector>

namespace zor::render {

// Hood and SunHat appear only in the wide variety.
enum class Headwear { HardHat, Hair, Bald, Cap, Beanie, Hood, SunHat };
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
    float walkPhase = 0.f;        // radians
    float walkAmount = 0.f;       // 0 = standing, 1 = full stride
    float bodyScale = 1.f;        // build variation
    bool carriesHardHat = false;  // a hard hat held by the brim at the hip; the head stays bare
    cv::Scalar carried;           // its colour
    int hatTone = -1;             // index into kHatTones when the hat has one of those colours
    int hatStyle = 0;             // sun hat: 0 wide brim, 1 bucket hat
};

// The kinds after Reel appear only in the wide variety.
enum class ClutterKind { Cone, Ball, Dome, Disc, Barrel, Crate, Bucket, Sign, Reel, Seats, HangingVest, PostLamp };

struct Clutter {
    ClutterKind kind = ClutterKind::Ball;
    cv::Point2f pos;    // centre
    float size = 20.f;  // main extent, canvas pixels
    float aspect = 1.f;
    cv::Scalar colour;
    int variant = 0;
    int count = 1;  // seats per row
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

// What the camera does to the finished image: night infrared (grey, flat,
// noisy), low light (dark, noisy) or a linear motion smear.
enum class CameraKind { Normal, Infrared, LowLight, MotionBlur };

struct Camera {
    CameraKind kind = CameraKind::Normal;
    double level = 1.0;   // infrared contrast or low-light gain
    double noise = 0.0;   // sigma, output pixels
    double length = 0.0;  // motion smear, network pixels
    double angle = 0.0;   // motion direction, degrees
    double irRed = 0.5;   // infrared: weight of the red channel in the grey
    std::uint64_t seed = 1;
};

struct Scene {
    cv::Size canvas;
    bool plain = false;     // uniform frame, no site
    double horizon = -1.0;  // fraction of the height; < 0 picks one at random
    Camera camera;
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
    int minPeople = 1;
    int maxPeople = 9;
    // The wide variety: every colour on hard hats and on other headwear,
    // hoods, sun hats, backs and sides, carried hard hats, red/orange/yellow
    // negatives and night/low-light/motion-blurred cameras.
    bool wide = false;
    double helmetShare = 0.55;
    double irShare = 0.10, lowLightShare = 0.10, motionShare = 0.10;
    bool farLayout = false;  // people stand on a ground plane: smaller heads higher up
    // White and silver hair on workers without a hard hat: older heads that a
    // model can take for white hard hats. Nothing is drawn for it at zero, so
    // every earlier rendering stays as it was.
    double whiteHairShare = 0.0;
};

// Hard-hat colours of the wide variety; other headwear and negatives use them too.
struct Tone {
    const char* name;
    double bgr[3];
};
inline constexpr Tone kHatTones[6] = {{"white", {236, 236, 232}}, {"blue", {190, 100, 25}}, {"yellow", {0, 200, 245}},
                                      {"orange", {10, 120, 245}}, {"red", {35, 35, 200}},   {"green", {45, 150, 40}}};

// Head-wear colours used for hard hats, and the ones reserved for other things.
cv::Scalar helmetColour(Rng& rng);
cv::Scalar nonHelmetColour(Rng& rng);
cv::Scalar skinColour(Rng& rng);
// One of kHatTones, jittered; `tone` receives its index.
cv::Scalar toneColour(Rng& rng, int& tone);

Person randomPerson(Rng& rng, cv::Point2f head, float headH, bool hardHat);
// The wide variety's redraw of a person from randomPerson: more backs and
// sides, any hat colour, hoods, sun hats, carried hard hats, hi-vis shirts.
void widenPerson(Rng& rng, Person& p, bool hardHat);
Scene randomScene(Rng& rng, const SceneParams& params);

// Extent of what the label box covers, and of the whole figure.
cv::Rect2f labelBox(const Person& p);
cv::Rect2f figureBox(const Person& p);
// Where the hand holding a carried hard hat is, and what that hat covers.
cv::Point2f carryHand(const Person& p);
cv::Rect2f carriedHatBox(const Person& p);
// What a clutter item covers, roughly.
cv::Rect2f clutterBox(const Clutter& c);

// Boxes clipped to the canvas; objects less than half visible are dropped.
std::vector<Label> sceneLabels(const std::vector<Person>& people, cv::Size canvas);

}  // namespace zor::render
