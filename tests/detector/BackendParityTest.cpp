// Both engines and both pre-processing paths on real pictures: the staged
// video's frames and the labelled photo sample.
#include "DetectorTestSupport.h"
#include "HelmetEngine.h"
#include "Preprocess.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>

#include <iostream>

using namespace zor::test;
using namespace zor::hmd;

namespace {

std::vector<cv::Mat> videoFrames(size_t count, int step) {
    cv::VideoCapture video(paths::kStagedVideo);
    std::vector<cv::Mat> frames;
    cv::Mat frame;
    for (int index = 0; frames.size() < count && video.read(frame); ++index) {
        if (index % step == 0) {
            frames.push_back(frame.clone());
        }
    }
    return frames;
}

std::vector<cv::Mat> photos() {
    std::vector<cv::Mat> images;
    for (const auto& entry :
         fs::directory_iterator(fs::path(paths::kSource) / "tests" / "assets" / "hard-hat-sample" / "images")) {
        cv::Mat image = cv::imread(entry.path().string(), cv::IMREAD_COLOR);
        if (!image.empty()) {
            images.push_back(image);
        }
    }
    return images;
}

bool sameBits(const cv::Mat& a, const cv::Mat& b) {
    return a.size == b.size && a.type() == b.type() && std::memcmp(a.ptr(), b.ptr(), a.total() * a.elemSize()) == 0;
}

#ifdef HMD_WITH_ONEDNN
// Copies the shipped model with a backend named in its manifest.
void stageModel(const fs::path& folder, const std::string& backend) {
    fs::create_directories(folder);
    fs::copy_file(shippedModel() / "helmet.onnx", folder / "helmet.onnx");
    writeFile(folder / "model.yml", readFile(shippedModel() / "model.yml") + "backend: " + backend + "\n");
}

constexpr float kThreshold = 0.5f;
constexpr float kConfidenceTolerance = 1e-3f;
constexpr int kBoxTolerance = 1;

struct Parity {
    int frames = 0;
    int detections = 0;
    int unmatched = 0;
    float confidence = 0.0f;  // largest difference seen
    int box = 0;
};

bool close(const Detection& a, const Detection& b, Parity& parity) {
    const int box = std::max({std::abs(a.box.x - b.box.x), std::abs(a.box.y - b.box.y),
                              std::abs(a.box.br().x - b.box.br().x), std::abs(a.box.br().y - b.box.br().y)});
    const float confidence = std::abs(a.confidence - b.confidence);
    if (a.classId != b.classId || box > kBoxTolerance || confidence > kConfidenceTolerance) {
        return false;
    }
    parity.box = std::max(parity.box, box);
    parity.confidence = std::max(parity.confidence, confidence);
    return true;
}

// Every detection of one engine has its twin in the other's; detections
// scoring within the tolerance of the threshold may be on one side only.
void compareEngines(const std::vector<cv::Mat>& frames, const char* what) {
    ScratchFolder scratch;
    stageModel(scratch.path() / "opencv", "opencv");
    stageModel(scratch.path() / "onednn", "onednn");
    HelmetEngine opencv, onednn;
    std::string error;
    ASSERT_TRUE(opencv.load(scratch.path() / "opencv", kThreshold, error)) << error;
    ASSERT_TRUE(onednn.load(scratch.path() / "onednn", kThreshold, error)) << error;
    ASSERT_EQ(opencv.configuration().computeTarget, "opencv-cpu");
    ASSERT_EQ(onednn.configuration().computeTarget, "onednn-cpu");
    Parity parity;
    for (const cv::Mat& frame : frames) {
        const auto expected = opencv.detect(frame);
        auto actual = onednn.detect(frame);
        ++parity.frames;
        for (const Detection& wanted : expected) {
            ++parity.detections;
            const auto twin = std::find_if(actual.begin(), actual.end(),
                                           [&](const Detection& got) { return close(wanted, got, parity); });
            if (twin != actual.end()) {
                actual.erase(twin);
            } else if (wanted.confidence > kThreshold + kConfidenceTolerance) {
                ++parity.unmatched;
            }
        }
        for (const Detection& extra : actual) {
            parity.unmatched += extra.confidence > kThreshold + kConfidenceTolerance ? 1 : 0;
        }
    }
    std::cout << what << ": " << parity.frames << " frames, " << parity.detections
              << " detections, largest confidence difference " << parity.confidence << ", largest box difference "
              << parity.box << " px" << std::endl;
    EXPECT_GT(parity.detections, 0);
    EXPECT_EQ(parity.unmatched, 0);
}
#endif

}  // namespace

#ifdef HMD_WITH_ONEDNN
TEST(BackendParity, VideoFramesDetectTheSameOnBothEngines) {
    const auto frames = videoFrames(24, 10);
    ASSERT_EQ(frames.size(), 24u);
    compareEngines(frames, "video");
}

TEST(BackendParity, PhotosDetectTheSameOnBothEngines) {
    const auto images = photos();
    ASSERT_GT(images.size(), 50u);
    compareEngines(images, "photos");
}
#endif

TEST(OnePassBlob, EqualsTheStepwiseBlobOnVideoFrames) {
    const cv::Size input(320, 192);
    for (const cv::Mat& frame : videoFrames(12, 20)) {
        const Letterbox letterbox = Letterbox::fit(frame.size(), input);
        ASSERT_TRUE(hasOnePassBlob(letterbox));
        EXPECT_TRUE(
            sameBits(makeInputBlob(frame, letterbox, input, 114), makeInputBlobInSteps(frame, letterbox, input, 114)));
    }
}

// Shrinking by more than half (the fractional weights too), enlarging, odd sizes and other input sizes;
// the sizes the one pass does not cover take the stepwise path.
TEST(OnePassBlob, EqualsTheStepwiseBlobOnNoiseOfManySizes) {
    cv::RNG random(5);
    int onePass = 0;
    for (const cv::Size input : {cv::Size(320, 192), cv::Size(416, 256), cv::Size(480, 288)}) {
        // One blob reused across letterboxes: no stale pixel may survive.
        cv::Mat reused;
        for (const cv::Size frameSize :
             {cv::Size(1920, 1080), cv::Size(3840, 2160), cv::Size(1001, 777), cv::Size(1280, 720), cv::Size(200, 97),
              cv::Size(64, 40), cv::Size(333, 500), cv::Size(480, 288)}) {
            SCOPED_TRACE(std::to_string(frameSize.width) + "x" + std::to_string(frameSize.height) + " into " +
                         std::to_string(input.width) + "x" + std::to_string(input.height));
            cv::Mat frame(frameSize, CV_8UC3);
            random.fill(frame, cv::RNG::UNIFORM, 0, 256);
            const Letterbox letterbox = Letterbox::fit(frameSize, input);
            onePass += hasOnePassBlob(letterbox) ? 1 : 0;
            makeInputBlob(frame, letterbox, input, 114, reused);
            EXPECT_TRUE(sameBits(reused, makeInputBlobInSteps(frame, letterbox, input, 114)));
        }
    }
    EXPECT_GE(onePass, 15);
}
