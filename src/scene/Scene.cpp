#include "Scene.h"

#include <algorithm>
#include <cmath>

namespace zor::render {
namespace {

cv::Scalar jitter(Rng& rng, const cv::Scalar& c, double amount, double gainLo, double gainHi) {
    const double g = rng.uniform(gainLo, gainHi);
    cv::Scalar out;
    for (int i = 0; i < 3; ++i) {
        out[i] = std::clamp(c[i] * g + rng.uniform(-amount, amount), 0.0, 255.0);
    }
    return out;
}

cv::Scalar anyColour(Rng& rng) {
    return {rng.uniform(0, 255), rng.uniform(0, 255), rng.uniform(0, 255)};
}

cv::Rect2f unite(const cv::Rect2f& a, const cv::Rect2f& b) {
    const float x0 = std::min(a.x, b.x), y0 = std::min(a.y, b.y);
    const float x1 = std::max(a.x + a.width, b.x + b.width), y1 = std::max(a.y + a.height, b.y + b.height);
    return {x0, y0, x1 - x0, y1 - y0};
}

cv::Rect2f ellipseBox(cv::Point2f c, float ax, float ay) {
    return {c.x - ax, c.y - ay, 2 * ax, 2 * ay};
}
cv::Rect2f upperHalfBox(cv::Point2f c, float ax, float ay) {
    return {c.x - ax, c.y - ay, 2 * ax, ay};
}

bool intersects(const cv::Rect2f& a, const cv::Rect2f& b) {
    return (a & b).area() > 0.f;
}

cv::Rect2f grow(const cv::Rect2f& r, float f) {
    return {r.x - r.width * f, r.y - r.height * f, r.width * (1 + 2 * f), r.height * (1 + 2 * f)};
}

// Every value is drawn whatever the kind, so the shares can change (or be
// zero) without changing the scenes.
Camera randomCamera(Rng& rng, const SceneParams& params) {
    const double u = rng.uniform();
    const double irLevel = rng.uniform(0.35, 0.75), irNoise = rng.uniform(2.0, 9.0), irRed = rng.uniform(0.3, 0.8);
    const double lowLevel = rng.uniform(0.2, 0.45), lowNoise = rng.uniform(3.0, 8.0);
    const double length = rng.uniform(1.5, 5.0), angle = rng.uniform(0.0, 180.0);
    Camera cam;
    cam.seed = rng.next();
    if (u < params.irShare) {
        cam.kind = CameraKind::Infrared;
        cam.level = irLevel;
        cam.noise = irNoise;
        cam.irRed = irRed;
    } else if (u < params.irShare + params.lowLightShare) {
        cam.kind = CameraKind::LowLight;
        cam.level = lowLevel;
        cam.noise = lowNoise;
    } else if (u < params.irShare + params.lowLightShare + params.motionShare) {
        cam.kind = CameraKind::MotionBlur;
        cam.length = length;
        cam.angle = angle;
    }
    return cam;
}

cv::Scalar warmTone(Rng& rng) {
    // Red, orange, yellow or white: the colours of hard hats and of the things mistaken for them.
    static constexpr int kWarm[4] = {0, 2, 3, 4};
    int tone = kWarm[rng.uniformInt(0, 3)];
    const auto& b = kHatTones[tone].bgr;
    return jitter(rng, {b[0], b[1], b[2]}, 14, 0.85, 1.08);
}

bool clearOfHeads(const Scene& s, const cv::Rect2f& area) {
    for (const auto& q : s.people) {
        if (intersects(area, grow(labelBox(q), 0.15f))) {
            return false;
        }
    }
    return true;
}

// Negatives: cones, seat rows, hi-vis clothing on hangers, and round warm-coloured
// things at head height next to people.
template <typename HeadSize>
void addWideClutter(Rng& rng, Scene& s, const SceneParams& params, HeadSize&& headSize) {
    const float W = static_cast<float>(params.canvas.width), Hc = static_cast<float>(params.canvas.height);
    static constexpr ClutterKind kKinds[14] = {
        ClutterKind::Cone,   ClutterKind::Cone,  ClutterKind::Ball,     ClutterKind::Dome,       ClutterKind::Disc,
        ClutterKind::Barrel, ClutterKind::Crate, ClutterKind::Bucket,   ClutterKind::Sign,       ClutterKind::Reel,
        ClutterKind::Seats,  ClutterKind::Ball,  ClutterKind::PostLamp, ClutterKind::HangingVest};
    const int nClutter = rng.chance(0.1) ? 0 : rng.uniformInt(2, params.farLayout ? 24 : 10);
    for (int tries = 0; tries < nClutter * 10 && static_cast<int>(s.clutter.size()) < nClutter; ++tries) {
        Clutter c;
        c.kind = rng.pick(kKinds);
        c.size = headSize() * rng.uniformF(0.7, 2.0);
        c.pos = {rng.uniformF(0, W), rng.uniformF(0, Hc)};
        c.aspect = rng.uniformF(0.55, 1.0);
        c.variant = rng.uniformInt(0, 3);
        switch (c.kind) {
            case ClutterKind::Seats:
                c.size = headSize() * rng.uniformF(0.9, 1.4);
                c.count = rng.uniformInt(3, 10);
                c.variant = rng.uniformInt(1, 3);  // rows
                if (rng.chance(0.6)) {
                    c.colour = warmTone(rng);
                } else {
                    int tone = 0;
                    c.colour = toneColour(rng, tone);
                }
                break;
            case ClutterKind::HangingVest:
                c.size = headSize() * rng.uniformF(2.0, 3.0);
                c.colour = warmTone(rng);
                break;
            case ClutterKind::Crate:
            case ClutterKind::Sign:
                c.colour = anyColour(rng);
                break;
            default:
                c.colour = rng.chance(0.7) ? warmTone(rng) : anyColour(rng);
                break;
        }
        if (clearOfHeads(s, clutterBox(c))) {
            s.clutter.push_back(c);
        }
    }
    // Round things in head colours at head height, beside people.
    for (const auto& p : s.people) {
        if (!rng.chance(0.35)) {
            continue;
        }
        static constexpr ClutterKind kRound[4] = {ClutterKind::Ball, ClutterKind::Dome, ClutterKind::Disc,
                                                  ClutterKind::PostLamp};
        Clutter c;
        c.kind = rng.pick(kRound);
        c.size = p.headH * rng.uniformF(0.8, 1.4);
        const float side = rng.chance(0.5) ? -1.f : 1.f;
        c.pos = {p.head.x + side * p.headH * rng.uniformF(1.8, 4.5), p.head.y + p.headH * rng.uniformF(-0.4, 0.4)};
        c.aspect = rng.uniformF(0.6, 1.0);
        c.variant = rng.uniformInt(0, 3);
        c.colour = warmTone(rng);
        if (clearOfHeads(s, clutterBox(c))) {
            s.clutter.push_back(c);
        }
    }
}

}  // namespace

cv::Scalar helmetColour(Rng& rng) {
    static constexpr double kBase[5][3] = {
        {0, 200, 245},    // yellow
        {236, 236, 232},  // white
        {10, 120, 245},   // orange
        {35, 35, 200},    // red
        {190, 100, 25},   // blue
    };
    const auto& b = kBase[rng.uniformInt(0, 4)];
    return jitter(rng, {b[0], b[1], b[2]}, 14, 0.85, 1.08);
}

cv::Scalar nonHelmetColour(Rng& rng) {
    static constexpr double kBase[10][3] = {
        {28, 28, 30},     // black
        {40, 62, 100},    // brown
        {45, 115, 40},    // green
        {120, 120, 118},  // grey
        {130, 45, 110},   // purple
        {40, 110, 105},   // olive
        {170, 120, 230},  // pink
        {110, 110, 25},   // teal
        {85, 40, 25},     // navy
        {110, 150, 170},  // khaki
    };
    const auto& b = kBase[rng.uniformInt(0, 9)];
    return jitter(rng, {b[0], b[1], b[2]}, 12, 0.85, 1.12);
}

cv::Scalar toneColour(Rng& rng, int& tone) {
    tone = rng.uniformInt(0, 5);
    const auto& b = kHatTones[tone].bgr;
    return jitter(rng, {b[0], b[1], b[2]}, 14, 0.85, 1.08);
}

cv::Scalar skinColour(Rng& rng) {
    const double t = rng.uniform();
    const cv::Scalar light(178, 202, 236), dark(48, 68, 98);
    return jitter(rng, light * (1 - t) + dark * t, 8, 0.95, 1.05);
}

Person randomPerson(Rng& rng, cv::Point2f head, float headH, bool hardHat) {
    static constexpr double kHairs[6][3] = {{20, 20, 25},   {30, 45, 70},    {40, 70, 110},
                                            {90, 165, 205}, {150, 150, 150}, {35, 60, 130}};
    static constexpr double kTrousers[6][3] = {{70, 40, 25}, {60, 60, 60}, {110, 150, 170},
                                               {25, 25, 25}, {40, 60, 90}, {130, 90, 50}};
    static constexpr double kVests[3][3] = {{40, 240, 210}, {0, 225, 240}, {0, 120, 255}};
    Person p;
    p.head = head;
    p.headH = headH;
    const double f = rng.uniform();
    p.facing = f < 0.35 ? Facing::Front : f < 0.5 ? Facing::Back : f < 0.75 ? Facing::Left : Facing::Right;
    if (hardHat) {
        p.headwear = Headwear::HardHat;
    } else {
        const double h = rng.uniform();
        p.headwear = h < 0.5 ? Headwear::Hair : h < 0.6 ? Headwear::Bald : h < 0.8 ? Headwear::Cap : Headwear::Beanie;
    }
    p.skin = skinColour(rng);
    const auto& hc = rng.pick(kHairs);
    p.hair = jitter(rng, {hc[0], hc[1], hc[2]}, 10, 0.85, 1.15);
    p.hat = hardHat ? helmetColour(rng) : nonHelmetColour(rng);
    p.shirt = anyColour(rng);
    const auto& tc = rng.pick(kTrousers);
    p.trousers = jitter(rng, {tc[0], tc[1], tc[2]}, 10, 0.8, 1.15);
    p.hasVest = rng.chance(0.6);
    const auto& vc = rng.pick(kVests);
    p.vest = jitter(rng, {vc[0], vc[1], vc[2]}, 12, 0.85, 1.05);
    p.chinStrap = hardHat && rng.chance(0.15);
    p.hatRidge = rng.chance(0.7);
    p.pomPom = rng.chance(0.3);
    p.beard = rng.chance(0.15);
    p.walkAmount = rng.chance(0.4) ? 0.f : rng.uniformF(0.3, 1.0);
    p.walkPhase = rng.uniformF(0, 2 * std::numbers::pi);
    p.bodyScale = rng.uniformF(0.85, 1.15);
    return p;
}

void widenPerson(Rng& rng, Person& p, bool hardHat) {
    // Fixed cameras see many backs and sides.
    const double f = rng.uniform();
    p.facing = f < 0.3 ? Facing::Front : f < 0.6 ? Facing::Back : f < 0.8 ? Facing::Left : Facing::Right;
    p.hatTone = -1;
    if (hardHat) {
        p.hat = toneColour(rng, p.hatTone);
    } else {
        const double h = rng.uniform();
        p.headwear = h < 0.3    ? Headwear::Hair
                     : h < 0.37 ? Headwear::Bald
                     : h < 0.53 ? Headwear::Cap
                     : h < 0.67 ? Headwear::Beanie
                     : h < 0.83 ? Headwear::Hood
                                : Headwear::SunHat;
        // Soft headwear in hard-hat colours as often as not: colour alone never decides.
        if (rng.chance(0.55)) {
            p.hat = toneColour(rng, p.hatTone);
        } else if (p.headwear == Headwear::SunHat && rng.chance(0.5)) {
            static constexpr double kStraw[3][3] = {{120, 190, 215}, {150, 205, 225}, {90, 150, 180}};
            const auto& sc = rng.pick(kStraw);
            p.hat = jitter(rng, {sc[0], sc[1], sc[2]}, 10, 0.9, 1.1);
        } else {
            p.hat = nonHelmetColour(rng);
        }
        p.hatStyle = rng.chance(0.35) ? 1 : 0;
        const bool bare = p.headwear == Headwear::Hair || p.headwear == Headwear::Bald;
        if (bare && rng.chance(0.3)) {
            int tone = 0;
            p.carriesHardHat = true;
            p.carried = toneColour(rng, tone);
        }
    }
    // Hi-vis shirts and vests in red, orange, yellow and lime.
    static constexpr double kHiVis[4][3] = {{30, 40, 215}, {0, 120, 255}, {0, 225, 240}, {40, 240, 210}};
    if (rng.chance(0.3)) {
        const auto& hc = rng.pick(kHiVis);
        p.shirt = jitter(rng, {hc[0], hc[1], hc[2]}, 12, 0.85, 1.05);
    }
    const auto& vc = rng.pick(kHiVis);
    p.vest = jitter(rng, {vc[0], vc[1], vc[2]}, 12, 0.85, 1.05);
    p.hasVest = rng.chance(0.6);
}

HeadGeom headGeom(const Person& p) {
    const float H = p.headH;
    HeadGeom g;
    g.c = p.head;
    g.ax = 0.39f * H;
    g.ay = 0.5f * H;
    g.dir = p.facing == Facing::Right ? 1.f : p.facing == Facing::Left ? -1.f : 0.f;
    const bool side = g.dir != 0.f;
    const cv::Point2f c = g.c;
    switch (p.headwear) {
        case Headwear::HardHat:
            g.crown = {c.x - g.dir * 0.02f * H, c.y - 0.14f * H};
            g.crownAx = 0.5f * H;
            g.crownAy = 0.5f * H;
            g.brim = side ? cv::Point2f(c.x + g.dir * 0.1f * H, c.y - 0.14f * H) : cv::Point2f(c.x, c.y - 0.14f * H);
            g.brimAx = side ? 0.62f * H : 0.6f * H;
            g.brimAy = side ? 0.06f * H : 0.075f * H;
            break;
        case Headwear::Hair:
            g.crown = {c.x - g.dir * 0.03f * H, c.y - 0.04f * H};
            g.crownAx = 0.41f * H;
            g.crownAy = 0.5f * H;
            break;
        case Headwear::Bald:
            break;
        case Headwear::Cap:
            g.crown = {c.x - g.dir * 0.02f * H, c.y - 0.1f * H};
            g.crownAx = 0.41f * H;
            g.crownAy = 0.47f * H;
            if (side) {
                g.brim = {c.x + g.dir * 0.42f * H, c.y - 0.12f * H};
                g.brimAx = 0.22f * H;
                g.brimAy = 0.05f * H;
            } else if (p.facing == Facing::Front) {
                g.brim = {c.x, c.y - 0.1f * H};
                g.brimAx = 0.36f * H;
                g.brimAy = 0.07f * H;
            }
            break;
        case Headwear::Beanie:
            g.crown = {c.x, c.y - 0.06f * H};
            g.crownAx = 0.43f * H;
            g.crownAy = 0.56f * H;
            g.pomR = p.pomPom ? 0.1f * H : 0.f;
            break;
        case Headwear::Hood:
            g.crown = {c.x - g.dir * 0.07f * H, c.y - 0.02f * H};
            g.crownAx = 0.5f * H;
            g.crownAy = 0.62f * H;
            break;
        case Headwear::SunHat: {
            const bool bucket = p.hatStyle == 1;
            g.crown = {c.x - g.dir * 0.02f * H, c.y - 0.3f * H};
            g.crownAx = 0.37f * H;
            g.crownAy = (bucket ? 0.3f : 0.36f) * H;
            g.brim = {c.x + g.dir * 0.03f * H, c.y - (bucket ? 0.26f : 0.3f) * H};
            g.brimAx = (bucket ? 0.58f : 0.82f) * H;
            g.brimAy = (side ? 0.06f : bucket ? 0.09f : 0.12f) * H;
            break;
        }
    }
    // The head with ears (front/back) or nose (side), plus whatever it wears:
    // a helmet's box covers the head that wears it, as in real datasets.
    cv::Rect2f box = ellipseBox(c, g.ax, g.ay);
    if (!side) {
        box = unite(box, ellipseBox({c.x, c.y}, 0.46f * H, 0.1f * H));
    } else {
        box = unite(box, ellipseBox({c.x + g.dir * 0.4f * H, c.y + 0.06f * H}, 0.05f * H, 0.05f * H));
    }
    if (g.crownAx > 0.f) {
        box = unite(box, upperHalfBox(g.crown, g.crownAx, g.crownAy));
    }
    if (g.brimAx > 0.f) {
        box = unite(box, ellipseBox(g.brim, g.brimAx, g.brimAy));
    }
    if (g.pomR > 0.f) {
        box = unite(box, ellipseBox({g.crown.x, g.crown.y - g.crownAy}, g.pomR, g.pomR));
    }
    g.box = box;
    return g;
}

cv::Rect2f labelBox(const Person& p) {
    return headGeom(p).box;
}

cv::Rect2f figureBox(const Person& p) {
    const float H = p.headH;
    const float w = 1.25f * H * p.bodyScale;
    const cv::Rect2f body(p.head.x - w, p.head.y, 2 * w, 7.6f * H);
    const cv::Rect2f box = unite(body, labelBox(p));
    return p.carriesHardHat ? unite(box, carriedHatBox(p)) : box;
}

// The same arm geometry as drawPerson: the near arm from the side, the
// image-right arm from the front or back.
cv::Point2f carryHand(const Person& p) {
    const float H = p.headH, bs = p.bodyScale;
    const float swing = p.walkAmount * std::sin(p.walkPhase);
    const float ys = p.head.y + 0.72f * H;
    if (p.facing == Facing::Left || p.facing == Facing::Right) {
        const float dir = p.facing == Facing::Right ? 1.f : -1.f;
        const cv::Point2f sh(p.head.x - dir * 0.05f * H, ys + 0.12f * H);
        const float a = -0.5f * swing;
        return {sh.x + dir * 2.6f * H * std::sin(a), sh.y + 2.6f * H * std::cos(a)};
    }
    const float sw = 0.95f * H * bs;
    const cv::Point2f sh(p.head.x + sw - 0.12f * H, ys + 0.12f * H);
    return {sh.x + 0.18f * H, sh.y + 2.6f * H + 0.05f * H * swing};
}

// Front or back: held at the side, dome outwards; from the side: hanging
// upside down by the brim.
cv::Rect2f carriedHatBox(const Person& p) {
    const float H = p.headH;
    const cv::Point2f h = carryHand(p);
    if (p.facing == Facing::Left || p.facing == Facing::Right) {
        return {h.x - 0.62f * H, h.y - 0.1f * H, 1.24f * H, 0.62f * H};
    }
    return {h.x - 0.1f * H, h.y - 0.62f * H, 0.72f * H, 1.24f * H};
}

cv::Rect2f clutterBox(const Clutter& c) {
    const float s = c.size;
    switch (c.kind) {
        case ClutterKind::Seats: {
            const float w = 0.5f * s * static_cast<float>(c.count) + 0.3f * s * static_cast<float>(c.variant);
            return {c.pos.x - w, c.pos.y - 0.9f * s * static_cast<float>(c.variant) - 0.6f * s, 2 * w,
                    0.9f * s * static_cast<float>(c.variant) + 1.2f * s};
        }
        case ClutterKind::HangingVest:
            return {c.pos.x - 0.6f * s, c.pos.y - 0.8f * s, 1.2f * s, 1.4f * s};
        case ClutterKind::PostLamp:
            return {c.pos.x - 0.5f * s, c.pos.y - 0.5f * s, s, 4.5f * s};
        default:
            return {c.pos.x - c.size, c.pos.y - c.size, 2 * c.size, 2 * c.size};
    }
}

std::vector<Label> sceneLabels(const std::vector<Person>& people, cv::Size canvas) {
    std::vector<Label> labels;
    const cv::Rect2f frame(0.f, 0.f, static_cast<float>(canvas.width), static_cast<float>(canvas.height));
    for (const auto& p : people) {
        const cv::Rect2f box = labelBox(p);
        const cv::Rect2f vis = box & frame;
        if (vis.area() < 0.5f * box.area()) {
            continue;
        }
        labels.push_back({p.headwear == Headwear::HardHat ? 0 : 1, vis});
    }
    return labels;
}

Scene randomScene(Rng& rng, const SceneParams& params) {
    Scene s;
    s.canvas = params.canvas;
    const double kind = rng.uniform();
    if (params.wide) {
        s.camera = randomCamera(rng, params);
    }
    if (params.farLayout) {
        s.horizon = rng.uniform(0.18, 0.4);
    }
    if (kind < params.plainShare) {
        s.plain = true;
        return s;
    }
    const float W = static_cast<float>(params.canvas.width), Hc = static_cast<float>(params.canvas.height);
    auto headSize = [&] {
        return static_cast<float>(rng.chance(params.focusShare) ? rng.logUniform(params.focusMin, params.focusMax)
                                                                : rng.logUniform(params.minHead, params.maxHead));
    };
    int nPeople = 0;
    if (kind >= params.plainShare + params.emptyShare) {
        const double u = rng.uniform();
        nPeople = params.minPeople + static_cast<int>(u * u * (params.maxPeople - params.minPeople + 1));
    }
    // Rejection sampling keeps every labelled head free of occlusion.
    for (int tries = 0; tries < nPeople * 25 && static_cast<int>(s.people.size()) < nPeople; ++tries) {
        const float h = headSize();
        cv::Point2f c(rng.uniformF(-0.2 * h, W + 0.2 * h), rng.uniformF(0.3 * h, Hc - 0.2 * h));
        if (params.farLayout) {
            // Feet on the ground plane: the nearer (larger) the lower.
            const double t = std::log(h / params.minHead) / std::log(params.maxHead / params.minHead);
            const double feet = Hc * (s.horizon + (1.0 - s.horizon) * (0.12 + 0.8 * t + rng.uniform(-0.06, 0.06)));
            c.y = static_cast<float>(feet - 7.3 * h);
        }
        Person p = randomPerson(rng, c, h, rng.chance(params.helmetShare));
        if (params.wide) {
            widenPerson(rng, p, p.headwear == Headwear::HardHat);
        }
        if (params.whiteHairShare > 0.0 && p.headwear != Headwear::HardHat && rng.chance(params.whiteHairShare)) {
            p.hair = jitter(rng, {215, 218, 220}, 12, 0.8, 1.12);
        }
        const cv::Rect2f head = grow(labelBox(p), 0.12f), fig = figureBox(p);
        bool ok = true;
        for (const auto& q : s.people) {
            if (intersects(head, figureBox(q)) || intersects(fig, grow(labelBox(q), 0.12f))) {
                ok = false;
                break;
            }
        }
        if (ok) {
            s.people.push_back(p);
        }
    }
    // Far (higher feet) first.
    std::sort(s.people.begin(), s.people.end(),
              [](const Person& a, const Person& b) { return a.head.y + 7.f * a.headH < b.head.y + 7.f * b.headH; });

    if (params.wide) {
        addWideClutter(rng, s, params, headSize);
        return s;
    }
    const int nClutter = rng.chance(0.15) ? 0 : rng.uniformInt(1, 9);
    for (int tries = 0; tries < nClutter * 10 && static_cast<int>(s.clutter.size()) < nClutter; ++tries) {
        Clutter c;
        c.kind = static_cast<ClutterKind>(rng.uniformInt(0, 8));
        c.size = headSize() * rng.uniformF(0.6, 2.2);
        c.pos = {rng.uniformF(0, W), rng.uniformF(0, Hc)};
        c.aspect = rng.uniformF(0.55, 1.0);
        c.variant = rng.uniformInt(0, 3);
        switch (c.kind) {
            case ClutterKind::Dome:
                c.colour = nonHelmetColour(rng);
                break;
            case ClutterKind::Disc:
            case ClutterKind::Bucket:
                c.colour = helmetColour(rng);
                break;
            case ClutterKind::Ball:
            case ClutterKind::Barrel:
                c.colour = rng.chance(0.5) ? helmetColour(rng) : anyColour(rng);
                break;
            default:
                c.colour = anyColour(rng);
                break;
        }
        const cv::Rect2f area(c.pos.x - c.size, c.pos.y - c.size, 2 * c.size, 2 * c.size);
        bool ok = true;
        for (const auto& q : s.people) {
            if (intersects(area, grow(labelBox(q), 0.15f))) {
                ok = false;
                break;
            }
        }
        if (ok) {
            s.clutter.push_back(c);
        }
    }
    return s;
}

}  // namespace zor::render
