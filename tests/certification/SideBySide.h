// Whether a library runs calls from several threads at once or one at a time.
// Each round times a few calls made by one thread alone, then the same number
// made by every thread at once, each on its own frame. For each thread it reads
// where its time went (CallTiming.h): wall time less run-queue wait is the
// thread's own time, so a busy machine slows neither side. One call at a time,
// the thread that finishes last takes about `threads` times as long as alone
// and sleeps through the others' calls. A library that waits for another call
// by spinning rather than sleeping is not seen.
#pragma once

#include "CertificationSupport.h"

#include <opencv2/core.hpp>

#include <string>
#include <vector>

namespace zor::cert {

// Fails the test when the calls run one at a time, and prints and records
// (as properties named `propertyPrefix` + "alone_ms", "side_by_side_slowdown",
// "side_by_side_extra_blocked") the median round of the verdict. Thread t
// calls on frames[t], the thread alone on frames[0]. Up to seven rounds; the
// majority decides, and the rounds stop once four agree, which the rest
// cannot overturn.
void expectSideBySide(Detector& detector, const std::vector<cv::Mat>& frames, int callsEach,
                      const std::string& propertyPrefix);

}  // namespace zor::cert
