// Holds back what a plugin library writes to std::cerr, so that a tool can
// report a failed Initialize as one line of its own.
#pragma once

#include <iostream>
#include <sstream>
#include <string>

namespace zor::tools {

// Keeps what is written to std::cerr while it lives.
class CerrCapture {
public:
    CerrCapture() : previous_(std::cerr.rdbuf(captured_.rdbuf())) {}
    ~CerrCapture() { std::cerr.rdbuf(previous_); }
    CerrCapture(const CerrCapture&) = delete;
    CerrCapture& operator=(const CerrCapture&) = delete;

    // The captured lines joined with "; ".
    std::string text() const {
        std::istringstream lines(captured_.str());
        std::string joined;
        for (std::string line; std::getline(lines, line);) {
            if (!line.empty()) {
                joined += (joined.empty() ? "" : "; ") + line;
            }
        }
        return joined;
    }

private:
    std::ostringstream captured_;
    std::streambuf* previous_;
};

}  // namespace zor::tools
