#include "InstalledData.h"

#include <iterator>
#include <system_error>

#if defined(_WIN32)
#include <windows.h>
#endif

#ifndef HMD_DATA_FROM_PROGRAM
#define HMD_DATA_FROM_PROGRAM "../share/ZORCustomHelmetDetection"
#endif

namespace zor::tools {

namespace fs = std::filesystem;

fs::path programFolder() {
#if defined(__linux__)
    std::error_code error;
    const fs::path program = fs::read_symlink("/proc/self/exe", error);
    return error ? fs::path() : program.parent_path();
#elif defined(_WIN32)
    wchar_t buffer[32768];
    const DWORD length = GetModuleFileNameW(nullptr, buffer, static_cast<DWORD>(std::size(buffer)));
    return length == 0 || length == std::size(buffer) ? fs::path() : fs::path(buffer, buffer + length).parent_path();
#else
    return {};
#endif
}

fs::path installedData(std::string_view item) {
    return (programFolder() / HMD_DATA_FROM_PROGRAM / fs::path(item)).lexically_normal();
}

}  // namespace zor::tools
