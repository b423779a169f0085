// Shared by the detector tests: the known-output models and scratch folders.
#pragma once

#include "ZORCustomHMD.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <cstdint>
#include <iterator>
#include <string>

namespace hmdtest {

namespace fs = std::filesystem;

// v5_basic and v8_basic emit fixed tables; tests/detector/models/README.md lists them.
inline fs::path testModel(const std::string& name) { return fs::path(HMD_TEST_MODELS_DIR) / name; }

inline fs::path shippedModel() { return fs::path(HMD_SHIPPED_MODEL_DIR); }

// A fresh folder under the system's temporary folder, removed afterwards.
class ScratchFolder {
public:
    ScratchFolder() {
        const auto* test = testing::UnitTest::GetInstance()->current_test_info();
        path_ = fs::temp_directory_path() /
                ("hmd-" + std::string(test->test_suite_name()) + "-" + test->name() + "-" +
                 std::to_string(reinterpret_cast<std::uintptr_t>(this)));
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~ScratchFolder() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

inline void writeFile(const fs::path& path, const std::string& content) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

inline std::string readFile(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

}  // namespace hmdtest
