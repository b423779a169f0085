// A mistake the user can fix (an option, a file, a folder): main reports it
// as one line on standard error and exits with status 2.
#pragma once

#include <stdexcept>

namespace zor::detect {

class UserError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace zor::detect
