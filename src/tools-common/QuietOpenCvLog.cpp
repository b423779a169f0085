#include "QuietOpenCvLog.h"

#include <cstdlib>

namespace zor::tools {

void silenceMediaLibraryLogs() {
    if (std::getenv("OPENCV_LOG_LEVEL") == nullptr) {
        cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
    }
    // AV_LOG_QUIET; 0 keeps a value the user set.
    setenv("OPENCV_FFMPEG_LOGLEVEL", "-8", 0);
}

}  // namespace zor::tools
