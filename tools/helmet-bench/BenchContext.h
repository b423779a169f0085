// What a figure was measured on, printed before the figures as benchmark
// libraries do: a number from another machine, library or model is another number.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace zor::bench {

struct BenchContext {
    std::string date;  // local time, ISO 8601 with offset
    std::string host;
    unsigned cpus = 0;  // hardware threads
    std::string opencvVersion;
    std::string opencvBuildType;  // "Release", "Debug", ... as OpenCV reports its own build
};

BenchContext currentContext();

// What one detector under test is.
struct DetectorIdentity {
    std::string libraryFile;  // empty when the loader cannot tell
    std::string librarySha256;
    std::uintmax_t libraryBytes = 0;
    std::string model;         // model directory
    std::string modelVersion;  // from ConfigureParameters, when the library names it
    std::string backend;       // likewise
    std::string labels;        // as Initialize returned them
    // ConfigureParameters' text entries (name, value), in its order.
    std::vector<std::pair<std::string, std::string>> parameters;
};

}  // namespace zor::bench
