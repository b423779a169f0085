// Where the programs find their default data: the package's share folder,
// found from the running program's own file, so that an install works
// wherever it lies and holds no path of the machine that built it. The build
// tree mirrors that layout (bin/ beside share/), so the same rule serves there.
#pragma once

#include <filesystem>
#include <string_view>

namespace zor::tools {

// Items of the share folder, relative to it.
inline constexpr std::string_view kShippedModel = "models/ZOR_Helmet";
inline constexpr std::string_view kTestVideo = "video/HM2.avi";  // Motion-JPEG: readable under the contract's name
inline constexpr std::string_view kTestVideoLabels = "video/HM2-labels.txt";
inline constexpr std::string_view kPhotoSample = "hard-hat-sample";
inline constexpr std::string_view kSitePhotoSample = "site-sample";

// The folder that holds the running program; empty where the system cannot say.
std::filesystem::path programFolder();

// `item` in the share folder beside the program's folder
// (<prefix>/share/ZORCustomHelmetDetection/<item> for <prefix>/bin/<program>).
std::filesystem::path installedData(std::string_view item);

}  // namespace zor::tools
