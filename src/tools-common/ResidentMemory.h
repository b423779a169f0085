// The process's resident memory, as the kernel counts it.
#pragma once

namespace zor::tools {

// Megabytes resident now (VmRSS); negative where it cannot be read.
double currentResidentMegabytes();

// The most megabytes resident so far (VmHWM, else getrusage); negative where
// neither can be read.
double peakResidentMegabytes();

}  // namespace zor::tools
