// Our lens models and levelling angles against ffmpeg's v360 filter (written
// by others). A lossless fisheye is made by v360 from an equirectangular test
// picture (the circle filling a square, placed off-centre in a wider frame);
// we convert it with the cut whose lens circle is that circle, v360 converts
// the same fisheye back to a 180 x 180 degree equirectangular square, and the
// two must agree over the pixels both cover. The same conversion with the
// sign of any angle turned must not.
#include <gtest/gtest.h>

#include <unistd.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "transform/frame_pipeline.h"
#include "transform/lens.h"
#include "transform/lens_circle.h"
#include "transform/lens_projection.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;

constexpr int kFisheye = 720;  // the fisheye square
constexpr int kFrameW = 1200;  // the frame it is placed in, at column kLeft
constexpr int kLeft = 240;

const char* V360Name(LensModel model) {
    switch (model) {
        case LensModel::kEquidistant: return "fisheye";
        case LensModel::kEquisolid: return "equisolid";
        case LensModel::kStereographic: return "sg";
        case LensModel::kOrthographic: return "og";
    }
    return "fisheye";
}

std::string Number(double v) {  // with a decimal point whatever the locale
    char text[32];
    return std::string(text, std::to_chars(text, text + sizeof text, v, std::chars_format::fixed, 3).ptr);
}

// The cut of the fisheye square placed at column kLeft.
CutForCircleResult FisheyeCut() {
    return CutForCircle(kFrameW, kFisheye, LensCircle{kLeft + 0.5 * (kFisheye - 1), 0.5 * (kFisheye - 1), 0.5 * kFisheye});
}

class LensV360 : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (std::system("ffmpeg -version > /dev/null 2>&1") != 0) return;
        // One folder per process: ctest runs the cases side by side.
        dir_ = fs::path(TESSALY_BINARY_DIR) / ("transform_lens_v360_test_" + std::to_string(::getpid()));
        fs::create_directories(dir_);
        // The equirectangular test picture (a whole sphere), lossless.
        haveFfmpeg_ = Run("-f lavfi -i testsrc2=size=1080x540:rate=1 -frames:v 1 " + (dir_ / "sphere.png").string());
    }
    static void TearDownTestSuite() {
        if (!dir_.empty()) fs::remove_all(dir_);
    }
    void SetUp() override {
        if (!haveFfmpeg_) GTEST_SKIP() << "ffmpeg not installed";
    }

    static bool Run(const std::string& args) {
        const std::string cmd = "ffmpeg -hide_banner -loglevel error -nostdin -y " + args;
        const bool ok = std::system(cmd.c_str()) == 0;
        EXPECT_TRUE(ok) << cmd;
        return ok;
    }
    static std::vector<uint8_t> Read(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
    }

    // v360's fisheye of the sphere through this lens (no turn), as a lossless
    // picture, and our bottom-up BGRX frame holding it at column kLeft.
    std::vector<uint8_t> MakeFrame(const LensSettings& lens, fs::path& fisheye) {
        const std::string f = Number(lens.fov);
        fisheye = dir_ / (std::string(LensModelName(lens.model)) + "_" + f + ".png");
        Run("-i " + (dir_ / "sphere.png").string() + " -vf format=gbrp,v360=input=equirect:output=" +
            V360Name(lens.model) + ":h_fov=" + f + ":v_fov=" + f + ":w=" + std::to_string(kFisheye) +
            ":h=" + std::to_string(kFisheye) + ":interp=cubic " + fisheye.string());
        const fs::path raw = dir_ / "frame.bgra";
        Run("-i " + fisheye.string() + " -vf pad=" + std::to_string(kFrameW) + ":" + std::to_string(kFisheye) + ":" +
            std::to_string(kLeft) + ":0,vflip -pix_fmt bgra -f rawvideo " + raw.string());
        return Read(raw);
    }

    // v360's equirectangular square (side n) of that fisheye, turned by the
    // lens's angles, bottom-up BGRA; the alpha byte marks what v360 covers.
    std::vector<uint8_t> V360Square(const LensSettings& lens, const fs::path& fisheye, int n) {
        const std::string f = Number(lens.fov);
        const fs::path raw = dir_ / "v360.bgra";
        Run("-i " + fisheye.string() + " -vf format=gbrap,v360=input=" + V360Name(lens.model) + ":ih_fov=" + f +
            ":iv_fov=" + f + ":output=equirect:h_fov=180:v_fov=180:w=" + std::to_string(n) + ":h=" +
            std::to_string(n) + ":interp=cubic:alpha_mask=1:yaw=" + Number(lens.yaw) + ":pitch=" +
            Number(lens.pitch) + ":roll=" + Number(lens.roll) + ",vflip -pix_fmt bgra -f rawvideo " + raw.string());
        return Read(raw);
    }

    struct Comparison { double psnr = 0.0, covered = 0.0; };  // covered: the share of the output compared

    // Our conversion of the frame through `lens` against v360's square,
    // over the pixels our table places well inside the lens circle and v360
    // covers too.
    static Comparison Compare(const std::vector<uint8_t>& frame, const LensSettings& lens,
                              const std::vector<uint8_t>& v360) {
        Comparison result;
        const CutForCircleResult fit = FisheyeCut();
        EXPECT_TRUE(fit.ok);
        FramePipeline p(1);
        EXPECT_EQ(p.Allocate(kFrameW, kFisheye), TransformStatus::kOk);
        TransformSettings s;
        s.sharpenOn = 0;
        s.cut = fit.cut;
        s.lens = lens;
        if (!p.BuildGeometry(s.cut, lens).Ok()) return result;
        EXPECT_EQ(p.ConvertFrame(frame.data(), frame.size(), s, {}, {}), TransformStatus::kOk);
        const int n = p.OutputWidth();
        if (v360.size() != static_cast<size_t>(n) * n * 4) {
            ADD_FAILURE() << "v360 square of " << v360.size() << " bytes, not " << n << " x " << n;
            return result;
        }
        const double inner = 0.97 * LensCircleOf(p.Geometry()).r;
        const float* uv = p.Table().Pairs();
        const uint8_t* ours = p.OutputPixels();
        double sum = 0.0;
        size_t count = 0;
        for (size_t k = 0; k < static_cast<size_t>(n) * n; ++k) {
            if (IsUncovered(uv[2 * k]) || std::hypot(uv[2 * k], uv[2 * k + 1]) > inner || v360[4 * k + 3] != 255) {
                continue;
            }
            for (int c = 0; c < 3; ++c) {
                const double d = double(ours[4 * k + c]) - v360[4 * k + c];
                sum += d * d;
            }
            ++count;
        }
        result.covered = double(count) / (double(n) * n);
        result.psnr = sum == 0.0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 * 3.0 * double(count) / sum);
        return result;
    }

    // The side of our output square, which v360's square takes too: it
    // follows from the cut alone, whatever the lens.
    static int OutputSide() {
        return BuildCutGeometry(kFrameW, kFisheye, FisheyeCut().cut).geometry.outW;
    }

    static inline fs::path dir_;
    static inline bool haveFfmpeg_ = false;
};

constexpr double kAgree = 28.0;

// Every model at two fields of view, and the levelling angles alone and
// together. The same fisheye read as the default lens, or with the sign of
// one angle turned, must show.
TEST_F(LensV360, EveryModelAndAngleAgreesAndAWrongModelOrSignDoesNot) {
    const struct { LensModel model; double fov, yaw, pitch, roll; } cases[] = {
        {LensModel::kEquidistant, 180, 0, 0, 0},   {LensModel::kEquidistant, 200, 0, 0, 0},
        {LensModel::kEquisolid, 180, 0, 0, 0},     {LensModel::kEquisolid, 200, 0, 0, 0},
        {LensModel::kStereographic, 180, 0, 0, 0}, {LensModel::kStereographic, 200, 0, 0, 0},
        {LensModel::kOrthographic, 180, 0, 0, 0},  {LensModel::kOrthographic, 160, 0, 0, 0},
        {LensModel::kEquidistant, 200, 25, 0, 0},  {LensModel::kEquidistant, 200, 0, 20, 0},
        {LensModel::kEquidistant, 200, 0, 0, 30},  {LensModel::kEquidistant, 200, 25, -20, 30},
        {LensModel::kEquisolid, 180, -15, 10, -20}};
    std::string table;
    for (const auto& c : cases) {
        fs::path fisheye;
        const std::vector<uint8_t> frame = MakeFrame(LensSettings{c.model, c.fov}, fisheye);
        ASSERT_EQ(frame.size(), size_t{kFrameW} * kFisheye * 4);
        const LensSettings lens{c.model, c.fov, c.yaw, c.pitch, c.roll};
        const std::vector<uint8_t> v360 = V360Square(lens, fisheye, OutputSide());
        const Comparison same = Compare(frame, lens, v360);
        const std::string name = std::string(LensModelName(c.model)) + " " + Number(c.fov) + " yaw " +
                                 Number(c.yaw) + " pitch " + Number(c.pitch) + " roll " + Number(c.roll);
        table += name + ": " + Number(same.psnr) + " dB over " + Number(100 * same.covered) + "%";
        EXPECT_GT(same.psnr, kAgree) << name;
        EXPECT_GT(same.covered, 0.3) << name;
        if (c.yaw == 0 && c.pitch == 0 && c.roll == 0 && !lens.IsDefault()) {
            const Comparison asDefault = Compare(frame, LensSettings{}, v360);
            table += " (read as the default lens " + Number(asDefault.psnr) + " dB)";
            EXPECT_LT(asDefault.psnr, same.psnr - 1.0) << name;
        }
        for (double LensSettings::*angle : {&LensSettings::yaw, &LensSettings::pitch, &LensSettings::roll}) {
            if (lens.*angle == 0.0) continue;
            LensSettings wrong = lens;
            wrong.*angle = -(wrong.*angle);
            const Comparison turned = Compare(frame, wrong, v360);
            table += " (one sign turned " + Number(turned.psnr) + " dB)";
            EXPECT_LT(turned.psnr, kAgree - 4.0) << name;
        }
        table += "; ";
    }
    RecordProperty("psnr", table);
    std::printf("%s\n", table.c_str());
}

}  // namespace
}  // namespace tessaly
