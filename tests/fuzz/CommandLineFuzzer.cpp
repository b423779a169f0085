// The tools' command lines on any arguments: each is read or refused with a
// tools::UserError (whose text is the tool's one line); any other exception
// or a crash is a finding. The first byte picks the tool, the rest splits at
// NUL bytes into arguments.
#include "BenchOptions.h"
#include "DetectOptions.h"
#include "EvalOptions.h"
#include "ToolExit.h"

#include <cstdint>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kMaxArguments = 32;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // helmet-detect and helmet-eval print --help on standard output.
    std::cout.setstate(std::ios::badbit);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    std::vector<std::string> words{"tool"};
    for (std::size_t start = 0; start <= text.size() && words.size() < kMaxArguments;) {
        const std::size_t end = std::min(text.find('\0', start), text.size());
        words.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    std::vector<const char*> argv;
    for (const std::string& word : words) {
        argv.push_back(word.c_str());
    }
    argv.push_back(nullptr);
    const int argc = static_cast<int>(words.size());
    try {
        switch (data[0] % 3) {
            case 0: {
                std::ostringstream help;
                zor::bench::parseOptions(argc, argv.data(), zor::bench::BenchOptions{}, help);
                break;
            }
            case 1:
                zor::detect::parseOptions(argc, argv.data(), "model");
                break;
            default:
                zor::eval::parseOptions(argc, argv.data(), "model");
                break;
        }
    } catch (const zor::tools::UserError& error) {
        if (std::string(error.what()).empty()) {
            std::abort();
        }
    }
    return 0;
}
