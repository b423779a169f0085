// Runs the tool under test (paths::kToolProgram, set by each tool's test target)
// with its output held in files, so that standard error is not a terminal,
// and kills it when it outlives a generous limit, so that a hang fails the
// test instead of blocking the whole run.
#pragma once

#include "BuildPaths.h"
#include "JsonReader.h"
#include "ScratchFolder.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace zor::test {

namespace fs = std::filesystem;

inline std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        result.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        start = end == std::string::npos ? text.size() : end + 1;
    }
    return result;
}

// Far beyond any run of the tests; only a hang reaches it.
inline constexpr std::chrono::seconds kToolTimeLimit{600};

struct ToolRun {
    int status = -1;      // exit status; -1 when it did not exit normally
    bool killed = false;  // outlived its time limit
    std::string out;
    std::string err;
};

// Runs `command` (the program's path, then its arguments); its standard
// output and error go to files in `scratch`, so standard error is not a terminal.
inline ToolRun runProgram(std::vector<std::string> command, const fs::path& scratch,
                          std::chrono::seconds limit = kToolTimeLimit) {
    const fs::path outFile = scratch / "tool-stdout.txt";
    const fs::path errFile = scratch / "tool-stderr.txt";
    std::vector<char*> argv;
    for (std::string& argument : command) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        throw std::runtime_error("cannot start " + command[0]);
    }
    ToolRun run;
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            run.killed = true;
            break;
        }
        usleep(10'000);
    }
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = readFile(outFile);
    run.err = readFile(errFile);
    fs::remove(outFile);
    fs::remove(errFile);
    return run;
}

// Runs the tool under test with `arguments`.
inline ToolRun runTool(const std::vector<std::string>& arguments, const fs::path& scratch,
                       std::chrono::seconds limit = kToolTimeLimit) {
    std::vector<std::string> command{paths::kToolProgram};
    command.insert(command.end(), arguments.begin(), arguments.end());
    return runProgram(std::move(command), scratch, limit);
}

}  // namespace zor::test
