// Many threads on one detector while another thread reconfigures it: nothing
// crashes or throws, every detection is valid, and without reconfiguration the
// results equal the serial ones.
#include "DetectorTestSupport.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

using namespace zor::test;

namespace {

constexpr int inferenceThreads = 4;

std::vector<cv::Mat> framesOfManySizes(int count) {
    std::vector<cv::Mat> frames;
    cv::RNG rng(42);
    for (int i = 0; i < count; ++i) {
        cv::Mat frame(32 + 7 * i, 48 + 11 * (i % 9), CV_8UC3);
        rng.fill(frame, cv::RNG::UNIFORM, 0, 255);
        frames.push_back(frame);
    }
    return frames;
}

// Real photos (the project's public-domain sample) at many sizes: the shipped
// model finds helmets in them, which random pixels do not hold.
std::vector<cv::Mat> photosOfManySizes(int count) {
    std::vector<fs::path> files;
    for (const auto& entry :
         fs::directory_iterator(fs::path(paths::kSource) / "tests" / "assets" / "hard-hat-sample" / "images")) {
        files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    std::vector<cv::Mat> frames;
    for (int i = 0; i < count && i < static_cast<int>(files.size()); ++i) {
        cv::Mat photo = cv::imread(files[static_cast<size_t>(i)].string(), cv::IMREAD_COLOR);
        if (photo.empty()) {
            continue;
        }
        cv::resize(photo, photo, {}, 0.5 + 0.1 * (i % 10), 0.5 + 0.1 * (i % 10), cv::INTER_AREA);
        frames.push_back(photo);
    }
    return frames;
}

bool valid(const CustomObject& obj, const cv::Mat& frame) {
    return (obj.classId == 0 || obj.classId == 1) && obj.confidence >= 0.6f && obj.confidence <= 1.0f &&
           obj.box.width >= 1 && obj.box.height >= 1 && (obj.box & cv::Rect(0, 0, frame.cols, frame.rows)) == obj.box;
}

bool sameDetections(const std::vector<CustomObject>& a, const std::vector<CustomObject>& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].classId != b[i].classId || a[i].confidence != b[i].confidence || a[i].box != b[i].box)
            return false;
    }
    return true;
}

}  // namespace

TEST(Stress, ReconfigurationDuringInferenceNeverBreaksACall) {
    ZORCustomHMD detector;
    std::string labelMap;
    ASSERT_TRUE(detector.Initialize(testModel("v5_basic").string(), 0.6f, labelMap));
    const std::vector<cv::Mat> frames = framesOfManySizes(20);

    std::atomic<bool> stop{false};
    std::atomic<long> calls{0};
    std::atomic<long> callsWithDetections{0};
    std::atomic<long> invalid{0};
    std::atomic<long> exceptions{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < inferenceThreads; ++t) {
        workers.emplace_back([&, t] {
            for (size_t i = t; !stop; ++i) {
                const cv::Mat& frame = frames[i % frames.size()];
                try {
                    const auto results = detector.RunInference(frame, "cam");
                    for (const auto& obj : results) {
                        invalid += valid(obj, frame) ? 0 : 1;
                    }
                    callsWithDetections += results.empty() ? 0 : 1;
                } catch (...) {
                    ++exceptions;
                }
                ++calls;
            }
        });
    }
    // Reconfigure until enough calls have run on a loaded model; the deadline
    // only stops a hopelessly slow machine from hanging the suite.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    int reconfigurations = 0;
    for (; (callsWithDetections < 2000 || reconfigurations < 100) && std::chrono::steady_clock::now() < deadline;
         ++reconfigurations) {
        CustomParams params{};
        std::string labels;
        switch (reconfigurations % 5) {
            case 0:
                detector.OptimizeModel(true);
                break;
            case 1:
                detector.ConfigureParameters(params);
                break;
            case 2:
                detector.Destroy();
                break;
            case 3:
                detector.Initialize(testModel(reconfigurations % 2 ? "v5_basic" : "v8_basic").string(), 0.6f, labels);
                break;
            case 4:
                detector.OptimizeModel(false);
                break;
        }
        // Let the workers run on each configuration for a moment.
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    stop = true;
    for (auto& worker : workers) {
        worker.join();
    }
    std::cout << "[stress] " << calls << " inference calls (" << callsWithDetections << " with detections) during "
              << reconfigurations << " reconfigurations\n";
    EXPECT_GE(callsWithDetections, 2000);
    EXPECT_GE(reconfigurations, 100);
    EXPECT_EQ(invalid, 0);
    EXPECT_EQ(exceptions, 0);
}

TEST(Stress, ConcurrentResultsEqualSerialResults) {
    ZORCustomHMD detector;
    std::string labelMap;
    const bool realModel = fs::exists(shippedModel() / "model.yml");
    ASSERT_TRUE(detector.Initialize((realModel ? shippedModel() : testModel("v5_basic")).string(), 0.6f, labelMap));
    const std::vector<cv::Mat> frames = realModel ? photosOfManySizes(8) : framesOfManySizes(24);
    std::vector<std::vector<CustomObject>> serial;
    size_t serialDetections = 0;
    for (const auto& frame : frames) {
        serial.push_back(detector.RunInference(frame));
        serialDetections += serial.back().size();
    }
    ASSERT_GT(serialDetections, 0u) << "the comparison needs detections to compare";
    std::atomic<int> mismatches{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < inferenceThreads; ++t) {
        workers.emplace_back([&, t] {
            for (int round = 0; round < 10; ++round) {
                for (size_t i = 0; i < frames.size(); ++i) {
                    const size_t f = (i + t * 5) % frames.size();
                    mismatches += sameDetections(detector.RunInference(frames[f]), serial[f]) ? 0 : 1;
                }
            }
        });
    }
    for (auto& worker : workers) {
        worker.join();
    }
    EXPECT_EQ(mismatches, 0);
}
