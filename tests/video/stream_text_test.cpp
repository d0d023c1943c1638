// Position bar, frame count and the 16-byte parameter file.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "tests/video/test_clips.h"
#include "video/stream_text.h"

namespace tessaly {
namespace {

TEST(StreamTextTest, PositionBarWidthRoundsHalfToEvenWithinTheBar) {
    EXPECT_EQ(PositionBarWidth(0, 1000), 0);
    EXPECT_EQ(PositionBarWidth(1000, 1000), 598);
    EXPECT_EQ(PositionBarWidth(500, 1000), 299);
    // 598 * 5 / 2392 = 1.25 -> 1; 598 * 6 / 2392 = 1.5 -> 2; 598 * 10 / 2392 = 2.5 -> 2.
    EXPECT_EQ(PositionBarWidth(5, 2392), 1);
    EXPECT_EQ(PositionBarWidth(6, 2392), 2);
    EXPECT_EQ(PositionBarWidth(10, 2392), 2);
    EXPECT_EQ(PositionBarWidth(2000, 1000), 598);
    EXPECT_EQ(PositionBarWidth(-5, 1000), 0);
    EXPECT_EQ(PositionBarWidth(500, 0), 1);  // unknown duration: stays at the start
}

TEST(StreamTextTest, FrameCountIsTheFloorOfDurationOverFrameTime) {
    // 65.9 s at 25 fps: 1647.5 frames -> 1647.
    EXPECT_EQ(FrameCountOf(659'000'000, 400'000), 1647);
    EXPECT_EQ(FrameCountOf(10'000'000, 333'667), 29);  // 29.97 fps, one second
    EXPECT_EQ(FrameCountOf(10'000'000, 0), 0);
    EXPECT_EQ(FrameCountOf(0, 400'000), 0);
    EXPECT_DOUBLE_EQ(FrameRateOf(400'000), 25.0);
    EXPECT_DOUBLE_EQ(FrameRateOf(0), 0.0);
}

TEST(StreamTextTest, ParamFileHoldsTimePerFrameAndDurationLittleEndian) {
    const auto bytes = FisheyeParamBytes(400'000, 65.9);
    const uint8_t time[8] = {0x80, 0x1a, 0x06, 0, 0, 0, 0, 0};  // 400000 = 0x061A80
    EXPECT_EQ(std::memcmp(bytes.data(), time, 8), 0);
    double d = 0;
    std::memcpy(&d, bytes.data() + 8, 8);  // this machine is little-endian
    EXPECT_EQ(d, 65.9);

    // Written from offset 0 without truncating what lies behind the 16 bytes.
    const std::string dir = testing::TempFolder("param");
    const std::string path = dir + "/param_fisheye.bin";
    {
        std::ofstream f(path, std::ios::binary);
        f << std::string(20, 'x');
    }
    ASSERT_TRUE(WriteFisheyeParamFile(path, 400'000, 65.9));
    std::ifstream f(path, std::ios::binary);
    const std::string content((std::istreambuf_iterator<char>(f)), {});
    ASSERT_EQ(content.size(), 20u);
    EXPECT_EQ(std::memcmp(content.data(), bytes.data(), 16), 0);
    EXPECT_EQ(content.substr(16), "xxxx");
    EXPECT_FALSE(WriteFisheyeParamFile(dir + "/missing/param_fisheye.bin", 1, 1.0));
    std::filesystem::remove_all(dir);
}

TEST(StreamTextTest, TrimBlanksRemovesBlanksAndNuls) {
    EXPECT_EQ(TrimBlanks(std::string("  a b \0\0", 8)), "a b");
    EXPECT_EQ(TrimBlanks("   "), "");
}

}  // namespace
}  // namespace tessaly
