// Where the library a figure belongs to lies on disk, as the loader found it.
#pragma once

#include <filesystem>
#include <string_view>

namespace zor::tools {

// The first shared object loaded in this process whose file name starts with
// `fileNamePrefix` (for example "libZORCustomHelmetDetection"); empty when
// none is, or where the loader cannot be asked.
std::filesystem::path loadedLibraryFile(std::string_view fileNamePrefix);

}  // namespace zor::tools
