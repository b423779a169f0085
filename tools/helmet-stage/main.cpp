// helmet-stage: stages a model folder and a video under the contract
// program's file names, in the folder where the contract and certification
// programs then run.
#include "CommandLine.h"
#include "InstalledData.h"
#include "MediaInput.h"
#include "ProgressLine.h"
#include "StagedAssets.h"
#include "TextFile.h"
#include "ToolExit.h"

#include <opencv2/core/utils/logger.hpp>

#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <system_error>

namespace {

namespace fs = std::filesystem;
using namespace zor;

struct Options {
    fs::path model = tools::installedData(tools::kShippedModel);
    fs::path video = tools::installedData(tools::kTestVideo);
    fs::path into = ".";
};

std::string usage(const Options& defaults) {
    return "helmet-stage: stages a model folder and a video under the contract program's file names\n"
           "  " +
           std::string(stage::kStagedModelName) + "\n  " + stage::kStagedVideoName +
           "\n"
           "in a folder, where HelmetDetectionTest, HelmetCertificationTest and helmet-report then run. Both\n"
           "are linked, not copied; a video that OpenCV cannot read under the staged name (on Linux, anything\n"
           "but a Motion-JPEG AVI) is re-encoded into one there.\n"
           "Usage: helmet-stage [options]\n"
           "Options take --name=value or --name value.\n"
           "  --model DIR    the model folder, default " +
           defaults.model.string() +
           "\n"
           "  --video FILE   the test video, default " +
           defaults.video.string() +
           "\n"
           "  --into DIR     the folder to stage in, made when missing, default the current folder\n"
           "  --help         this help\n"
           "Exit status: 0 staged, 1 the staging failed, 2 a bad option, model folder, video or folder.\n";
}

std::optional<Options> parseOptions(int argc, char** argv) {
    static const tools::OptionTable kOptions{{"model", "video", "into"}, {}};
    Options options;
    const std::optional<tools::Arguments> arguments =
        tools::parseCommandLine(argc, argv, kOptions, usage(options), std::cout);
    if (!arguments) {
        return std::nullopt;
    }
    for (auto [name, path] :
         {std::pair{"model", &options.model}, std::pair{"video", &options.video}, std::pair{"into", &options.into}}) {
        if (arguments->has(name)) {
            *path = arguments->text(name);
            if (path->empty()) {
                throw tools::UserError(std::string("--") + name + " needs a value");
            }
        }
    }
    return options;
}

// The re-encoding's output until it is renamed: gone on every other way out.
class PartFile {
public:
    explicit PartFile(fs::path path) : path_(std::move(path)) {}
    ~PartFile() {
        std::error_code ignored;
        fs::remove(path_, ignored);
    }
    PartFile(const PartFile&) = delete;
    PartFile& operator=(const PartFile&) = delete;
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

int run(const Options& options) {
    std::error_code error;
    if (!fs::exists(options.model, error)) {
        throw tools::UserError("model folder not found: " + options.model.string());
    }
    if (!fs::is_directory(options.model, error)) {
        throw tools::UserError("the model is not a folder: " + options.model.string());
    }
    // A file that is no video at all changes nothing staged before.
    { const tools::VideoReader probe(options.video); }
    tools::checkOutputFolder(options.into, "--into folder");
    const fs::path folder = fs::canonical(options.into);
    const fs::path model = fs::canonical(options.model);
    const fs::path video = fs::canonical(options.video);

    stage::placeLink(model, folder / stage::kStagedModelName);
    std::cout << "staged the model " << model.string() << '\n';
    const fs::path staged = folder / stage::kStagedVideoName;
    stage::placeLink(video, staged);
    if (stage::readableAs(folder, stage::kStagedVideoName)) {
        std::cout << "staged the video " << video.string() << "\nin " << folder.string() << '\n';
        return tools::kExitDone;
    }

    // Under that name FFmpeg takes "C:" for a URL scheme; only OpenCV's own
    // Motion-JPEG reader is left. The staged entry is replaced only once the
    // copy is whole: it may be the very file being read.
    const PartFile part(folder / ".helmet-stage.part.avi");
    tools::ProgressLine progress = tools::ProgressLine::onStandardError();
    long header = 0;
    const long frames = stage::reencodeAsMotionJpeg(video, part.path(), [&](long done, long total) {
        header = total;
        progress.show("re-encoding " + tools::countText("frame", done, total));
    });
    progress.finish("re-encoded " + tools::countText("frame", frames, header));
    fs::rename(part.path(), staged);
    if (!stage::readableAs(folder, stage::kStagedVideoName)) {
        throw std::runtime_error("the re-encoded video cannot be read under its staged name either");
    }
    std::cout << "staged the video " << video.string() << ", re-encoded as a Motion-JPEG AVI (" << frames << " frames";
    if (header > 0 && header != frames) {
        std::cout << " of the " << header << " its header gives";
    }
    std::cout << "): OpenCV cannot read it under the staged name as it is\nin " << folder.string() << '\n';
    return tools::kExitDone;
}

}  // namespace

int main(int argc, char** argv) {
    // Back ends probing a file log why they refuse it; a user error stays one line.
    cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_ERROR);
    return tools::runToolMain("helmet-stage", [&] {
        const std::optional<Options> options = parseOptions(argc, argv);
        return options ? run(*options) : tools::kExitDone;
    });
}
