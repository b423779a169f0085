#include "Report.h"

#include <cmath>
#include <iomanip>
#include <sstream>

namespace hbench {

double BenchReport::throughputFps() const {
    return wallSeconds > 0.0 ? static_cast<double>(measuredFrames) / wallSeconds : 0.0;
}

double BenchReport::detectionsPerFrame() const {
    return measuredFrames > 0 ? static_cast<double>(detections) / static_cast<double>(measuredFrames) : 0.0;
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

std::string jsonString(const std::string& text) {
    std::ostringstream quoted;
    quoted << '"';
    for (const char c : text) {
        switch (c) {
            case '"':
                quoted << "\\\"";
                break;
            case '\\':
                quoted << "\\\\";
                break;
            case '\n':
                quoted << "\\n";
                break;
            case '\t':
                quoted << "\\t";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    quoted << "\\u" << std::hex << std::setw(4) << std::setfill('0') << static_cast<int>(c) << std::dec
                           << std::setfill(' ');
                } else {
                    quoted << c;
                }
        }
    }
    quoted << '"';
    return quoted.str();
}

// JSON has no NaN or infinity; such a figure is written as 0.
std::string jsonNumber(double value, int decimals = 6) {
    return fixed(std::isfinite(value) ? value : 0.0, decimals);
}

void jsonSummary(std::ostream& out, const LatencySummary& summary, const char* indent) {
    out << "{\n"
        << indent << "  \"count\": " << summary.count << ",\n"
        << indent << "  \"mean\": " << jsonNumber(summary.mean) << ",\n"
        << indent << "  \"min\": " << jsonNumber(summary.min) << ",\n"
        << indent << "  \"p50\": " << jsonNumber(summary.p50) << ",\n"
        << indent << "  \"p90\": " << jsonNumber(summary.p90) << ",\n"
        << indent << "  \"p99\": " << jsonNumber(summary.p99) << ",\n"
        << indent << "  \"max\": " << jsonNumber(summary.max) << "\n"
        << indent << "}";
}

}  // namespace

void printTable(std::ostream& out, const BenchReport& r) {
    out << "helmet-bench\n";
    row(out, "model", r.model + (r.labels.empty() ? "" : "  [" + r.labels + "]"));
    if (!r.backend.empty()) {
        row(out, "backend", r.backend + "  (OpenCV threads: " + std::to_string(r.opencvThreads) + ")");
    } else {
        row(out, "OpenCV threads", std::to_string(r.opencvThreads));
    }
    row(out, "frames", r.source + ", " + std::to_string(r.distinctFrames) + " distinct in memory");
    row(out, "run",
        std::to_string(r.cameras) + (r.cameras == 1 ? " camera x " : " cameras x ") +
            std::to_string(r.framesPerCamera) + " frames (+" + std::to_string(r.warmupPerCamera) +
            " warm-up), threshold " + fixed(r.threshold, 2));
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
    row(out, "throughput (all cameras)",
        fixed(r.throughputFps(), 2) + " frames/s  (" + std::to_string(r.measuredFrames) + " frames in " +
            fixed(r.wallSeconds, 3) + " s)");
    row(out, "detections per frame", fixed(r.detectionsPerFrame(), 2));
    row(out, "peak resident memory", fixed(r.peakResidentMb, 1) + " MB");
    row(out, "resident memory",
        fixed(r.residentBeforeInitializeMb, 1) + " MB before Initialize (frames loaded), " +
            fixed(r.residentAfterRunMb, 1) + " MB after the run");
}

void writeJson(std::ostream& out, const BenchReport& r) {
    out << "{\n"
        << "  \"model\": " << jsonString(r.model) << ",\n"
        << "  \"labels\": " << jsonString(r.labels) << ",\n"
        << "  \"backend\": " << jsonString(r.backend) << ",\n"
        << "  \"parameters\": {";
    for (std::size_t i = 0; i < r.parameters.size(); ++i) {
        out << (i ? ", " : "") << jsonString(r.parameters[i].first) << ": " << jsonString(r.parameters[i].second);
    }
    out << "},\n"
        << "  \"source\": " << jsonString(r.source) << ",\n"
        << "  \"frame_width\": " << r.frameWidth << ",\n"
        << "  \"frame_height\": " << r.frameHeight << ",\n"
        << "  \"distinct_frames\": " << r.distinctFrames << ",\n"
        << "  \"cameras\": " << r.cameras << ",\n"
        << "  \"frames_per_camera\": " << r.framesPerCamera << ",\n"
        << "  \"warmup_per_camera\": " << r.warmupPerCamera << ",\n"
        << "  \"threshold\": " << jsonNumber(r.threshold) << ",\n"
        << "  \"opencv_threads\": " << r.opencvThreads << ",\n"
        << "  \"initialize_ms\": " << jsonNumber(r.initializeMs) << ",\n";
    if (r.optimizeMs) {
        out << "  \"optimize_ms\": " << jsonNumber(*r.optimizeMs) << ",\n"
            << "  \"optimize_accepted\": " << (r.optimizeAccepted ? "true" : "false") << ",\n";
    }
    out << "  \"first_call_ms\": " << jsonNumber(r.firstCallMs) << ",\n";
    if (r.warmup) {
        out << "  \"warmup_ms\": ";
        jsonSummary(out, *r.warmup, "  ");
        out << ",\n";
    }
    out << "  \"latency_ms\": ";
    jsonSummary(out, r.latency, "  ");
    out << ",\n"
        << "  \"measured_frames\": " << r.measuredFrames << ",\n"
        << "  \"wall_s\": " << jsonNumber(r.wallSeconds, 9) << ",\n"
        << "  \"throughput_fps\": " << jsonNumber(r.throughputFps()) << ",\n"
        << "  \"detections\": " << r.detections << ",\n"
        << "  \"detections_per_frame\": " << jsonNumber(r.detectionsPerFrame()) << ",\n"
        << "  \"peak_rss_mb\": " << jsonNumber(r.peakResidentMb) << ",\n"
        << "  \"rss_before_initialize_mb\": " << jsonNumber(r.residentBeforeInitializeMb) << ",\n"
        << "  \"rss_after_run_mb\": " << jsonNumber(r.residentAfterRunMb) << "\n"
        << "}\n";
}

void writeLatencies(std::ostream& out, const BenchReport& r) {
    for (const double milliseconds : r.latenciesMs) {
        out << jsonNumber(milliseconds) << '\n';
    }
}

}  // namespace hbench
