// A two-eye movie in the desktop: both lens circles found and drawn, the
// eyes joined for the output preview (side by side or red/cyan), and
// Convert writing the very frames tessaly-convert --stereo sbs writes,
// marked as side-by-side stereo.
#include <gtest/gtest.h>

#include <QDoubleSpinBox>

#include <filesystem>

#include "tests/capture_output.h"
#include "tests/cli/converter_copy.h"
#include "tests/cli/pair_clips.h"
#include "tests/ui/convert_script.h"
#include "ui/control_ids.h"
#include "ui/job_saving.h"
#include "ui/lens_dialog.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;
using testing::ShellQuote;

// One bottom-up BGRX pixel row of `pixels` (B, G, R per pixel).
FrameBuffer Row(std::initializer_list<uint8_t> pixels) {
    FrameBuffer f;
    f.Allocate(static_cast<int>(pixels.size() / 3), 1);
    int i = 0;
    for (uint8_t v : pixels) f.Data()[(i / 3) * 4 + i % 3] = v, ++i;
    return f;
}

TEST(StereoDesktop, EyesAreJoinedSideBySideOrAsAnAnaglyph) {
    const FrameBuffer left = Row({1, 2, 3, 4, 5, 6}), right = Row({10, 20, 30, 40, 50, 60});
    const struct { bool anaglyph; std::vector<uint8_t> want; } cases[] = {
        {false, {1, 2, 3, 0, 4, 5, 6, 0, 10, 20, 30, 0, 40, 50, 60, 0}},
        {true, {10, 20, 3, 0, 40, 50, 6, 0}},  // blue, green: right eye; red: left eye
    };
    for (const auto& c : cases) {
        FrameBuffer out;
        JoinEyesForPreview(left, right, c.anaglyph, out);
        EXPECT_EQ(std::vector<uint8_t>(out.Data(), out.Data() + out.PictureBytes()), c.want) << c.anaglyph;
    }
}

// The Lens dialog edits both eyes' angles, or one eye's own over them;
// an eye's Reset takes back its own only.
TEST(StereoDesktop, TheLensDialogEditsBothEyesOrOne) {
    testing::Desktop d;
    d.window->Command(control::kStereoSideBySide);
    d.window->OpenLensDialog();
    LensDialog* dialog = d.window->Lens();
    dialog->Yaw()->setValue(4);
    dialog->Eye()->setCurrentIndex(2);
    dialog->Pitch()->setValue(-1.5);
    const AppSettings s = *d.app.settings;
    EXPECT_EQ(s.lens.yaw, 4);
    EXPECT_EQ(s.lens.pitch, 0);
    EXPECT_EQ(s.eyeAngles[kRightEye], (EyeAngles{4.0, -1.5, 0.0}));
    EXPECT_EQ(s.eyeAngles[kLeftEye], EyeAngles{});
    dialog->ResetButton()->click();
    EXPECT_EQ(d.app.settings->eyeAngles[kRightEye], EyeAngles{});
    EXPECT_EQ(d.app.settings->lens.yaw, 4);
    EXPECT_NE(d.session->commands.SetStereo(StereoLayout::kSideBySide, StereoLayout::kMono, false, true), "");
}

// Two circles of 420 pixels on black, the right eye's view turned 8 degrees.
std::string TwoEyeClip() {
    const std::string fish = "v360=input=e:output=fisheye:h_fov=180:v_fov=180:w=420:h=420";
    const std::string mask = "color=black:size=420x420:rate=10:duration=1,format=gray,"
                             "geq=lum='if(lte(hypot(X-209.5,Y-209.5),210),255,0)',split[m1][m2];";
    return testing::FfmpegClip(
        "two-eyes.mp4", "-f lavfi -i testsrc2=size=840x420:rate=10:duration=1 -f lavfi -i "
                        "color=black:size=960x540:rate=10:duration=1 -filter_complex \"" + mask +
                            "[0:v]gblur=sigma=2,split[a][b];[a]" + fish + ",format=rgba[l0];[l0][m1]alphamerge[l];[b]" +
                            fish + ":yaw=8,format=rgba[r0];[r0][m2]alphamerge[r];[1:v][l]overlay=30:60[t];"
                            "[t][r]overlay=500:50,format=yuv420p[v]\" -map \"[v]\" -c:v libx264 -preset ultrafast "
                            "-crf 10 -an");
}

// The desktop's output has the frames tessaly-convert writes from the same
// parameter file with `args` (ending in the input), marked side by side.
void ExpectFramesOfTessalyConvert(const fs::path& root, const std::string& desktopOut, const std::string& args) {
    const std::string cliOut = (root / "cli.mp4").string();
    const testing::ShellOutcome cli =
        testing::RunShellCommand(ShellQuote(testing::ConverterCopyIn(root / "cli").string()) + " --params " +
                                 ShellQuote((root / "desktop" / "Tessaly.ini").string()) + " --stills bmp " + args +
                                 " " + ShellQuote(cliOut));
    ASSERT_EQ(cli.status, 0) << cli.output;
    const auto hashes = [](const std::string& movie) {
        return testing::CaptureOutput("ffmpeg -v error -i " + ShellQuote(movie) +
                                      " -map 0:v -f framemd5 - 2>/dev/null | grep -v '^#'");
    };
    EXPECT_FALSE(hashes(desktopOut).empty());
    EXPECT_EQ(hashes(desktopOut), hashes(cliOut));
    EXPECT_NE(testing::CaptureOutput("ffprobe -v error -show_streams " + ShellQuote(desktopOut)).find("side by side"),
              std::string::npos);
    fs::remove_all(root);
}

TEST(StereoDesktop, FindsBothCirclesAndConvertsAsTessalyConvertDoes) {
    const std::string clip = TwoEyeClip();
    const fs::path root = testing::TempFolder("stereo-desktop");
    fs::create_directories(root / "desktop");
    testing::Desktop d((root / "desktop").string(), true);
    d.window->Command(control::kStereoSideBySide);
    ASSERT_TRUE(testing::LoadAndWait(d, clip));
    const std::string desktopOut = (root / "desktop.mp4").string();
    testing::ConvertScript script(d, desktopOut);  // answers every window from here on
    d.window->Command(control::kFindLensCircle);
    ASSERT_TRUE(testing::WaitUntil([&] { return d.session->CurrentEyes().has_value(); }, 120000));
    const JobStereo eyes = *d.session->CurrentEyes();
    const std::array<LensCircle, 2> rims = EyeRims(eyes.settings, d.app.settings->lens);
    const double truth[2][2] = {{239.5, 269.5}, {709.5, 259.5}};
    for (int eye = 0; eye < 2; ++eye) {
        ASSERT_TRUE(eyes.circles[eye].has_value());
        EXPECT_NEAR(eyes.circles[eye]->cx, truth[eye][0], 2.1) << eye;
        EXPECT_NEAR(eyes.circles[eye]->cy, truth[eye][1], 2.1) << eye;
        EXPECT_NEAR(eyes.circles[eye]->r, 210, 2.1) << eye;
        EXPECT_NEAR(rims[eye].cx, truth[eye][0], 3) << eye;  // the rim drawn is the one converted
        EXPECT_NEAR(rims[eye].cy, truth[eye][1], 3) << eye;
    }
    EXPECT_TRUE(testing::WaitUntil([&] { return d.session->CircleLine().find("right eye 7") != std::string::npos; }));

    ASSERT_TRUE(testing::ConvertAndWait(d));
    ExpectFramesOfTessalyConvert(root, desktopOut, "--stereo sbs " + ShellQuote(clip));
    fs::remove_all(root);
}

// "Load stereo pair...": the right movie's offset found from the sound on
// a worker thread and said in the info line, the job carrying the right
// movie, and Convert writing the frames of --stereo pair. The circles lie
// where cuts fitted to each alone would differ by a row.
TEST(StereoDesktop, FindsAPairOfMoviesAndConvertsAsTessalyConvertDoes) {
    const fs::path root = testing::TempFolder("stereo-pair-desktop");
    fs::create_directories(root / "desktop");
    const std::string left = (root / "left.mp4").string(), right = (root / "right.mp4").string();
    ASSERT_EQ(std::system(testing::PairClipsCommand(left, right, "seed=1", "340x640", "10:16").c_str()), 0);
    testing::Desktop d((root / "desktop").string(), true);
    const std::string desktopOut = (root / "desktop.mp4").string();
    testing::ConvertScript script(d, desktopOut);
    ASSERT_TRUE(d.session->LoadStereoPair(left, right));
    ASSERT_TRUE(testing::WaitUntil([&] { return d.session->CurrentEyes().has_value(); }, 120000));
    EXPECT_NE(d.session->CircleLine().find("sound sync: the right movie's frame n + 7 goes"), std::string::npos);
    const MovieJob job = DesktopJob(*d.session, desktopOut);
    EXPECT_EQ(job.stereo.right.path, right);
    EXPECT_EQ(job.stereo.rightOffset, 7);
    ASSERT_TRUE(testing::ConvertAndWait(d));
    ExpectFramesOfTessalyConvert(root, desktopOut, "--stereo pair " + ShellQuote(left) + " " + ShellQuote(right));
}

}  // namespace
}  // namespace tessaly
