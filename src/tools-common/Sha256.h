// SHA-256 of a file, to name exactly which library a figure belongs to.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace zor::tools {

// Lower-case hex digest of `bytes`.
std::string sha256Hex(std::string_view bytes);

// Lower-case hex digest of the file's contents; empty when it cannot be read.
std::string fileSha256Hex(const std::filesystem::path& path);

}  // namespace zor::tools
