// helmet-detect's parts on their own: the JSON Lines records and the choice
// of contact-sheet frames.
#include "ToolProcess.h"

#include "Annotate.h"
#include "JsonlWriter.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

using zor::test::Json;
using zor::test::JsonReader;

CustomObject object(int classId, std::string name, float confidence, cv::Rect box) {
    CustomObject result;
    result.classId = classId;
    result.className = std::move(name);
    result.confidence = confidence;
    result.box = box;
    return result;
}

bool sameBits(float a, float b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// Awkward names and values come back exactly through a strict JSON reader.
TEST(HelmetDetectRecord, ReadsBackExactly) {
    const std::vector<CustomObject> objects{
        object(0, "helmet", 0.87f, {10, 20, 30, 40}),
        object(7, "say \"hi\"\\ \n\t\x01 caf\xc3\xa9", 0.1f, {-5, -6, 1, 2}),
        object(-1, "", 1.0f / 3.0f, {0, 0, 0, 0}),
        object(1, "tiny", 1e-7f, {2147483000, 0, 1, 1}),
    };
    const zor::detect::FrameRecord record{123456, 1.0 / 3.0, std::string("odd \"name\".png")};
    const std::string line = zor::detect::formatRecord(record, objects);
    EXPECT_EQ(line.find('\n'), std::string::npos) << "one record per line";

    const Json json = JsonReader::parse(line);
    EXPECT_EQ(json["frame"].asLong(), 123456);
    EXPECT_EQ(json["time"].asDouble(), 1.0 / 3.0);
    EXPECT_EQ(json["image"].text, "odd \"name\".png");
    const std::vector<Json>& detections = json["detections"].items;
    ASSERT_EQ(detections.size(), objects.size());
    for (std::size_t i = 0; i < objects.size(); ++i) {
        SCOPED_TRACE(i);
        const Json& detection = detections[i];
        EXPECT_EQ(detection["class"].text, objects[i].className);
        EXPECT_EQ(detection["classId"].asLong(), objects[i].classId);
        EXPECT_TRUE(sameBits(detection["confidence"].asFloat(), objects[i].confidence)) << detection["confidence"].text;
        const std::vector<Json>& box = detection["box"].items;
        ASSERT_EQ(box.size(), 4u);
        EXPECT_EQ(box[0].asLong(), objects[i].box.x);
        EXPECT_EQ(box[1].asLong(), objects[i].box.y);
        EXPECT_EQ(box[2].asLong(), objects[i].box.width);
        EXPECT_EQ(box[3].asLong(), objects[i].box.height);
    }
}

TEST(HelmetDetectRecord, StaysValidJsonForEdgeValues) {
    const std::vector<CustomObject> objects{
        object(0, "helmet", std::numeric_limits<float>::quiet_NaN(), {1, 2, 3, 4}),
        object(0, "helmet", std::numeric_limits<float>::infinity(), {1, 2, 3, 4}),
    };
    const Json withBadNumbers = JsonReader::parse(zor::detect::formatRecord({0, 0.0, std::nullopt}, objects));
    EXPECT_FALSE(withBadNumbers.has("image")) << "video records carry no image name";
    EXPECT_EQ(withBadNumbers["detections"].items.at(0)["confidence"].kind, Json::Kind::Null);
    EXPECT_EQ(withBadNumbers["detections"].items.at(1)["confidence"].kind, Json::Kind::Null);

    const Json empty = JsonReader::parse(zor::detect::formatRecord({5, 0.2, std::nullopt}, {}));
    EXPECT_EQ(empty["detections"].kind, Json::Kind::Array);
    EXPECT_TRUE(empty["detections"].items.empty());
}

// Whatever the length of the run, and whether or not it was announced
// correctly, the sheet shows the first and the last frame and roughly evenly
// spaced ones between them.
TEST(HelmetDetectContactSheet, SpreadsTilesOverTheWholeRun) {
    constexpr std::size_t kTiles = 12;
    const cv::Mat frame(30, 40, CV_8UC3, cv::Scalar(90, 90, 90));
    for (const long length : {1L, 3L, 12L, 13L, 49L, 50L, 97L, 1000L, 4099L}) {
        for (const long announced : {0L, length / 2, 2 * length}) {
            SCOPED_TRACE("length " + std::to_string(length) + ", announced " + std::to_string(announced));
            zor::detect::ContactSheet sheet(kTiles, 32);
            sheet.expectFrames(announced);
            for (long i = 0; i < length; ++i) {
                sheet.add(i, frame, {}, "frame " + std::to_string(i));
            }
            const std::vector<long> chosen = sheet.chosenFrames();
            ASSERT_EQ(chosen.size(), std::min<std::size_t>(kTiles, static_cast<std::size_t>(length)));
            EXPECT_EQ(chosen.front(), 0);
            EXPECT_EQ(chosen.back(), length - 1);
            const double even = static_cast<double>(length - 1) / static_cast<double>(kTiles - 1);
            for (std::size_t i = 1; i < chosen.size(); ++i) {
                const long gap = chosen[i] - chosen[i - 1];
                EXPECT_GT(gap, 0) << "frames increase";
                if (static_cast<std::size_t>(length) > kTiles) {
                    // Within half the even spacing, plus one frame for rounding.
                    EXPECT_LE(std::abs(static_cast<double>(gap) - even), 0.5 * even + 1.0)
                        << "between " << chosen[i - 1] << " and " << chosen[i];
                }
            }
            const cv::Mat rendered = sheet.render("title");
            ASSERT_FALSE(rendered.empty());
            EXPECT_GE(rendered.total(), chosen.size() * 32 * 24) << "room for every tile";
        }
    }
}

// A correctly announced run gets exactly even spacing (up to one frame).
TEST(HelmetDetectContactSheet, AnnouncedRunIsSpacedExactly) {
    const cv::Mat frame(30, 40, CV_8UC3, cv::Scalar(90, 90, 90));
    for (const long length : {100L, 1000L, 4099L}) {
        SCOPED_TRACE(length);
        zor::detect::ContactSheet sheet(12, 32);
        sheet.expectFrames(length);
        for (long i = 0; i < length; ++i) {
            sheet.add(i, frame, {}, "");
        }
        const std::vector<long> chosen = sheet.chosenFrames();
        ASSERT_EQ(chosen.size(), 12u);
        std::vector<long> gaps;
        for (std::size_t i = 1; i < chosen.size(); ++i) {
            gaps.push_back(chosen[i] - chosen[i - 1]);
        }
        EXPECT_LE(*std::max_element(gaps.begin(), gaps.end()) - *std::min_element(gaps.begin(), gaps.end()), 1);
    }
}

}  // namespace
