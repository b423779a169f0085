// The benchmark's figures, as a table for people and as JSON for programs.
#pragma once

#include "BenchContext.h"
#include "Statistics.h"

#include <cstddef>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace zor::bench {

using tools::LatencySummary;
using tools::Spread;
using tools::spreadOf;
using tools::summarize;

// One run of the measured calls, all cameras together.
struct RunFigures {
    LatencySummary latency;
    std::size_t measuredFrames = 0;
    double wallSeconds = 0.0;  // first measured call started to last one ended
    std::size_t detections = 0;

    double throughputFps() const;
};

// Everything measured on one detector.
struct BenchReport {
    // What ran.
    DetectorIdentity detector;
    std::string source;  // the frames' description
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
    std::vector<RunFigures> runs;          // one per repetition
    LatencySummary latency;                // every measured call of every run
    std::vector<double> latenciesMs;       // those calls, run after run, camera after camera
    std::size_t measuredFrames = 0;
    double wallSeconds = 0.0;  // of all runs together
    std::size_t detections = 0;
    double peakResidentMb = 0.0;              // whole process, frame decoding included
    double residentBeforeInitializeMb = 0.0;  // the frames in memory, no model yet
    double residentAfterRunMb = 0.0;          // after the measured calls, before Destroy

    double throughputFps() const;
    double detectionsPerFrame() const;
    // How each run's median latency varies over the runs.
    Spread medianSpread() const;
};

// Two detectors timed in turn; `candidate` over `baseline`.
struct Comparison {
    BenchReport baseline;
    BenchReport candidate;

    // Median over runs of each run's median latency, candidate / baseline.
    double ratioOfMedians() const;
    // Run i of the candidate over run i of the baseline, which ran beside it.
    std::vector<double> pairRatios() const;
};

void printContext(std::ostream& out, const BenchContext& context);
void printTable(std::ostream& out, const BenchReport& report);
void printComparison(std::ostream& out, const Comparison& comparison);
void writeJson(std::ostream& out, const BenchContext& context, const BenchReport& report);
void writeJson(std::ostream& out, const BenchContext& context, const Comparison& comparison);

// One measured call's latency in milliseconds per line.
void writeLatencies(std::ostream& out, const BenchReport& report);

}  // namespace zor::bench
