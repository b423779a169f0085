// What the platform sees from one video frame to the next at its operating
// threshold: every detection that vanishes and comes back raises and clears
// an alarm, and a box that jumps about moves it. Read from the video run that
// the accuracy test scores, against the renderer's ground truth.
#include "CertificationSupport.h"
#include "EvalCore.h"
#include "Statistics.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <iostream>
#include <optional>
#include <tuple>

namespace zor::cert {
namespace {

// The ground truth carries no identities: one object's boxes in consecutive
// frames overlap by far more than this, two objects' boxes do not.
constexpr double kSameObjectIou = 0.3;
constexpr double kMatchIou = 0.5;
// A longer gap is a missed object, the accuracy test's concern.
constexpr int kMostFramesMissing = 3;

// One ground-truth object through consecutive frames, with the detection
// matched to it in each (none where it was missed).
struct Track {
    std::string className;
    std::vector<cv::Rect2d> truths;
    std::vector<std::optional<cv::Rect2d>> found;
};

struct Tracks {
    std::vector<Track> all;
    std::size_t framesRun = 0;
};

// The video's ground-truth objects followed from frame to frame, each matched
// to the detections at the operating threshold. Fails the test (and returns
// nothing) when the run or the ground truth cannot be used.
std::optional<Tracks> trackedObjects() {
    const VideoRun& video = videoRun();
    EXPECT_TRUE(video.opened) << "cannot open the video " << options().video;
    EXPECT_TRUE(video.loaded) << "Initialize refused the model";
    if (!video.loaded || video.frames.empty()) {
        ADD_FAILURE() << "no frame was run";
        return std::nullopt;
    }
    zor::eval::FrameLabels truths;
    try {
        truths = zor::eval::readRendererLabels(options().videoLabels, zor::eval::parseClassMap("0:helmet,1:head"),
                                               video.frames.front().size);
    } catch (const std::exception& problem) {
        ADD_FAILURE() << problem.what();
        return std::nullopt;
    }
    for (const std::string name : {"helmet", "head"}) {
        if (std::find(video.labels.begin(), video.labels.end(), name) == video.labels.end()) {
            ADD_FAILURE() << "the label map has no class '" << name << "' of the video's ground truth";
            return std::nullopt;
        }
    }
    Tracks tracks;
    tracks.framesRun = video.frames.size();
    std::vector<std::size_t> open;  // tracks that reached the previous frame
    for (std::size_t frame = 0; frame < video.frames.size(); ++frame) {
        const auto labelled = truths.find(static_cast<long>(frame));
        const std::vector<zor::eval::LabelledBox> none;
        const std::vector<zor::eval::LabelledBox>& objects = labelled == truths.end() ? none : labelled->second;
        // Greedy by overlap, one object per track.
        std::vector<std::tuple<double, std::size_t, std::size_t>> pairs;
        for (std::size_t t = 0; t < open.size(); ++t) {
            const Track& track = tracks.all[open[t]];
            for (std::size_t o = 0; o < objects.size(); ++o) {
                const double overlap = zor::eval::iou(track.truths.back(), objects[o].box);
                if (objects[o].className == track.className && overlap >= kSameObjectIou) {
                    pairs.emplace_back(overlap, t, o);
                }
            }
        }
        std::sort(pairs.begin(), pairs.end(),
                  [](const auto& a, const auto& b) { return std::get<0>(a) > std::get<0>(b); });
        constexpr std::size_t kNew = static_cast<std::size_t>(-1);
        std::vector<std::size_t> trackOf(objects.size(), kNew);
        std::vector<bool> continued(open.size(), false);
        for (const auto& [overlap, t, o] : pairs) {
            if (!continued[t] && trackOf[o] == kNew) {
                continued[t] = true;
                trackOf[o] = open[t];
            }
        }
        open.clear();
        for (std::size_t o = 0; o < objects.size(); ++o) {
            if (trackOf[o] == kNew) {
                trackOf[o] = tracks.all.size();
                tracks.all.push_back({objects[o].className, {}, {}});
            }
            tracks.all[trackOf[o]].truths.push_back(objects[o].box);
            tracks.all[trackOf[o]].found.emplace_back();
            open.push_back(trackOf[o]);
        }
        // What the platform sees, matched per class as the scoring does.
        for (const std::string className : {"helmet", "head"}) {
            std::vector<zor::eval::PredictedBox> detections;
            for (const CustomObject& object : video.frames[frame].objects) {
                const bool indexed =
                    object.classId >= 0 && static_cast<std::size_t>(object.classId) < video.labels.size();
                if (indexed && video.labels[static_cast<std::size_t>(object.classId)] == className &&
                    object.confidence >= kOperatingThreshold) {
                    detections.push_back({className, object.confidence, cv::Rect2d(object.box)});
                }
            }
            std::vector<std::size_t> classObjects;
            std::vector<cv::Rect2d> classBoxes;
            for (std::size_t o = 0; o < objects.size(); ++o) {
                if (objects[o].className == className) {
                    classObjects.push_back(o);
                    classBoxes.push_back(objects[o].box);
                }
            }
            const std::vector<int> matched = zor::eval::matchDetections(detections, classBoxes, kMatchIou);
            for (std::size_t d = 0; d < detections.size(); ++d) {
                if (matched[d] >= 0) {
                    tracks.all[trackOf[classObjects[static_cast<std::size_t>(matched[d])]]].found.back() =
                        detections[d].box;
                }
            }
        }
    }
    return tracks;
}

#define TRACKED_OBJECTS(tracks)                                                                             \
    SKIP_WITHOUT_MODEL();                                                                                   \
    if (!videoRun().available) {                                                                            \
        GTEST_SKIP() << videoRun().missing;                                                                 \
    }                                                                                                       \
    if (std::error_code error;                                                                              \
        options().videoLabels.empty() || !std::filesystem::is_regular_file(options().videoLabels, error)) { \
        GTEST_SKIP() << "Ground truth of the video not found at: " << options().videoLabels;                \
    }                                                                                                       \
    const std::optional<Tracks> tracks = trackedObjects();                                                  \
    if (!(tracks)) {                                                                                        \
        return;                                                                                             \
    }

TEST(CertifiedStability, FewTrackedObjectsDropOutAndReturnWithinAFewFrames) {
    TRACKED_OBJECTS(tracks);
    int tracked = 0;
    int flickering = 0;
    int dropouts = 0;
    long foundFrames = 0;
    for (const Track& track : tracks->all) {
        if (track.truths.size() < 2) {
            continue;  // nothing to follow
        }
        ++tracked;
        int trackDropouts = 0;
        std::optional<std::size_t> lastFound;
        for (std::size_t i = 0; i < track.found.size(); ++i) {
            if (!track.found[i]) {
                continue;
            }
            ++foundFrames;
            if (lastFound && i - *lastFound > 1 && i - *lastFound - 1 <= static_cast<std::size_t>(kMostFramesMissing)) {
                ++trackDropouts;
            }
            lastFound = i;
        }
        dropouts += trackDropouts;
        flickering += trackDropouts > 0 ? 1 : 0;
    }
    ASSERT_GT(tracked, 0) << "no object of the ground truth spans two frames";
    ASSERT_GT(foundFrames, 0) << "no detection at " << kOperatingThreshold
                              << " matches the video's ground truth: there is nothing to follow";
    const double share = static_cast<double>(flickering) / tracked;
    const double ceiling = options().stability.dropoutShare;
    ::testing::Test::RecordProperty("tracked_objects", tracked);
    ::testing::Test::RecordProperty("dropout_share", std::to_string(share));
    std::cout << "[certification] stability, " << tracks->framesRun << " video frames: " << flickering << " of "
              << tracked << " tracked objects drop out for 1 to " << kMostFramesMissing << " frames and return ("
              << dropouts << " times), share " << share << " (ceiling " << ceiling << ")" << std::endl;
    EXPECT_LE(share, ceiling) << flickering << " of " << tracked << " tracked objects vanish at " << kOperatingThreshold
                              << " for up to " << kMostFramesMissing
                              << " frames and return: each time an alarm is cleared and raised again";
}

// The change of the box's offset from the ground truth, so that the object's
// own motion does not count: the mean over the four edges, relative to the
// object's height.
TEST(CertifiedStability, BoxesHoldStillOnTheObjectFromFrameToFrame) {
    TRACKED_OBJECTS(tracks);
    std::vector<double> changes;
    for (const Track& track : tracks->all) {
        for (std::size_t i = 1; i < track.found.size(); ++i) {
            if (!track.found[i] || !track.found[i - 1]) {
                continue;
            }
            const auto edges = [](const cv::Rect2d& box, const cv::Rect2d& truth) {
                return cv::Vec4d(box.x - truth.x, box.y - truth.y, box.br().x - truth.br().x,
                                 box.br().y - truth.br().y);
            };
            const cv::Vec4d change =
                edges(*track.found[i], track.truths[i]) - edges(*track.found[i - 1], track.truths[i - 1]);
            const double mean =
                (std::abs(change[0]) + std::abs(change[1]) + std::abs(change[2]) + std::abs(change[3])) / 4.0;
            changes.push_back(mean / track.truths[i].height);
        }
    }
    ::testing::Test::RecordProperty("matched_pairs", static_cast<int>(changes.size()));
    ASSERT_FALSE(changes.empty()) << "no object is detected at " << kOperatingThreshold
                                  << " in two consecutive frames: there is no box to follow";
    const double median = tools::percentile(changes, 50.0);
    const double ceiling = options().stability.jitterShare;
    ::testing::Test::RecordProperty("jitter_share", std::to_string(median));
    std::cout << "[certification] stability, " << changes.size()
              << " detections matched in consecutive frames: the boxes' offsets move by a median " << median
              << " of the object's height per frame, p90 " << tools::percentile(changes, 90.0) << " (ceiling "
              << ceiling << ")" << std::endl;
    EXPECT_LE(median, ceiling) << "boxes jump by a median " << median
                               << " of the object's height from one frame to the next, beyond its motion";
}

}  // namespace
}  // namespace zor::cert
