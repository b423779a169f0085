// Two cameras of 3840x2160 on one detector. A call on such a frame costs about
// what a call on a small one costs once the frame is resized to the network,
// so no call is long enough to time the other inside it; instead two threads'
// calls are compared with the same calls made by one thread alone.
#include "CertificationSupport.h"
#include "SideBySide.h"

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include <vector>

namespace zor::cert {
namespace {

const cv::Size kVeryLarge(3840, 2160);
constexpr int kCallsEach = 4;

TEST(CertifiedConcurrency, CallsOnVeryLargeFramesRunSideBySide) {
    REAL_FRAMES(frames);
    Detector detector;
    ASSERT_TRUE(detector.load(kOperatingThreshold));
    std::vector<cv::Mat> large(2);
    for (std::size_t t = 0; t < large.size(); ++t) {
        cv::resize(frames[t % frames.size()], large[t], kVeryLarge, 0.0, 0.0, cv::INTER_LINEAR);
    }
    detector.run(large[0], "cert_large_0");  // lazy set-up stays out of the timing
    ASSERT_FALSE(::testing::Test::HasFailure()) << "a call on a very large frame failed";
    expectSideBySide(detector, large, kCallsEach, "");
}

}  // namespace
}  // namespace zor::cert
