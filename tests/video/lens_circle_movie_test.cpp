// The lens circle found in movies that ffmpeg makes: a test pattern turned
// into a fisheye circle by the v360 filter, masked to a known circle and laid
// on a black frame (centred, off-centre, cut off at the top and bottom,
// letterboxed), with ffmpeg's noise, curves and vignette filters for noisy,
// dark and vignetted scenes; and movies without a circle. A conversion with
// the cut of the found circle is then compared with v360's own conversion of
// the true circle.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <ostream>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/capture_output.h"
#include "tests/cli/converter_copy.h"
#include "tests/video/test_clips.h"
#include "tests/video/v360_compare.h"
#include "transform/lens_circle.h"
#include "video/luma_sampler.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;
using testing::FirstFrame;

struct Case {
    const char* name;
    int w, h;        // the frame
    int d;           // the circle's diameter (even)
    int ox, oy;      // the circle's square's top-left corner in the frame
    const char* pre;   // filters on the fisheye square ("" none)
    const char* post;  // filters on the whole frame ("" none)
    int padTop;        // rows of black added above by `post`
    bool circle;       // false: a movie without one
};

// Cases print by name, so the test names stay the same from build to build.
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

// The circle of a case in source pixels: the mask below keeps the pixels
// whose centres lie within d / 2 of the square's centre.
LensCircle TrueCircle(const Case& c) {
    return {c.ox + c.d / 2.0 - 0.5, c.oy + c.padTop + c.d / 2.0 - 0.5, c.d / 2.0};
}

// `timing` gives the inputs' rate and length, `quality` the encoder's setting.
std::string MakeClip(const Case& c, const std::string& timing = "rate=5:duration=1",
                     const std::string& quality = "-crf 10") {
    const std::string name = std::string("circle-") + c.name + (quality == "-crf 10" ? "" : "-lossless") + ".mp4";
    std::string args;
    if (!c.circle) {
        args = "-f lavfi -i testsrc2=size=" + std::to_string(c.w) + "x" + std::to_string(c.h) +
               ":" + timing + " -vf \"" + (c.post[0] ? std::string(c.post) + "," : "") + "format=yuv420p\"";
    } else {
        const int half = c.d / 2;
        const std::string d = std::to_string(c.d);
        std::string f = "color=black:size=" + d + "x" + d + ":rate=1:duration=1,format=gray,geq=lum='if(lte(hypot(X-" +
                        std::to_string(half) + "+0.5,Y-" + std::to_string(half) + "+0.5)," + std::to_string(half) +
                        "),255,0)',loop=loop=-1:size=1[m];";
        f += "[0:v]v360=input=e:output=fisheye:h_fov=180:v_fov=180:w=" + d + ":h=" + d + "," +
             (c.pre[0] ? std::string(c.pre) + "," : "") + "format=rgba[f];[f][m]alphamerge[fm];";
        f += "[1:v][fm]overlay=x=" + std::to_string(c.ox) + ":y=" + std::to_string(c.oy) + ":shortest=1," +
             (c.post[0] ? std::string(c.post) + "," : "") + "format=yuv420p[v]";
        args = "-f lavfi -i testsrc2=size=" + std::to_string(2 * c.d) + "x" + d +
               ":" + timing + " -f lavfi -i color=black:size=" + std::to_string(c.w) + "x" + std::to_string(c.h) +
               ":" + timing + " -filter_complex \"" + f + "\" -map \"[v]\"";
    }
    return testing::FfmpegClip(name, args + " -c:v libx264 -preset ultrafast " + quality);
}

const Case kCases[] = {
    {"640-centred", 640, 480, 480, 80, 0, "", "", 0, true},
    {"640-small-off-centre", 640, 480, 300, 40, 150, "", "", 0, true},
    {"1280-centred", 1280, 720, 720, 280, 0, "", "", 0, true},
    {"1280-cut-off", 1280, 720, 900, 190, -90, "", "", 0, true},
    {"1280-cut-off-left", 1280, 720, 860, 60, -70, "", "", 0, true},
    {"1920-right", 1920, 1080, 1000, 800, 40, "", "", 0, true},
    {"3840-cut-off", 3840, 2160, 2600, 620, -220, "", "", 0, true},
    {"640-dark-rim", 640, 480, 460, 90, 10, "curves=all='0/0 1/0.25',vignette=angle=PI/3", "", 0, true},
    {"960-noisy", 960, 540, 500, 230, 20, "", "noise=alls=24:allf=t+u", 0, true},
    {"960-vignette-pi3", 960, 540, 540, 210, 0, "vignette=angle=PI/3", "", 0, true},
    {"640-letterboxed-cut-off", 640, 360, 420, 110, -30, "", "pad=640:480:0:60", 60, true},
    {"1024-dark-noisy", 1024, 768, 700, 100, 30, "curves=all='0/0 1/0.3'", "noise=alls=16:allf=t+u", 0, true},
    {"1280-no-circle", 1280, 720, 0, 0, 0, "", "", 0, false},
    {"640-letterboxed-no-circle", 640, 360, 0, 0, 0, "", "pad=640:480:0:60", 0, false},
};

class LensCircleMovie : public ::testing::TestWithParam<Case> {};

TEST_P(LensCircleMovie, FindsTheCircleOrSaysThereIsNone) {
    if (std::system("ffmpeg -version > /dev/null 2>&1") != 0) GTEST_SKIP() << "ffmpeg not installed";
    const Case& c = GetParam();
    const std::string clip = MakeClip(c);
    const CircleSearch found = FindLensCircleInMovie(clip);
    if (!c.circle) {
        EXPECT_FALSE(found.found) << "found " << found.circle.cx << "," << found.circle.cy << " r " << found.circle.r;
        EXPECT_FALSE(found.reason.empty());
        RecordProperty("reason", NoCircleMessage(found));
        return;
    }
    ASSERT_TRUE(found.found) << NoCircleMessage(found);
    const LensCircle want = TrueCircle(c);
    const double tol = std::max(2.0, 0.005 * c.d);
    EXPECT_NEAR(found.circle.cx, want.cx, tol);
    EXPECT_NEAR(found.circle.cy, want.cy, tol);
    EXPECT_NEAR(found.circle.r, want.r, tol);
    char row[256];
    std::snprintf(row, sizeof row, "%s | %.1f,%.1f r %.1f | %.2f,%.2f r %.2f | %+.2f %+.2f %+.2f", c.name, want.cx,
                  want.cy, want.r, found.circle.cx, found.circle.cy, found.circle.r, found.circle.cx - want.cx,
                  found.circle.cy - want.cy, found.circle.r - want.r);
    RecordProperty("errors", row);
    std::printf("circle table: %s\n", row);
}

INSTANTIATE_TEST_SUITE_P(Generated, LensCircleMovie, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             std::string n = info.param.name;
                             for (char& ch : n) ch = (ch == '-') ? '_' : ch;
                             return n;
                         });

// tessaly-convert finds each circle and its whole panorama agrees with
// v360's conversion of the true circle's square (black where the frame ends),
// interpolated in RGB as ours is: whole, cut-off, dark and letterboxed
// circles, and off-centre ones for which the grid of the cut cannot give both
// the centre's row and the radius (1080 rows: 1.8 source rows a unit, 2.3 for
// the top).
TEST(LensCircleMovieConversion, TheFoundCircleThroughTheConverterAgreesWithV360) {
    if (std::system("ffmpeg -version > /dev/null 2>&1") != 0) GTEST_SKIP() << "ffmpeg not installed";
    const Case offCentre[] = {
        {"1920-right-r360", 1920, 1080, 720, 1000, 250, "", "", 0, true},   // 1359.5,609.5
        {"1920-left-r361", 1920, 1080, 722, 30, 160, "", "", 0, true},      // 390.5,520.5
        {"1920-top-r361", 1920, 1080, 722, 600, 4, "", "", 0, true},        // 960.5,364.5
        {"1280-top-right-r324", 1280, 720, 648, 600, 20, "", "", 0, true},  // 923.5,343.5
    };
    std::vector<std::pair<Case, std::string>> clips;  // the off-centre ones lossless
    for (const Case& c : {kCases[2], kCases[3], kCases[5], kCases[7], kCases[10]}) clips.emplace_back(c, MakeClip(c));
    for (const Case& c : offCentre) clips.emplace_back(c, MakeClip(c, "rate=5:duration=0.4", "-qp 0"));
    const fs::path dir = testing::TempFolder("found-circles");
    const fs::path program = testing::ConverterCopyIn(dir);
    for (const auto& [c, clip] : clips) {
        SCOPED_TRACE(c.name);
        const fs::path temp = dir / "temp";
        fs::create_directories(temp);
        const std::string said = testing::CaptureOutput(
            testing::ShellQuote(program.string()) + " --stills bmp --keep-stills --temp " +
            testing::ShellQuote(temp.string()) + " " + testing::ShellQuote(clip) + " " +
            testing::ShellQuote((dir / "out.mp4").string()) + " 2>&1");
        fs::path still;
        for (const auto& entry : fs::recursive_directory_iterator(temp))
            if (entry.path().filename() == "mono000000.bmp") still = entry.path();
        ASSERT_FALSE(still.empty()) << said;
        const std::vector<uint8_t> ours = FirstFrame(still.string(), "", (dir / "ours.bgra").string());
        const int n = static_cast<int>(std::lround(std::sqrt(ours.size() / 4.0)));
        ASSERT_EQ(ours.size(), static_cast<size_t>(n) * n * 4) << said;
        const std::string pad = "pad=" + std::to_string(c.w + 2 * c.d) + ":" +
                                std::to_string(c.h + 2 * c.padTop + 2 * c.d) + ":" + std::to_string(c.d) + ":" +
                                std::to_string(c.d) + ",";
        const std::vector<uint8_t> v360 = FirstFrame(
            clip, pad + testing::V360Panorama(c.d, c.ox + c.d, c.oy + c.padTop + c.d, n), (dir / "v360.bgra").string());
        ASSERT_EQ(v360.size(), ours.size());
        const double psnr = testing::PsnrWhereCovered(ours, v360);
        std::printf("converter %s: %.1f dB against v360; %s", c.name, psnr, said.substr(0, said.find('\n') + 1).c_str());
        EXPECT_GE(psnr, 26.0) << said;
        fs::remove_all(temp);
    }
    fs::remove_all(dir);
}

// A movie stored turned, as phones write it (a display matrix): the circle
// is found on the upright picture the conversion cuts, and --circle takes
// upright coordinates. The circle lies at 169.5,114.5 r 100 of the stored
// 320x240 picture; where it shows upright was checked against ffmpeg's own
// turning of the picture (the centre of its bright pixels).
TEST(LensCircleTurnedMovie, IsFoundAndPlacedOnTheUprightPicture) {
    if (std::system("ffmpeg -version > /dev/null 2>&1") != 0) GTEST_SKIP() << "ffmpeg not installed";
    const Case stored{"320-stored", 320, 240, 200, 70, 15, "", "", 0, true};
    const std::string plain = MakeClip(stored);
    const fs::path dir = testing::TempFolder("turned-circle");
    const fs::path program = testing::ConverterCopyIn(dir);
    const auto convert = [&](const std::string& movie, const std::string& options) {
        const std::string out = (dir / "out.mp4").string();
        const std::string said = testing::CaptureOutput(testing::ShellQuote(program.string()) + " " + options + " " +
                                                        testing::ShellQuote(movie) + " " + out + " 2>&1");
        const std::string size = testing::ProbeVideoEntry(out, "stream=width,height");
        fs::remove(out);
        return size.empty() ? said : size;
    };
    const std::string side = convert(plain, "--circle 169.5,114.5,100");
    EXPECT_EQ(side, "220\n220");
    struct Turn {
        int rotate;          // the stored tag; ffmpeg 5 writes a matrix of this counterclockwise angle
        double cx, cy;       // the circle's centre upright
        int w, h;            // the upright picture
    };
    for (const Turn& t : {Turn{90, 114.5, 149.5, 240, 320}, Turn{180, 149.5, 124.5, 320, 240},
                          Turn{270, 124.5, 169.5, 240, 320}}) {
        SCOPED_TRACE(t.rotate);
        const std::string movie = testing::FfmpegClip("circle-320-turned" + std::to_string(t.rotate) + ".mp4",
                                                      "-i " + testing::ShellQuote(plain) +
                                                          " -c copy -metadata:s:v:0 rotate=" + std::to_string(t.rotate));
        const std::string angle = testing::ProbeVideoEntry(movie, "stream_side_data=rotation");
        ASSERT_EQ(std::abs(std::atoi(angle.c_str())), t.rotate == 270 ? 90 : t.rotate) << "no display matrix";
        const Result<SampledLuma> one = SampleLumaMaximum(movie, LumaSampling{1, 64});
        ASSERT_TRUE(one.ok()) << one.reason();
        EXPECT_EQ(one->frameW, t.w);
        EXPECT_EQ(one->frameH, t.h);
        const CircleSearch found = FindLensCircleInMovie(movie);
        ASSERT_TRUE(found.found) << NoCircleMessage(found);
        EXPECT_NEAR(found.circle.cx, t.cx, 0.005 * stored.d);
        EXPECT_NEAR(found.circle.cy, t.cy, 0.005 * stored.d);
        EXPECT_NEAR(found.circle.r, 100.0, 0.005 * stored.d);
        char circle[64];
        std::snprintf(circle, sizeof circle, "--circle %.1f,%.1f,100", t.cx, t.cy);
        EXPECT_EQ(convert(movie, circle), side);
        EXPECT_EQ(convert(movie, ""), side);
    }
    fs::remove_all(dir);
}

// The frames folded in: spread over the movie, scaled to the working size,
// one plane of the frame's shape; an unreadable file and a stop say why.
TEST(LumaSampling, SpreadsOverTheMovieAndScalesDown) {
    if (std::system("ffmpeg -version > /dev/null 2>&1") != 0) GTEST_SKIP() << "ffmpeg not installed";
    const Result<SampledLuma> two = SampleLumaMaximum(testing::FisheyeClip("fish-2s.mp4"));
    ASSERT_TRUE(two.ok()) << two.reason();
    EXPECT_EQ(two->frameW, 160);
    EXPECT_EQ(two->frameH, 120);
    EXPECT_EQ(two->maximum.width, 160);  // small frames are used as they are
    EXPECT_GE(two->frames, 8);           // 50 frames: most of the 16 points give a frame of their own
    EXPECT_LE(two->frames, 16);
    const Result<SampledLuma> one = SampleLumaMaximum(testing::FisheyeClip("fish-2s.mp4"), LumaSampling{1, 64});
    ASSERT_TRUE(one.ok());
    EXPECT_EQ(one->frames, 1);
    EXPECT_EQ(one->maximum.width, 64);
    EXPECT_EQ(one->maximum.height, 48);
    EXPECT_EQ(one->frameW, 160);
    const Result<SampledLuma> big = SampleLumaMaximum(MakeClip(kCases[6]));
    ASSERT_TRUE(big.ok());
    EXPECT_EQ(big->maximum.width, 1024);
    EXPECT_EQ(big->maximum.height, 576);
    EXPECT_EQ(big->maximum.pixels.size(), 1024u * 576u);

    const fs::path junk = fs::path(TESSALY_BINARY_DIR) / "luma-sampling-junk.mp4";
    std::ofstream(junk) << "not a movie";
    const Result<SampledLuma> bad = SampleLumaMaximum(junk.string());
    EXPECT_FALSE(bad.ok());
    EXPECT_EQ(bad.reason(), "cannot open the movie");
    const CircleSearch none = FindLensCircleInMovie(junk.string());
    EXPECT_FALSE(none.found);
    EXPECT_EQ(NoCircleMessage(none), "no lens circle found: cannot open the movie");
    fs::remove(junk);
    std::atomic<bool> stop{true};
    const Result<SampledLuma> stopped = SampleLumaMaximum(testing::FisheyeClip("fish-2s.mp4"), {}, &stop);
    EXPECT_FALSE(stopped.ok());
    EXPECT_EQ(stopped.reason(), "stopped");
}

}  // namespace
}  // namespace tessaly
