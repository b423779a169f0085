#include "Terminal.h"

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

namespace zor::tools {

bool isTerminal(int fd) {
#if defined(_WIN32)
    return _isatty(fd) != 0;
#else
    return isatty(fd) == 1;
#endif
}

}  // namespace zor::tools
