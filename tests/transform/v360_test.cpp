// Our projection against FFmpeg's own fisheye-to-equirectangular remap (the
// v360 filter, written by others) on a frame of a synthetic fisheye clip: the
// two pictures must agree closely, and a wrongly oriented picture must not.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/video/v360_compare.h"
#include "transform/frame_pipeline.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;

// PSNR of two bottom-up BGRX pictures over the colour bytes; mirror reads the
// first one's columns right to left.
double Psnr(const uint8_t* a, const std::vector<uint8_t>& b, int w, int h, bool mirror) {
    double sum = 0;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            for (int c = 0; c < 3; ++c) {
                const double d = double(a[4 * (y * w + (mirror ? w - 1 - x : x)) + c]) - b[4 * (y * w + x) + c];
                sum += d * d;
            }
        }
    }
    return 10.0 * std::log10(255.0 * 255.0 * 3.0 * w * h / sum);
}

TEST(FramePipeline, AgreesWithFfmpegV360OnTheSameCircle) {
    if (std::system("ffmpeg -version > /dev/null 2>&1") != 0) GTEST_SKIP() << "ffmpeg not installed";
    const fs::path dir = fs::path(TESSALY_BINARY_DIR) / "transform_v360_test";
    fs::create_directories(dir);
    const std::string clip = (dir / "clip.mp4").string();
    const std::string make = std::string(TESSALY_SOURCE_DIR) + "/tools/make-fisheye-clip " + clip +
                             " --size 1920x1080 --fps 5 --duration 0.2 --vcodec libx264 --extra \"-crf 10\"";
    ASSERT_EQ(std::system(make.c_str()), 0);
    // Both pictures bottom-up BGRX, like ours. The default cut's circle on
    // 1920 x 1080: centre (972, 533), rim 502.3.
    std::vector<uint8_t> frame = testing::FirstFrame(clip, "", (dir / "frame.bgra").string());
    const std::vector<uint8_t> v360 = testing::FirstFrame(
        clip, "crop=1004:1004:470:31,v360=input=fisheye:output=equirect:ih_fov=180:iv_fov=180:h_fov=180:v_fov=180:"
        "w=1104:h=1104:interp=cubic,", (dir / "v360.bgra").string());
    ASSERT_EQ(frame.size(), 1920u * 1080 * 4);
    ASSERT_EQ(v360.size(), 1104u * 1104 * 4);
    FramePipeline p;
    ASSERT_EQ(p.Allocate(1920, 1080), TransformStatus::kOk);
    TransformSettings s;
    s.sharpenOn = 0;
    ASSERT_TRUE(p.BuildGeometry(s.cut).Ok());
    ASSERT_EQ(p.ConvertFrame(frame.data(), frame.size(), s, {}, {}), TransformStatus::kOk);
    ASSERT_EQ(p.OutputWidth(), 1104);
    const double same = Psnr(p.OutputPixels(), v360, 1104, 1104, false);
    const double mirrored = Psnr(p.OutputPixels(), v360, 1104, 1104, true);
    RecordProperty("psnr", std::to_string(same) + " mirrored " + std::to_string(mirrored));
    EXPECT_GT(same, 22.0);
    EXPECT_LT(mirrored, same - 6.0);
    fs::remove_all(dir);
}

}  // namespace
}  // namespace tessaly
