#include "ProgressLine.h"

#include "Terminal.h"

#include <iostream>
#include <sstream>

namespace zor::tools {

ProgressLine::ProgressLine(std::ostream& out, bool enabled) : out_(out), enabled_(enabled) {}

ProgressLine ProgressLine::onStandardError() {
    return ProgressLine(std::cerr, isTerminal(kStandardError));
}

void ProgressLine::show(const std::string& text, bool force) {
    const Clock::time_point now = Clock::now();
    if (!enabled_ || (!force && now - shown_ < std::chrono::milliseconds(250))) {
        return;
    }
    shown_ = now;
    // The trailing blanks wipe the end of a longer previous line.
    out_ << '\r' << text << "   " << std::flush;
}

void ProgressLine::finish(const std::string& text) {
    show(text, true);
    if (enabled_) {
        out_ << '\n' << std::flush;
    }
}

std::string countText(const std::string& noun, long done, long total) {
    std::ostringstream text;
    text << noun << ' ' << done;
    if (total > 0) {
        text << '/' << total << " (" << 100 * done / total << "%)";
    }
    return text.str();
}

}  // namespace zor::tools
