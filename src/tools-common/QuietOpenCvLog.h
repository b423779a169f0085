// Silences OpenCV's log while it lives: back ends that fail to open a file or
// an encoder log why, and a user error must stay one line.
#pragma once

#include <opencv2/core/utils/logger.hpp>

namespace zor::tools {

class QuietOpenCvLog {
public:
    QuietOpenCvLog() : previous_(cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT)) {}
    ~QuietOpenCvLog() { cv::utils::logging::setLogLevel(previous_); }
    QuietOpenCvLog(const QuietOpenCvLog&) = delete;
    QuietOpenCvLog& operator=(const QuietOpenCvLog&) = delete;

private:
    cv::utils::logging::LogLevel previous_;
};

// For a whole tool, before it touches OpenCV: OpenCV's own log and FFmpeg's
// (through OpenCV's OPENCV_FFMPEG_LOGLEVEL, read when FFmpeg is first used)
// stay silent, so that what stops the tool is its one line. OPENCV_LOG_LEVEL
// or OPENCV_FFMPEG_LOGLEVEL set by the user still win.
void silenceMediaLibraryLogs();

}  // namespace zor::tools
