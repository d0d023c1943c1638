// Pictures of every small size, and sizes just around the widths vector code
// works in (multiples of 2, 8, 16, 32), go through the colour conversion
// without a byte written outside its buffers (run under AddressSanitizer by
// the sanitizer build, and the sweep under valgrind, which sees into
// libswscale) and come out as ffmpeg converts them.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "tests/capture_output.h"
#include "tests/video/test_clips.h"
#include "video/luma_sampler.h"
#include "video/video_stream.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;

std::string Quote(const std::string& text) { return testing::ShellQuote(text); }

struct SizedClip {
    std::string movie;      // stored losslessly
    std::string reference;  // ffmpeg's BGR0 of its first frame, bottom row first
};

// One ffmpeg call writes the movie (three frames of testsrc2) and ffmpeg's own conversion of its first
// picture. The codec is lossless, so the decoded picture is the one ffmpeg
// converted. Even sizes of 4:2:0 go through H.264 (as cameras and phones
// write them); the rest through FFV1, or raw video for formats FFV1 lacks.
SizedClip MakeSizedClip(int w, int h, const std::string& pixelFormat) {
    const std::string name = std::to_string(w) + "x" + std::to_string(h) + "-" + pixelFormat;
    const fs::path dir = fs::path(TESSALY_BINARY_DIR) / "test-clips" / "small";
    fs::create_directories(dir);
    const bool h264 = pixelFormat == "yuv420p" && w % 2 == 0 && h % 2 == 0;
    const bool raw = pixelFormat == "nv12" || pixelFormat == "rgb24";
    const std::string ext = h264 ? ".mp4" : raw ? ".nut" : ".mkv";
    SizedClip clip{(dir / (name + ext)).string(), (dir / (name + ".bgr0")).string()};
    if (fs::exists(clip.movie) && fs::exists(clip.reference)) return clip;

    const std::string tag = "tmp-" + std::to_string(::getpid()) + "-";
    const std::string tmpMovie = (dir / (tag + name + ext)).string();
    const std::string tmpRef = (dir / (tag + name + ".bgr0")).string();
    // testsrc2 draws even sizes only: odd ones are cut from a larger picture.
    const std::string graph = "sws_flags=bilinear;testsrc2=size=320x320:rate=25:duration=0.12,format=rgb24,crop=" +
                              std::to_string(w) + ":" + std::to_string(h) + ":13:7,format=" + pixelFormat +
                              ",split[m][r];[r]trim=end_frame=1,format=bgr0,vflip[ref]";
    const std::string codec = h264 ? "-c:v libx264 -qp 0 -preset ultrafast" : raw ? "-c:v rawvideo" : "-c:v ffv1";
    const std::string cmd = "ffmpeg -hide_banner -loglevel error -y -filter_complex " + Quote(graph) +
                            " -map '[m]' " + codec + " " + Quote(tmpMovie) +
                            " -map '[ref]' -f rawvideo " + Quote(tmpRef) + " >/dev/null 2>&1";
    if (std::system(cmd.c_str()) != 0) {
        ADD_FAILURE() << "cannot make " << name << ": " << cmd;
        return {};
    }
    fs::rename(tmpMovie, clip.movie);
    fs::rename(tmpRef, clip.reference);
    return clip;
}

// Opens the clip (which decodes and converts its first picture) and checks
// the picture against ffmpeg's conversion.
void ExpectFirstPictureLikeFfmpeg(int w, int h, const std::string& pixelFormat) {
    SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h) + " " + pixelFormat);
    const SizedClip clip = MakeSizedClip(w, h, pixelFormat);
    if (clip.movie.empty()) return;
    const std::string reference = testing::ReadFile(clip.reference);
    ASSERT_EQ(reference.size(), static_cast<size_t>(w) * h * 4);

    VideoStream stream;
    ASSERT_EQ(stream.Open(clip.movie), StreamError::kNone);
    const MediaInfo info = stream.Info();
    ASSERT_EQ(info.frameWidth, w);
    ASSERT_EQ(info.frameHeight, h);
    ASSERT_EQ(info.sampleSize, w * h * 4);
    std::vector<uint8_t> frame(static_cast<size_t>(info.sampleSize));
    ASSERT_EQ(stream.GetCurrentBuffer(frame.data(), info.sampleSize), info.sampleSize);
    int worst = 0;
    size_t worstAt = 0;
    for (size_t i = 0; i < frame.size(); ++i) {
        if (i % 4 == 3) continue;  // the unused fourth byte
        const int d = std::abs(static_cast<int>(frame[i]) - static_cast<uint8_t>(reference[i]));
        if (d > worst) {
            worst = d;
            worstAt = i;
        }
    }
    // Rounding of the vector paths may differ by a step; a byte from another
    // row or outside the picture differs by far more in testsrc2.
    EXPECT_LE(worst, 2) << "pixel " << (worstAt / 4) % w << "," << h - 1 - static_cast<int>(worstAt / 4 / w);
    stream.Close();
}

std::vector<int> SizesAroundVectorWidths() {
    std::set<int> sizes{1};
    for (int n : {2, 8, 16, 32, 64, 96, 128, 192, 256})
        for (int d : {-1, 0, 1})
            if (n + d >= 1 && n + d <= 256) sizes.insert(n + d);
    return {sizes.begin(), sizes.end()};
}

TEST(SmallPictureTest, EveryWidthAndHeightAroundVectorBlocksConvertsInBounds) {
    for (int n : SizesAroundVectorWidths()) {
        ExpectFirstPictureLikeFfmpeg(n, 6, "yuv420p");   // widths
        ExpectFirstPictureLikeFfmpeg(10, n, "yuv420p");  // heights
        ExpectFirstPictureLikeFfmpeg(n, n, "yuv420p");
    }
}

// Sizes that once crashed, and the other source formats.
TEST(SmallPictureTest, SizesThatCrashedAndOtherFormatsConvertInBounds) {
    for (const auto& [w, h] : std::vector<std::pair<int, int>>{
             {2, 2}, {6, 4}, {24, 18}, {90, 60}, {120, 90}, {200, 150}, {176, 144}})
        ExpectFirstPictureLikeFfmpeg(w, h, "yuv420p");
    for (const char* format : {"yuv422p", "yuv444p", "nv12", "gray", "rgb24", "yuvj420p"})
        for (const auto& [w, h] : std::vector<std::pair<int, int>>{{1, 1}, {7, 5}, {33, 17}, {120, 90}})
            ExpectFirstPictureLikeFfmpeg(w, h, format);
}

// Sizes that overran swscale's buffers or sit beside its vector widths, raw
// RGB and YUV: the frame buffer (what the preview and the conversion
// read) and the circle search's grey plane, which once took an 8-byte store
// past its end at 5x7.
TEST(SmallPictureTest, SweepConvertsAndSamplesInBounds) {
    for (const auto& [w, h] : std::vector<std::pair<int, int>>{
             {1, 1}, {3, 3}, {5, 7}, {17, 9}, {2, 128}, {1, 300}, {33, 17}, {64, 3}, {161, 7}, {299, 5}}) {
        for (const char* format : {"rgb24", "yuv420p"}) {
            ExpectFirstPictureLikeFfmpeg(w, h, format);
            const Result<SampledLuma> luma = SampleLumaMaximum(MakeSizedClip(w, h, format).movie);
            ASSERT_TRUE(luma.ok()) << w << "x" << h << " " << format << ": " << luma.reason();
            EXPECT_EQ(luma->frameW, w);
            EXPECT_EQ(luma->maximum.pixels.size(), static_cast<size_t>(w) * h);
        }
    }
}

}  // namespace
}  // namespace tessaly
