// Frame count and the 16-byte parameter file.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "tests/video/test_clips.h"
#include "video/stream_text.h"

namespace tessaly {
namespace {

TEST(StreamTextTest, FrameCountTrimAndParamFile) {
    EXPECT_EQ(FrameCountOf(MediaTime{659'000'000}, MediaTime{400'000}), 1647);  // 65.9 s at 25 fps
    EXPECT_EQ(FrameCountOf(MediaTime{10'000'000}, MediaTime{333'667}), 29);     // 29.97 fps, one second
    EXPECT_EQ(FrameCountOf(MediaTime{10'000'000}, MediaTime{0}), 0);
    EXPECT_DOUBLE_EQ(FrameRateOf(MediaTime{400'000}), 25.0);
    EXPECT_EQ(TrimBlanks(std::string("  a b \0\0", 8)), "a b");

    // The parameter file: time per frame and duration, little-endian.
    const auto bytes = FisheyeParamBytes(MediaTime{400'000}, 65.9);
    const uint8_t time[8] = {0x80, 0x1a, 0x06, 0, 0, 0, 0, 0};  // 400000 = 0x061A80
    EXPECT_EQ(std::memcmp(bytes.data(), time, 8), 0);
    double d = 0;
    std::memcpy(&d, bytes.data() + 8, 8);
    EXPECT_EQ(d, 65.9);

    // Written from offset 0 without truncating what lies behind the 16 bytes.
    const std::string dir = testing::TempFolder("param");
    const std::string path = dir + "/param_fisheye.bin";
    std::ofstream(path, std::ios::binary) << std::string(20, 'x');
    ASSERT_TRUE(WriteFisheyeParamFile(path, MediaTime{400'000}, 65.9));
    const std::string content = testing::ReadFile(path);
    ASSERT_EQ(content.size(), 20u);
    EXPECT_EQ(std::memcmp(content.data(), bytes.data(), 16), 0);
    EXPECT_EQ(content.substr(16), "xxxx");
    EXPECT_FALSE(WriteFisheyeParamFile(dir + "/missing/param_fisheye.bin", MediaTime{1}, 1.0));
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace tessaly
