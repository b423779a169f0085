// Shared by the detector tests: the known-output models and scratch folders.
#pragma once

#include "BuildPaths.h"
#include "ScratchFolder.h"
#include "ZORCustomHMD.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace zor::test {

namespace fs = std::filesystem;

// v5_basic and v8_basic emit fixed tables; tests/detector/models/README.md lists them.
inline fs::path testModel(const std::string& name) {
    return fs::path(paths::kTestModels) / name;
}

inline fs::path shippedModel() {
    return fs::path(paths::kShippedModel);
}

using zor::test::readFile;
using zor::test::ScratchFolder;
using zor::test::writeFile;

}  // namespace zor::test
