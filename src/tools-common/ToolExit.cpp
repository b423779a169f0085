#include "ToolExit.h"

#include "QuietOpenCvLog.h"

#include <iostream>

namespace zor::tools {

int runToolMain(std::string_view toolName, const std::function<int()>& body) {
    silenceMediaLibraryLogs();
    try {
        return body();
    } catch (const UserError& error) {
        std::cerr << toolName << ": " << error.what() << std::endl;
        return kExitUserError;
    } catch (const std::exception& error) {
        std::cerr << toolName << ": " << error.what() << std::endl;
    } catch (...) {
        std::cerr << toolName << ": unknown error" << std::endl;
    }
    return kExitFailed;
}

}  // namespace zor::tools
