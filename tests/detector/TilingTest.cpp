// Tiling of frames much larger than the network input.
#include "DetectorTestSupport.h"
#include "Tiling.h"

#include <opencv2/imgcodecs.hpp>

using namespace zor::test;
using zor::hmd::keptFromTile;
using zor::hmd::tileViews;

namespace {

const cv::Size kInput(480, 288);
const cv::Size kFullHd(1920, 1080);

TEST(TileViews, OnlyTheWholeFrameWhenTilingIsOffOrTheFrameIsSmall) {
    EXPECT_EQ(tileViews(kFullHd, kInput, 1).size(), 1u);
    EXPECT_EQ(tileViews(cv::Size(900, 540), kInput, 3).size(), 1u);  // shrunk by less than half
}

TEST(TileViews, GridOfOverlappingTilesCoversTheFrame) {
    for (int tiles = 2; tiles <= 4; ++tiles) {
        const std::vector<cv::Rect> views = tileViews(kFullHd, kInput, tiles);
        ASSERT_EQ(views.size(), static_cast<size_t>(tiles * tiles + 1));
        EXPECT_EQ(views[0], cv::Rect(cv::Point(), kFullHd));
        cv::Mat covered(kFullHd, CV_8U, cv::Scalar(0));
        for (size_t i = 1; i < views.size(); ++i) {
            EXPECT_EQ(views[i] & cv::Rect(cv::Point(), kFullHd), views[i]) << "tile " << i << " leaves the frame";
            covered(views[i]) += 1;
        }
        EXPECT_EQ(cv::countNonZero(covered == 0), 0) << tiles << "x" << tiles << " leaves gaps";
        // Neighbours overlap by more than a far head is tall (12 to 40 px in 1080p).
        EXPECT_GE((views[1] & views[2]).width, 48) << tiles;
        EXPECT_GE((views[1] & views[1 + tiles]).height, 48) << tiles;
    }
}

TEST(KeptFromTile, OnlySmallBoxesAwayFromInnerTileEdges) {
    const cv::Rect topLeftTile(0, 0, 1000, 600);
    const double wholeFrameScale = 0.25;  // 1080p into 480x288
    EXPECT_TRUE(keptFromTile(cv::Rect(500, 300, 20, 30), topLeftTile, kFullHd, wholeFrameScale));
    EXPECT_TRUE(keptFromTile(cv::Rect(0, 0, 20, 30), topLeftTile, kFullHd, wholeFrameScale));  // the frame's corner
    EXPECT_FALSE(keptFromTile(cv::Rect(980, 100, 20, 30), topLeftTile, kFullHd, wholeFrameScale));  // cut on the right
    EXPECT_FALSE(keptFromTile(cv::Rect(100, 580, 20, 20), topLeftTile, kFullHd, wholeFrameScale));  // cut below
    EXPECT_FALSE(keptFromTile(cv::Rect(500, 300, 60, 80), topLeftTile, kFullHd, wholeFrameScale));  // the whole frame's
}

// The shipped model with tiling on, on the rendered far-scene frames.
TEST(TiledDetector, FindsAtLeastWhatTheWholeFrameFindsWithoutDuplicates) {
    ScratchFolder folder;
    fs::copy(shippedModel(), folder.path() / "tiled");
    writeFile(folder.path() / "tiled" / "model.yml", readFile(shippedModel() / "model.yml") + "tiles: 2\n");
    ZORCustomHMD whole;
    ZORCustomHMD tiled;
    std::string labelMap;
    ASSERT_TRUE(whole.Initialize(shippedModel().string(), 0.6f, labelMap));
    ASSERT_TRUE(tiled.Initialize((folder.path() / "tiled").string(), 0.6f, labelMap));
    size_t wholeCount = 0;
    size_t tiledCount = 0;
    for (const auto& entry :
         fs::directory_iterator(fs::path(paths::kSource) / "tests" / "assets" / "far-sample" / "images")) {
        const cv::Mat frame = cv::imread(entry.path().string());
        ASSERT_FALSE(frame.empty()) << entry.path();
        const std::vector<CustomObject> found = tiled.RunInference(frame, "far");
        wholeCount += whole.RunInference(frame, "far").size();
        tiledCount += found.size();
        for (size_t i = 0; i < found.size(); ++i) {
            EXPECT_EQ(found[i].box & cv::Rect(cv::Point(), frame.size()), found[i].box);
            for (size_t j = i + 1; j < found.size(); ++j) {
                const double overlap = (found[i].box & found[j].box).area();
                const double iou = overlap / (found[i].box.area() + found[j].box.area() - overlap);
                EXPECT_FALSE(found[i].classId == found[j].classId && iou > 0.45)
                    << entry.path() << ": boxes " << i << " and " << j << " are one object twice";
            }
        }
    }
    EXPECT_GT(tiledCount, wholeCount);
    std::cout << "far sample: " << wholeCount << " boxes whole, " << tiledCount << " tiled\n";
    whole.Destroy();
    tiled.Destroy();
}

}  // namespace
