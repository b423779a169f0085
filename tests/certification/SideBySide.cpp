#include "SideBySide.h"

#include "CallTiming.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <iterator>
#include <latch>
#include <thread>

namespace zor::cert {
namespace {

constexpr int kMostRounds = 7;
// A verdict of one call at a time is measured again on a fresh set of rounds
// and stands only if that set agrees: a stretch of other programs' load can
// look like a lock, a lock looks like one every time.
constexpr int kMostSets = 2;
// One call at a time, the last thread takes about `threads` times as long as
// alone and is blocked longer by about `threads - 1` times its time alone.
constexpr double kMostSlowdown = 1.4;
constexpr double kMostExtraBlocked = 0.3;

struct Round {
    ThreadTime alone;
    std::vector<ThreadTime> together;
    std::vector<char> failed;  // per thread, the one alone last: a call threw
    // Run-queue wait of the process's other threads (the library's workers,
    // OpenCV's pool) while the calls ran alone and side by side. A calling
    // thread that waits for a worker which waits for a processor is blocked,
    // not waiting: on 2 cores two calls side by side do that without any lock.
    double helpersWaitedAloneMs = 0.0;
    double helpersWaitedTogetherMs = 0.0;

    // The thread that finished last against the calls alone.
    double slowdown() const {
        double last = 0.0;
        for (const ThreadTime& thread : together) {
            last = std::max(last, thread.ownMs());
        }
        return last / alone.ownMs();
    }
    // The most time a thread spent blocked side by side beyond what it spends
    // blocked alone, against the calls' own time alone.
    double extraBlocked() const {
        double blocked = 0.0;
        for (const ThreadTime& thread : together) {
            blocked = std::max(blocked, thread.blockedMs());
        }
        const double aloneBlocked = std::max(0.0, alone.blockedMs() - helpersWaitedAloneMs);
        return (std::max(0.0, blocked - helpersWaitedTogetherMs) - aloneBlocked) / alone.ownMs();
    }
    // Both are needed: side by side a thread can take longer (it shares a
    // core, or the machine's host takes time) or block a little longer (on
    // the library's worker threads), but not both by that much.
    bool oneAtATime() const { return slowdown() > kMostSlowdown && extraBlocked() > kMostExtraBlocked; }
};

ThreadTime timeCalls(Detector& detector, const cv::Mat& frame, const std::string& camera, int calls, char& failed) {
    const ThreadTimer timer;
    for (int call = 0; call < calls; ++call) {
        failed |= !detector.run(frame, camera).has_value();
    }
    return timer.stop();
}

Round timeRound(Detector& detector, const std::vector<cv::Mat>& frames, int callsEach) {
    Round round;
    round.together.resize(frames.size());
    round.failed.assign(frames.size() + 1, 0);
    auto waits = threadWaitsMs();
    round.alone = timeCalls(detector, frames[0], "cert_side_by_side", callsEach, round.failed.back());
    auto waitsAfter = threadWaitsMs();
    round.helpersWaitedAloneMs = std::max(0.0, waitedSinceMs(waits, waitsAfter) - round.alone.waitingMs);
    waits = std::move(waitsAfter);
    std::latch start(static_cast<std::ptrdiff_t>(frames.size()));
    std::vector<std::thread> workers;
    for (std::size_t t = 0; t < frames.size(); ++t) {
        workers.emplace_back([&, t] {
            start.arrive_and_wait();
            round.together[t] = timeCalls(detector, frames[t], "cert_side_by_side_" + std::to_string(t + 1), callsEach,
                                          round.failed[t]);
        });
    }
    for (std::thread& worker : workers) {
        worker.join();
    }
    // The calling threads have ended and are not counted: all that is left
    // is what the helpers waited.
    round.helpersWaitedTogetherMs = std::max(0.0, waitedSinceMs(waits, threadWaitsMs()));
    return round;
}

}  // namespace

void expectSideBySide(Detector& detector, const std::vector<cv::Mat>& frames, int callsEach,
                      const std::string& propertyPrefix) {
    const std::string what = std::to_string(frames.size()) + " threads making " + std::to_string(callsEach) +
                             " calls each on " + std::to_string(frames[0].cols) + "x" + std::to_string(frames[0].rows) +
                             " frames";
    std::vector<Round> rounds;
    const auto agreeing = [&rounds](bool oneAtATime) {
        return std::count_if(rounds.begin(), rounds.end(),
                             [oneAtATime](const Round& r) { return r.oneAtATime() == oneAtATime; });
    };
    bool oneAtATime = false;
    int sets = 0;
    do {
        rounds.clear();
        ++sets;
        while (std::max(agreeing(true), agreeing(false)) <= kMostRounds / 2) {
            rounds.push_back(timeRound(detector, frames, callsEach));
            const std::vector<char>& failed = rounds.back().failed;
            ASSERT_TRUE(std::none_of(failed.begin(), failed.end(), [](char f) { return f != 0; }))
                << what << ": a call threw";
            ASSERT_GT(rounds.back().alone.ownMs(), 0.0) << what << ": the calls took no time";
        }
        oneAtATime = agreeing(true) > agreeing(false);
    } while (oneAtATime && sets < kMostSets);
    // The median round of the last set's verdict.
    std::vector<Round> majority;
    std::copy_if(rounds.begin(), rounds.end(), std::back_inserter(majority),
                 [oneAtATime](const Round& r) { return r.oneAtATime() == oneAtATime; });
    std::sort(majority.begin(), majority.end(),
              [](const Round& a, const Round& b) { return a.slowdown() < b.slowdown(); });
    const Round& median = majority[majority.size() / 2];

    ::testing::Test::RecordProperty(propertyPrefix + "alone_ms", std::to_string(median.alone.ownMs() / callsEach));
    ::testing::Test::RecordProperty(propertyPrefix + "side_by_side_slowdown", std::to_string(median.slowdown()));
    ::testing::Test::RecordProperty(propertyPrefix + "side_by_side_extra_blocked",
                                    std::to_string(median.extraBlocked()));
    std::cout << "[certification] " << what << ", " << agreeing(oneAtATime) << " of " << rounds.size()
              << " rounds agreeing" << (sets > 1 ? " in the second set" : "") << ": " << median.alone.ownMs()
              << " ms alone; side by side the last thread took " << median.slowdown()
              << " times as long and was blocked longer by " << median.extraBlocked()
              << " of the time alone (one call at a time: over " << kMostSlowdown << " and " << kMostExtraBlocked << ")"
              << std::endl;
    EXPECT_FALSE(oneAtATime) << what << ": the last took " << median.slowdown()
                             << " times as long as alone and was blocked longer by " << median.extraBlocked()
                             << " of the time alone: the library runs one call at a time";
}

}  // namespace zor::cert
