// Two cameras of 3840x2160 on one detector. A call on such a frame costs about
// what a call on a small one costs once the frame is resized to the network,
// so no call is long enough to time the other inside it; instead two threads'
// calls are compared with the same calls made by one thread alone.
#include "CertificationSupport.h"

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <array>
#include <iostream>
#include <iterator>
#include <latch>
#include <string>
#include <thread>

namespace zor::cert {
namespace {

const cv::Size kVeryLarge(3840, 2160);
constexpr int kCallsEach = 4;
// A round times the calls alone, then side by side. The median of up to
// seven rounds decides, so that rounds disturbed by something else cannot; the
// rounds stop once four agree, which the median cannot overturn.
constexpr int kMostRounds = 7;
// One call at a time, the thread that finishes last takes about twice as long
// as alone, and sleeps through all the other's calls: blocked about as long
// as its own calls take alone. Side by side, a thread can take longer (it
// shares a core, or the machine's host takes time) or block a little longer
// (on the library's worker threads), but not both by that much.
constexpr double kMostSlowdown = 1.4;
constexpr double kMostExtraBlocked = 0.3;

struct Round {
    ThreadTime alone;
    std::array<ThreadTime, 2> together{};
    // The most time a thread spent blocked side by side beyond what it
    // spends blocked alone, against the calls' own time alone.
    double extraBlocked() const {
        const double blocked = std::max(together[0].blockedMs(), together[1].blockedMs());
        return (blocked - alone.blockedMs()) / alone.ownMs();
    }
    // The thread that finished last against the calls alone.
    double slowdown() const { return std::max(together[0].ownMs(), together[1].ownMs()) / alone.ownMs(); }
    bool oneAtATime() const { return slowdown() > kMostSlowdown && extraBlocked() > kMostExtraBlocked; }
};

ThreadTime timeCalls(Detector& detector, const cv::Mat& frame, const std::string& camera) {
    const ThreadTimer timer;
    for (int call = 0; call < kCallsEach; ++call) {
        detector.run(frame, camera);
    }
    return timer.stop();
}

// Each thread's time is its wall time less its own run-queue wait, so that a
// busy machine slows neither side. A library that waits for the other call by
// spinning rather than sleeping is not seen.
TEST(CertifiedConcurrency, CallsOnVeryLargeFramesRunSideBySide) {
    REAL_FRAMES(frames);
    Detector detector;
    ASSERT_TRUE(detector.load(kOperatingThreshold));
    std::array<cv::Mat, 2> large;
    for (std::size_t t = 0; t < large.size(); ++t) {
        cv::resize(frames[t % frames.size()], large[t], kVeryLarge, 0.0, 0.0, cv::INTER_LINEAR);
    }
    detector.run(large[0], "cert_large_0");  // lazy set-up stays out of the timing
    ASSERT_FALSE(::testing::Test::HasFailure()) << "a call on a very large frame failed";

    std::vector<Round> rounds;
    const auto agreeing = [&](bool serial) {
        return std::count_if(rounds.begin(), rounds.end(),
                             [serial](const Round& r) { return r.oneAtATime() == serial; });
    };
    while (std::max(agreeing(true), agreeing(false)) <= kMostRounds / 2) {
        Round& round = rounds.emplace_back();
        round.alone = timeCalls(detector, large[0], "cert_large_0");
        std::latch start(2);
        std::vector<std::thread> workers;
        for (std::size_t t = 0; t < large.size(); ++t) {
            workers.emplace_back([&, t] {
                start.arrive_and_wait();
                round.together[t] = timeCalls(detector, large[t], "cert_large_" + std::to_string(t + 1));
            });
        }
        for (std::thread& worker : workers) {
            worker.join();
        }
        ASSERT_GT(round.alone.ownMs(), 0.0) << "calls on very large frames took no time";
    }
    // The median round of the majority's verdict.
    const bool oneAtATime = agreeing(true) > agreeing(false);
    std::vector<Round> majority;
    std::copy_if(rounds.begin(), rounds.end(), std::back_inserter(majority),
                 [oneAtATime](const Round& r) { return r.oneAtATime() == oneAtATime; });
    std::sort(majority.begin(), majority.end(),
              [](const Round& a, const Round& b) { return a.slowdown() < b.slowdown(); });
    const Round& median = majority[majority.size() / 2];

    ::testing::Test::RecordProperty("alone_ms", std::to_string(median.alone.ownMs() / kCallsEach));
    ::testing::Test::RecordProperty("side_by_side_slowdown", std::to_string(median.slowdown()));
    ::testing::Test::RecordProperty("side_by_side_extra_blocked", std::to_string(median.extraBlocked()));
    std::cout << "[certification] " << kCallsEach << " calls on " << kVeryLarge.width << "x" << kVeryLarge.height
              << " frames, " << agreeing(oneAtATime) << " of " << rounds.size()
              << " rounds agreeing: " << median.alone.ownMs() << " ms alone; side by side the last thread took "
              << median.slowdown() << " times as long and was blocked longer by " << median.extraBlocked()
              << " of the time alone (one call at a time: over " << kMostSlowdown << " and " << kMostExtraBlocked << ")"
              << std::endl;
    EXPECT_FALSE(oneAtATime) << "two threads making " << kCallsEach << " calls each on " << kVeryLarge.width << "x"
                             << kVeryLarge.height << " frames: the last took " << median.slowdown()
                             << " times as long as alone and was blocked longer by " << median.extraBlocked()
                             << " of the time alone: the library runs one such call at a time";
}

}  // namespace
}  // namespace zor::cert
