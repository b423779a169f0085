// Whether a stream is a terminal: the one rule for showing a progress line.
#pragma once

namespace zor::tools {

inline constexpr int kStandardError = 2;

// True when the file descriptor `fd` is a terminal (POSIX isatty, Windows _isatty).
bool isTerminal(int fd);

}  // namespace zor::tools
