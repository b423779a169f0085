#include "BenchContext.h"

#include <opencv2/core/utility.hpp>

#include <array>
#include <ctime>
#include <sstream>
#include <thread>

#if !defined(_WIN32)
#include <unistd.h>
#endif

namespace zor::bench {

namespace {

std::string localTimeIso8601() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
#if defined(_WIN32)
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    std::array<char, 64> text{};
    const std::size_t length = std::strftime(text.data(), text.size(), "%Y-%m-%dT%H:%M:%S%z", &local);
    return std::string(text.data(), length);
}

// The "Configuration:" line of OpenCV's build information.
std::string opencvBuildType() {
    std::istringstream lines(cv::getBuildInformation());
    for (std::string line; std::getline(lines, line);) {
        const std::size_t key = line.find("Configuration:");
        if (key != std::string::npos) {
            const std::size_t value = line.find_first_not_of(' ', key + 14);
            return value == std::string::npos ? std::string() : line.substr(value);
        }
    }
    return "unknown";
}

std::string hostName() {
#if !defined(_WIN32)
    std::array<char, 256> name{};
    if (gethostname(name.data(), name.size() - 1) == 0) {
        return name.data();
    }
#endif
    return {};
}

}  // namespace

BenchContext currentContext() {
    BenchContext context;
    context.date = localTimeIso8601();
    context.host = hostName();
    context.cpus = std::thread::hardware_concurrency();
    context.opencvVersion = cv::getVersionString();
    context.opencvBuildType = opencvBuildType();
    return context;
}

}  // namespace zor::bench
