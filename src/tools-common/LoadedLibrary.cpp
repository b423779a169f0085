#include "LoadedLibrary.h"

#include <string>

#if defined(__linux__)
#include <link.h>
#endif

namespace zor::tools {

std::filesystem::path loadedLibraryFile(std::string_view fileNamePrefix) {
#if defined(__linux__)
    struct Search {
        std::string_view prefix;
        std::filesystem::path found;
    } search{fileNamePrefix, {}};
    dl_iterate_phdr(
        [](dl_phdr_info* info, std::size_t, void* data) {
            auto& wanted = *static_cast<Search*>(data);
            if (info->dlpi_name == nullptr || info->dlpi_name[0] == '\0') {
                return 0;
            }
            const std::filesystem::path file(info->dlpi_name);
            if (file.filename().string().rfind(wanted.prefix, 0) == 0) {
                wanted.found = std::filesystem::weakly_canonical(file);
                return 1;
            }
            return 0;
        },
        &search);
    return search.found;
#else
    (void)fileNamePrefix;
    return {};
#endif
}

}  // namespace zor::tools
