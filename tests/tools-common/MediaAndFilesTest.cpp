// Reading videos and images, SHA-256 and resident memory, as every tool does.
#include "MediaInput.h"
#include "ResidentMemory.h"
#include "ScratchFolder.h"
#include "Sha256.h"
#include "ToolExit.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>

#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using zor::test::ScratchFolder;
using zor::tools::UserError;

TEST(Sha256, MatchesThePublishedTestVectors) {
    EXPECT_EQ(zor::tools::sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(zor::tools::sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(zor::tools::sha256Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(zor::tools::sha256Hex(std::string(1'000'000, 'a')),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(Sha256, OfAFileIsOfItsBytesAndEmptyWhenUnreadable) {
    ScratchFolder scratch;
    zor::test::writeFile(scratch.path() / "abc.bin", "abc");
    EXPECT_EQ(zor::tools::fileSha256Hex(scratch.path() / "abc.bin"), zor::tools::sha256Hex("abc"));
    EXPECT_EQ(zor::tools::fileSha256Hex(scratch.path() / "missing"), "");
}

TEST(VideoReader, GivesEveryFrameOfAVideoInOrder) {
    ScratchFolder scratch;
    const fs::path video = scratch.path() / "grey.avi";
    {
        cv::VideoWriter writer(video.string(), cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 10.0, cv::Size(64, 48));
        ASSERT_TRUE(writer.isOpened());
        for (int level = 0; level < 5; ++level) {
            writer.write(cv::Mat(48, 64, CV_8UC3, cv::Scalar::all(40 * level)));
        }
    }
    zor::tools::VideoReader reader(video);
    EXPECT_DOUBLE_EQ(reader.fps(), 10.0);
    EXPECT_EQ(reader.frameCount(), 5);
    std::vector<double> levels;
    cv::Mat frame;
    while (reader.read(frame)) {
        ASSERT_EQ(frame.size(), cv::Size(64, 48));
        levels.push_back(cv::mean(frame)[0]);
    }
    ASSERT_EQ(levels.size(), 5u);
    for (int level = 0; level < 5; ++level) {
        EXPECT_NEAR(levels[level], 40.0 * level, 3.0) << "frame " << level;
    }
}

TEST(VideoReader, CallsAMissingOrUndecodableFileAUserError) {
    ScratchFolder scratch;
    zor::test::writeFile(scratch.path() / "text.mp4", "not a video");
    EXPECT_THROW(zor::tools::VideoReader(scratch.path() / "none.mp4"), UserError);
    EXPECT_THROW(zor::tools::VideoReader(scratch.path() / "text.mp4"), UserError);
}

TEST(Images, AreListedByNameAndReadAsColour) {
    ScratchFolder scratch;
    for (const char* name : {"b.PNG", "a.jpg", "c.png"}) {
        ASSERT_TRUE(cv::imwrite((scratch.path() / name).string(), cv::Mat(8, 8, CV_8UC1, cv::Scalar(7))));
    }
    zor::test::writeFile(scratch.path() / "notes.txt", "x");
    fs::create_directory(scratch.path() / "d.png");
    const std::vector<fs::path> images = zor::tools::listImages(scratch.path());
    ASSERT_EQ(images.size(), 3u);
    EXPECT_EQ(images[0].filename(), "a.jpg");
    EXPECT_EQ(images[1].filename(), "b.PNG");
    EXPECT_EQ(images[2].filename(), "c.png");
    EXPECT_EQ(zor::tools::readImage(images[2]).type(), CV_8UC3);
    EXPECT_THROW(zor::tools::readImage(scratch.path() / "notes.txt"), UserError);
    EXPECT_THROW(zor::tools::listImages(scratch.path() / "missing"), UserError);
}

TEST(ResidentMemory, GrowsWhenPagesAreTouched) {
    const double before = zor::tools::currentResidentMegabytes();
    ASSERT_GT(before, 0.0);
    std::vector<char> block(64 << 20, 1);  // 64 MB, every page written
    const double after = zor::tools::currentResidentMegabytes();
    EXPECT_GT(after - before, 48.0) << block[12345];
    EXPECT_GE(zor::tools::peakResidentMegabytes(), after);
}

}  // namespace
