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

}  // namespace

cv::Scalar helmetColour(Rng& rng) {
    static constexpr double base[5][3] = {
        {0, 200, 245},    // yellow
        {236, 236, 232},  // white
        {10, 120, 245},   // orange
        {35, 35, 200},    // red
        {190, 100, 25},   // blue
    };
    const auto& b = base[rng.uniformInt(0, 4)];
    return jitter(rng, {b[0], b[1], b[2]}, 14, 0.85, 1.08);
}

cv::Scalar nonHelmetColour(Rng& rng) {
    static constexpr double base[10][3] = {
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
    const auto& b = base[rng.uniformInt(0, 9)];
    return jitter(rng, {b[0], b[1], b[2]}, 12, 0.85, 1.12);
}

cv::Scalar skinColour(Rng& rng) {
    const double t = rng.uniform();
    const cv::Scalar light(178, 202, 236), dark(48, 68, 98);
    return jitter(rng, light * (1 - t) + dark * t, 8, 0.95, 1.05);
}

Person randomPerson(Rng& rng, cv::Point2f head, float headH, bool hardHat) {
    static constexpr double hairs[6][3] = {{20, 20, 25},   {30, 45, 70},    {40, 70, 110},
                                           {90, 165, 205}, {150, 150, 150}, {35, 60, 130}};
    static constexpr double trousers[6][3] = {{70, 40, 25}, {60, 60, 60}, {110, 150, 170},
                                              {25, 25, 25}, {40, 60, 90}, {130, 90, 50}};
    static constexpr double vests[3][3] = {{40, 240, 210}, {0, 225, 240}, {0, 120, 255}};
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
    const auto& hc = rng.pick(hairs);
    p.hair = jitter(rng, {hc[0], hc[1], hc[2]}, 10, 0.85, 1.15);
    p.hat = hardHat ? helmetColour(rng) : nonHelmetColour(rng);
    p.shirt = anyColour(rng);
    const auto& tc = rng.pick(trousers);
    p.trousers = jitter(rng, {tc[0], tc[1], tc[2]}, 10, 0.8, 1.15);
    p.hasVest = rng.chance(0.6);
    const auto& vc = rng.pick(vests);
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
    return unite(body, labelBox(p));
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
        nPeople = 1 + static_cast<int>(u * u * params.maxPeople);
    }
    // Rejection sampling keeps every labelled head free of occlusion.
    for (int tries = 0; tries < nPeople * 25 && static_cast<int>(s.people.size()) < nPeople; ++tries) {
        const float h = headSize();
        const cv::Point2f c(rng.uniformF(-0.2 * h, W + 0.2 * h), rng.uniformF(0.3 * h, Hc - 0.2 * h));
        Person p = randomPerson(rng, c, h, rng.chance(0.55));
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
