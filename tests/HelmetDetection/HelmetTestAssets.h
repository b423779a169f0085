// Fixed asset locations of the helmet test machine and the checks that decide
// whether the integration tests can run.
#pragma once

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

inline const std::string fireSmokeModelDir = "C:\\Programs\\DemoAssets\\ModelsForTELMAR\\ZOR_FireSmoke_v2.0";
inline const std::string helmetModelDir = "C:\\Programs\\DemoAssets\\ModelsForTELMAR\\ZOR_Helmet(GPU)_v1.0";
inline const std::string weaponModelDir = "C:\\Programs\\DemoAssets\\ModelsForTELMAR\\ZOR_WeaponDetection(GPU)_1.0";
inline const std::string fireSmokeVideoPath = "C:\\Programs\\DemoAssets\\Videos\\FireNSmoke\\ZORFireFull.mp4";
inline const std::string helmetVideoPath = "C:\\Programs\\DemoAssets\\Videos\\Helmet\\HM2.mp4";
inline const std::string weaponVideoPath = "C:\\Programs\\DemoAssets\\Videos\\Weapon\\AK47 Glock.mp4";

// Any existing entry counts; errors other than "not found" propagate.
inline bool fileExists(const std::string& path) {
    return std::filesystem::exists(std::filesystem::path(path));
}

inline bool directoryExists(const std::string& path) {
    if (!fileExists(path)) {
        return false;
    }
    return std::filesystem::is_directory(std::filesystem::path(path));
}

// Class names in label-map order: every comma ends a name, a trailing comma
// adds none, nothing is trimmed.
inline std::vector<std::string> splitLabelMap(const std::string& labelMap) {
    std::vector<std::string> names;
    std::stringstream stream(labelMap);
    std::string name;
    while (std::getline(stream, name, ',')) {
        names.push_back(name);
    }
    return names;
}
