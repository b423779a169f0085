// What stops a writer of this library: an output the user can fix (a folder
// that cannot be created, a file that cannot be opened or written) is an
// OutputError; a run that failed otherwise is a std::runtime_error. How a
// program reports either is up to the program.
#pragma once

#include <stdexcept>

namespace zor::render {

class OutputError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace zor::render
