// Images to leave out of a run (near-duplicates of the training split),
// given as one path a line; matched by file name only.
#pragma once

#include <filesystem>
#include <istream>
#include <set>
#include <string>

namespace zor::eval {

class ExcludeList {
public:
    ExcludeList() = default;

    // Blank lines and '#' lines are skipped; '\' separators count as '/'.
    static ExcludeList parse(std::istream& in);
    // Throws tools::UserError unless the file is a readable regular file of at
    // most tools::kMaxTextInputBytes.
    static ExcludeList read(const std::filesystem::path& file);

    bool excludes(const std::filesystem::path& image) const;
    std::size_t size() const { return names_.size(); }

private:
    std::set<std::string> names_;
};

}  // namespace zor::eval
