// A progress line, rewritten in place ("\r"), at most four times a second,
// and only when it is enabled: on standard error, when that is a terminal, so
// that logs and pipes get no carriage returns.
#pragma once

#include <chrono>
#include <ostream>
#include <string>

namespace zor::tools {

class ProgressLine {
public:
    // Shown on `out` when `enabled`.
    ProgressLine(std::ostream& out, bool enabled);
    // On standard error when it is a terminal.
    static ProgressLine onStandardError();

    bool enabled() const { return enabled_; }

    // Replaces the line with `text`; skipped when the last one is less than a
    // quarter of a second old, unless `force`.
    void show(const std::string& text, bool force = false);
    // Shows `text` and ends the line.
    void finish(const std::string& text);

private:
    using Clock = std::chrono::steady_clock;
    std::ostream& out_;
    bool enabled_;
    Clock::time_point shown_{};
};

// "frame 120/600 (20%)", or "frame 120" when the total is unknown (0).
std::string countText(const std::string& noun, long done, long total);

}  // namespace zor::tools
