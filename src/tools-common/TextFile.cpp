#include "TextFile.h"

#include "ToolExit.h"

#include <fcntl.h>
#include <sys/stat.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <array>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace zor::tools {

namespace fs = std::filesystem;

namespace {

#ifndef _WIN32
// Closes the descriptor on every way out.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};
#endif

std::string notRegular(const fs::path& path, const std::string& what) {
    return what + " is not a regular file: " + path.string();
}

std::string cannotRead(const fs::path& path, const std::string& what, int error) {
    return "cannot read the " + what + " " + path.string() + " (" + std::strerror(error) + ")";
}

std::string sizeText(std::size_t bytes) {
    return bytes % (1 << 20) == 0 ? std::to_string(bytes >> 20) + " MiB" : std::to_string(bytes) + " bytes";
}

// What this process may write; Windows tells only when it tries.
bool writable([[maybe_unused]] const fs::path& path, [[maybe_unused]] bool folder) {
#ifdef _WIN32
    return true;
#else
    return ::access(path.c_str(), folder ? W_OK | X_OK : W_OK) == 0;
#endif
}

}  // namespace

void requireRegularFile(const fs::path& path, const std::string& what) {
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (!fs::exists(status)) {
        throw UserError(what + " not found: " + path.string());
    }
    if (!fs::is_regular_file(status)) {
        throw UserError(notRegular(path, what));
    }
}

std::string readTextFile(const fs::path& path, std::size_t maxBytes, const std::string& what) {
    requireRegularFile(path, what);
    const std::string tooLarge = "the " + what + " " + path.string() + " is larger than " + sizeText(maxBytes);
    std::string text;
    std::array<char, 1 << 16> chunk{};
    // Reads in chunks, never past the bound, whatever size the file claims.
    const auto append = [&](std::size_t got) {
        text.append(chunk.data(), got);
        if (text.size() > maxBytes) {
            throw UserError(tooLarge);
        }
    };
#ifdef _WIN32
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        throw UserError(cannotRead(path, what, errno));
    }
    while (file.read(chunk.data(), chunk.size()) || file.gcount() > 0) {
        append(static_cast<std::size_t>(file.gcount()));
    }
#else
    // O_NONBLOCK: a FIFO put in place after the check opens at once and is
    // then refused by fstat below.
    const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat info {};
    if (file.get() < 0 || ::fstat(file.get(), &info) != 0) {
        throw UserError(cannotRead(path, what, errno));
    }
    if (!S_ISREG(info.st_mode)) {
        throw UserError(notRegular(path, what));
    }
    if (static_cast<std::size_t>(info.st_size) > maxBytes) {
        throw UserError(tooLarge);
    }
    for (;;) {
        const ssize_t got = ::read(file.get(), chunk.data(), chunk.size());
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            throw UserError(cannotRead(path, what, errno));
        }
        if (got == 0) {
            break;
        }
        append(static_cast<std::size_t>(got));
    }
#endif
    return text;
}

void checkOutputFile(const fs::path& path, const std::string& what) {
    std::error_code error;
    if (path.empty()) {
        throw UserError(what + " needs a file name");
    }
    if (fs::is_directory(path, error)) {
        throw UserError(what + " is a folder, not a file: " + path.string());
    }
    const fs::path folder = fs::absolute(path, error).parent_path();
    if (!fs::is_directory(folder, error)) {
        throw UserError("no folder for the " + what + " " + path.string());
    }
    if (!writable(folder, true) || (fs::exists(path, error) && !writable(path, false))) {
        throw UserError("cannot write the " + what + " " + path.string());
    }
}

void checkOutputFolder(const fs::path& path, const std::string& what) {
    std::error_code error;
    if (path.empty()) {
        throw UserError(what + " needs a folder");
    }
    if (!fs::exists(path, error)) {
        fs::create_directories(path, error);
    }
    if (!fs::is_directory(path, error)) {
        throw UserError("cannot create the " + what + " " + path.string());
    }
    if (!writable(path, true)) {
        throw UserError("cannot write into the " + what + " " + path.string());
    }
}

void writeTextFile(const fs::path& path, std::string_view text) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(text.data(), static_cast<std::streamsize>(text.size()));
    file.close();
    if (!file) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

}  // namespace zor::tools
