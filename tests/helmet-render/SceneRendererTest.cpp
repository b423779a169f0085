// helmet-render: label boxes against drawn pixels, the wide variety's kinds
// and shares, the camera effects, the far scenes and the command line.
#include "DatasetWriter.h"
#include "Draw.h"
#include "Scene.h"
#include "ToolProcess.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <array>
#include <set>

namespace zor::test {
namespace {

using namespace zor::render;

const cv::Scalar kBackground(255, 0, 255);

Person plainPerson(Headwear headwear, Facing facing) {
    Person p;
    p.head = {200.f, 150.f};
    p.headH = 100.f;
    p.facing = facing;
    p.headwear = headwear;
    p.skin = {120, 150, 190};
    p.hair = {30, 40, 60};
    p.hat = {30, 200, 240};
    p.shirt = {90, 90, 90};
    p.trousers = {60, 60, 60};
    p.vest = {0, 220, 240};
    p.pomPom = true;
    return p;
}

cv::Mat drawAlone(const Person& p) {
    cv::Mat img(1000, 400, CV_8UC3, kBackground);
    drawPerson(img, p);
    return img;
}

// Bounding box of everything drawn above `yEnd`.
cv::Rect drawnAbove(const cv::Mat& img, int yEnd) {
    cv::Mat mask;
    cv::inRange(img, kBackground, kBackground, mask);
    cv::bitwise_not(mask, mask);
    mask.rowRange(yEnd, mask.rows).setTo(0);
    return cv::boundingRect(mask);
}

bool channelsEqual(const cv::Mat& img) {
    std::vector<cv::Mat> ch;
    cv::split(img, ch);
    return cv::countNonZero(ch[0] != ch[1]) == 0 && cv::countNonZero(ch[1] != ch[2]) == 0;
}

TEST(LabelBoxes, HugTheDrawnHeadForEveryHeadwearAndFacing) {
    const Headwear all[] = {Headwear::HardHat, Headwear::Hair, Headwear::Bald,  Headwear::Cap,
                            Headwear::Beanie,  Headwear::Hood, Headwear::SunHat};
    const Facing facings[] = {Facing::Front, Facing::Back, Facing::Left, Facing::Right};
    for (Headwear h : all) {
        for (Facing f : facings) {
            for (int style : {0, 1}) {
                Person p = plainPerson(h, f);
                p.hatStyle = style;
                const cv::Rect2f box = labelBox(p);
                // Above the neck only the head and its headwear are drawn.
                const cv::Rect drawn = drawnAbove(drawAlone(p), cvRound(p.head.y + 0.3f * p.headH));
                SCOPED_TRACE(testing::Message() << "headwear " << static_cast<int>(h) << " facing "
                                                << static_cast<int>(f) << " style " << style);
                // 4% of the head: anti-aliasing, line widths and a cap's button.
                EXPECT_NEAR(drawn.x, box.x, 4.0);
                EXPECT_NEAR(drawn.x + drawn.width - 1, box.x + box.width, 4.0);
                EXPECT_NEAR(drawn.y, box.y, 4.0);
            }
        }
    }
}

TEST(LabelBoxes, CarriedHardHatIsDrawnAtTheHipAndOnlyTheBareHeadIsLabelled) {
    for (Facing f : {Facing::Front, Facing::Back, Facing::Right}) {
        Person p = plainPerson(Headwear::Hair, f);
        p.carriesHardHat = true;
        p.carried = {0, 255, 0};
        const std::vector<Label> labels = sceneLabels({p}, {400, 1000});
        ASSERT_EQ(labels.size(), 1u);
        EXPECT_EQ(labels[0].cls, 1);
        const cv::Rect2f hat = carriedHatBox(p);
        EXPECT_GT(hat.y, p.head.y + 2.f * p.headH) << "the hat hangs at the hip";
        EXPECT_EQ((hat & labels[0].box).area(), 0.f);
        EXPECT_EQ((figureBox(p) & hat).area(), hat.area()) << "placement keeps other heads off the hat";

        cv::Mat green;
        cv::inRange(drawAlone(p), cv::Scalar(0, 120, 0), cv::Scalar(60, 255, 60), green);
        const cv::Rect hatPx(cvRound(hat.x), cvRound(hat.y), cvRound(hat.width), cvRound(hat.height));
        const int inHat = cv::countNonZero(green(hatPx));
        EXPECT_GT(inHat, 0.25 * hat.area()) << "facing " << static_cast<int>(f);
        EXPECT_EQ(cv::countNonZero(green), inHat) << "no hat pixels outside its box";
    }
}

TEST(Camera, InfraredIsOneChannelLowLightIsDarkAndMotionBlurDoesNotMoveThings) {
    cv::Mat img(120, 160, CV_8UC3);
    cv::randu(img, 0, 255);
    Camera ir;
    ir.kind = CameraKind::Infrared;
    ir.level = 0.5;
    ir.noise = 6.0;
    cv::Mat a = img.clone();
    applyCamera(a, ir, 1.0);
    EXPECT_TRUE(channelsEqual(a));

    Camera low;
    low.kind = CameraKind::LowLight;
    low.level = 0.3;
    low.noise = 5.0;
    cv::Mat b = img.clone();
    applyCamera(b, low, 1.0);
    EXPECT_LT(cv::mean(b)[1], 0.5 * cv::mean(img)[1]);
    EXPECT_FALSE(channelsEqual(b));

    for (double angle : {0.0, 37.0, 90.0, 150.0}) {
        cv::Mat dot = cv::Mat::zeros(101, 101, CV_8UC3);
        cv::rectangle(dot, cv::Rect(48, 48, 5, 5), cv::Scalar::all(255), cv::FILLED);
        Camera blur;
        blur.kind = CameraKind::MotionBlur;
        blur.length = 4.0;
        blur.angle = angle;
        applyCamera(dot, blur, 3.0);
        cv::Mat grey;
        cv::cvtColor(dot, grey, cv::COLOR_BGR2GRAY);
        const cv::Moments m = cv::moments(grey);
        EXPECT_NEAR(m.m10 / m.m00, 50.0, 0.6) << angle;
        EXPECT_NEAR(m.m01 / m.m00, 50.0, 0.6) << angle;
        EXPECT_GT(cv::countNonZero(grey), 2 * 25) << "smeared over more pixels";
    }
}

struct Tally {
    std::array<int, 4> camera{};
    int people = 0, backs = 0, sides = 0, hoods = 0, sunHats = 0, carried = 0;
    std::set<int> hardHatTones, softTones;
    std::set<ClutterKind> clutter;
};

TEST(WideVariety, HasEveryKindAtItsShareWithBoxesInsideAndGreyInfrared) {
    DatasetOptions opt;
    opt.seed = 21;
    opt.size = 160;
    opt.wide = true;
    Tally t;
    const int n = 300;
    for (int i = 0; i < n; ++i) {
        const Rendered r = renderDatasetItem(opt, i);
        ++t.camera[static_cast<int>(r.scene.camera.kind)];
        if (r.scene.camera.kind == CameraKind::Infrared) {
            EXPECT_TRUE(channelsEqual(r.image)) << "item " << i;
        }
        for (const auto& l : r.labels) {
            EXPECT_GE(l.box.x, 0.f);
            EXPECT_GE(l.box.y, 0.f);
            EXPECT_LE(l.box.x + l.box.width, r.scene.canvas.width);
            EXPECT_LE(l.box.y + l.box.height, r.scene.canvas.height);
        }
        for (const auto& p : r.scene.people) {
            ++t.people;
            t.backs += p.facing == Facing::Back;
            t.sides += p.facing == Facing::Left || p.facing == Facing::Right;
            t.hoods += p.headwear == Headwear::Hood;
            t.sunHats += p.headwear == Headwear::SunHat;
            t.carried += p.carriesHardHat;
            if (p.carriesHardHat) {
                EXPECT_TRUE(p.headwear == Headwear::Hair || p.headwear == Headwear::Bald);
            }
            if (p.hatTone >= 0) {
                (p.headwear == Headwear::HardHat ? t.hardHatTones : t.softTones).insert(p.hatTone);
            }
        }
        for (const auto& c : r.scene.clutter) {
            t.clutter.insert(c.kind);
        }
    }
    for (CameraKind k : {CameraKind::Infrared, CameraKind::LowLight, CameraKind::MotionBlur}) {
        const double share = t.camera[static_cast<int>(k)] / static_cast<double>(n);
        EXPECT_GT(share, 0.04) << static_cast<int>(k);
        EXPECT_LT(share, 0.17) << static_cast<int>(k);
    }
    ASSERT_GT(t.people, 300);
    EXPECT_GT(t.backs, 0.2 * t.people);
    EXPECT_GT(t.sides, 0.3 * t.people);
    EXPECT_GT(t.hoods, 0.04 * t.people);
    EXPECT_GT(t.sunHats, 0.04 * t.people);
    EXPECT_GT(t.carried, 0.02 * t.people);
    // Every hard-hat colour is also worn by bare heads: colour alone never decides.
    EXPECT_EQ(t.hardHatTones.size(), 6u);
    EXPECT_EQ(t.softTones.size(), 6u);
    for (ClutterKind k : {ClutterKind::Seats, ClutterKind::HangingVest, ClutterKind::PostLamp, ClutterKind::Cone}) {
        EXPECT_TRUE(t.clutter.count(k)) << static_cast<int>(k);
    }

    const Rendered again = renderDatasetItem(opt, 7), first = renderDatasetItem(opt, 7);
    EXPECT_EQ(cv::norm(again.image, first.image, cv::NORM_INF), 0.0) << "a seed gives the same image";
}

TEST(WhiteHair, IsDrawnOnlyOnWorkersWithoutHardHatsAndOnlyWhenAsked) {
    DatasetOptions usual;
    usual.seed = 9;
    usual.size = 96;
    usual.wide = true;
    DatasetOptions white = usual;
    white.whiteHair = 1.0;
    auto light = [](const cv::Scalar& c) { return std::min({c[0], c[1], c[2]}) >= 150.0; };
    int bare = 0, whiteBare = 0, hatted = 0, whiteHatted = 0, usualBare = 0, usualLight = 0;
    for (int i = 0; i < 40; ++i) {
        for (const auto& p : renderDatasetItem(white, i).scene.people) {
            const bool hardHat = p.headwear == Headwear::HardHat;
            (hardHat ? hatted : bare) += 1;
            (hardHat ? whiteHatted : whiteBare) += light(p.hair);
        }
        for (const auto& p : renderDatasetItem(usual, i).scene.people) {
            if (p.headwear != Headwear::HardHat) {
                ++usualBare;
                usualLight += light(p.hair);
            }
        }
    }
    ASSERT_GT(bare, 20);
    ASSERT_GT(hatted, 20);
    EXPECT_EQ(whiteBare, bare);
    EXPECT_LT(whiteHatted, hatted / 4) << "hard-hat wearers keep their hair colours";
    EXPECT_LT(usualLight, usualBare / 4) << "the usual scenes keep their hair colours";
}

TEST(StandardVariety, KeepsNoneOfTheWideKindsAndCameraEffectsKeepTheScenes) {
    DatasetOptions opt;
    opt.seed = 5;
    opt.size = 128;
    for (int i = 0; i < 150; ++i) {
        const Rendered r = renderDatasetItem(opt, i);
        EXPECT_EQ(r.scene.camera.kind, CameraKind::Normal);
        for (const auto& p : r.scene.people) {
            EXPECT_TRUE(p.headwear != Headwear::Hood && p.headwear != Headwear::SunHat && !p.carriesHardHat &&
                        p.hatTone < 0);
        }
        for (const auto& c : r.scene.clutter) {
            EXPECT_LE(static_cast<int>(c.kind), static_cast<int>(ClutterKind::Reel));
        }
    }
    // With the effects off the wide scenes are the same people, in a normal camera.
    DatasetOptions wide = opt, plainCamera = opt;
    wide.wide = plainCamera.wide = true;
    plainCamera.cameraEffects = false;
    int affected = 0;
    for (int i = 0; i < 60; ++i) {
        const Rendered a = renderDatasetItem(wide, i), b = renderDatasetItem(plainCamera, i);
        EXPECT_EQ(b.scene.camera.kind, CameraKind::Normal);
        affected += a.scene.camera.kind != CameraKind::Normal;
        ASSERT_EQ(a.labels.size(), b.labels.size());
        for (std::size_t k = 0; k < a.labels.size(); ++k) {
            EXPECT_EQ(a.labels[k].box, b.labels[k].box);
        }
        if (a.scene.camera.kind == CameraKind::Normal) {
            EXPECT_EQ(cv::norm(a.image, b.image, cv::NORM_INF), 0.0);
        }
    }
    EXPECT_GT(affected, 0);
}

TEST(FarScenes, ManySmallHeadsInRangeInsideTheFrame) {
    FarOptions opt;
    opt.seed = 3;
    std::vector<float> heights;
    for (int i = 0; i < 8; ++i) {
        const Rendered r = renderFarItem(opt, i);
        ASSERT_EQ(r.image.size(), cv::Size(1920, 1080));
        EXPECT_GE(r.labels.size(), 8u) << "item " << i;
        for (const auto& l : r.labels) {
            ASSERT_TRUE(cv::Rect2f(0, 0, 1920, 1080).contains(l.box.tl()));
            ASSERT_LE(l.box.x + l.box.width, 1920.f);
            ASSERT_LE(l.box.y + l.box.height, 1080.f);
            const bool clipped = l.box.x <= 0.f || l.box.y <= 0.f || l.box.x + l.box.width >= 1920.f;
            if (!clipped) {
                heights.push_back(l.box.height);
            }
        }
    }
    ASSERT_GT(heights.size(), 100u);
    const auto [lo, hi] = std::minmax_element(heights.begin(), heights.end());
    EXPECT_GE(*lo, 10.5f);
    EXPECT_LE(*hi, 44.f);
    const double small = std::count_if(heights.begin(), heights.end(), [](float h) { return h < 16.f; });
    const double large = std::count_if(heights.begin(), heights.end(), [](float h) { return h >= 28.f; });
    // Log-uniform: each end of the range holds a fair part.
    EXPECT_GT(small / heights.size(), 0.1);
    EXPECT_GT(large / heights.size(), 0.1);
}

TEST(Command, WritesWideDatasetAndFarFramesAndRejectsUnknownChoices) {
    ScratchFolder scratch;
    const fs::path ds = scratch.path() / "ds", far = scratch.path() / "far";
    ToolRun run =
        runTool({"dataset", "--out", ds.string(), "--count", "3", "--size", "64", "--variety", "wide"}, scratch.path());
    ASSERT_EQ(run.status, 0) << run.err;
    for (int i = 0; i < 3; ++i) {
        const std::string stem = "00000" + std::to_string(i);
        EXPECT_TRUE(fs::exists(ds / "images" / (stem + ".png")));
        EXPECT_TRUE(fs::exists(ds / "labels" / (stem + ".txt")));
    }
    run = runTool({"far", "--out", far.string(), "--count", "1"}, scratch.path());
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(cv::imread((far / "images" / "000000.jpg").string()).size(), cv::Size(1920, 1080));
    EXPECT_GT(fs::file_size(far / "labels" / "000000.txt"), 0u);

    for (const auto& bad : {std::vector<std::string>{"dataset", "--out", ds.string(), "--variety", "broad"},
                            std::vector<std::string>{"far", "--out", far.string(), "--camera", "dark"}}) {
        run = runTool(bad, scratch.path());
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(lines(run.err).size(), 1u) << run.err;
    }
}

TEST(Command, AnUnusableOutputPathIsOnePrefixedLineAndExitTwo) {
    ScratchFolder scratch;
    const fs::path file = scratch.path() / "file";
    writeFile(file, "x");
    const ToolRun run = runTool({"dataset", "--out", (file / "x").string(), "--count", "1"}, scratch.path());
    EXPECT_EQ(run.status, 2);
    ASSERT_EQ(lines(run.err).size(), 1u) << run.err;
    EXPECT_EQ(run.err.rfind("helmet-render: cannot create " + (file / "x").string(), 0), 0u) << run.err;
}

}  // namespace
}  // namespace zor::test
