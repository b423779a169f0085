// A mistake the user can fix (the model directory, the video): main reports it
// as one line on standard error and exits with status 2, as every tool does.
#pragma once

#include <stdexcept>

namespace zor::bench {

class UserError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace zor::bench
