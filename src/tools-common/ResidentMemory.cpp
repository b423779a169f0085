#include "ResidentMemory.h"

#include <fstream>
#include <string>

#if !defined(_WIN32)
#include <sys/resource.h>
#endif

namespace zor::tools {

namespace {

// A "Name:   1234 kB" line of /proc/self/status, in megabytes.
double statusMegabytes(const std::string& field) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(field, 0) == 0) {
            return std::stod(line.substr(field.size())) / 1024.0;
        }
    }
    return -1.0;
}

}  // namespace

double currentResidentMegabytes() {
    return statusMegabytes("VmRSS:");
}

double peakResidentMegabytes() {
    if (const double peak = statusMegabytes("VmHWM:"); peak >= 0.0) {
        return peak;
    }
#if defined(_WIN32)
    return -1.0;
#else
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;  // kB on Linux
#endif
}

}  // namespace zor::tools
