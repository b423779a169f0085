// Resources of inference calls on one loaded model, as a camera stream uses
// it for days: memory that must not grow with the calls.
#include "CertificationSupport.h"

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <iostream>
#include <string>

namespace zor::cert {
namespace {

// Memory that the model keeps until Destroy, as a per-call history would,
// is invisible to the Initialize/Destroy cycles; here one model runs all calls.
TEST(CertifiedResources, ResidentMemoryStaysFlatOverManyInferenceCalls) {
    REAL_FRAMES(frames);
    const int calls = options().stability.inferenceCalls;
    // Allocators, caches and lazily loaded code settle in the first calls.
    const int warmUp = std::clamp(calls / 10, 3, 10);
    cv::Mat frame;
    cv::resize(frames[0], frame, cv::Size(640, 360), 0.0, 0.0, cv::INTER_AREA);
    Detector detector;
    ASSERT_TRUE(detector.load(kOperatingThreshold));
    long baseline = 0;
    for (int call = 0; call < warmUp + calls; ++call) {
        if (call == warmUp) {
            releaseFreeMemory();
            baseline = residentKilobytes();
        }
        detector.run(frame, "certification");
    }
    ASSERT_GT(baseline, 0) << "no resident memory figure on this system";
    releaseFreeMemory();
    const long growthKb = residentKilobytes() - baseline;
    const double growthMb = static_cast<double>(growthKb) / 1024.0;
    const double budget = options().stability.callMemoryBudgetMb;
    ::testing::Test::RecordProperty("calls", calls);
    ::testing::Test::RecordProperty("memory_growth_mb", std::to_string(growthMb));
    std::cout << "[certification] " << calls << " inference calls on one model: resident memory grew " << growthKb
              << " kB (budget " << budget << " MB)" << std::endl;
    EXPECT_LT(growthMb, budget) << "resident memory grew by " << growthMb << " MB over " << calls
                                << " inference calls, about " << growthKb / calls << " kB per call";
}

}  // namespace
}  // namespace zor::cert
