#include "BenchRun.h"
#include "UserError.h"

#include "ZORCustomHMD.h"

#include <opencv2/core/utility.hpp>

#if !defined(_WIN32)
#include <sys/resource.h>
#endif

#include <algorithm>
#include <atomic>
#include <barrier>
#include <chrono>
#include <exception>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace hbench {

namespace {

using Clock = std::chrono::steady_clock;

double millisecondsBetween(Clock::time_point start, Clock::time_point end) {
    return std::chrono::duration<double, std::milli>(end - start).count();
}

// Marks when the measured section starts: the barrier runs it once, after the
// last camera has warmed up and before any camera is released.
struct StartMark {
    Clock::time_point* at;
    void operator()() const noexcept { *at = Clock::now(); }
};
using StartBarrier = std::barrier<StartMark>;

struct CameraResult {
    std::vector<double> warmupMs;
    std::vector<double> measuredMs;
    std::size_t detections = 0;
    Clock::time_point finished;
    std::exception_ptr failure;
};

// ConfigureParameters' text entries as name/value pairs; none when it fails.
std::vector<std::pair<std::string, std::string>> parameterEntries(IZORCustomClass& detector) {
    CustomParams params;
    std::vector<std::pair<std::string, std::string>> entries;
    if (detector.ConfigureParameters(params)) {
        for (const ParamTextEntry& entry : params.textEntries) {
            entries.emplace_back(entry.text1, entry.text2);
        }
    }
    return entries;
}

// Shared by the camera threads of one run; lives on runBenchmark's stack.
struct RunState {
    IZORCustomClass& detector;
    const std::vector<cv::Mat>& frames;
    int warmup;
    int measured;
    std::atomic<long> warmupDone{0};
    std::atomic<long> measuredDone{0};
    std::atomic<int> camerasDone{0};
    std::atomic<bool> failed{false};
};

// Camera `camera` reads the shared frames from its own offset onwards.
void runCamera(RunState& run, int camera, int cameras, StartBarrier& start, CameraResult& result) {
    const std::string cameraId = "camera-" + std::to_string(camera);
    const std::size_t frameCount = run.frames.size();
    std::size_t next = static_cast<std::size_t>(camera) * std::max<std::size_t>(1, frameCount / cameras);
    auto call = [&](std::vector<double>& latencies) {
        const cv::Mat& frame = run.frames[next++ % frameCount];
        const Clock::time_point before = Clock::now();
        const std::vector<CustomObject> objects = run.detector.RunInference(frame, cameraId);
        latencies.push_back(millisecondsBetween(before, Clock::now()));
        return objects.size();
    };
    try {
        result.warmupMs.reserve(run.warmup);
        result.measuredMs.reserve(run.measured);
        for (int i = 0; i < run.warmup; ++i) {
            call(result.warmupMs);
            ++run.warmupDone;
        }
    } catch (...) {
        result.failure = std::current_exception();
        run.failed = true;
    }
    start.arrive_and_wait();  // the measured section begins for all cameras at once
    try {
        for (int i = 0; i < run.measured && !run.failed; ++i) {
            result.detections += call(result.measuredMs);
            ++run.measuredDone;
        }
    } catch (...) {
        result.failure = std::current_exception();
        run.failed = true;
    }
    result.finished = Clock::now();
    ++run.camerasDone;
}

void printProgress(const RunState& run, int cameras, Clock::time_point began) {
    const long warmupTotal = static_cast<long>(run.warmup) * cameras;
    const long measuredTotal = static_cast<long>(run.measured) * cameras;
    const double seconds = std::chrono::duration<double>(Clock::now() - began).count();
    std::ostringstream line;
    line << "\rhelmet-bench: warm-up " << run.warmupDone << '/' << warmupTotal << ", measured " << run.measuredDone
         << '/' << measuredTotal << " frames, " << std::fixed << std::setprecision(1) << seconds << " s   ";
    std::cerr << line.str() << std::flush;
}

// Runs the camera threads to the end; `measuredStart` receives the moment
// their measured calls began.
std::vector<CameraResult> runCameras(RunState& run, int cameras, bool showProgress, Clock::time_point& measuredStart) {
    std::vector<CameraResult> results(cameras);
    StartBarrier start(cameras, StartMark{&measuredStart});
    const Clock::time_point began = Clock::now();
    std::vector<std::jthread> threads;
    for (int camera = 0; camera < cameras; ++camera) {
        threads.emplace_back(runCamera, std::ref(run), camera, cameras, std::ref(start), std::ref(results[camera]));
    }
    if (showProgress) {
        while (run.camerasDone < cameras) {
            printProgress(run, cameras, began);
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
        }
        printProgress(run, cameras, began);
        std::cerr << '\n';
    }
    threads.clear();  // joins
    return results;
}

// A "Name:   123456 kB" line of /proc/self/status in MB; negative when absent.
double statusMegabytes(const std::string& field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field, 0) == 0) {
            return std::stod(line.substr(field.size())) / 1024.0;
        }
    }
    return -1.0;
}

}  // namespace

double currentResidentMegabytes() {
    return std::max(0.0, statusMegabytes("VmRSS:"));
}

double peakResidentMegabytes() {
    if (const double peak = statusMegabytes("VmHWM:"); peak >= 0.0) {
        return peak;
    }
#if defined(_WIN32)
    return -1.0;  // no /proc and no getrusage: not measured
#else
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;  // kB on Linux
#endif
}

BenchReport runBenchmark(const BenchOptions& options, const FrameSet& frames, bool showProgress) {
    if (frames.frames.empty()) {
        throw std::runtime_error("no frames to run");
    }
    BenchReport report;
    report.model = options.modelDirectory.string();
    report.source = frames.description;
    report.frameWidth = frames.frames.front().cols;
    report.frameHeight = frames.frames.front().rows;
    report.distinctFrames = frames.frames.size();
    report.cameras = options.cameras;
    report.framesPerCamera = options.framesPerCamera;
    report.warmupPerCamera = options.warmupPerCamera;
    report.threshold = options.threshold;
    report.opencvThreads = cv::getNumThreads();
    report.residentBeforeInitializeMb = currentResidentMegabytes();

    ZORCustomHMD detector;
    IZORCustomClass& plugin = detector;  // only the interface from here on

    Clock::time_point before = Clock::now();
    const bool initialized = plugin.Initialize(report.model, options.threshold, report.labels);
    report.initializeMs = millisecondsBetween(before, Clock::now());
    if (!initialized) {
        throw UserError("Initialize failed for the model directory " + report.model);
    }
    if (options.optimize) {
        before = Clock::now();
        report.optimizeAccepted = plugin.OptimizeModel(true);
        report.optimizeMs = millisecondsBetween(before, Clock::now());
    }
    report.parameters = parameterEntries(plugin);
    for (const auto& [name, value] : report.parameters) {
        if (name == "backend") {
            report.backend = value;
        }
    }

    before = Clock::now();
    plugin.RunInference(frames.frames.front(), "camera-0");
    report.firstCallMs = millisecondsBetween(before, Clock::now());

    RunState run{plugin, frames.frames, options.warmupPerCamera, options.framesPerCamera};
    Clock::time_point measuredStart;
    const std::vector<CameraResult> results = runCameras(run, options.cameras, showProgress, measuredStart);

    std::vector<double> warmupMs;
    std::vector<double> measuredMs;
    Clock::time_point measuredEnd = measuredStart;
    for (const CameraResult& result : results) {
        if (result.failure) {
            std::rethrow_exception(result.failure);
        }
        warmupMs.insert(warmupMs.end(), result.warmupMs.begin(), result.warmupMs.end());
        measuredMs.insert(measuredMs.end(), result.measuredMs.begin(), result.measuredMs.end());
        report.detections += result.detections;
        measuredEnd = std::max(measuredEnd, result.finished);
    }
    if (!warmupMs.empty()) {
        report.warmup = summarize(std::move(warmupMs));
    }
    report.measuredFrames = measuredMs.size();
    report.latenciesMs = measuredMs;
    report.latency = summarize(std::move(measuredMs));
    report.wallSeconds = millisecondsBetween(measuredStart, measuredEnd) / 1000.0;
    report.residentAfterRunMb = currentResidentMegabytes();
    report.peakResidentMb = peakResidentMegabytes();
    plugin.Destroy();
    return report;
}

}  // namespace hbench
