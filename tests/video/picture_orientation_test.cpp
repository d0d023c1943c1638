// Movies stored turned (a display matrix, as phones write) come out of the
// frame source upright, as ffmpeg shows them; the copy that turns them is
// checked pixel by pixel.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/capture_output.h"
#include "tests/video/test_clips.h"
#include "video/frame_copy.h"
#include "video/video_stream.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;

// The display matrix's angle in quarter turns, and the copy that turns.
TEST(FrameCopyTest, QuarterTurnsOfTheDisplayMatrixTurnedAndStoredBottomRowFirst) {
    // av_display_rotation_get's angle is counterclockwise; showing the
    // picture applies it.
    // 45 degrees is no quarter turn: left as stored.
    const struct { double angle; int turns; } cases[] = {{0, 0},  {-90, 1}, {270, 1}, {180, 2},        {-180, 2},
                                                        {90, 3}, {89.5, 3}, {45, 0}, {0.0 / 0.0, 0}};
    for (const auto& c : cases) EXPECT_EQ(QuarterTurnsClockwise(c.angle), c.turns) << c.angle;

    // A 3x2 picture, top row first, with padding after each row; pixel
    // value = 10 * row + column.
    const int w = 3, h = 2, stride = 20;
    std::vector<uint8_t> src(static_cast<size_t>(stride) * h, 0xEE);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) src[static_cast<size_t>(y * stride + x * 4)] = static_cast<uint8_t>(10 * y + x);
    // Upright pictures, top row first, by quarter turns clockwise.
    const std::vector<std::vector<int>> upright = {
        {0, 1, 2, 10, 11, 12},   // as stored
        {10, 0, 11, 1, 12, 2},   // 2 wide, 3 high
        {12, 11, 10, 2, 1, 0},
        {2, 12, 1, 11, 0, 10},
    };
    for (int turns = 0; turns < 4; ++turns) {
        const int outW = UprightWidth(w, h, turns), outH = UprightHeight(w, h, turns);
        std::vector<uint8_t> dst(static_cast<size_t>(outW) * outH * 4, 0x55);
        CopyUprightBottomUp(src.data(), stride, w, h, turns, dst.data());
        for (int y = 0; y < outH; ++y)
            for (int x = 0; x < outW; ++x)
                EXPECT_EQ(dst[static_cast<size_t>(((outH - 1 - y) * outW + x) * 4)], upright[turns][y * outW + x])
                    << "turns " << turns << " at " << x << "," << y;
        // The rest of each pixel comes along.
        for (size_t i = 0; i < dst.size(); ++i) {
            if (i % 4 != 0) {
                ASSERT_EQ(dst[i], 0xEE) << i;
            }
        }
    }
}

using testing::ShellQuote;

int RunQuietly(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

// A losslessly stored 192x144 movie marked to be shown turned by `rotate`
// degrees (the tag ffmpeg turns into a display matrix when it copies into
// MP4), and ffmpeg's own upright picture of its first frame, bottom row first.
TEST(PictureOrientationTest, TurnedMoviesAreUprightAsFfmpegShowsThem) {
    const fs::path dir = fs::path(TESSALY_BINARY_DIR) / "test-clips" / "turned";
    fs::create_directories(dir);
    const std::string tag = std::to_string(::getpid());
    const std::string plain = (dir / ("plain-" + tag + ".mp4")).string();
    ASSERT_EQ(RunQuietly("ffmpeg -hide_banner -loglevel error -y -f lavfi -i testsrc2=s=192x144:r=25:d=0.12 "
                  "-c:v libx264 -qp 0 -preset ultrafast -pix_fmt yuv420p " + ShellQuote(plain)), 0);
    for (int rotate : {0, 90, 180, 270}) {
        SCOPED_TRACE(rotate);
        const std::string movie = (dir / ("turned" + std::to_string(rotate) + "-" + tag + ".mp4")).string();
        const std::string reference = movie + ".bgr0";
        ASSERT_EQ(RunQuietly("ffmpeg -hide_banner -loglevel error -y -i " + ShellQuote(plain) + " -c copy -metadata:s:v:0 rotate=" +
                      std::to_string(rotate) + " " + ShellQuote(movie)), 0);
        ASSERT_EQ(RunQuietly("ffmpeg -hide_banner -loglevel error -y -sws_flags bilinear -i " + ShellQuote(movie) +
                      " -frames:v 1 -vf format=bgr0,vflip -f rawvideo " + ShellQuote(reference)), 0);
        const std::string expected = testing::ReadFile(reference);
        const bool across = rotate == 90 || rotate == 270;

        VideoStream stream;
        ASSERT_EQ(stream.Open(movie), StreamError::kNone);
        const MediaInfo info = stream.Info();
        EXPECT_EQ(info.frameWidth, across ? 144 : 192);
        EXPECT_EQ(info.frameHeight, across ? 192 : 144);
        ASSERT_EQ(expected.size(), static_cast<size_t>(info.sampleSize));
        std::vector<uint8_t> frame(static_cast<size_t>(info.sampleSize));
        ASSERT_EQ(stream.GetCurrentBuffer(frame.data(), info.sampleSize), info.sampleSize);
        int worst = 0;
        for (size_t i = 0; i < frame.size(); ++i) {
            if (i % 4 != 3) worst = std::max(worst, std::abs(frame[i] - static_cast<uint8_t>(expected[i])));
        }
        EXPECT_LE(worst, 2);
        stream.Close();
        fs::remove(movie);
        fs::remove(reference);
    }
    fs::remove(plain);
}

}  // namespace
}  // namespace tessaly
