// Reading ground truth: class maps, YOLO label files (boxes and polygons),
// the renderer's video labels and the exclusion list.
#include "EvalCore.h"
#include "ScratchFolder.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

using zor::eval::ClassMap;
using zor::tools::UserError;

const ClassMap kDefault{{0, "helmet"}, {1, "head"}};

std::vector<zor::eval::LabelledBox> yolo(const std::string& text, cv::Size size = {200, 100},
                                         const ClassMap& classes = kDefault) {
    std::istringstream in(text);
    return zor::eval::parseYoloLabels(in, size, classes, "a.txt");
}

zor::eval::FrameLabels rendered(const std::string& text, const ClassMap& classes = kDefault) {
    std::istringstream in(text);
    return zor::eval::parseRendererLabels(in, classes, "gt.txt");
}

void expectBox(const cv::Rect2d& actual, const cv::Rect2d& expected) {
    EXPECT_NEAR(actual.x, expected.x, 1e-9);
    EXPECT_NEAR(actual.y, expected.y, 1e-9);
    EXPECT_NEAR(actual.width, expected.width, 1e-9);
    EXPECT_NEAR(actual.height, expected.height, 1e-9);
}

TEST(HelmetEvalClassMap, ParsesAndRejects) {
    EXPECT_EQ(zor::eval::parseClassMap("1:helmet, 0 : head"), (ClassMap{{1, "helmet"}, {0, "head"}}));
    EXPECT_EQ(zor::eval::parseClassMap("3:helmet,4:helmet"), (ClassMap{{3, "helmet"}, {4, "helmet"}}));
    for (const char* bad : {"", "0helmet", "-1:helmet", "0:", "x:helmet", "0:helmet,", "0:a,0:b", "1.5:a"}) {
        EXPECT_THROW(zor::eval::parseClassMap(bad), zor::tools::UserError) << bad;
    }
    EXPECT_EQ(zor::eval::parseLabelMap("helmet, head"), (std::vector<std::string>{"helmet", "head"}));
    EXPECT_NO_THROW(zor::eval::checkClassMap({{5, "head"}}, {"helmet", "head"}));
    EXPECT_THROW(zor::eval::checkClassMap({{0, "person"}}, {"helmet", "head"}), zor::tools::UserError);
}

TEST(HelmetEvalYoloLabels, BoxesAndPolygonsInPixels) {
    // Image 200 x 100: centre (0.5, 0.5), size (0.1, 0.2) -> (90, 40, 20, 20).
    const auto boxes = yolo("0 0.5 0.5 0.1 0.2\r\n\n  1 0.1 0.2 0.3 0.2 0.2 0.6 0.15 0.4\n");
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].className, "helmet");
    expectBox(boxes[0].box, {90, 40, 20, 20});
    // Polygon (0.1,0.2) (0.3,0.2) (0.2,0.6) (0.15,0.4): x 0.1..0.3, y 0.2..0.6.
    EXPECT_EQ(boxes[1].className, "head");
    expectBox(boxes[1].box, {20, 20, 40, 40});
}

TEST(HelmetEvalYoloLabels, ClassesOutsideTheMapAreLeftOut) {
    const auto boxes = yolo("2 0.5 0.5 0.1 0.1\n1 0.5 0.5 0.1 0.1\n0 0.5 0.5 0.1 0.1\n", {100, 100},
                            zor::eval::parseClassMap("1:helmet"));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].className, "helmet");
}

TEST(HelmetEvalYoloLabels, MalformedLinesNameFileAndLine) {
    for (const char* bad :
         {"0 0.5 0.5 0.1", "0 0.5 0.5 0.1 0.1 0.9", "0 0.1 0.1 0.2 0.2 0.3 0.3 0.4", "helmet 0.5 0.5 0.1 0.1",
          "0 0.5 0.5 -0.1 0.1", "0 0.5 nan 0.1 0.1", "-1 0.5 0.5 0.1 0.1",
          // values outside the image, which would move AP silently
          "1 5 5 0.1 0.1", "0 0.5 0.5 0 0.1", "0 0.05 0.5 0.2 0.2", "0 0.5 0.5 0.1 1.2", "0 0.1 0.1 0.2 1.2 0.3 0.3",
          // a polygon without area, which no detection can match (found by fuzz.labels)
          "0 0.1 0 0.1 0 0.1 0.0"}) {
        try {
            yolo(std::string("0 0.5 0.5 0.1 0.1\n") + bad + "\n");
            ADD_FAILURE() << "accepted: " << bad;
        } catch (const zor::tools::UserError& error) {
            EXPECT_NE(std::string(error.what()).find("a.txt:2:"), std::string::npos) << error.what();
        }
    }
}

TEST(HelmetEvalYoloLabels, RoundingAtTheEdgesIsAccepted) {
    const auto boxes = yolo("0 0.5 0.5 1.0005 0.2\n0 0 0 1 0 1 1.0004\n");
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_NEAR(boxes[0].box.width, 200.1, 1e-9);
}

TEST(HelmetEvalYoloLabels, MissingFileIsAnImageWithoutObjects) {
    zor::test::ScratchFolder scratch;
    EXPECT_TRUE(zor::eval::readYoloLabels(scratch.path() / "none.txt", {64, 64}, kDefault).empty());
    zor::test::writeFile(scratch.path() / "one.txt", "1 0.5 0.5 0.5 0.5\n");
    const auto boxes = zor::eval::readYoloLabels(scratch.path() / "one.txt", {64, 32}, kDefault);
    ASSERT_EQ(boxes.size(), 1u);
    expectBox(boxes[0].box, {16, 8, 32, 16});
}

TEST(HelmetEvalRendererLabels, FramesCommentsAndClasses) {
    const auto frames = rendered(
        "# frame class cx cy w h\n0 0 100 50 20 10\n0 1 10 10 4 4\n7 0 5 5 2 2\n"
        "7 3 5 5 2 2\n",
        zor::eval::parseClassMap("0:helmet,1:head"));
    ASSERT_EQ(frames.size(), 2u);
    ASSERT_EQ(frames.at(0).size(), 2u);
    expectBox(frames.at(0)[0].box, {90, 45, 20, 10});
    EXPECT_EQ(frames.at(0)[1].className, "head");
    ASSERT_EQ(frames.at(7).size(), 1u) << "class 3 is not in the map";
    for (const char* bad : {"0 0 100 50 20", "x 0 1 1 1 1", "-1 0 1 1 1 1", "0 0 1 1 -1 1", "0 0 1 1 1 1 1"}) {
        EXPECT_THROW(rendered(bad), zor::tools::UserError) << bad;
    }
    EXPECT_THROW(zor::eval::readRendererLabels("/nonexistent/gt.txt", kDefault), zor::tools::UserError);
    // Against a 200 x 100 frame: a pixel of rounding passes, more does not.
    std::istringstream edges("0 0 100.5 50 201 10\n");
    EXPECT_EQ(zor::eval::parseRendererLabels(edges, kDefault, "gt.txt", cv::Size(200, 100)).size(), 1u);
    for (const char* bad : {"0 0 195 50 20 10", "3 0 100 98 10 10", "0 0 100 50 0 10"}) {
        std::istringstream in(std::string("0 0 100 50 20 10\n") + bad + "\n");
        try {
            zor::eval::parseRendererLabels(in, kDefault, "gt.txt", cv::Size(200, 100));
            ADD_FAILURE() << "accepted: " << bad;
        } catch (const zor::tools::UserError& error) {
            EXPECT_NE(std::string(error.what()).find("gt.txt:2:"), std::string::npos) << error.what();
        }
    }
}

TEST(HelmetEvalExcludeList, MatchesByFileName) {
    std::istringstream in("test/images/005307_jpg.rf.39a2.jpg\r\n\n# comment\nvalid\\images\\b.png\n  c.png  \n");
    const zor::eval::ExcludeList list = zor::eval::ExcludeList::parse(in);
    EXPECT_EQ(list.size(), 3u);
    EXPECT_TRUE(list.excludes("/data/hh/images/005307_jpg.rf.39a2.jpg"));
    EXPECT_TRUE(list.excludes("b.png"));
    EXPECT_TRUE(list.excludes("other/c.png"));
    EXPECT_FALSE(list.excludes("images/005307_jpg.rf.39a2.png"));
    EXPECT_FALSE(list.excludes("test"));
    EXPECT_THROW(zor::eval::ExcludeList::read("/nonexistent/list.txt"), zor::tools::UserError);
}

}  // namespace
