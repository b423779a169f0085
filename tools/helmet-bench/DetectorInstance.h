// One ZORCustomHMD under test: from the library this program is linked with,
// or from another library file loaded at run time, so that two builds can be
// timed side by side in one process.
#pragma once

#include "ZORCustomHMD.h"

#include <filesystem>
#include <memory>

namespace zor::bench {

class DetectorInstance {
public:
    // A detector of the linked library.
    DetectorInstance();
    // A detector of `libraryFile`, loaded with its own symbols first so that
    // it never binds to the linked library's. Throws tools::UserError when the
    // file cannot be loaded or provides no ZORCustomHMD.
    explicit DetectorInstance(const std::filesystem::path& libraryFile);

    ~DetectorInstance();
    DetectorInstance(const DetectorInstance&) = delete;
    DetectorInstance& operator=(const DetectorInstance&) = delete;

    IZORCustomClass& plugin() { return *plugin_; }
    // The library file the detector's code lives in; empty when unknown.
    const std::filesystem::path& libraryFile() const { return libraryFile_; }

private:
    std::unique_ptr<ZORCustomHMD> linked_;
    struct Loaded;
    std::unique_ptr<Loaded> loaded_;
    IZORCustomClass* plugin_ = nullptr;
    std::filesystem::path libraryFile_;
};

}  // namespace zor::bench
