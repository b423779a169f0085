#include "OutputFolder.h"

#include "QuietOpenCvLog.h"
#include "ToolExit.h"

#include <opencv2/imgproc.hpp>

#include <random>
#include <stdexcept>
#include <system_error>

namespace zor::detect {

namespace fs = std::filesystem;

namespace {

// Distinguishes this run's temporary files from those of a run beside it.
std::string randomTag() {
    std::random_device device;
    std::uniform_int_distribution<unsigned> digit(0, 35);
    std::string tag;
    for (int i = 0; i < 8; ++i) {
        tag += "0123456789abcdefghijklmnopqrstuvwxyz"[digit(device)];
    }
    return tag;
}

}  // namespace

OutputFolder::OutputFolder(fs::path folder) : folder_(std::move(folder)), prefix_(".partial-" + randomTag() + "-") {
    std::error_code error;
    fs::create_directories(folder_, error);
    if (error || !fs::is_directory(folder_, error)) {
        throw tools::UserError("cannot create the output folder " + folder_.string() +
                               (error ? " (" + error.message() + ")" : " (a file is in the way)"));
    }
}

OutputFolder::~OutputFolder() {
    if (committed_) {
        return;
    }
    for (const Staged& file : staged_) {
        std::error_code ignored;
        fs::remove(file.temporary, ignored);
    }
}

fs::path OutputFolder::stage(const std::string& finalName) {
    Staged file{folder_ / (prefix_ + finalName), folder_ / finalName};
    staged_.push_back(file);
    return file.temporary;
}

void OutputFolder::commit() {
    for (const Staged& file : staged_) {
        std::error_code error;
        fs::rename(file.temporary, file.final, error);
        if (error) {
            throw std::runtime_error("cannot rename " + file.temporary.string() + " to " + file.final.string() + " (" +
                                     error.message() + ")");
        }
    }
    committed_ = true;
}

AnnotatedVideo::AnnotatedVideo(fs::path path, double fps) : path_(std::move(path)), fps_(fps) {}

void AnnotatedVideo::write(const cv::Mat& frame) {
    if (!writer_.isOpened()) {
        size_ = frame.size();
        const tools::QuietOpenCvLog quiet;
        for (const char* codec : {"avc1", "mp4v"}) {
            if (writer_.open(path_.string(), cv::VideoWriter::fourcc(codec[0], codec[1], codec[2], codec[3]), fps_,
                             size_)) {
                break;
            }
        }
        if (!writer_.isOpened()) {
            throw std::runtime_error("no MP4 video encoder available to write " + path_.string());
        }
    }
    if (frame.size() == size_) {
        writer_.write(frame);
    } else {
        cv::Mat resized;
        cv::resize(frame, resized, size_);
        writer_.write(resized);
    }
}

void AnnotatedVideo::close() {
    writer_.release();
    std::error_code error;
    if (!fs::is_regular_file(path_, error) || fs::file_size(path_, error) == 0 || error) {
        throw std::runtime_error("cannot write " + path_.string());
    }
}

}  // namespace zor::detect
