#include "QuietOpenCvLog.h"

#include <cstdlib>

namespace zor::tools {

void silenceMediaLibraryLogs() {
    if (std::getenv("OPENCV_LOG_LEVEL") == nullptr) {
        cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
    }
    // AV_LOG_QUIET, unless the user set a level.
    if (std::getenv("OPENCV_FFMPEG_LOGLEVEL") == nullptr) {
#if defined(_WIN32)
        _putenv_s("OPENCV_FFMPEG_LOGLEVEL", "-8");
#else
        setenv("OPENCV_FFMPEG_LOGLEVEL", "-8", 0);
#endif
    }
}

}  // namespace zor::tools
