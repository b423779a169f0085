// Contract program for helmet-detection plugin libraries: nine unit tests on a
// detector without a model, seven integration tests on the helmet model.
#include "HelmetTestAssets.h"
#include "ZORCustomHMD.h"

#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

#include <chrono>
#include <exception>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

class HelmetUnitTest : public testing::Test {
protected:
    ZORCustomHMD detector;
};

TEST_F(HelmetUnitTest, EmptyFrameReturnsNoDetections) {
    cv::Mat frame;
    auto results = detector.RunInference(frame);
    EXPECT_TRUE(results.empty());
}

TEST_F(HelmetUnitTest, TinyFrameReturnsNoDetections) {
    cv::Mat frame(5, 5, CV_8UC3, cv::Scalar(128, 128, 128));
    auto results = detector.RunInference(frame);
    EXPECT_TRUE(results.empty());
}

TEST_F(HelmetUnitTest, UninitializedDetectorReturnsNoDetections) {
    cv::Mat frame(480, 640, CV_8UC3, cv::Scalar(128, 128, 128));
    auto results = detector.RunInference(frame);
    EXPECT_TRUE(results.empty());
}

TEST_F(HelmetUnitTest, RunInferenceWithCameraId) {
    cv::Mat frame(480, 640, CV_8UC3, cv::Scalar(128, 128, 128));
    auto results = detector.RunInference(frame, "test_cam_01");
    EXPECT_TRUE(results.empty());
}

TEST_F(HelmetUnitTest, ConfigureParametersReturnsValidConfig) {
    CustomParams params{};
    bool result = detector.ConfigureParameters(params);
    EXPECT_TRUE(result);
}

TEST_F(HelmetUnitTest, DestroySucceeds) {
    EXPECT_TRUE(detector.Destroy());
}

TEST_F(HelmetUnitTest, DestroyCanBeCalledMultipleTimes) {
    EXPECT_TRUE(detector.Destroy());
    EXPECT_TRUE(detector.Destroy());
}

TEST_F(HelmetUnitTest, InitializeWithInvalidDirectoryFails) {
    std::string labelMap;
    bool result = detector.Initialize("C:\\NonExistent\\Path\\Model", 0.5f, labelMap);
    EXPECT_FALSE(result);
}

TEST_F(HelmetUnitTest, OptimizeBeforeInitializeReturnsFalse) {
    EXPECT_FALSE(detector.OptimizeModel(true));
}

class HelmetIntegrationTest : public testing::Test {
protected:
    void SetUp() override {
        if (!directoryExists(helmetModelDir)) {
            GTEST_SKIP() << "Helmet model not found at: " << helmetModelDir;
        }
        bool ok = detector.Initialize(helmetModelDir, 0.6f, labelMap);
        ASSERT_TRUE(ok) << "Failed to initialize Helmet detector";
        classes = splitLabelMap(labelMap);
    }

    void TearDown() override { detector.Destroy(); }

    ZORCustomHMD detector;
    std::string labelMap;
    std::vector<std::string> classes;
};

TEST_F(HelmetIntegrationTest, InitializeProducesLabelMap) {
    EXPECT_FALSE(labelMap.empty());
    EXPECT_FALSE(classes.empty());
}

TEST_F(HelmetIntegrationTest, InferenceOnSolidFrameReturnsNoDetections) {
    cv::Mat frame(1080, 1920, CV_8UC3, cv::Scalar(128, 128, 128));
    auto results = detector.RunInference(frame, "test_cam");
    EXPECT_TRUE(results.empty()) << "Solid gray frame should not trigger helmet detection";
}

TEST_F(HelmetIntegrationTest, InferenceOnSmallFrame) {
    cv::Mat frame(240, 320, CV_8UC3, cv::Scalar(128, 128, 128));
    detector.RunInference(frame, "test_cam");
    SUCCEED();
}

TEST_F(HelmetIntegrationTest, InferenceOnLargeFrame) {
    cv::Mat frame(2160, 3840, CV_8UC3, cv::Scalar(128, 128, 128));
    detector.RunInference(frame, "test_cam");
    SUCCEED();
}

TEST_F(HelmetIntegrationTest, DetectionResultFieldsAreValid) {
    if (!fileExists(helmetVideoPath)) {
        GTEST_SKIP() << "Helmet test video not found";
    }
    cv::VideoCapture cap(helmetVideoPath, cv::CAP_ANY);
    ASSERT_TRUE(cap.isOpened());

    int frameCount = 0;
    bool detectionsSeen = false;
    while (frameCount < 300 && !detectionsSeen) {
        cv::Mat frame;
        if (!cap.read(frame)) {
            break;
        }
        auto results = detector.RunInference(frame, "test_cam");
        if (!results.empty()) {
            detectionsSeen = true;
            for (const auto& obj : results) {
                EXPECT_GE(obj.confidence, 0.0f);
                EXPECT_LE(obj.confidence, 1.0f);
                EXPECT_GE(obj.box.width, 0);
                EXPECT_GE(obj.box.height, 0);
                EXPECT_GE(obj.classId, 0);
            }
        }
        ++frameCount;
    }
    cap.release();
}

TEST_F(HelmetIntegrationTest, PerformanceBenchmark) {
    if (!fileExists(helmetVideoPath)) {
        GTEST_SKIP() << "Helmet test video not found";
    }
    int totalDetections = -1;
    double avgMs = 0.0;
    {
        cv::VideoCapture cap(helmetVideoPath, cv::CAP_ANY);
        if (cap.isOpened()) {
            totalDetections = 0;
            int frameCount = 0;
            double totalMs = 0.0;
            while (true) {
                cv::Mat frame;
                if (!cap.read(frame)) {
                    break;
                }
                auto t0 = std::chrono::steady_clock::now();
                totalDetections += static_cast<int>(detector.RunInference(frame).size());
                auto t1 = std::chrono::steady_clock::now();
                totalMs += std::chrono::duration<double, std::milli>(t1 - t0).count();
                ++frameCount;
                if (frameCount >= 100) {
                    break;
                }
            }
            cap.release();
            avgMs = frameCount > 0 ? totalMs / frameCount : 0.0;
        }
    }
    ASSERT_GE(totalDetections, 0) << "Video could not be opened";
    std::cout << "[Helmet] 100 frames: avg=" << avgMs << "ms/frame, " << "detections=" << totalDetections << std::endl;
    EXPECT_LT(avgMs, 200.0) << "Average inference time exceeds 200ms";
}

namespace {

// What a worker's call threw, so that it becomes a test failure after the
// joins instead of ending the program.
std::string describeException(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "an exception of unknown type";
    }
}

}  // namespace

TEST_F(HelmetIntegrationTest, ThreadSafetyConcurrentInference) {
    cv::Mat frame1(480, 640, CV_8UC3, cv::Scalar(100, 100, 100));
    cv::Mat frame2(480, 640, CV_8UC3, cv::Scalar(200, 200, 200));
    std::vector<CustomObject> results1;
    std::vector<CustomObject> results2;
    std::exception_ptr error1;
    std::exception_ptr error2;

    std::thread worker1([this, &frame1, &results1, &error1] {
        try {
            results1 = detector.RunInference(frame1, "cam_1");
        } catch (...) {
            error1 = std::current_exception();
        }
    });
    std::thread worker2;
    try {
        worker2 = std::thread([this, &frame2, &results2, &error2] {
            try {
                results2 = detector.RunInference(frame2, "cam_2");
            } catch (...) {
                error2 = std::current_exception();
            }
        });
    } catch (...) {
        worker1.join();
        throw;
    }
    worker1.join();
    worker2.join();

    if (error1) {
        ADD_FAILURE() << "RunInference on cam_1 threw: " << describeException(error1);
    }
    if (error2) {
        ADD_FAILURE() << "RunInference on cam_2 threw: " << describeException(error2);
    }
    SUCCEED();
}
