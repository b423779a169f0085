#include "Report.h"

#include "JsonText.h"

#include <iomanip>
#include <sstream>

namespace zor::bench {

using tools::jsonNumber;
using tools::jsonString;

double RunFigures::throughputFps() const {
    return wallSeconds > 0.0 ? static_cast<double>(measuredFrames) / wallSeconds : 0.0;
}

double BenchReport::throughputFps() const {
    return wallSeconds > 0.0 ? static_cast<double>(measuredFrames) / wallSeconds : 0.0;
}

double BenchReport::detectionsPerFrame() const {
    return measuredFrames > 0 ? static_cast<double>(detections) / static_cast<double>(measuredFrames) : 0.0;
}

Spread BenchReport::medianSpread() const {
    std::vector<double> medians;
    for (const RunFigures& run : runs) {
        medians.push_back(run.latency.p50);
    }
    return spreadOf(medians);
}

double Comparison::ratioOfMedians() const {
    return candidate.medianSpread().median / baseline.medianSpread().median;
}

std::vector<double> Comparison::pairRatios() const {
    std::vector<double> ratios;
    for (std::size_t i = 0; i < baseline.runs.size() && i < candidate.runs.size(); ++i) {
        ratios.push_back(candidate.runs[i].latency.p50 / baseline.runs[i].latency.p50);
    }
    return ratios;
}

namespace {

std::string fixed(double value, int decimals) {
    std::ostringstream text;
    text << std::fixed << std::setprecision(decimals) << value;
    return text.str();
}

void row(std::ostream& out, const std::string& name, const std::string& value) {
    out << "  " << std::left << std::setw(28) << name << value << '\n';
}

std::string milliseconds(double value) {
    return fixed(value, 2) + " ms";
}

std::string spreadText(const Spread& spread, int decimals, const std::string& unit) {
    return "median " + fixed(spread.median, decimals) + unit + ", mean " + fixed(spread.mean, decimals) + unit +
           ", stddev " + fixed(spread.stddev, decimals) + unit + ", min " + fixed(spread.min, decimals) + unit +
           ", max " + fixed(spread.max, decimals) + unit;
}

void printIdentity(std::ostream& out, const DetectorIdentity& d) {
    row(out, "library", d.libraryFile.empty() ? "(not found)" : d.libraryFile);
    if (!d.librarySha256.empty()) {
        row(out, "library sha256", d.librarySha256 + "  (" + std::to_string(d.libraryBytes) + " bytes)");
    }
    row(out, "model",
        d.model + (d.modelVersion.empty() ? "" : "  (version " + d.modelVersion + ")") +
            (d.labels.empty() ? "" : "  [" + d.labels + "]"));
    if (!d.backend.empty()) {
        row(out, "backend", d.backend);
    }
}

void jsonSummary(std::ostream& out, const LatencySummary& summary) {
    out << "{\"count\": " << summary.count << ", \"mean\": " << jsonNumber(summary.mean)
        << ", \"min\": " << jsonNumber(summary.min) << ", \"p50\": " << jsonNumber(summary.p50)
        << ", \"p90\": " << jsonNumber(summary.p90) << ", \"p99\": " << jsonNumber(summary.p99)
        << ", \"max\": " << jsonNumber(summary.max) << "}";
}

void jsonSpread(std::ostream& out, const Spread& spread) {
    out << "{\"count\": " << spread.count << ", \"median\": " << jsonNumber(spread.median)
        << ", \"mean\": " << jsonNumber(spread.mean) << ", \"stddev\": " << jsonNumber(spread.stddev)
        << ", \"min\": " << jsonNumber(spread.min) << ", \"max\": " << jsonNumber(spread.max) << "}";
}

void jsonContext(std::ostream& out, const BenchContext& c) {
    out << "{\"date\": " << jsonString(c.date) << ", \"host\": " << jsonString(c.host) << ", \"cpus\": " << c.cpus
        << ", \"opencv_version\": " << jsonString(c.opencvVersion)
        << ", \"opencv_build_type\": " << jsonString(c.opencvBuildType) << "}";
}

// The report's members, one per line, at `indent`.
void jsonReportMembers(std::ostream& out, const BenchReport& r, const std::string& indent) {
    const DetectorIdentity& d = r.detector;
    auto member = [&](const char* name, const std::string& value, bool last = false) {
        out << indent << '"' << name << "\": " << value << (last ? "\n" : ",\n");
    };
    member("library_file", jsonString(d.libraryFile));
    member("library_sha256", jsonString(d.librarySha256));
    member("library_bytes", std::to_string(d.libraryBytes));
    member("model", jsonString(d.model));
    member("model_version", jsonString(d.modelVersion));
    member("labels", jsonString(d.labels));
    member("backend", jsonString(d.backend));
    std::string parameters = "{";
    for (std::size_t i = 0; i < d.parameters.size(); ++i) {
        parameters +=
            (i == 0 ? "" : ", ") + jsonString(d.parameters[i].first) + ": " + jsonString(d.parameters[i].second);
    }
    member("parameters", parameters + "}");
    member("source", jsonString(r.source));
    member("frame_width", std::to_string(r.frameWidth));
    member("frame_height", std::to_string(r.frameHeight));
    member("distinct_frames", std::to_string(r.distinctFrames));
    member("cameras", std::to_string(r.cameras));
    member("frames_per_camera", std::to_string(r.framesPerCamera));
    member("warmup_per_camera", std::to_string(r.warmupPerCamera));
    member("threshold", jsonNumber(r.threshold));
    member("opencv_threads", std::to_string(r.opencvThreads));
    member("initialize_ms", jsonNumber(r.initializeMs));
    if (r.optimizeMs) {
        member("optimize_ms", jsonNumber(*r.optimizeMs));
        member("optimize_accepted", r.optimizeAccepted ? "true" : "false");
    }
    member("first_call_ms", jsonNumber(r.firstCallMs));
    if (r.warmup) {
        std::ostringstream warmup;
        jsonSummary(warmup, *r.warmup);
        member("warmup_ms", warmup.str());
    }
    std::ostringstream latency;
    jsonSummary(latency, r.latency);
    member("latency_ms", latency.str());
    member("repetitions", std::to_string(r.runs.size()));
    std::ostringstream runs;
    runs << '[';
    for (std::size_t i = 0; i < r.runs.size(); ++i) {
        const RunFigures& run = r.runs[i];
        runs << (i == 0 ? "" : ", ") << "{\"latency_ms\": ";
        jsonSummary(runs, run.latency);
        runs << ", \"wall_s\": " << jsonNumber(run.wallSeconds)
             << ", \"throughput_fps\": " << jsonNumber(run.throughputFps()) << '}';
    }
    runs << ']';
    member("runs", runs.str());
    std::ostringstream spread;
    jsonSpread(spread, r.medianSpread());
    member("run_median_ms", spread.str());
    member("measured_frames", std::to_string(r.measuredFrames));
    member("wall_s", jsonNumber(r.wallSeconds));
    member("throughput_fps", jsonNumber(r.throughputFps()));
    member("detections", std::to_string(r.detections));
    member("detections_per_frame", jsonNumber(r.detectionsPerFrame()));
    member("peak_rss_mb", jsonNumber(r.peakResidentMb));
    member("rss_before_initialize_mb", jsonNumber(r.residentBeforeInitializeMb));
    member("rss_after_run_mb", jsonNumber(r.residentAfterRunMb), true);
}

}  // namespace

void printContext(std::ostream& out, const BenchContext& c) {
    out << c.date << '\n'
        << "Running helmet-bench on " << (c.host.empty() ? "this machine" : c.host) << '\n'
        << "Run on (" << c.cpus << " X CPU), OpenCV " << c.opencvVersion << " (" << c.opencvBuildType << " build)\n";
}

void printTable(std::ostream& out, const BenchReport& r) {
    printIdentity(out, r.detector);
    row(out, "OpenCV threads", std::to_string(r.opencvThreads));
    row(out, "frames", r.source + ", " + std::to_string(r.distinctFrames) + " distinct in memory");
    row(out, "run",
        std::to_string(r.cameras) + (r.cameras == 1 ? " camera x " : " cameras x ") +
            std::to_string(r.framesPerCamera) + " frames (+" + std::to_string(r.warmupPerCamera) +
            " warm-up), threshold " + fixed(r.threshold, 2) + ", " + std::to_string(r.runs.size()) +
            (r.runs.size() == 1 ? " repetition" : " repetitions"));
    out << '\n';
    row(out, "Initialize", milliseconds(r.initializeMs));
    if (r.optimizeMs) {
        row(out, "OptimizeModel(true)", milliseconds(*r.optimizeMs) + (r.optimizeAccepted ? "" : "  (returned false)"));
    }
    row(out, "first call", milliseconds(r.firstCallMs));
    if (r.warmup) {
        row(out, "warm-up calls (" + std::to_string(r.warmup->count) + ")",
            "mean " + milliseconds(r.warmup->mean) + ", max " + milliseconds(r.warmup->max));
    }
    row(out, "latency mean", milliseconds(r.latency.mean));
    row(out, "latency p50", milliseconds(r.latency.p50));
    row(out, "latency p90", milliseconds(r.latency.p90));
    row(out, "latency p99", milliseconds(r.latency.p99));
    row(out, "latency max", milliseconds(r.latency.max));
    if (r.runs.size() > 1) {
        row(out, "p50 over repetitions", spreadText(r.medianSpread(), 2, " ms"));
    }
    row(out, "throughput (all cameras)",
        fixed(r.throughputFps(), 2) + " frames/s  (" + std::to_string(r.measuredFrames) + " frames in " +
            fixed(r.wallSeconds, 3) + " s)");
    row(out, "detections per frame", fixed(r.detectionsPerFrame(), 2));
    row(out, "peak resident memory", fixed(r.peakResidentMb, 1) + " MB");
    row(out, "resident memory",
        fixed(r.residentBeforeInitializeMb, 1) + " MB before Initialize (frames loaded), " +
            fixed(r.residentAfterRunMb, 1) + " MB after the run");
}

void printComparison(std::ostream& out, const Comparison& c) {
    out << "baseline\n";
    printTable(out, c.baseline);
    out << "\ncandidate\n";
    printTable(out, c.candidate);
    const Spread pairs = spreadOf(c.pairRatios());
    out << "\ncomparison (runs interleaved, each run's median latency)\n";
    row(out, "baseline p50 per run", spreadText(c.baseline.medianSpread(), 2, " ms"));
    row(out, "candidate p50 per run", spreadText(c.candidate.medianSpread(), 2, " ms"));
    row(out, "candidate / baseline",
        fixed(c.ratioOfMedians(), 3) + "  (ratio of medians; run pairs from " + fixed(pairs.min, 3) + " to " +
            fixed(pairs.max, 3) + ", stddev " + fixed(pairs.stddev, 3) + ", " + std::to_string(pairs.count) +
            " pairs)");
}

void writeJson(std::ostream& out, const BenchContext& context, const BenchReport& report) {
    out << "{\n  \"context\": ";
    jsonContext(out, context);
    out << ",\n";
    jsonReportMembers(out, report, "  ");
    out << "}\n";
}

void writeJson(std::ostream& out, const BenchContext& context, const Comparison& comparison) {
    out << "{\n  \"context\": ";
    jsonContext(out, context);
    out << ",\n  \"baseline\": {\n";
    jsonReportMembers(out, comparison.baseline, "    ");
    out << "  },\n  \"candidate\": {\n";
    jsonReportMembers(out, comparison.candidate, "    ");
    out << "  },\n  \"ratio_of_medians\": " << jsonNumber(comparison.ratioOfMedians()) << ",\n  \"pair_ratios\": ";
    jsonSpread(out, spreadOf(comparison.pairRatios()));
    out << "\n}\n";
}

void writeLatencies(std::ostream& out, const BenchReport& report) {
    for (const double milliseconds : report.latenciesMs) {
        out << jsonNumber(milliseconds) << '\n';
    }
}

}  // namespace zor::bench
