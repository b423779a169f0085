// The benchmark's figures, as a table for people and as JSON for programs.
#pragma once

#include "Statistics.h"

#include <cstddef>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace hbench {

struct BenchReport {
    // What ran.
    std::string model;
    std::string labels;   // as Initialize returned them
    std::string backend;  // from ConfigureParameters, when the library names it
    std::string source;   // the frames' description
    // ConfigureParameters' text entries (name, value), in its order.
    std::vector<std::pair<std::string, std::string>> parameters;
    int frameWidth = 0;
    int frameHeight = 0;
    std::size_t distinctFrames = 0;
    int cameras = 1;
    int framesPerCamera = 0;
    int warmupPerCamera = 0;
    float threshold = 0.0f;
    int opencvThreads = 0;

    // Figures. Times in milliseconds unless named otherwise.
    double initializeMs = 0.0;
    std::optional<double> optimizeMs;  // set when OptimizeModel(true) was called
    bool optimizeAccepted = false;
    double firstCallMs = 0.0;
    std::optional<LatencySummary> warmup;  // absent with --warmup 0
    LatencySummary latency;                // measured calls of all cameras
    std::vector<double> latenciesMs;       // each measured call, camera after camera
    std::size_t measuredFrames = 0;
    double wallSeconds = 0.0;  // first measured call started to last one ended
    std::size_t detections = 0;
    double peakResidentMb = 0.0;              // whole process, frame decoding included
    double residentBeforeInitializeMb = 0.0;  // the frames in memory, no model yet
    double residentAfterRunMb = 0.0;          // after the measured calls, before Destroy

    double throughputFps() const;
    double detectionsPerFrame() const;
};

void printTable(std::ostream& out, const BenchReport& report);
void writeJson(std::ostream& out, const BenchReport& report);

// One measured call's latency in milliseconds per line, camera after camera.
void writeLatencies(std::ostream& out, const BenchReport& report);

}  // namespace hbench
