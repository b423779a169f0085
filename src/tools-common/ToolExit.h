// How every tool ends, and how its main reports what stopped it.
//   0  done: the run finished and its outputs are written
//   1  the run failed: something went wrong that the user did not cause
//   2  user error: an option, a file, a folder or a model the user can fix
// Whatever stops a tool is one line on standard error: "<tool>: <reason>".
#pragma once

#include <functional>
#include <stdexcept>
#include <string_view>

namespace zor::tools {

enum ExitStatus : int { kExitDone = 0, kExitFailed = 1, kExitUserError = 2 };

// A mistake the user can fix; main exits with kExitUserError.
class UserError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Runs a tool's body and turns what escapes it into the exit status and the
// one line on standard error; OpenCV's and FFmpeg's logs stay silent.
int runToolMain(std::string_view toolName, const std::function<int()>& body);

}  // namespace zor::tools
