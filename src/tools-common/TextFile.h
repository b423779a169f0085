// Text files in and out: inputs that must be regular files, read with a size
// bound, and output files checked before a run and written in one go.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

namespace zor::tools {

// Generous for a label or exclusion file: the test video's whole ground
// truth (300 frames) is 66 KB.
inline constexpr std::size_t kMaxTextInputBytes = std::size_t{64} << 20;

// Throws UserError "<what> not found: PATH" or "<what> is not a regular file:
// PATH" (a FIFO, a device or a folder would block, never end, or not read).
void requireRegularFile(const std::filesystem::path& path, const std::string& what);

// The whole of a regular file of at most `maxBytes`; UserError naming the path
// otherwise. Never blocks on a FIFO swapped in after a check.
std::string readTextFile(const std::filesystem::path& path, std::size_t maxBytes, const std::string& what);

// Before a run, so that a typo costs no run: the path is not a folder and its
// folder exists and is writable; UserError "<what> ... PATH" otherwise.
void checkOutputFile(const std::filesystem::path& path, const std::string& what);

// An output folder: created when missing; UserError unless it is a writable folder.
void checkOutputFolder(const std::filesystem::path& path, const std::string& what);

// Writes `text` to `path`, replacing the file; throws std::runtime_error
// "cannot write PATH" when the file cannot be written completely (the run
// failed, exit 1).
void writeTextFile(const std::filesystem::path& path, std::string_view text);

}  // namespace zor::tools
