// The whole detector through the plugin interface, on models whose raw output
// is known, so every detection can be predicted exactly.
#include "DetectorTestSupport.h"

#include <opencv2/imgproc.hpp>

#include <thread>

using namespace zor::test;

namespace {

struct Expected {
    int classId;
    const char* className;
    float confidence;
    cv::Rect box;
};

void expectDetections(const std::vector<CustomObject>& actual, const std::vector<Expected>& expected,
                      const std::string& cameraId = "") {
    ASSERT_EQ(actual.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE("detection " + std::to_string(i));
        EXPECT_EQ(actual[i].classId, expected[i].classId);
        EXPECT_EQ(actual[i].className, expected[i].className);
        EXPECT_NEAR(actual[i].confidence, expected[i].confidence, 1e-5);
        EXPECT_EQ(actual[i].box, expected[i].box);
        EXPECT_EQ(actual[i].tagText, cameraId);
    }
}

class KnownModel : public testing::Test {
protected:
    void load(const std::string& name, float minConfidence = 0.6f) {
        ASSERT_TRUE(detector.Initialize(testModel(name).string(), minConfidence, labelMap));
    }

    ZORCustomHMD detector;
    std::string labelMap;
};

}  // namespace

// v5_basic rows: helmet 0.81 at (15,15,10,10) beats a shifted helmet at 0.76;
// a head 0.72 at the same place survives (other class); a helmet 0.855 at
// (52,52,16,16) sticks out of the 64 x 64 input; one row scores 0.25.
TEST_F(KnownModel, YoloV5RowsBecomeDetectionsOnAnInputSizedFrame) {
    load("v5_basic");
    EXPECT_EQ(labelMap, "helmet,head");
    const cv::Mat frame(64, 64, CV_8UC3, cv::Scalar(50, 60, 70));
    expectDetections(detector.RunInference(frame, "gate-3"),
                     {{0, "helmet", 0.855f, {52, 52, 12, 12}},
                      {0, "helmet", 0.81f, {15, 15, 10, 10}},
                      {1, "head", 0.72f, {15, 15, 10, 10}}},
                     "gate-3");
}

TEST_F(KnownModel, BoxesAreMappedThroughTheLetterboxPadding) {
    load("v5_basic");
    // 128 x 64 is shrunk to 64 x 32 with 16 rows of padding above: the corner
    // box falls into the padding below and disappears.
    const cv::Mat wide(64, 128, CV_8UC3, cv::Scalar::all(90));
    expectDetections(detector.RunInference(wide),
                     {{0, "helmet", 0.81f, {30, 0, 20, 18}}, {1, "head", 0.72f, {30, 0, 20, 18}}});
    // 32 x 32 is enlarged twice.
    const cv::Mat small(32, 32, CV_8UC3, cv::Scalar::all(90));
    expectDetections(
        detector.RunInference(small),
        {{0, "helmet", 0.855f, {26, 26, 6, 6}}, {0, "helmet", 0.81f, {8, 8, 5, 5}}, {1, "head", 0.72f, {8, 8, 5, 5}}});
}

// v8_basic columns: helmet 0.85 at (24,24,12,12) beats a shifted helmet at
// 0.70; a head 0.65 at (60,15,20,10); one column scores 0.40.
TEST_F(KnownModel, YoloV8ColumnsBecomeDetections) {
    load("v8_basic");
    const cv::Mat frame(128, 192, CV_8UC3, cv::Scalar::all(30));
    expectDetections(detector.RunInference(frame),
                     {{0, "helmet", 0.85f, {48, 48, 24, 24}}, {1, "head", 0.65f, {120, 30, 40, 20}}});
}

TEST_F(KnownModel, ThresholdFromInitializeIsTheMinimumConfidence) {
    load("v5_basic", 0.83f);
    EXPECT_FLOAT_EQ(detector.threshold, 0.83f);
    const cv::Mat frame(64, 64, CV_8UC3, cv::Scalar::all(0));
    expectDetections(detector.RunInference(frame), {{0, "helmet", 0.855f, {52, 52, 12, 12}}});
}

TEST_F(KnownModel, GreyAndBgraFramesAreConverted) {
    load("v5_basic");
    const auto grey = detector.RunInference(cv::Mat(64, 64, CV_8UC1, cv::Scalar(10)));
    const auto bgra = detector.RunInference(cv::Mat(64, 64, CV_8UC4, cv::Scalar(1, 2, 3, 4)));
    EXPECT_EQ(grey.size(), 3u);
    EXPECT_EQ(bgra.size(), 3u);
}

TEST_F(KnownModel, NonContinuousRegionIsDetectedLikeACopy) {
    load("v5_basic");
    const cv::Mat big(300, 400, CV_8UC3, cv::Scalar::all(40));
    const cv::Mat region = big(cv::Rect(100, 50, 128, 64));
    ASSERT_FALSE(region.isContinuous());
    const auto fromRegion = detector.RunInference(region);
    const auto fromCopy = detector.RunInference(region.clone());
    ASSERT_EQ(fromRegion.size(), fromCopy.size());
    for (size_t i = 0; i < fromRegion.size(); ++i) {
        EXPECT_EQ(fromRegion[i].box, fromCopy[i].box);
    }
}

TEST_F(KnownModel, UnsupportedOrTinyFramesGiveNothing) {
    load("v5_basic");
    EXPECT_TRUE(detector.RunInference(cv::Mat()).empty());
    EXPECT_TRUE(detector.RunInference(cv::Mat(5, 5, CV_8UC3, cv::Scalar::all(128))).empty());
    EXPECT_TRUE(detector.RunInference(cv::Mat(1, 10000, CV_8UC3, cv::Scalar::all(128))).empty());
    EXPECT_TRUE(detector.RunInference(cv::Mat(64, 64, CV_16UC3, cv::Scalar::all(128))).empty());
    EXPECT_TRUE(detector.RunInference(cv::Mat(64, 64, CV_32FC3, cv::Scalar::all(0.5))).empty());
    EXPECT_TRUE(detector.RunInference(cv::Mat(64, 64, CV_8UC2, cv::Scalar::all(1))).empty());
}

TEST_F(KnownModel, SecondInitializeReplacesTheModel) {
    load("v5_basic");
    load("v8_basic");
    const cv::Mat frame(64, 96, CV_8UC3, cv::Scalar::all(0));
    expectDetections(detector.RunInference(frame),
                     {{0, "helmet", 0.85f, {24, 24, 12, 12}}, {1, "head", 0.65f, {60, 15, 20, 10}}});
}

TEST_F(KnownModel, DestroyReturnsToTheModelFreeState) {
    load("v5_basic");
    EXPECT_FALSE(detector.modelInfo.empty());
    EXPECT_FALSE(detector.parameters.textEntries.empty());
    EXPECT_TRUE(detector.Destroy());
    EXPECT_TRUE(detector.modelInfo.empty());
    EXPECT_TRUE(detector.parameters.textEntries.empty());
    EXPECT_TRUE(detector.RunInference(cv::Mat(64, 64, CV_8UC3)).empty());
    EXPECT_FALSE(detector.OptimizeModel(true));
    EXPECT_TRUE(detector.Destroy());
}

TEST_F(KnownModel, OptimizeKeepsDetectionsUnchanged) {
    load("v5_basic");
    const cv::Mat frame(64, 128, CV_8UC3, cv::Scalar::all(10));
    const auto before = detector.RunInference(frame);
    EXPECT_TRUE(detector.OptimizeModel(true));
    const auto optimised = detector.RunInference(frame);
    EXPECT_TRUE(detector.OptimizeModel(false));
    ASSERT_EQ(before.size(), optimised.size());
    for (size_t i = 0; i < before.size(); ++i) {
        EXPECT_EQ(before[i].box, optimised[i].box);
    }
}

TEST_F(KnownModel, ConfigureParametersDescribesTheLoadedModel) {
    load("v8_basic", 0.7f);
    CustomParams params{};
    ASSERT_TRUE(detector.ConfigureParameters(params));
    auto value = [&](const std::string& name) {
        for (const auto& entry : params.textEntries) {
            if (entry.text1 == name)
                return entry.text2;
        }
        return std::string("<missing>");
    };
    EXPECT_EQ(value("threshold"), "0.7");
    EXPECT_EQ(value("input_size"), "96x64");
    EXPECT_EQ(value("layout"), "yolov8");
    EXPECT_EQ(value("classes"), "helmet,head");
    EXPECT_EQ(value("model_path"), testModel("v8_basic").string());
#ifdef HMD_WITH_ONEDNN
    EXPECT_EQ(value("backend"), "onednn-cpu");
    EXPECT_EQ(value("threads"), "1");
#else
    EXPECT_EQ(value("backend"), "opencv-cpu");
    EXPECT_EQ(value("threads"), std::to_string(cv::getNumThreads()));
#endif
    EXPECT_EQ(detector.parameters.textEntries.size(), params.textEntries.size());
}

// The thread-safety checks, once per engine: the known-output models run on
// either, so the backend is named in a copy of their manifest.
class KnownModelOnEngine : public KnownModel, public testing::WithParamInterface<std::string> {
protected:
    void SetUp() override {
        for (const char* name : {"v5_basic", "v8_basic"}) {
            fs::create_directories(scratch.path() / name);
            fs::copy_file(testModel(name) / "model.onnx", scratch.path() / name / "model.onnx");
            writeFile(scratch.path() / name / "model.yml",
                      readFile(testModel(name) / "model.yml") + "backend: " + GetParam() + "\n");
        }
    }

    void load(const std::string& name) {
        ASSERT_TRUE(detector.Initialize((scratch.path() / name).string(), 0.6f, labelMap));
        CustomParams params;
        ASSERT_TRUE(detector.ConfigureParameters(params));
        ASSERT_EQ(params.textEntries.at(5).text2, GetParam() == "opencv" ? "opencv-cpu" : "onednn-cpu");
    }

    ScratchFolder scratch;
};

#ifdef HMD_WITH_ONEDNN
INSTANTIATE_TEST_SUITE_P(Engines, KnownModelOnEngine, testing::Values("opencv", "onednn"));
#else
INSTANTIATE_TEST_SUITE_P(Engines, KnownModelOnEngine, testing::Values("opencv"));
#endif

// Every frame size maps the same raw output differently, so mixed-up state
// between concurrent calls shows up as wrong boxes.
TEST_P(KnownModelOnEngine, ConcurrentCallsGiveTheSerialResults) {
    load("v5_basic");
    std::vector<cv::Mat> frames;
    for (int i = 0; i < 12; ++i) {
        frames.emplace_back(48 + 8 * i, 64 + 16 * (i % 5), CV_8UC3, cv::Scalar::all(20 * i));
    }
    std::vector<std::vector<CustomObject>> serial;
    for (const auto& frame : frames) {
        serial.push_back(detector.RunInference(frame));
    }
    constexpr int threadCount = 4;
    constexpr int rounds = 25;
    std::vector<int> mismatches(threadCount, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < threadCount; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < rounds; ++round) {
                for (size_t f = 0; f < frames.size(); ++f) {
                    const auto result = detector.RunInference(frames[f], "cam_" + std::to_string(t));
                    bool same = result.size() == serial[f].size();
                    for (size_t i = 0; same && i < result.size(); ++i) {
                        same = result[i].box == serial[f][i].box && result[i].classId == serial[f][i].classId &&
                               result[i].confidence == serial[f][i].confidence &&
                               result[i].tagText == "cam_" + std::to_string(t);
                    }
                    mismatches[t] += same ? 0 : 1;
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    for (int t = 0; t < threadCount; ++t) {
        EXPECT_EQ(mismatches[t], 0) << "thread " << t;
    }
}

TEST_P(KnownModelOnEngine, DestroyAndInitializeWaitForRunningInference) {
    load("v5_basic");
    const cv::Mat frame(480, 640, CV_8UC3, cv::Scalar::all(128));
    std::atomic<bool> stop{false};
    std::atomic<int> invalid{0};
    std::atomic<int> calls{0};
    std::thread inference([&] {
        while (!stop) {
            for (const auto& obj : detector.RunInference(frame, "busy")) {
                if (obj.classId < 0 || obj.classId > 1 || obj.box.width < 1 || obj.box.height < 1) {
                    ++invalid;
                }
            }
            ++calls;
        }
    });
    // Twenty cycles, and on until inference got in between them: a model
    // made in a fraction of a millisecond can finish the cycles before the
    // inference thread starts.
    for (int i = 0; i < 20 || (calls < 10 && i < 100000); ++i) {
        std::string labels;
        EXPECT_TRUE(detector.Destroy());
        EXPECT_TRUE(detector.Initialize((scratch.path() / (i % 2 ? "v5_basic" : "v8_basic")).string(), 0.6f, labels));
    }
    stop = true;
    inference.join();
    EXPECT_EQ(invalid, 0);
    EXPECT_GT(calls, 0);
}
