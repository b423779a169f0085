// The contract program's asset checks and label-map split.
#include "HelmetTestAssets.h"

#include <gtest/gtest.h>

#include <fstream>

namespace fs = std::filesystem;

namespace {

using Names = std::vector<std::string>;

class AssetChecks : public testing::Test {
protected:
    void SetUp() override {
        root = fs::temp_directory_path() /
               ("hmd-assets-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root);
        fs::create_directories(root / "folder");
        std::ofstream(root / "file.txt") << "x";
    }
    void TearDown() override { fs::remove_all(root); }

    std::string path(const std::string& name) const { return (root / name).string(); }

    fs::path root;
};

}  // namespace

TEST_F(AssetChecks, FileExistsAcceptsAnyExistingEntry) {
    EXPECT_TRUE(fileExists(path("file.txt")));
    EXPECT_TRUE(fileExists(path("folder")));
    EXPECT_FALSE(fileExists(path("missing")));
    EXPECT_FALSE(fileExists(path("missing/below")));
}

TEST_F(AssetChecks, DirectoryExistsOnlyForFolders) {
    EXPECT_TRUE(directoryExists(path("folder")));
    EXPECT_FALSE(directoryExists(path("file.txt")));
    EXPECT_FALSE(directoryExists(path("missing")));
}

TEST_F(AssetChecks, SymbolicLinksAreFollowed) {
    fs::create_directory_symlink(root / "folder", root / "folder-link");
    fs::create_symlink(root / "file.txt", root / "file-link");
    fs::create_symlink(root / "missing", root / "dangling-link");
    EXPECT_TRUE(directoryExists(path("folder-link")));
    EXPECT_TRUE(fileExists(path("file-link")));
    EXPECT_FALSE(directoryExists(path("file-link")));
    EXPECT_FALSE(fileExists(path("dangling-link")));
    EXPECT_FALSE(directoryExists(path("dangling-link")));
}

TEST_F(AssetChecks, WindowsStyleNamesAreSingleEntriesHere) {
    fs::create_directory(root / "C:\\Models\\Helmet");
    EXPECT_TRUE(directoryExists(path("C:\\Models\\Helmet")));
    EXPECT_FALSE(fileExists(path("C:\\Models")));
}

TEST(LabelMapSplit, SplitsAtEveryComma) {
    EXPECT_EQ(splitLabelMap("helmet,head"), (Names{"helmet", "head"}));
    EXPECT_EQ(splitLabelMap("helmet"), (Names{"helmet"}));
}

TEST(LabelMapSplit, KeepsEmptyPiecesExceptAfterTheLastComma) {
    EXPECT_EQ(splitLabelMap("a,,b"), (Names{"a", "", "b"}));
    EXPECT_EQ(splitLabelMap(",a"), (Names{"", "a"}));
    EXPECT_EQ(splitLabelMap("a,b,"), (Names{"a", "b"}));
    EXPECT_EQ(splitLabelMap(","), (Names{""}));
    EXPECT_TRUE(splitLabelMap("").empty());
}

TEST(LabelMapSplit, KeepsNamesUnchanged) {
    EXPECT_EQ(splitLabelMap("Helmet, head ,head"), (Names{"Helmet", " head ", "head"}));
}
