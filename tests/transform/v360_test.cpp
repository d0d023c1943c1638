// Our projection against FFmpeg's own fisheye-to-equirectangular remap (the
// v360 filter, written by others) on a frame of a synthetic fisheye clip: the
// two pictures must agree closely, and a wrongly oriented picture must not.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "transform/frame_pipeline.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> ReadAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// PSNR of our bottom-up BGRX output against a top-down RGB picture; mirror
// reads our columns right to left.
double Psnr(const uint8_t* bgrx, const std::vector<uint8_t>& rgb, int w, int h, bool mirror) {
    double sum = 0;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const uint8_t* o = bgrx + 4 * (static_cast<size_t>(h - 1 - y) * w + (mirror ? w - 1 - x : x));
            const uint8_t* r = &rgb[3 * (static_cast<size_t>(y) * w + x)];
            for (int c = 0; c < 3; ++c) {
                const double d = static_cast<double>(o[2 - c]) - r[c];
                sum += d * d;
            }
        }
    }
    const double mse = sum / (3.0 * w * h);
    return 10.0 * std::log10(255.0 * 255.0 / mse);
}

TEST(FramePipeline, AgreesWithFfmpegV360OnTheSameCircle) {
    if (std::system("ffmpeg -version > /dev/null 2>&1") != 0) GTEST_SKIP() << "ffmpeg not installed";
    const fs::path dir = fs::path(TESSALY_BINARY_DIR) / "transform_v360_test";
    fs::create_directories(dir);
    const std::string clip = (dir / "clip.mp4").string();
    const std::string make = std::string(TESSALY_SOURCE_DIR) + "/tools/make-fisheye-clip " + clip +
                             " --size 1920x1080 --fps 5 --duration 0.2 --vcodec libx264 --extra \"-crf 10\"";
    ASSERT_EQ(std::system(make.c_str()), 0);
    const std::string ff = "ffmpeg -hide_banner -loglevel error -nostdin -y -i " + clip + " -frames:v 1 ";
    // The default cut's circle on 1920 x 1080: centre (972, 533), rim 502.3.
    ASSERT_EQ(std::system((ff + "-pix_fmt bgra -f rawvideo " + (dir / "frame.bgra").string()).c_str()), 0);
    ASSERT_EQ(std::system((ff +
                           "-vf crop=1004:1004:470:31,v360=input=fisheye:output=equirect:ih_fov=180:iv_fov=180:"
                           "h_fov=180:v_fov=180:w=1104:h=1104:interp=cubic -pix_fmt rgb24 -f rawvideo " +
                           (dir / "v360.rgb").string())
                              .c_str()),
              0);
    const std::vector<uint8_t> topDown = ReadAll(dir / "frame.bgra");
    const std::vector<uint8_t> v360 = ReadAll(dir / "v360.rgb");
    ASSERT_EQ(topDown.size(), 1920u * 1080 * 4);
    ASSERT_EQ(v360.size(), 1104u * 1104 * 3);
    std::vector<uint8_t> frame(topDown.size());
    for (int y = 0; y < 1080; ++y) {
        std::copy_n(&topDown[static_cast<size_t>(y) * 1920 * 4], 1920 * 4,
                    &frame[static_cast<size_t>(1079 - y) * 1920 * 4]);
    }
    FramePipeline p;
    ASSERT_EQ(p.Allocate(1920, 1080), TransformStatus::kOk);
    AppSettings s;
    s.SHARPEN_CH = 0;
    ASSERT_TRUE(p.BuildGeometry(s).Ok());
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
