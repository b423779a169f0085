// Drives one ZORCustomHMD through its plugin interface only and times it.
#pragma once

#include "BenchOptions.h"
#include "FrameSource.h"
#include "Report.h"

namespace zor::bench {

// Initialize (and OptimizeModel with --optimize), one first call, then every
// camera thread's warm-up calls, then, all cameras starting together, the
// measured calls, --repetitions times, with a progress line on standard error
// when it is a terminal. Throws tools::UserError when Initialize fails and
// std::runtime_error when a call throws.
BenchReport runBenchmark(const BenchOptions& options, const FrameSet& frames);

// Two detectors, the linked one with --model (baseline) and the one of
// --compare-library and/or --compare-model (candidate), both initialised,
// then their runs interleaved pair by pair.
Comparison runComparison(const BenchOptions& options, const FrameSet& frames);

}  // namespace zor::bench
