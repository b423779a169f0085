// Writing an output file (a JSON report, a list of latencies) in one go.
#pragma once

#include <filesystem>
#include <string_view>

namespace zor::tools {

// Writes `text` to `path`, replacing the file; throws std::runtime_error
// "cannot write PATH" when the file cannot be written completely (the run
// failed, exit 1).
void writeTextFile(const std::filesystem::path& path, std::string_view text);

}  // namespace zor::tools
