// Data or options the user gave that cannot be used (a malformed label line,
// a bad class map): the tool reports it on one line and exits with status 2.
#pragma once

#include <stdexcept>

namespace zor::eval {

class UserError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace zor::eval
