// Two fisheye eyes in one frame through the headless converter: clips made
// by ffmpeg (one scene rendered by v360 as two fisheye circles, the right
// eye's view turned to the side, laid on black side by side or one above the
// other), converted with --stereo; each eye's circle is checked against the
// truth and each eye's picture against v360's own conversion of that eye's
// circle. ffprobe reads the stereo marking of every container that carries it.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "tests/capture_output.h"
#include "tests/cli/converter_copy.h"
#include "tests/cli/pair_clips.h"
#include "transform/stereo_alignment.h"

namespace {

namespace fs = std::filesystem;
using tessaly::testing::CaptureOutput;
using tessaly::testing::RunShellCommand;
using tessaly::testing::ShellQuote;

constexpr int kRightYaw = 8;  // degrees the right eye's view is turned

struct Case {
    const char* name;
    int w, h;          // the frame
    int d;             // each circle's diameter
    int lx, ly;        // the left eye's square's top-left corner
    int rx, ry;        // the right eye's
    const char* in;    // --stereo
    const char* out;   // --stereo-out
    bool swap;         // the right eye in the frame's first half
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

const Case kCases[] = {
    {"sbs_1920x1080_centred", 1920, 1080, 900, 30, 90, 990, 90, "sbs", "sbs", false},
    {"sbs_1920x1080_off_centre_to_tb", 1920, 1080, 800, 100, 40, 1020, 230, "sbs", "tb", false},
    {"sbs_3840x1920_centred", 3840, 1920, 1800, 60, 60, 1980, 60, "sbs", "sbs", false},
    {"sbs_3840x1920_off_centre", 3840, 1920, 1640, 200, 180, 2000, 90, "sbs", "sbs", false},
    {"tb_1080x1920_swapped", 1080, 1920, 900, 90, 990, 90, 30, "tb", "sbs", true},
};

std::string Num(int v) { return std::to_string(v); }

class StereoCliBase : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = fs::temp_directory_path() / ("tessaly_stereo_" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        program_ = tessaly::testing::ConverterCopyIn(dir_);
    }
    static void TearDownTestSuite() { fs::remove_all(dir_); }

    // Two frames: one scene as two masked fisheye circles on black.
    // The scene is a blurred test pattern, or with `texture` blurred noise
    // (detail in every direction); `turn` holds more v360 options for the
    // right eye's view.
    static std::string MakeClip(const Case& c, bool texture = false, const std::string& turn = "") {
        const std::string path = (dir_ / (std::string(c.name) + ".mp4")).string();
        const std::string d = Num(c.d), half = Num(c.d / 2);
        const std::string mask = "color=black:size=" + d + "x" + d + ":rate=5:duration=0.4,format=gray,geq=lum='if(lte(hypot(X-" +
                                 half + "+0.5,Y-" + half + "+0.5)," + half + "),255,0)',split[m1][m2];";
        const std::string fish = "v360=input=e:output=fisheye:h_fov=180:v_fov=180:w=" + d + ":h=" + d;
        const std::string graph = mask + "[0:v]gblur=sigma=3,split[a][b];[a]" + fish + ",format=rgba[l0];[l0][m1]alphamerge[l];[b]" +
                                  fish + ":yaw=" + Num(kRightYaw) + turn + ",format=rgba[r0];[r0][m2]alphamerge[r];" +
                                  "[1:v][l]overlay=" + Num(c.lx) + ":" + Num(c.ly) + "[t];[t][r]overlay=" + Num(c.rx) +
                                  ":" + Num(c.ry) + ",format=yuv420p[v]";
        const std::string cmd = std::string("ffmpeg -hide_banner -loglevel error -nostdin -y -f lavfi -i ") +
                                (texture ? "color=gray:size=" : "testsrc2=size=") + Num(2 * c.d) + "x" + d +
                                ":rate=5:duration=0.4" + (texture ? ",noise=alls=100:allf=u,gblur=sigma=3,eq=contrast=3" : "") +
                                " -f lavfi -i color=black:size=" +
                                Num(c.w) + "x" + Num(c.h) + ":rate=5:duration=0.4 -filter_complex \"" + graph +
                                "\" -map \"[v]\" -c:v libx264 -preset ultrafast -crf 8 " + ShellQuote(path);
        EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
        return path;
    }

    static tessaly::testing::ShellOutcome Convert(const std::string& args) {
        return RunShellCommand("cd " + ShellQuote(dir_.string()) + " && " + ShellQuote(program_.string()) + " " + args);
    }

    // The first frame of `path` after `filters` as top-down RGB bytes.
    static std::vector<uint8_t> Frame(const std::string& path, const std::string& filters) {
        const std::string raw = (dir_ / "frame.rgb").string();
        const std::string cmd = "ffmpeg -hide_banner -loglevel error -nostdin -y -i " + ShellQuote(path) +
                                " -frames:v 1 " + (filters.empty() ? "" : "-vf \"" + filters + "\" ") +
                                "-pix_fmt rgb24 -f rawvideo " + ShellQuote(raw);
        EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
        std::ifstream in(raw, std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
    }

    // The eyes of a side-by-side still (each n x n), as bottom-up BGRX,
    // measured by the converter's own measure; not ok when it is no such still.
    static tessaly::EyeMisalignment StillMisalignment(const std::string& still, int n) {
        const std::vector<uint8_t> rgb = Frame(still, "");
        std::array<tessaly::FrameBuffer, 2> eyes;
        for (int e = 0; e < 2; ++e) eyes[e].Allocate(n, n);
        for (size_t i = 0; i < rgb.size() && rgb.size() == 6u * n * n; ++i) {
            const size_t x = i / 3 % (2 * n);
            eyes[x / n].Row(n - 1 - static_cast<int>(i / 3 / (2 * n)))[4 * (x % n) + 2 - i % 3] = rgb[i];
        }
        return rgb.size() == 6u * n * n ? tessaly::MeasureEyeMisalignment(eyes[0], eyes[1]) : tessaly::EyeMisalignment{};
    }

    static fs::path dir_;
    static fs::path program_;
};

fs::path StereoCliBase::dir_;
fs::path StereoCliBase::program_;

class StereoCli : public StereoCliBase, public ::testing::WithParamInterface<Case> {};

// PSNR of the n x n square at (x0, y0) of the w-wide picture `a` against
// `b`, without a band of `margin` pixels along its sides: there the rays
// reach the generated circle's hard-edged rim, where any error in where an
// eye's circle is placed turns picture into black.
double Psnr(const std::vector<uint8_t>& a, int w, int x0, int y0, const std::vector<uint8_t>& b, int n, int margin) {
    double sum = 0;
    for (int y = margin; y < n - margin; ++y)
        for (int x = 3 * margin; x < 3 * (n - margin); ++x) {
            const double e = double(a[(static_cast<size_t>(y0 + y) * w + x0) * 3 + x]) - b[static_cast<size_t>(y) * n * 3 + x];
            sum += e * e;
        }
    const double inner = static_cast<double>(n - 2 * margin);
    return 10.0 * std::log10(255.0 * 255.0 * 3.0 * inner * inner / std::max(sum, 1e-9));
}

// The first still a run kept below `temp`; "" when there is none.
std::string FirstStill(const fs::path& temp) {
    for (const auto& entry : fs::recursive_directory_iterator(temp)) {
        if (entry.path().filename() == "mono000000.bmp") return entry.path().string();
    }
    return "";
}

// The circle the converter says it found for an eye: "left eye lens circle:
// centre X,Y radius R px".
bool SaidCircle(const std::string& output, const std::string& eye, double& cx, double& cy, double& r) {
    const size_t at = output.find(eye + " eye lens circle: centre ");
    return at != std::string::npos &&
           std::sscanf(output.c_str() + at + eye.size(), " eye lens circle: centre %lf,%lf radius %lf", &cx, &cy, &r) == 3;
}

TEST_P(StereoCli, FindsBothCirclesAndConvertsEachEyeLikeV360) {
    const Case& c = GetParam();
    const std::string clip = MakeClip(c);
    // The still path keeps the converted frames as they are, before any
    // encoding: the first one is compared.
    const fs::path temp = dir_ / (std::string(c.name) + "-temp");
    fs::create_directories(temp);
    const std::string out = (dir_ / (std::string(c.name) + "-out.mp4")).string();
    const auto run = Convert(std::string("--stereo ") + c.in + " --stereo-out " + c.out + (c.swap ? " --swap-eyes" : "") +
                             " --no-align-eyes --sharpen off --stills bmp --keep-stills --temp " + ShellQuote(temp.string()) + " " +
                             ShellQuote(clip) + " " + ShellQuote(out));
    ASSERT_EQ(run.status, 0) << run.output;
    const std::string still = FirstStill(temp);
    ASSERT_FALSE(still.empty()) << run.output;
    const int eyeX[2] = {c.lx, c.rx}, eyeY[2] = {c.ly, c.ry};
    const char* eyes[2] = {"left", "right"};
    for (int e = 0; e < 2; ++e) {
        double cx = 0, cy = 0, r = 0;
        ASSERT_TRUE(SaidCircle(run.output, eyes[e], cx, cy, r)) << run.output;
        const double tol = 0.005 * c.d;
        EXPECT_NEAR(cx, eyeX[e] + c.d / 2.0 - 0.5, tol) << eyes[e];
        EXPECT_NEAR(cy, eyeY[e] + c.d / 2.0 - 0.5, tol) << eyes[e];
        EXPECT_NEAR(r, c.d / 2.0, tol) << eyes[e];
        std::printf("circle table: %s %s | %+.1f %+.1f %+.1f px\n", c.name, eyes[e], cx - (eyeX[e] + c.d / 2.0 - 0.5),
                    cy - (eyeY[e] + c.d / 2.0 - 0.5), r - c.d / 2.0);
    }
    const std::string size = CaptureOutput("ffprobe -v error -select_streams v:0 -show_entries stream=width,height "
                                           "-of csv=p=0 " + ShellQuote(still));
    int w = 0, h = 0;
    ASSERT_EQ(std::sscanf(size.c_str(), "%d,%d", &w, &h), 2) << size;
    const bool sideBySide = std::string(c.out) == "sbs";
    const int n = sideBySide ? h : w;
    EXPECT_EQ(sideBySide ? w : h, 2 * n);
    const std::vector<uint8_t> got = Frame(still, "");
    ASSERT_EQ(got.size(), static_cast<size_t>(w) * h * 3);
    for (int e = 0; e < 2; ++e) {
        const std::string ideal = "crop=" + Num(c.d) + ":" + Num(c.d) + ":" + Num(eyeX[e]) + ":" + Num(eyeY[e]) +
                                  ",v360=input=fisheye:output=equirect:ih_fov=180:iv_fov=180:h_fov=180:v_fov=180:w=" +
                                  Num(n) + ":h=" + Num(n) + ":interp=cubic";
        const std::vector<uint8_t> want = Frame(clip, ideal);
        ASSERT_EQ(want.size(), static_cast<size_t>(n) * n * 3);
        // The rim included; the table also says it without the outer 1% (the last 1.8 degrees).
        const int x0 = sideBySide ? e * n : 0, y0 = sideBySide ? 0 : e * n;
        const double psnr = Psnr(got, w, x0, y0, want, n, 0);
        std::printf("psnr table: %s %s eye | %d x %d | %.1f dB with the rim (%.1f dB without)\n", c.name, eyes[e], n,
                    n, psnr, Psnr(got, w, x0, y0, want, n, n / 100));
        EXPECT_GE(psnr, 28.0) << eyes[e] << " eye";
    }
}

INSTANTIATE_TEST_SUITE_P(Generated, StereoCli, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

// ffprobe's side data of a movie's first video stream.
std::string SideData(const std::string& path) {
    return CaptureOutput("ffprobe -v error -select_streams v:0 -show_streams " + ShellQuote(path) +
                         " | grep -E '^(width|height|type|projection|bound_[a-z]+)='");
}

// Eyes whose views differ by a known pitch or roll (besides the parallax's
// turn): the converter reports the difference v360 put in, takes it out by
// half on each eye, and the converted eyes agree; --no-align-eyes keeps it.
TEST_F(StereoCliBase, AlignsTheEyesByPitchAndRoll) {
    struct Tilt { const char* name; const char* turn; double pitch, roll; };  // the right eye's view, off the left's
    const Tilt kTilts[] = {{"roll", ":roll=1.5", 0.0, 1.5}, {"pitch", ":pitch=1", 1.0, 0.0}};
    for (const Tilt& t : kTilts) {
        const std::string clip = MakeClip({t.name, 1920, 1080, 900, 30, 90, 990, 90, "sbs", "sbs", false}, true, t.turn);
        for (const bool align : {true, false}) {
            SCOPED_TRACE(std::string(t.name) + (align ? " aligned" : " as given"));
            const fs::path temp = dir_ / (std::string(t.name) + (align ? "-aligned" : "-kept"));
            fs::create_directories(temp);
            const auto run = Convert(std::string(align ? "" : "--no-align-eyes ") + "--stereo sbs --sharpen off --stills bmp --keep-stills "
                                     "--temp " + ShellQuote(temp.string()) + " " + ShellQuote(clip) + " " + ShellQuote((temp / "out.mp4").string()));
            ASSERT_EQ(run.status, 0) << run.output;
            double pitch = 0, roll = 0, pitchAfter = 9, rollAfter = 9;
            const size_t at = run.output.find("eyes aligned: the right eye was ");
            ASSERT_EQ(at != std::string::npos, align) << run.output;
            if (align) {
                ASSERT_EQ(std::sscanf(run.output.c_str() + at, "eyes aligned: the right eye was %lf deg pitch and %lf "
                                      "deg roll off the left; %*[^;]; left after: %lf pitch, %lf", &pitch, &roll,
                                      &pitchAfter, &rollAfter), 4) << run.output;
                std::printf("alignment table: %s | put in pitch %.2f roll %.2f | measured %+.2f %+.2f | left after %+.2f %+.2f\n",
                            t.name, t.pitch, t.roll, pitch, roll, pitchAfter, rollAfter);
                EXPECT_NEAR(t.pitch ? pitch : roll, t.pitch + t.roll, 0.1);
                EXPECT_TRUE(std::fabs(pitchAfter) < 0.1 && std::fabs(rollAfter) < 0.1);
            }
            // The converted eyes themselves, from the first still.
            const tessaly::EyeMisalignment left = StillMisalignment(FirstStill(temp), 990);
            ASSERT_TRUE(left.ok);
            // Aligned both ways, or kept as given (a turn about the axis of a
            // view turned sideways by the parallax also tilts it a little).
            EXPECT_NEAR(t.pitch ? left.pitch : left.roll, align ? 0.0 : t.pitch + t.roll, 0.1);
            if (align) { EXPECT_NEAR(t.pitch ? left.roll : left.pitch, 0.0, 0.1); }
        }
    }
}

// Two cameras filming one scene: the right one started 7 frames earlier, its
// view turned (once rolled too). The sound (the scene's noise; the left's
// unrelated or missing in the refusals) shows the offset; the eyes are aligned;
// each is compared with v360's conversion of its own movie's frame, and the
// output has the left movie's sound.
TEST_F(StereoCliBase, ConvertsAPairOfMoviesSynchronisedBySound) {
    struct PairRun {
        const char* name;
        const char* leftSound;  // the scene's noise (seed=1), another noise, or none ("")
        const char* args;
        bool viaJob;  // --save-job, then --job
        int status;
        const char* says;
        int rightFrame;  // the right movie's frame in the first output frame
        double seconds;  // the output's sound: the left movie's, as long as the shorter movie
        double roll = 0;  // degrees the right camera is rolled
    };
    const PairRun kRuns[] = {
        {"found", "seed=1", "", false, 0, "sound sync: the right movie's frame n + 7 goes with the left's frame n", 7, 1.72},
        {"given", "seed=1", "--right-offset 3 --no-align-eyes", false, 0, "n + 3 goes with the left's frame n (--right-offset)", 3, 1.72},
        {"right_ends_first", "seed=1", "--right-offset 30 --no-align-eyes", false, 0, "n + 30 goes", 30, 0.8},
        {"job", "seed=1", "", true, 0, "wrote the job", 7, 1.72},
        {"rolled", "seed=1", "", false, 0, "n + 7 goes", 7, 1.72, 1.5},
        {"unrelated", "seed=2", "", false, 3, "the two movies' sound does not agree (confidence ", -1, 0},
        {"silent", "", "", false, 3, "left.mp4 has no sound: give --right-offset", -1, 0},
    };
    const std::string left = (dir_ / "left.mp4").string(), right = (dir_ / "right.mp4").string();
    std::string made = "-";  // the left sound and the right roll of the movies made last
    for (const PairRun& r : kRuns) {
        SCOPED_TRACE(r.name);
        const std::string make = tessaly::testing::PairClipsCommand(left, right, r.leftSound, "340x320", "10:15", r.roll);
        const std::string key = r.leftSound + std::to_string(r.roll);
        if (std::exchange(made, key) != key) { ASSERT_EQ(std::system(make.c_str()), 0) << make; }
        const fs::path temp = dir_ / (std::string("pair-") + r.name);
        fs::create_directories(temp);
        const std::string out = (temp / "out.mp4").string(), job = (temp / "job").string(), options = std::string("--stereo pair "
                          "--sharpen off ") + r.args + " --stills bmp --keep-stills --temp " + ShellQuote(temp.string()) + " ";
        auto run = Convert(options + (r.viaJob ? "--save-job " + ShellQuote(job) + " " : "") + ShellQuote(left) +
                           " " + ShellQuote(right) + " " + ShellQuote(out));
        EXPECT_EQ(run.status, r.status) << run.output;
        EXPECT_NE(run.output.find(r.says), std::string::npos) << run.output;
        if (r.status != 0) continue;
        // Aligned on the frames that go together (a wrong offset pairs unlike ones): the roll
        // put in measured, and the output's eyes agreeing within 0.1 degrees.
        const bool aligned = std::string(r.args).find("--no-align-eyes") == std::string::npos;
        double pitch = 9, roll = 9;
        const size_t at = run.output.find("eyes aligned: the right eye was ");
        EXPECT_EQ(at == std::string::npos ? 0 : std::sscanf(run.output.c_str() + at, "eyes aligned: the right eye was %lf deg pitch "
                                                            "and %lf", &pitch, &roll), aligned ? 2 : 0) << run.output;
        if (r.viaJob) run = Convert("--job " + ShellQuote(job));
        ASSERT_EQ(run.status, 0) << run.output;
        const std::vector<uint8_t> got = Frame(FirstStill(temp), "");
        ASSERT_EQ(got.size(), 660u * 330u * 3u);
        const tessaly::EyeMisalignment eyes = StillMisalignment(FirstStill(temp), 330);
        if (aligned) std::printf("pair alignment: %s | roll put in %.2f | measured %+.2f %+.2f | output's eyes %+.2f %+.2f\n",
                                 r.name, r.roll, pitch, roll, eyes.pitch, eyes.roll);
        if (aligned) { EXPECT_TRUE(eyes.ok && std::fabs(roll - r.roll) < 0.1 && std::fabs(eyes.pitch) < 0.1 && std::fabs(eyes.roll) < 0.1); }
        if (r.roll != 0) continue;  // each eye turned by half the roll: not v360's picture
        const std::string crops[2] = {"select=eq(n\\,0),crop=300:300:20:10",
                                      "select=eq(n\\," + Num(r.rightFrame) + "),crop=300:300:10:15"};
        for (int e = 0; e < 2; ++e) {
            const std::vector<uint8_t> want = Frame(e == 0 ? left : right, crops[e] + ",v360=input=fisheye:output=equirect:"
                                                    "ih_fov=180:iv_fov=180:h_fov=180:v_fov=180:w=330:h=330:interp=cubic");
            const double psnr = Psnr(got, 660, e * 330, 0, want, 330, 3);
            std::printf("pair table: %s eye %d | %.1f dB\n", r.name, e, psnr);
            // The scene's noise changes with every frame: a neighbouring
            // frame comes out near 28 dB.
            EXPECT_GE(psnr, 33.0) << "eye " << e;
        }
        EXPECT_NEAR(std::stod(CaptureOutput("ffprobe -v error -select_streams a -show_entries stream=duration "
                                            "-of csv=p=0 " + ShellQuote(out))), r.seconds, 0.03);
    }
}

// The streamed outputs of a stereo run in every container that carries the
// marking: each eye a square, the layout and the 180-degree bounds marked;
// --no-vr-metadata leaves them unmarked.
TEST_F(StereoCliBase, StreamsMarkedStereoIntoEachContainer) {
    const Case c{"marking", 640, 360, 300, 10, 30, 330, 30, "sbs", "sbs", false};
    const std::string clip = MakeClip(c);
    const std::string mp4 = (dir_ / "m.mp4").string(), mov = (dir_ / "m.mov").string(), webm = (dir_ / "m.webm").string(),
                      tb = (dir_ / "tb.mp4").string(), plain = (dir_ / "plain.mp4").string();
    auto run = Convert("--stereo sbs " + ShellQuote(clip) + " " + ShellQuote(mp4) + " " + ShellQuote(mov) + " " + ShellQuote(webm));
    ASSERT_EQ(run.status, 0) << run.output;
    for (const std::string& out : {mp4, mov, webm}) {
        const std::string sd = SideData(out);
        for (const char* want : {"width=660\nheight=330\n", "type=side by side", "projection=tiled equirectangular",
                                 "bound_top=0\nbound_right="}) EXPECT_NE(sd.find(want), std::string::npos) << out << "\n" << sd;
    }
    ASSERT_EQ((run = Convert("--stereo sbs --stereo-out tb " + ShellQuote(clip) + " " + ShellQuote(tb))).status, 0) << run.output;
    EXPECT_NE(SideData(tb).find("width=330\nheight=660\ntype=top and bottom"), std::string::npos) << SideData(tb);
    ASSERT_EQ((run = Convert("--stereo sbs --no-vr-metadata " + ShellQuote(clip) + " " + ShellQuote(plain))).status, 0) << run.output;
    EXPECT_EQ(SideData(plain), "width=660\nheight=330\n");
}

// Stereo options that cannot be used, and a movie with one circle only:
// refused before any work, with the reason.
TEST_F(StereoCliBase, RefusesWhatCannotBeConvertedAsStereo) {
    const Case one{"one-eye", 640, 360, 300, 10, 30, 2000, 0, "sbs", "sbs", false};  // the right eye off the frame
    const std::string clip = MakeClip(one);
    const std::string out = ShellQuote((dir_ / "never.mp4").string());
    struct Refusal { const char* args; int status; const char* says; };
    const Refusal kRefusals[] = {
        {"--stereo lr", 2, "--stereo needs sbs (side by side), tb (top-bottom) or pair (two movies), got 'lr'"},
        {"--stereo sbs --right-offset 2", 2, "--right-offset needs --stereo pair"},
        {"--stereo pair", 2, "--stereo pair needs LEFT RIGHT OUTPUT: no output movie given"},
        {"--swap-eyes", 2, "need --stereo sbs|tb"},
        {"--stereo-out tb", 2, "need --stereo sbs|tb"},
        {"--stereo sbs --right-roll 200", 2, "--right-roll: "},
        {"--stereo sbs --cut 0,0,300,600", 2, "--cut and --circle cannot be used with it"},
        {"--stereo tb --flip", 2, "--flip would swap the eyes' sides"},
        {"--stereo sbs --join", 2, "--join takes the eyes' layout from its parts"},
        {"--stereo sbs", 3, "no lens circle found for the right eye: "},
    };
    for (const Refusal& r : kRefusals) {
        const auto run = Convert(std::string(r.args) + " " + ShellQuote(clip) + " " + out);
        EXPECT_EQ(run.status, r.status) << r.args << ": " << run.output;
        EXPECT_NE(run.output.find(r.says), std::string::npos) << r.args << ": " << run.output;
    }
    EXPECT_FALSE(fs::exists(dir_ / "never.mp4"));
}

}  // namespace
