// Drives one ZORCustomHMD through its plugin interface only and times it.
#pragma once

#include "BenchOptions.h"
#include "FrameSource.h"
#include "Report.h"

namespace zor::bench {

// Initialize (and OptimizeModel with --optimize), one first call, then every
// camera thread's warm-up calls, then, all cameras starting together, the
// measured calls. `showProgress`: a progress line on standard error.
// Throws std::runtime_error when Initialize fails or a call throws.
BenchReport runBenchmark(const BenchOptions& options, const FrameSet& frames, bool showProgress);

// The process's peak resident set size in MB (VmHWM, else getrusage).
double peakResidentMegabytes();

// The process's resident set size now, in MB (VmRSS; 0 where unknown).
double currentResidentMegabytes();

}  // namespace zor::bench
