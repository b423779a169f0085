#include "Draw.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

namespace zor::render {
namespace {

constexpr int kShift = 4;
constexpr float kOne = 1 << kShift;

cv::Point fx(cv::Point2f p) {
    return {cvRound(p.x * kOne), cvRound(p.y * kOne)};
}
cv::Size fx(float ax, float ay) {
    return {std::max(1, cvRound(ax * kOne)), std::max(1, cvRound(ay * kOne))};
}
int thick(float t) {
    return std::max(1, cvRound(t));
}

cv::Scalar shade(const cv::Scalar& c, double f) {
    return {std::min(255.0, c[0] * f), std::min(255.0, c[1] * f), std::min(255.0, c[2] * f)};
}
cv::Scalar mix(const cv::Scalar& a, const cv::Scalar& b, double t) {
    return a * (1 - t) + b * t;
}

// Float-coordinate drawing with sub-pixel precision and anti-aliasing.
class Painter {
public:
    explicit Painter(cv::Mat& img) : img_(img) {}
    void ellipse(cv::Point2f c, float ax, float ay, double a0, double a1, const cv::Scalar& col, double angle = 0) {
        cv::ellipse(img_, fx(c), fx(ax, ay), angle, a0, a1, col, cv::FILLED, cv::LINE_AA, kShift);
    }
    void fullEllipse(cv::Point2f c, float ax, float ay, const cv::Scalar& col, double angle = 0) {
        ellipse(c, ax, ay, 0, 360, col, angle);
    }
    void upperHalf(cv::Point2f c, float ax, float ay, const cv::Scalar& col) { ellipse(c, ax, ay, 180, 360, col); }
    void arc(cv::Point2f c, float ax, float ay, double a0, double a1, const cv::Scalar& col, float t) {
        cv::ellipse(img_, fx(c), fx(ax, ay), 0, a0, a1, col, thick(t), cv::LINE_AA, kShift);
    }
    void line(cv::Point2f a, cv::Point2f b, const cv::Scalar& col, float t) {
        cv::line(img_, fx(a), fx(b), col, thick(t), cv::LINE_AA, kShift);
    }
    void poly(const std::vector<cv::Point2f>& pts, const cv::Scalar& col) {
        std::vector<cv::Point> q;
        q.reserve(pts.size());
        for (const auto& p : pts) {
            q.push_back(fx(p));
        }
        cv::fillConvexPoly(img_, q, col, cv::LINE_AA, kShift);
    }
    void rect(float x0, float y0, float x1, float y1, const cv::Scalar& col) {
        poly({{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}}, col);
    }

private:
    cv::Mat& img_;
};

// Glossy top-half dome lit from the upper left (light = -1) or right (+1).
void shadedDome(Painter& pt, cv::Point2f base, float ax, float ay, const cv::Scalar& col, float light, bool gloss) {
    static constexpr double kShades[4] = {0.7, 0.86, 1.0, 1.1};
    for (int k = 0; k < 4; ++k) {
        const float s = 1.f - 0.14f * static_cast<float>(k);
        const cv::Point2f c(base.x + light * 0.07f * k * ax, base.y);
        pt.upperHalf(c, ax * s, ay * s, shade(col, kShades[k]));
    }
    if (gloss) {
        pt.fullEllipse({base.x + light * 0.33f * ax, base.y - 0.62f * ay}, 0.13f * ax, 0.09f * ay,
                       mix(col, {255, 255, 255}, 0.55));
    }
}

// A hard hat seen from the side, turned by `angle` degrees (0 = dome up).
void tiltedHardHat(Painter& pt, cv::Point2f base, float H, const cv::Scalar& col, double angle) {
    static constexpr double kShades[4] = {0.7, 0.86, 1.0, 1.1};
    for (int k = 0; k < 4; ++k) {
        const float s = 1.f - 0.14f * static_cast<float>(k);
        pt.ellipse(base, 0.5f * H * s, 0.5f * H * s, 180, 360, shade(col, kShades[k]), angle);
    }
    pt.fullEllipse(base, 0.6f * H, 0.075f * H, shade(col, 0.82), angle);
}

void shadedBall(Painter& pt, cv::Point2f c, float r, const cv::Scalar& col) {
    static constexpr double kShades[4] = {0.65, 0.82, 0.97, 1.08};
    for (int k = 0; k < 4; ++k) {
        const float s = 1.f - 0.16f * static_cast<float>(k);
        pt.fullEllipse({c.x - 0.08f * k * r, c.y - 0.08f * k * r}, r * s, r * s, shade(col, kShades[k]));
    }
    pt.fullEllipse({c.x - 0.4f * r, c.y - 0.42f * r}, 0.12f * r, 0.1f * r, mix(col, {255, 255, 255}, 0.5));
}

void verticalGradient(cv::Mat& img, int y0, int y1, const cv::Scalar& top, const cv::Scalar& bottom) {
    y0 = std::clamp(y0, 0, img.rows);
    y1 = std::clamp(y1, 0, img.rows);
    for (int y = y0; y < y1; ++y) {
        img.row(y).setTo(mix(top, bottom, (y - y0) / std::max(1.0, y1 - y0 - 1.0)));
    }
}

// Multiplies by smooth random blotches: dirt, stains, uneven light.
void modulate(cv::Mat& img, Rng& rng, double strength, int cellsMin, int cellsMax) {
    cv::RNG cvr(rng.next());
    cv::Mat small(rng.uniformInt(cellsMin, cellsMax), rng.uniformInt(cellsMin, cellsMax), CV_32F);
    cvr.fill(small, cv::RNG::NORMAL, 128.0, 128.0 * strength);
    cv::Mat big, big8;
    cv::resize(small, big, img.size(), 0, 0, cv::INTER_CUBIC);
    big.convertTo(big8, CV_8U);
    cv::Mat big3;
    cv::merge(std::vector<cv::Mat>{big8, big8, big8}, big3);
    cv::multiply(img, big3, img, 1.0 / 128.0);
}

cv::Scalar randomGrey(Rng& rng, double lo, double hi) {
    const double g = rng.uniform(lo, hi);
    return {g * rng.uniform(0.92, 1.08), g * rng.uniform(0.95, 1.05), g * rng.uniform(0.92, 1.08)};
}

void drawScaffold(Painter& pt, Rng& rng, float x0, float y0, float x1, float y1, float unit) {
    static constexpr double kPaints[5][3] = {
        {165, 165, 170}, {0, 190, 235}, {10, 110, 230}, {180, 100, 30}, {120, 120, 125}};
    const auto& pc = rng.pick(kPaints);
    const cv::Scalar col(pc[0], pc[1], pc[2]);
    const float t = std::max(1.f, unit * rng.uniformF(0.06, 0.16));
    const float sx = unit * rng.uniformF(1.5, 4.0), sy = unit * rng.uniformF(1.2, 3.0);
    for (float x = x0; x <= x1; x += sx) {
        pt.line({x, y0}, {x, y1}, shade(col, 0.9), t);
    }
    for (float y = y0; y <= y1; y += sy) {
        pt.line({x0, y}, {x1, y}, col, t);
        if (rng.chance(0.4)) {
            pt.rect(x0, y - 0.25f * unit, x1, y, cv::Scalar(50, 85, 120) * rng.uniform(0.8, 1.3));
        }
    }
    for (float x = x0; x + sx <= x1; x += sx) {
        if (rng.chance(0.4)) {
            pt.line({x, y1}, {x + sx, std::max(y0, y1 - sy * 2)}, shade(col, 0.8), t);
        }
    }
}

void drawBuilding(Painter& pt, Rng& rng, float x0, float y0, float x1, float y1, float unit) {
    const cv::Scalar wall =
        rng.chance(0.7) ? randomGrey(rng, 110, 200) : cv::Scalar(60, 80, 150) * rng.uniform(0.7, 1.2);
    pt.rect(x0, y0, x1, y1, wall);
    const float cw = unit * rng.uniformF(1.2, 3.5), ch = unit * rng.uniformF(1.2, 3.0);
    const cv::Scalar hole = rng.chance(0.5) ? cv::Scalar(35, 35, 40) : cv::Scalar(140, 110, 80);
    const float fw = rng.uniformF(0.3, 0.7), fh = rng.uniformF(0.3, 0.7);
    for (float y = y0 + ch * 0.3f; y + ch * fh < y1; y += ch) {
        for (float x = x0 + cw * 0.3f; x + cw * fw < x1; x += cw) {
            pt.rect(x, y, x + cw * fw, y + ch * fh, shade(hole, rng.uniform(0.8, 1.2)));
        }
    }
    if (rng.chance(0.5)) {
        for (float y = y0; y < y1; y += ch) {
            pt.line({x0, y}, {x1, y}, shade(wall, 0.8), std::max(1.f, unit * 0.08f));
        }
    }
}

void drawFence(Painter& pt, Rng& rng, float W, float y0, float y1, float unit) {
    const double u = rng.uniform();
    const int kind = u < 0.25 ? 0 : u < 0.55 ? 1 : 2;
    if (kind == 0) {  // hoarding panels
        const cv::Scalar col = rng.chance(0.5)
                                   ? randomGrey(rng, 150, 230)
                                   : cv::Scalar(rng.uniform(0, 255), rng.uniform(0, 255), rng.uniform(0, 255));
        pt.rect(0, y0, W, y1, col);
        for (float x = rng.uniformF(0, 3 * unit); x < W; x += unit * rng.uniformF(2, 5)) {
            pt.line({x, y0}, {x, y1}, shade(col, 0.7), std::max(1.f, 0.06f * unit));
        }
    } else {  // mesh or safety netting
        const cv::Scalar col = kind == 1 ? randomGrey(rng, 120, 190) : cv::Scalar(10, 110, 240);
        const float step = unit * rng.uniformF(0.25, 0.6), t = std::max(1.f, 0.03f * unit);
        for (float x = 0; x < W + (y1 - y0); x += step) {
            pt.line({x, y0}, {x - (y1 - y0), y1}, col, t);
            pt.line({x - (y1 - y0), y0}, {x, y1}, col, t);
        }
        for (float x = 0; x < W; x += unit * 3) {
            pt.line({x, y0}, {x, y1}, randomGrey(rng, 80, 150), std::max(1.f, 0.1f * unit));
        }
    }
}

void drawCrane(Painter& pt, Rng& rng, float W, float horizon, float unit) {
    const cv::Scalar col = rng.chance(0.6) ? cv::Scalar(0, 190, 240) : randomGrey(rng, 150, 230);
    const float mx = rng.uniformF(0, W), top = horizon * rng.uniformF(0.05, 0.4);
    const float mw = unit * rng.uniformF(0.5, 1.2), t = std::max(1.f, unit * 0.05f);
    pt.line({mx, top}, {mx, horizon}, col, t);
    pt.line({mx + mw, top}, {mx + mw, horizon}, col, t);
    for (float y = top; y < horizon; y += mw) {
        pt.line({mx, y}, {mx + mw, y + mw}, col, t);
    }
    const float jx0 = mx - W * rng.uniformF(0.1, 0.4), jx1 = mx + W * rng.uniformF(0.1, 0.6);
    pt.line({jx0, top}, {jx1, top}, col, t);
    pt.line({jx0, top + mw}, {jx1, top + mw}, col, t);
    for (float x = jx0; x < jx1; x += mw) {
        pt.line({x, top}, {x + mw, top + mw}, col, t);
    }
}

}  // namespace

void drawBackground(cv::Mat& img, Rng& rng, float unit, bool plain, double horizonFrac) {
    const float W = static_cast<float>(img.cols), H = static_cast<float>(img.rows);
    if (plain) {
        const cv::Scalar c = rng.chance(0.6)
                                 ? cv::Scalar::all(rng.uniform(10, 245))
                                 : cv::Scalar(rng.uniform(0, 255), rng.uniform(0, 255), rng.uniform(0, 255));
        img.setTo(c);
        if (rng.chance(0.4)) {
            verticalGradient(img, 0, img.rows, shade(c, rng.uniform(0.8, 1.2)), shade(c, rng.uniform(0.8, 1.2)));
        }
        return;
    }
    Painter pt(img);
    const bool noSky = rng.chance(0.2);
    const double frac = rng.uniform(0.05, 0.65);
    const int horizon = horizonFrac >= 0 ? static_cast<int>(H * horizonFrac) : noSky ? 0 : static_cast<int>(H * frac);
    static constexpr double kSkies[4][2][3] = {
        {{200, 150, 90}, {235, 215, 190}},
        {{185, 185, 180}, {220, 220, 218}},
        {{150, 120, 110}, {150, 190, 235}},
        {{215, 175, 120}, {240, 230, 215}},
    };
    const auto& sk = rng.pick(kSkies);
    const double skyGain = rng.uniform(0.85, 1.1);
    verticalGradient(img, 0, horizon, cv::Scalar(sk[0][0], sk[0][1], sk[0][2]) * skyGain,
                     cv::Scalar(sk[1][0], sk[1][1], sk[1][2]) * skyGain);
    static constexpr double kGrounds[4][3] = {{60, 90, 120}, {140, 140, 135}, {95, 110, 120}, {70, 75, 80}};
    const auto& gc = rng.pick(kGrounds);
    const cv::Scalar ground = cv::Scalar(gc[0], gc[1], gc[2]) * rng.uniform(0.8, 1.25);
    verticalGradient(img, horizon, img.rows, shade(ground, rng.uniform(0.8, 1.1)),
                     shade(ground, rng.uniform(0.9, 1.2)));
    if (horizon > 0 && rng.chance(0.3)) {
        drawCrane(pt, rng, W, static_cast<float>(horizon), unit);
    }
    const int nBuildings = horizon > 0 ? rng.uniformInt(0, 4) : rng.uniformInt(0, 1);
    for (int i = 0; i < nBuildings; ++i) {
        const float x0 = rng.uniformF(-0.2 * W, W), w = W * rng.uniformF(0.1, 0.5);
        const float top = horizon > 0 ? horizon - H * rng.uniformF(0.05, 0.5) : 0.f;
        const float bottom = horizon > 0 ? horizon + H * rng.uniformF(0.0, 0.08) : H * rng.uniformF(0.3, 1.0);
        drawBuilding(pt, rng, x0, top, x0 + w, bottom, unit);
        if (rng.chance(0.4)) {
            drawScaffold(pt, rng, x0 - unit, top, x0 + w + unit, bottom, unit);
        }
    }
    if (rng.chance(0.35)) {
        const float x0 = rng.uniformF(-0.2 * W, 0.8 * W), y0 = rng.uniformF(0, 0.7 * H);
        drawScaffold(pt, rng, x0, y0, x0 + W * rng.uniformF(0.15, 0.6), y0 + H * rng.uniformF(0.2, 0.6), unit);
    }
    // Orange netting behind orange helmets is a hard case the video has.
    if (rng.chance(0.55)) {
        const float y0 = horizon + H * rng.uniformF(-0.05, 0.3);
        drawFence(pt, rng, W, y0, y0 + unit * rng.uniformF(1.5, 5.0), unit);
    }
    // Ground detail: puddles, gravel, planks, rebar.
    const int nDetail = rng.uniformInt(0, 12);
    for (int i = 0; i < nDetail; ++i) {
        const cv::Point2f p(rng.uniformF(0, W), rng.uniformF(horizon, H));
        const float s = unit * rng.uniformF(0.5, 4.0);
        switch (rng.uniformInt(0, 3)) {
            case 0:
                pt.fullEllipse(p, s, s * rng.uniformF(0.15, 0.4), shade(ground, rng.uniform(0.6, 1.3)));
                break;
            case 1:
                pt.line(p, {p.x + s * 2, p.y + rng.uniformF(-s, s) * 0.3f},
                        cv::Scalar(50, 85, 125) * rng.uniform(0.7, 1.3), s * 0.15f);
                break;
            case 2:
                for (int k = 0; k < 5; ++k) {
                    pt.line({p.x, p.y + k * 0.06f * s}, {p.x + 2 * s, p.y + k * 0.06f * s + s * 0.1f},
                            cv::Scalar(40, 50, 90), std::max(1.f, 0.03f * s));
                }
                break;
            default:
                pt.fullEllipse(p, s * 0.8f, s * 0.4f, randomGrey(rng, 80, 170), rng.uniform(-20, 20));
                break;
        }
    }
    modulate(img, rng, rng.uniform(0.04, 0.16), 3, 24);
}

void drawClutter(cv::Mat& img, const Clutter& c) {
    Painter pt(img);
    const float s = c.size;
    const cv::Point2f p = c.pos;
    const cv::Scalar white(235, 235, 235), black(25, 25, 25);
    switch (c.kind) {
        case ClutterKind::Cone: {
            const cv::Scalar orange = c.variant == 0 ? cv::Scalar(30, 40, 210) : cv::Scalar(10, 100, 245);
            const float top = p.y - s / 2, bot = p.y + s / 2, bw = 0.35f * s * c.aspect, tw = 0.06f * s;
            pt.rect(p.x - bw * 1.3f, bot - 0.08f * s, p.x + bw * 1.3f, bot, shade(orange, 0.6));
            pt.poly({{p.x - tw, top}, {p.x + tw, top}, {p.x + bw, bot - 0.08f * s}, {p.x - bw, bot - 0.08f * s}},
                    orange);
            auto at = [&](float t) { return tw + (bw - tw) * t; };
            for (float t : {0.35f, 0.65f}) {
                pt.poly({{p.x - at(t), top + t * s * 0.92f},
                         {p.x + at(t), top + t * s * 0.92f},
                         {p.x + at(t + 0.12f), top + (t + 0.12f) * s * 0.92f},
                         {p.x - at(t + 0.12f), top + (t + 0.12f) * s * 0.92f}},
                        white);
            }
            break;
        }
        case ClutterKind::Ball:
            shadedBall(pt, p, s * 0.4f, c.colour);
            break;
        case ClutterKind::Dome: {
            const float ax = 0.5f * s, ay = 0.5f * s * c.aspect;
            shadedDome(pt, p, ax, ay, c.colour, -1.f, c.variant < 2);
            if (c.variant % 2 == 0) {
                pt.fullEllipse(p, ax * 1.2f, 0.07f * s, shade(c.colour, 0.85));
            }
            break;
        }
        case ClutterKind::Disc:
            pt.fullEllipse(p, 0.45f * s, 0.45f * s * (c.variant == 0 ? c.aspect : 1.f), c.colour);
            if (c.variant == 1) {
                pt.fullEllipse(p, 0.3f * s, 0.3f * s, shade(c.colour, 0.75));
            }
            if (c.variant == 2) {
                pt.arc(p, 0.45f * s, 0.45f * s, 0, 360, black, std::max(1.f, 0.05f * s));
            }
            break;
        case ClutterKind::Barrel: {
            const float w = 0.35f * s, h = 0.5f * s;
            pt.rect(p.x - w, p.y - h, p.x + w, p.y + h, c.colour);
            pt.rect(p.x - w * 0.4f, p.y - h, p.x + w * 0.1f, p.y + h, shade(c.colour, 1.12));
            for (float t : {-0.5f, 0.3f}) {
                pt.rect(p.x - w, p.y + t * h, p.x + w, p.y + (t + 0.12f) * h,
                        c.variant == 0 ? white : shade(c.colour, 0.7));
            }
            pt.fullEllipse({p.x, p.y - h}, w, 0.2f * w, shade(c.colour, 0.8));
            break;
        }
        case ClutterKind::Crate: {
            const cv::Scalar wood = cv::Scalar(60, 100, 150) * (0.8 + 0.1 * c.variant);
            pt.rect(p.x - 0.5f * s, p.y - 0.4f * s * c.aspect, p.x + 0.5f * s, p.y + 0.4f * s * c.aspect, wood);
            for (int k = -2; k <= 2; ++k) {
                pt.line({p.x - 0.5f * s, p.y + k * 0.16f * s * c.aspect},
                        {p.x + 0.5f * s, p.y + k * 0.16f * s * c.aspect}, shade(wood, 0.6), std::max(1.f, 0.03f * s));
            }
            break;
        }
        case ClutterKind::Bucket: {
            const float tw = 0.32f * s, bw = 0.25f * s, h = 0.38f * s;
            const bool upside = c.variant == 3;
            const float wt = upside ? bw : tw, wb = upside ? tw : bw;
            pt.poly({{p.x - wt, p.y - h}, {p.x + wt, p.y - h}, {p.x + wb, p.y + h}, {p.x - wb, p.y + h}}, c.colour);
            pt.fullEllipse({p.x, p.y - h}, wt, 0.2f * wt, upside ? shade(c.colour, 1.05) : shade(c.colour, 0.5));
            pt.arc({p.x, p.y - h}, wt, 0.2f * wt, 0, 360, shade(c.colour, 0.8), std::max(1.f, 0.03f * s));
            break;
        }
        case ClutterKind::Sign: {
            const cv::Scalar yellow(0, 200, 240);
            if (c.variant < 2) {
                const float r = 0.5f * s;
                pt.poly({{p.x, p.y - r}, {p.x + r, p.y}, {p.x, p.y + r}, {p.x - r, p.y}}, black);
                pt.poly(
                    {{p.x, p.y - 0.85f * r}, {p.x + 0.85f * r, p.y}, {p.x, p.y + 0.85f * r}, {p.x - 0.85f * r, p.y}},
                    yellow);
                pt.rect(p.x - 0.08f * r, p.y - 0.4f * r, p.x + 0.08f * r, p.y + 0.2f * r, black);
            } else {
                pt.rect(p.x - 0.5f * s, p.y - 0.35f * s, p.x + 0.5f * s, p.y + 0.35f * s,
                        c.variant == 2 ? white : cv::Scalar(120, 70, 20));
                pt.rect(p.x - 0.4f * s, p.y - 0.1f * s, p.x + 0.4f * s, p.y - 0.02f * s,
                        c.variant == 2 ? cv::Scalar(30, 30, 200) : white);
            }
            pt.line({p.x, p.y + 0.5f * s}, {p.x, p.y + 1.2f * s}, cv::Scalar(120, 120, 120), std::max(1.f, 0.05f * s));
            break;
        }
        case ClutterKind::Seats: {
            // Stadium-like tiers, back row first; every backrest a rounded shell.
            const float step = 0.9f * s;
            for (int r = c.variant - 1; r >= 0; --r) {
                const float y = p.y - step * static_cast<float>(r), x0 = p.x + 0.3f * s * static_cast<float>(r);
                const float half = 0.5f * s * static_cast<float>(c.count);
                pt.rect(x0 - half, y - 0.2f * s, x0 + half, y + 0.6f * s, cv::Scalar(150, 150, 148) * (0.8 + 0.1 * r));
                pt.rect(x0 - half, y + 0.5f * s, x0 + half, y + 0.6f * s, cv::Scalar(90, 90, 90));
                for (int k = 0; k < c.count; ++k) {
                    const float x = x0 - half + s * (static_cast<float>(k) + 0.5f);
                    pt.fullEllipse({x, y + 0.25f * s}, 0.38f * s, 0.12f * s, shade(c.colour, 0.6));
                    pt.rect(x - 0.36f * s, y - 0.15f * s, x + 0.36f * s, y + 0.18f * s, c.colour);
                    pt.upperHalf({x, y - 0.14f * s}, 0.36f * s, 0.42f * s, c.colour);
                    pt.fullEllipse({x - 0.12f * s, y - 0.3f * s}, 0.08f * s, 0.12f * s, shade(c.colour, 1.2));
                }
            }
            break;
        }
        case ClutterKind::HangingVest: {
            const cv::Scalar grey(150, 150, 150), silver(205, 205, 205);
            const float t = std::max(1.f, 0.03f * s), top = p.y - 0.55f * s;
            pt.line({p.x - 0.6f * s, p.y - 0.78f * s}, {p.x + 0.6f * s, p.y - 0.78f * s}, grey, t);
            pt.line({p.x, p.y - 0.78f * s}, {p.x - 0.4f * s, top}, grey, t);
            pt.line({p.x, p.y - 0.78f * s}, {p.x + 0.4f * s, top}, grey, t);
            if (c.variant < 2) {  // vest with an open V and two bands
                pt.poly({{p.x - 0.38f * s, top},
                         {p.x + 0.38f * s, top},
                         {p.x + 0.42f * s, p.y + 0.6f * s},
                         {p.x - 0.42f * s, p.y + 0.6f * s}},
                        c.colour);
                pt.poly({{p.x - 0.14f * s, top}, {p.x + 0.14f * s, top}, {p.x, p.y - 0.1f * s}}, shade(c.colour, 0.4));
                for (float y : {0.1f, 0.35f}) {
                    pt.rect(p.x - 0.42f * s, p.y + y * s, p.x + 0.42f * s, p.y + (y + 0.08f) * s, silver);
                }
            } else {  // shirt
                pt.poly({{p.x - 0.35f * s, top},
                         {p.x + 0.35f * s, top},
                         {p.x + 0.58f * s, top + 0.3f * s},
                         {p.x - 0.58f * s, top + 0.3f * s}},
                        c.colour);
                pt.rect(p.x - 0.33f * s, top, p.x + 0.33f * s, p.y + 0.6f * s, c.colour);
                pt.upperHalf({p.x, top + 0.02f * s}, 0.1f * s, 0.06f * s, shade(c.colour, 0.5));
                if (c.variant == 3) {
                    pt.rect(p.x - 0.33f * s, p.y + 0.2f * s, p.x + 0.33f * s, p.y + 0.27f * s, silver);
                }
            }
            break;
        }
        case ClutterKind::PostLamp: {
            const float r = 0.4f * s;
            pt.line({p.x, p.y + 0.5f * r}, {p.x, p.y + 4.f * s}, cv::Scalar(110, 110, 112), std::max(1.f, 0.12f * s));
            switch (c.variant) {
                case 0:
                    shadedBall(pt, p, r, c.colour);
                    break;
                case 1:  // round sign
                    pt.fullEllipse(p, r, r, c.colour);
                    pt.rect(p.x - 0.65f * r, p.y - 0.15f * r, p.x + 0.65f * r, p.y + 0.15f * r, white);
                    break;
                case 2:  // beacon
                    pt.rect(p.x - r, p.y + 0.2f * r, p.x + r, p.y + 0.5f * r, black);
                    shadedDome(pt, {p.x, p.y + 0.2f * r}, 0.8f * r, 1.1f * r, c.colour, -1.f, true);
                    break;
                default:  // convex mirror
                    pt.fullEllipse(p, r, r, c.colour);
                    pt.fullEllipse(p, 0.8f * r, 0.8f * r, mix(c.colour, {200, 190, 180}, 0.7));
                    break;
            }
            break;
        }
        case ClutterKind::Reel: {
            const cv::Scalar wood(70, 120, 170);
            pt.fullEllipse(p, 0.5f * s, 0.5f * s, wood);
            pt.fullEllipse(p, 0.3f * s, 0.3f * s, c.colour);
            pt.fullEllipse(p, 0.08f * s, 0.08f * s, shade(wood, 0.4));
            break;
        }
    }
}

void drawPerson(cv::Mat& img, const Person& p) {
    Painter pt(img);
    const float H = p.headH, bs = p.bodyScale;
    const HeadGeom g = headGeom(p);
    const cv::Point2f c = p.head;
    const bool side = g.dir != 0.f;
    const float dir = g.dir;
    const float swing = p.walkAmount * std::sin(p.walkPhase);
    const float ys = c.y + 0.72f * H, yh = c.y + 3.1f * H;
    const float sw = (side ? 0.42f : 0.95f) * H * bs, hw = (side ? 0.4f : 0.72f) * H * bs;
    const cv::Scalar boot(30, 35, 40);

    auto drawLeg = [&](cv::Point2f hip, float angle, const cv::Scalar& col) {
        const cv::Point2f foot(hip.x + 3.7f * H * std::sin(angle), hip.y + 3.7f * H * std::cos(angle));
        pt.line(hip, foot, col, 0.42f * H * bs);
        pt.fullEllipse({foot.x + dir * 0.12f * H, foot.y + 0.05f * H}, side ? 0.28f * H : 0.2f * H, 0.12f * H, boot);
    };
    auto drawArm = [&](cv::Point2f sh, cv::Point2f hand, const cv::Scalar& col) {
        pt.line(sh, hand, col, 0.32f * H * bs);
        pt.fullEllipse(hand, 0.13f * H, 0.13f * H, p.skin);
    };
    const cv::Scalar sleeve = p.shirt;
    // The shirt, then the hi-vis vest (inset by `vestWidth`, from `vestTop`) with its two reflective bands.
    auto drawTorso = [&](float vestWidth, float vestTop) {
        pt.poly({{c.x - sw, ys + 0.1f * H},
                 {c.x - sw + 0.15f * H, ys},
                 {c.x + sw - 0.15f * H, ys},
                 {c.x + sw, ys + 0.1f * H},
                 {c.x + hw, yh},
                 {c.x - hw, yh}},
                p.shirt);
        if (!p.hasVest) {
            return;
        }
        pt.poly({{c.x - sw * vestWidth, ys + vestTop * H},
                 {c.x + sw * vestWidth, ys + vestTop * H},
                 {c.x + hw * 0.95f, yh - 0.15f * H},
                 {c.x - hw * 0.95f, yh - 0.15f * H}},
                p.vest);
        for (float t : {1.2f, 1.7f}) {
            pt.rect(c.x - sw * vestWidth, ys + t * H, c.x + sw * vestWidth, ys + (t + 0.12f) * H,
                    cv::Scalar(200, 200, 200));
        }
    };
    if (side) {
        const cv::Point2f hip(c.x, yh - 0.1f * H), sh(c.x - dir * 0.05f * H, ys + 0.12f * H);
        const float farArm = 0.5f * swing, nearArm = -0.5f * swing;
        drawArm(sh, {sh.x + dir * 2.6f * H * std::sin(farArm), sh.y + 2.6f * H * std::cos(farArm)},
                shade(sleeve, 0.75));
        drawLeg(hip, -0.45f * swing * dir, shade(p.trousers, 0.75));
        drawLeg(hip, 0.45f * swing * dir, p.trousers);
        drawTorso(0.95f, 0.15f);
        drawArm(sh, {sh.x + dir * 2.6f * H * std::sin(nearArm), sh.y + 2.6f * H * std::cos(nearArm)}, sleeve);
    } else {
        for (float sgn : {-1.f, 1.f}) {
            drawLeg({c.x + sgn * 0.36f * H * bs, yh - 0.1f * H}, sgn * 0.03f + 0.03f * swing * sgn, p.trousers);
        }
        drawTorso(0.9f, 0.12f);
        if (p.hasVest && p.facing == Facing::Front) {
            pt.rect(c.x - 0.07f * H, ys, c.x + 0.07f * H, yh - 0.15f * H, p.shirt);  // the open front
        }
        for (float sgn : {-1.f, 1.f}) {
            const cv::Point2f sh(c.x + sgn * (sw - 0.12f * H), ys + 0.12f * H);
            drawArm(sh, {sh.x + sgn * 0.18f * H, sh.y + 2.6f * H + 0.05f * H * swing * sgn}, sleeve);
        }
    }
    if (p.headwear == Headwear::Hood) {  // the hood's fall onto the shoulders
        pt.poly({{g.crown.x - 0.4f * H, c.y + 0.1f * H},
                 {g.crown.x + 0.4f * H, c.y + 0.1f * H},
                 {c.x + 0.62f * H * bs, ys + 0.15f * H},
                 {c.x - 0.62f * H * bs, ys + 0.15f * H}},
                shade(p.hat, 0.75));
        pt.fullEllipse(g.crown, g.crownAx, g.crownAy, shade(p.hat, 0.7));
    }
    if (p.carriesHardHat) {
        const cv::Point2f h = carryHand(p);
        if (side) {
            tiltedHardHat(pt, h, H, p.carried, 180);
        } else {
            tiltedHardHat(pt, {h.x + 0.05f * H, h.y}, H, p.carried, 90);
        }
        pt.fullEllipse(h, 0.13f * H, 0.13f * H, p.skin);  // the fingers over the brim
    }
    // Neck and head.
    pt.rect(c.x - 0.17f * H, c.y + 0.3f * H, c.x + 0.17f * H, c.y + 0.78f * H, shade(p.skin, 0.85));
    if (!side) {
        pt.fullEllipse({c.x - 0.37f * H, c.y + 0.02f * H}, 0.08f * H, 0.12f * H, shade(p.skin, 0.88));
        pt.fullEllipse({c.x + 0.37f * H, c.y + 0.02f * H}, 0.08f * H, 0.12f * H, shade(p.skin, 0.88));
    }
    pt.fullEllipse(c, g.ax, g.ay, shade(p.skin, 0.8));
    pt.fullEllipse({c.x - 0.03f * H, c.y - 0.03f * H}, 0.35f * H, 0.46f * H, p.skin);
    const cv::Scalar dark(40, 32, 32);
    const bool hasHair = p.headwear != Headwear::Bald;
    if (p.facing == Facing::Back) {
        if (hasHair) {
            pt.fullEllipse({c.x, c.y - 0.03f * H}, 0.37f * H, 0.45f * H, p.hair);
        }
    } else if (side) {
        pt.fullEllipse({c.x - dir * 0.05f * H, c.y + 0.03f * H}, 0.07f * H, 0.11f * H, shade(p.skin, 0.85));
        pt.poly({{c.x + dir * 0.33f * H, c.y - 0.04f * H},
                 {c.x + dir * 0.45f * H, c.y + 0.12f * H},
                 {c.x + dir * 0.33f * H, c.y + 0.15f * H}},
                p.skin);
        pt.fullEllipse({c.x + dir * 0.22f * H, c.y - 0.03f * H}, 0.035f * H, 0.03f * H, dark);
        pt.line({c.x + dir * 0.24f * H, c.y + 0.28f * H}, {c.x + dir * 0.34f * H, c.y + 0.27f * H},
                cv::Scalar(60, 60, 130), 0.03f * H);
        if (hasHair && p.headwear != Headwear::Hair) {
            pt.ellipse({c.x, c.y}, 0.39f * H, 0.42f * H, dir > 0 ? 110 : -70, dir > 0 ? 250 : 70, p.hair);
        }
    } else {
        for (float sgn : {-1.f, 1.f}) {
            pt.fullEllipse({c.x + sgn * 0.15f * H, c.y - 0.02f * H}, 0.04f * H, 0.032f * H, dark);
            pt.line({c.x + sgn * 0.08f * H, c.y - 0.1f * H}, {c.x + sgn * 0.22f * H, c.y - 0.1f * H},
                    shade(p.hair, 0.8), 0.03f * H);
        }
        pt.fullEllipse({c.x, c.y + 0.13f * H}, 0.045f * H, 0.07f * H, shade(p.skin, 0.85));
        pt.line({c.x - 0.1f * H, c.y + 0.29f * H}, {c.x + 0.1f * H, c.y + 0.29f * H}, cv::Scalar(60, 60, 130),
                0.03f * H);
        if (p.beard) {
            pt.ellipse({c.x, c.y + 0.2f * H}, 0.33f * H, 0.28f * H, 20, 160, shade(p.hair, 0.9));
        }
    }
    // Headwear.
    switch (p.headwear) {
        case Headwear::Hair:
            pt.upperHalf(g.crown, g.crownAx, g.crownAy, p.hair);
            if (side) {
                pt.ellipse(c, 0.41f * H, 0.44f * H, dir > 0 ? 90 : -90, dir > 0 ? 250 : 70, p.hair);
            } else if (p.facing == Facing::Front) {
                pt.fullEllipse({c.x + 0.08f * H, c.y - 0.3f * H}, 0.25f * H, 0.1f * H, shade(p.hair, 1.1), -15);
            }
            break;
        case Headwear::Bald:
            pt.fullEllipse({c.x - 0.1f * H, c.y - 0.33f * H}, 0.1f * H, 0.06f * H, shade(p.skin, 1.18));
            break;
        case Headwear::Cap:
            shadedDome(pt, g.crown, g.crownAx, g.crownAy, p.hat, -1.f, false);
            pt.fullEllipse({g.crown.x, g.crown.y - g.crownAy}, 0.05f * H, 0.03f * H, shade(p.hat, 0.7));
            if (g.brimAx > 0.f) {
                pt.fullEllipse(g.brim, g.brimAx, g.brimAy, shade(p.hat, 0.75));
            }
            break;
        case Headwear::Beanie: {
            shadedDome(pt, g.crown, g.crownAx, g.crownAy, p.hat, -1.f, false);
            const float b0 = g.crown.y - 0.16f * H;
            pt.rect(g.crown.x - g.crownAx, b0, g.crown.x + g.crownAx, g.crown.y, shade(p.hat, 0.85));
            for (float x = g.crown.x - g.crownAx + 0.08f * H; x < g.crown.x + g.crownAx; x += 0.1f * H) {
                pt.line({x, b0}, {x, g.crown.y}, shade(p.hat, 0.7), 0.02f * H);
            }
            if (g.pomR > 0.f) {
                pt.fullEllipse({g.crown.x, g.crown.y - g.crownAy}, g.pomR, g.pomR, shade(p.hat, 1.1));
            }
            break;
        }
        case Headwear::Hood:
            if (p.facing == Facing::Back) {
                shadedDome(pt, g.crown, g.crownAx, g.crownAy, p.hat, -1.f, false);
                pt.ellipse(g.crown, g.crownAx, 0.6f * g.crownAy, 0, 180, p.hat);
                pt.line({g.crown.x, g.crown.y - g.crownAy}, {g.crown.x, g.crown.y + 0.4f * g.crownAy},
                        shade(p.hat, 0.75), 0.03f * H);
            } else if (side) {
                pt.ellipse(g.crown, g.crownAx, g.crownAy, dir > 0 ? 100 : -140, dir > 0 ? 320 : 80, p.hat);
                pt.ellipse({g.crown.x + dir * 0.12f * H, g.crown.y}, 0.38f * H, 0.55f * H, dir > 0 ? 250 : -110,
                           dir > 0 ? 320 : -40, shade(p.hat, 1.1));
            } else {
                pt.arc({c.x, c.y - 0.02f * H}, 0.42f * H, 0.54f * H, 140, 400, p.hat, 0.14f * H);
                pt.arc({c.x, c.y - 0.02f * H}, 0.37f * H, 0.48f * H, 150, 390, shade(p.hat, 0.8), 0.04f * H);
                for (float sgn : {-1.f, 1.f}) {  // drawstrings
                    pt.line({c.x + sgn * 0.2f * H, c.y + 0.45f * H}, {c.x + sgn * 0.18f * H, c.y + 0.8f * H},
                            shade(p.hat, 1.3), 0.03f * H);
                }
            }
            break;
        case Headwear::SunHat:
            pt.fullEllipse(g.brim, g.brimAx, g.brimAy, shade(p.hat, 0.9));
            shadedDome(pt, g.crown, g.crownAx, g.crownAy, p.hat, -1.f, false);
            pt.rect(g.crown.x - g.crownAx, g.crown.y - 0.1f * H, g.crown.x + g.crownAx, g.crown.y,
                    p.hatStyle == 1 ? shade(p.hat, 0.85) : shade(p.hat, 0.45));
            if (p.facing != Facing::Back && !side) {
                pt.ellipse(g.brim, g.brimAx, g.brimAy, 0, 180, shade(p.hat, 1.05));
            }
            break;
        case Headwear::HardHat: {
            pt.fullEllipse({g.brim.x, g.brim.y + g.brimAy + 0.02f * H}, 0.36f * H, 0.05f * H, shade(p.skin, 0.55));
            if (p.chinStrap) {
                for (float sgn : {-1.f, 1.f}) {
                    pt.line({c.x + sgn * 0.36f * H, g.brim.y}, {c.x + sgn * 0.1f * H, c.y + 0.5f * H}, dark, 0.03f * H);
                }
            }
            shadedDome(pt, g.crown, g.crownAx, g.crownAy, p.hat, -1.f, true);
            if (p.hatRidge) {
                if (side) {
                    pt.arc(g.crown, 0.8f * g.crownAx, 0.85f * g.crownAy, 200, 340, shade(p.hat, 1.15), 0.05f * H);
                } else {
                    pt.fullEllipse({g.crown.x, g.crown.y - 0.55f * g.crownAy}, 0.06f * H, 0.42f * g.crownAy,
                                   shade(p.hat, 1.12));
                }
            }
            pt.fullEllipse(g.brim, g.brimAx, g.brimAy, shade(p.hat, 0.82));
            pt.arc(g.brim, g.brimAx, g.brimAy, 0, 180, shade(p.hat, 0.6), std::max(1.f, 0.02f * H));
            break;
        }
    }
}

Look randomLook(Rng& rng, double pxPerNet) {
    Look l;
    l.gain = rng.uniform(0.65, 1.25);
    l.bias = rng.uniform(-15, 15);
    l.cast = {rng.uniform(0.9, 1.1), rng.uniform(0.93, 1.07), rng.uniform(0.9, 1.1)};
    l.gradient = rng.chance(0.5);
    const double a = rng.uniform(0, 2 * std::numbers::pi);
    l.gradDir = {static_cast<float>(std::cos(a)), static_cast<float>(std::sin(a))};
    l.gradLo = rng.uniform(0.7, 1.0);
    l.gradHi = rng.uniform(1.0, 1.2);
    l.shadow = rng.chance(0.2);
    for (int i = 0; i < 4; ++i) {
        l.shadowPoly.emplace_back(rng.uniformF(-0.2, 1.2), rng.uniformF(-0.2, 1.2));
    }
    l.shadowGain = rng.uniform(0.5, 0.8);
    l.blurSigma = rng.chance(0.4) ? 0.0 : rng.uniform(0.1, 0.6) * pxPerNet;
    l.noiseSigma = (rng.chance(0.1) ? rng.uniform(1.5, 4.0) : rng.uniform(0.0, 1.5)) * pxPerNet;
    l.jpegQuality = rng.chance(0.3) ? rng.uniformInt(40, 95) : 0;
    l.noiseSeed = rng.next();
    return l;
}

void applyLook(cv::Mat& img, const Look& l) {
    cv::multiply(img, l.cast * l.gain, img);
    img += cv::Scalar::all(l.bias);
    if (l.gradient) {
        // Linear light ramp along gradDir, built small and stretched.
        cv::Mat ramp(2, 2, CV_32F);
        for (int y = 0; y < 2; ++y) {
            for (int x = 0; x < 2; ++x) {
                const float t = 0.5f + 0.5f * ((2 * x - 1) * l.gradDir.x + (2 * y - 1) * l.gradDir.y) / 1.4143f;
                ramp.at<float>(y, x) = static_cast<float>(128.0 * (l.gradLo + (l.gradHi - l.gradLo) * t));
            }
        }
        cv::Mat big, big8, big3;
        cv::resize(ramp, big, img.size(), 0, 0, cv::INTER_LINEAR);
        big.convertTo(big8, CV_8U);
        cv::merge(std::vector<cv::Mat>{big8, big8, big8}, big3);
        cv::multiply(img, big3, img, 1.0 / 128.0);
    }
    if (l.shadow) {
        std::vector<cv::Point> poly;
        for (const auto& q : l.shadowPoly) {
            poly.emplace_back(cvRound(q.x * img.cols), cvRound(q.y * img.rows));
        }
        cv::Mat mask = cv::Mat::zeros(img.size(), CV_8U);
        cv::fillPoly(mask, std::vector<std::vector<cv::Point>>{poly}, 255);
        cv::Mat dark;
        cv::multiply(img, cv::Scalar::all(l.shadowGain), dark);
        dark.copyTo(img, mask);
    }
    if (l.blurSigma > 0.05) {
        cv::GaussianBlur(img, img, cv::Size(), l.blurSigma);
    }
    if (l.noiseSigma > 0.2) {
        cv::RNG r(l.noiseSeed);
        cv::Mat noise(img.size(), CV_16SC3), wide;
        r.fill(noise, cv::RNG::NORMAL, 0.0, l.noiseSigma);
        img.convertTo(wide, CV_16SC3);
        wide += noise;
        wide.convertTo(img, CV_8UC3);
    }
    if (l.jpegQuality > 0) {
        std::vector<uchar> buf;
        cv::imencode(".jpg", img, buf, {cv::IMWRITE_JPEG_QUALITY, l.jpegQuality});
        img = cv::imdecode(buf, cv::IMREAD_COLOR);
    }
}

void applyCamera(cv::Mat& img, const Camera& cam, double netPx) {
    if (cam.kind == CameraKind::Normal) {
        return;
    }
    if (cam.kind == CameraKind::MotionBlur) {
        // A centred line kernel smears without shifting, so boxes stay put.
        const int len = std::max(3, cvRound(cam.length * netPx) | 1);
        cv::Mat k = cv::Mat::zeros(len, len, CV_32F);
        const double a = cam.angle * std::numbers::pi / 180.0, h = 0.5 * (len - 1);
        cv::line(k, {cvRound(h - h * std::cos(a)), cvRound(h - h * std::sin(a))},
                 {cvRound(h + h * std::cos(a)), cvRound(h + h * std::sin(a))}, cv::Scalar(1.0), 1, cv::LINE_8);
        k /= cv::sum(k)[0];
        cv::filter2D(img, img, -1, k, {-1, -1}, 0, cv::BORDER_REFLECT);
        return;
    }
    cv::RNG r(cam.seed);
    cv::Mat f;
    img.convertTo(f, CV_32F);
    if (cam.kind == CameraKind::Infrared) {
        // Near-infrared: one channel, red-weighted, flat, with the illuminator's hot centre.
        const double rest = 1.0 - cam.irRed;
        cv::Mat grey;
        cv::transform(
            f, grey,
            cv::Matx13f(static_cast<float>(0.3 * rest), static_cast<float>(0.7 * rest), static_cast<float>(cam.irRed)));
        const double mean = cv::mean(grey)[0];
        cv::Mat ramp(9, 16, CV_32F);
        for (int y = 0; y < ramp.rows; ++y) {
            for (int x = 0; x < ramp.cols; ++x) {
                const double dx = (x + 0.5) / ramp.cols - 0.5, dy = (y + 0.5) / ramp.rows - 0.5;
                ramp.at<float>(y, x) = static_cast<float>(1.15 - 0.9 * (dx * dx + dy * dy));
            }
        }
        cv::Mat vignette;
        cv::resize(ramp, vignette, grey.size(), 0, 0, cv::INTER_LINEAR);
        grey = (grey - mean) * cam.level + 0.75 * mean + 20.0;
        cv::multiply(grey, vignette, grey);
        cv::Mat noise(grey.size(), CV_32F);
        r.fill(noise, cv::RNG::NORMAL, 0.0, cam.noise);
        grey += noise;
        cv::Mat grey8;
        grey.convertTo(grey8, CV_8U);
        cv::merge(std::vector<cv::Mat>{grey8, grey8, grey8}, img);
        return;
    }
    // Low light: dark, bluish, noisy in every channel.
    cv::multiply(f, cv::Scalar(1.1 * cam.level, cam.level, 0.9 * cam.level), f);
    cv::Mat noise(f.size(), CV_32FC3);
    r.fill(noise, cv::RNG::NORMAL, 0.0, cam.noise);
    f += noise + cv::Scalar::all(4.0);
    f.convertTo(img, CV_8UC3);
}

cv::Mat renderScene(const Scene& s, Rng& rng, double pxPerNet) {
    cv::Mat img(s.canvas, CV_8UC3);
    float unit = 0.f;
    for (const auto& p : s.people) {
        unit += p.headH;
    }
    unit = s.people.empty() ? static_cast<float>(pxPerNet * rng.uniform(8, 20))
                            : unit / static_cast<float>(s.people.size());
    drawBackground(img, rng, unit, s.plain, s.horizon);
    for (const auto& c : s.clutter) {
        drawClutter(img, c);
    }
    for (const auto& p : s.people) {
        drawPerson(img, p);
    }
    applyLook(img, randomLook(rng, pxPerNet));
    return img;
}

}  // namespace zor::render
