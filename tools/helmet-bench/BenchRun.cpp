#include "BenchRun.h"

#include "DetectorInstance.h"
#include "InitialisedDetector.h"
#include "ProgressLine.h"
#include "ResidentMemory.h"
#include "Sha256.h"
#include "ToolExit.h"

#include "ZORCustomHMD.h"

#include <opencv2/core/utility.hpp>

#include <algorithm>
#include <atomic>
#include <barrier>
#include <chrono>
#include <exception>
#include <filesystem>
#include <iomanip>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace zor::bench {

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

std::string progressText(const RunState& run, int cameras, Clock::time_point began) {
    const long warmupTotal = static_cast<long>(run.warmup) * cameras;
    const long measuredTotal = static_cast<long>(run.measured) * cameras;
    const double seconds = std::chrono::duration<double>(Clock::now() - began).count();
    std::ostringstream line;
    line << "helmet-bench: warm-up " << run.warmupDone << '/' << warmupTotal << ", measured " << run.measuredDone << '/'
         << measuredTotal << " frames, " << std::fixed << std::setprecision(1) << seconds << " s";
    return line.str();
}

// Runs the camera threads to the end; `measuredStart` receives the moment
// their measured calls began.
std::vector<CameraResult> runCameras(RunState& run, int cameras, Clock::time_point& measuredStart) {
    std::vector<CameraResult> results(cameras);
    StartBarrier start(cameras, StartMark{&measuredStart});
    const Clock::time_point began = Clock::now();
    std::vector<std::jthread> threads;
    threads.reserve(cameras);
    for (int camera = 0; camera < cameras; ++camera) {
        threads.emplace_back(runCamera, std::ref(run), camera, cameras, std::ref(start), std::ref(results[camera]));
    }
    tools::ProgressLine progress = tools::ProgressLine::onStandardError();
    if (progress.enabled()) {
        while (run.camerasDone < cameras) {
            progress.show(progressText(run, cameras, began), true);
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
        }
        progress.finish(progressText(run, cameras, began));
    }
    threads.clear();  // joins
    return results;
}

// One detector for the length of a benchmark: initialised (and optimised)
// on construction, destroyed on the way out.
class TimedDetector {
public:
    TimedDetector(std::unique_ptr<DetectorInstance> instance, const std::filesystem::path& model,
                  const BenchOptions& options, const FrameSet& frames)
        : instance_(std::move(instance)), plugin_(instance_->plugin()) {
        BenchReport& r = report_;
        r.detector.model = model.string();
        r.detector.libraryFile = instance_->libraryFile().string();
        if (!r.detector.libraryFile.empty()) {
            r.detector.librarySha256 = tools::fileSha256Hex(instance_->libraryFile());
            std::error_code error;
            r.detector.libraryBytes = std::filesystem::file_size(instance_->libraryFile(), error);
        }
        r.source = frames.description;
        r.frameWidth = frames.frames.front().cols;
        r.frameHeight = frames.frames.front().rows;
        r.distinctFrames = frames.frames.size();
        r.cameras = options.cameras;
        r.framesPerCamera = options.framesPerCamera;
        r.warmupPerCamera = options.warmupPerCamera;
        r.threshold = options.threshold;
        r.opencvThreads = cv::getNumThreads();
        r.residentBeforeInitializeMb = tools::currentResidentMegabytes();

        Clock::time_point before = Clock::now();
        tools::initializeDetector(plugin_, r.detector.model, options.threshold, r.detector.labels);
        r.initializeMs = millisecondsBetween(before, Clock::now());
        if (options.optimize) {
            before = Clock::now();
            r.optimizeAccepted = plugin_.OptimizeModel(true);
            r.optimizeMs = millisecondsBetween(before, Clock::now());
        }
        r.detector.parameters = parameterEntries(plugin_);
        for (const auto& [name, value] : r.detector.parameters) {
            if (name == "backend") {
                r.detector.backend = value;
            } else if (name == "model_version") {
                r.detector.modelVersion = value;
            }
        }

        before = Clock::now();
        plugin_.RunInference(frames.frames.front(), "camera-0");
        r.firstCallMs = millisecondsBetween(before, Clock::now());
    }
    ~TimedDetector() { plugin_.Destroy(); }
    TimedDetector(const TimedDetector&) = delete;
    TimedDetector& operator=(const TimedDetector&) = delete;

    // One repetition: every camera's warm-up calls, then the measured calls.
    void run(const BenchOptions& options, const FrameSet& frames) {
        RunState run{plugin_, frames.frames, options.warmupPerCamera, options.framesPerCamera};
        Clock::time_point measuredStart;
        const std::vector<CameraResult> results = runCameras(run, options.cameras, measuredStart);
        RunFigures figures;
        std::vector<double> measuredMs;
        Clock::time_point measuredEnd = measuredStart;
        for (const CameraResult& result : results) {
            if (result.failure) {
                std::rethrow_exception(result.failure);
            }
            warmupMs_.insert(warmupMs_.end(), result.warmupMs.begin(), result.warmupMs.end());
            measuredMs.insert(measuredMs.end(), result.measuredMs.begin(), result.measuredMs.end());
            figures.detections += result.detections;
            measuredEnd = std::max(measuredEnd, result.finished);
        }
        measuredMs_.insert(measuredMs_.end(), measuredMs.begin(), measuredMs.end());
        figures.measuredFrames = measuredMs.size();
        figures.latency = summarize(std::move(measuredMs));
        figures.wallSeconds = millisecondsBetween(measuredStart, measuredEnd) / 1000.0;
        report_.runs.push_back(figures);
        report_.residentAfterRunMb = tools::currentResidentMegabytes();
    }

    // The figures of every run so far.
    BenchReport report() const {
        BenchReport r = report_;
        if (!warmupMs_.empty()) {
            r.warmup = summarize(warmupMs_);
        }
        r.latency = summarize(measuredMs_);
        r.latenciesMs = measuredMs_;
        for (const RunFigures& run : r.runs) {
            r.measuredFrames += run.measuredFrames;
            r.wallSeconds += run.wallSeconds;
            r.detections += run.detections;
        }
        r.peakResidentMb = tools::peakResidentMegabytes();
        return r;
    }

private:
    std::unique_ptr<DetectorInstance> instance_;
    IZORCustomClass& plugin_;  // only the interface from here on
    BenchReport report_;
    std::vector<double> warmupMs_;
    std::vector<double> measuredMs_;
};

}  // namespace

BenchReport runBenchmark(const BenchOptions& options, const FrameSet& frames) {
    if (frames.frames.empty()) {
        throw std::runtime_error("no frames to run");
    }
    TimedDetector detector(std::make_unique<DetectorInstance>(), options.modelDirectory, options, frames);
    for (int i = 0; i < options.repetitions; ++i) {
        detector.run(options, frames);
    }
    return detector.report();
}

Comparison runComparison(const BenchOptions& options, const FrameSet& frames) {
    if (frames.frames.empty()) {
        throw std::runtime_error("no frames to run");
    }
    TimedDetector baseline(std::make_unique<DetectorInstance>(), options.modelDirectory, options, frames);
    TimedDetector candidate(options.compareLibrary.empty() ? std::make_unique<DetectorInstance>()
                                                           : std::make_unique<DetectorInstance>(options.compareLibrary),
                            options.compareModel.empty() ? options.modelDirectory : options.compareModel, options,
                            frames);
    // Pairs in A B, B A order, so that a drift of the machine's speed within a
    // pair favours neither.
    for (int i = 0; i < options.repetitions; ++i) {
        TimedDetector& first = i % 2 == 0 ? baseline : candidate;
        TimedDetector& second = i % 2 == 0 ? candidate : baseline;
        first.run(options, frames);
        second.run(options, frames);
    }
    return {baseline.report(), candidate.report()};
}

}  // namespace zor::bench
