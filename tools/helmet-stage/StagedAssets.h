// Staging: the contract program's fixed file names inside a working folder,
// and making a model folder and a video readable under them.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

namespace zor::stage {

// The contract program's asset names; on Linux each is one file name in the
// folder the program runs in.
inline constexpr const char* kStagedModelName = R"(C:\Programs\DemoAssets\ModelsForTELMAR\ZOR_Helmet(GPU)_v1.0)";
inline constexpr const char* kStagedVideoName = R"(C:\Programs\DemoAssets\Videos\Helmet\HM2.mp4)";

// Whether the video under `name` opens and gives a frame the way the contract
// program opens it: that name, relative to `folder` as its working folder,
// with any back end.
bool readableAs(const std::filesystem::path& folder, const std::string& name);

// Makes `link` a link to `target`, replacing a link or file there; a folder
// there is a user error (it is not ours to delete).
void placeLink(const std::filesystem::path& target, const std::filesystem::path& link);

// Copies every frame of `video` into `out` as a Motion-JPEG AVI, the one
// format OpenCV reads under any file name; returns the frames written.
// `progress` gets the frames done and the frames the file says it holds.
long reencodeAsMotionJpeg(const std::filesystem::path& video, const std::filesystem::path& out,
                          const std::function<void(long, long)>& progress);

}  // namespace zor::stage
