// How a tessaly-convert run starts, ends and is classed, as a user meets it:
// closed standard streams, signals before main, outputs placed together or
// not at all, hung extractors, exit statuses, warnings about the parameter
// file, and the level of a one-channel sound (measured by ffmpeg).
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "app/parameter_file.h"
#include "tests/capture_output.h"
#include "tests/cli/converter_copy.h"

namespace {

namespace fs = std::filesystem;
using tessaly::testing::ShellQuote;
using Outcome = tessaly::testing::ShellOutcome;

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// ffmpeg's own measure of a movie's sound: its mean volume in dB ("" when
// it has none), its channels and its sample rate.
struct Sound {
    double meanDb = 0;
    std::string layout;
};
Sound MeasureSound(const std::string& path) {
    const std::string file = ShellQuote("file:" + path);
    Sound s;
    const std::string mean = tessaly::testing::CaptureOutput(
        "ffmpeg -hide_banner -nostats -i " + file + " -vn -af volumedetect -f null - 2>&1 | grep -o 'mean_volume: [-0-9.]*'");
    s.meanDb = mean.size() > 13 ? std::atof(mean.c_str() + 13) : 0;
    s.layout = tessaly::testing::CaptureOutput("ffprobe -v error -select_streams a:0 -show_entries "
                                               "stream=channels,sample_rate -of csv=p=0 " + file + " 2>/dev/null");
    return s;
}

class ConvertRunsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        suiteDir_ = fs::temp_directory_path() / ("tessaly_runs_" + std::to_string(::getpid()));
        fs::remove_all(suiteDir_);
        fs::create_directories(suiteDir_);
        clip_ = (suiteDir_ / "clip.mp4").string();
        std::system((std::string(TESSALY_SOURCE_DIR) + "/tools/make-fisheye-clip " + ShellQuote(clip_) +
                     " --size 160x120 --fps 30 --duration 1 --audio >/dev/null 2>&1").c_str());
    }
    static void TearDownTestSuite() { fs::remove_all(suiteDir_); }

    void SetUp() override {
        ASSERT_TRUE(fs::exists(clip_)) << "the clip maker failed";
        dir_ = suiteDir_ / ::testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::create_directories(dir_ / "temp");
        program_ = tessaly::testing::ConverterCopyIn(dir_);
    }

    std::string Command(const std::string& args) const {
        return ShellQuote(program_.string()) + " --temp " + ShellQuote((dir_ / "temp").string()) + " " + args;
    }
    Outcome Run(const std::string& args, const std::string& prefix = "") const {
        return tessaly::testing::RunShellCommand(prefix + Command(args));
    }
    std::string Out(const std::string& name) const { return (dir_ / name).string(); }

    // An encoder where the program looks first: `wav` for the sound
    // extraction and `encode` for the rest, each the real ffmpeg when empty.
    void FakeEncoder(const std::string& wav, const std::string& encode) const {
        const fs::path plugIn = dir_ / "prog" / "PLUG-IN";
        fs::create_directories(plugIn);
        std::ofstream(plugIn / "ffmpeg_III") << "#!/bin/bash\nfor a in \"$@\"; do out=\"${a#file:}\"; done\n"
                                             << "case \" $* \" in *\" -f wav \"*) "
                                             << (wav.empty() ? "exec ffmpeg \"$@\"" : wav) << " ;; esac\n"
                                             << (encode.empty() ? "exec ffmpeg \"$@\"" : encode) << "\n";
        fs::permissions(plugIn / "ffmpeg_III", fs::perms::owner_all);
    }

    // Hidden files beside the outputs or anything in the temporary folder.
    bool LeftOvers() const {
        for (const auto& entry : fs::directory_iterator(dir_)) {
            if (entry.path().filename().string()[0] == '.') return true;
        }
        return !fs::is_empty(dir_ / "temp");
    }

    static fs::path suiteDir_;
    static std::string clip_;
    fs::path dir_, program_;
};

fs::path ConvertRunsTest::suiteDir_;
std::string ConvertRunsTest::clip_;

// Closed standard streams take no run's pipe for themselves, and a stop
// signal that comes while the libraries start is a stop like any other.
TEST_F(ConvertRunsTest, StartsCleanWithClosedStreamsAndEarlySignals) {
    struct Case {
        const char* name;
        std::string prefix, suffix;
        int status;
    };
    const std::string early = "LD_PRELOAD=" + ShellQuote(TESSALY_EARLY_SIGNAL_LIB) + " ";
    const Case cases[] = {
        {"standard output and error closed", "", " >&- 2>&-", 0},
        {"standard input closed", "", " <&-", 0},
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
        // (A sanitizer's runtime must start before any preloaded library.)
        {"SIGTERM while the libraries start", early, "", 143},
#endif
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(Out("o.mp4"));
        const Outcome o = tessaly::testing::RunShellCommand(
            "(" + c.prefix + Command(ShellQuote(clip_) + " " + ShellQuote(Out("o.mp4"))) + c.suffix + ")");
        EXPECT_EQ(o.status, c.status) << o.output;
        EXPECT_EQ(fs::exists(Out("o.mp4")), c.status == 0) << o.output;
        if (c.status == 143) {
            EXPECT_NE(o.output.find("tessaly-convert: stopped by SIGTERM"), std::string::npos) << o.output;
        }
        EXPECT_FALSE(LeftOvers());
    }
}

// Two outputs of the still path, the first encoded and checked: a stop or a
// failure of the second places neither, and the movie that had the first's
// name keeps its bytes.
TEST_F(ConvertRunsTest, AStoppedOrFailedRunPlacesNoOutput) {
    const std::string marker = Out("second-output");
    struct Case {
        const char* signal;  // null: the second encoding fails
        int status;
        std::string message;
    };
    const Case cases[] = {
        {"TERM", 143, "stopped by SIGTERM"},
        {"INT", 130, "stopped by SIGINT"},
        {"HUP", 129, "stopped by SIGHUP"},
        {nullptr, 1, "cannot write " + Out("o.mp4") + ": not put in place, since " + Out("o.avi") +
                         " could not be written"},
    };
    const std::string mine = "the user's own movie";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.signal == nullptr ? "failure" : c.signal);
        FakeEncoder("", std::string("case \"$out\" in *.avi) touch ") + ShellQuote(marker) + "; " +
                            (c.signal ? "trap '' TERM; while :; do sleep 0.05; done" : "echo broken >&2; exit 1") +
                            ";; esac; exec ffmpeg \"$@\"");
        std::ofstream(Out("o.mp4"), std::ios::binary) << mine;
        fs::remove(marker);
        const std::string run = Command("--stills bmp " + ShellQuote(clip_) + " " + ShellQuote(Out("o.mp4")) + " " +
                                        ShellQuote(Out("o.avi")));
        // A script's background job ignores SIGINT: env gives it back.
        const Outcome o = tessaly::testing::RunShellCommand(
            c.signal == nullptr ? run
                                : "(env --default-signal=INT " + run + " & pid=$!; for i in $(seq 3000); do test -e " +
                                      ShellQuote(marker) + " && break; sleep 0.01; done; kill -" + c.signal +
                                      " $pid; wait $pid)");
        EXPECT_EQ(o.status, c.status) << o.output;
        EXPECT_NE(o.output.find(c.message), std::string::npos) << o.output;
        EXPECT_TRUE(ReadAll(Out("o.mp4")) == mine) << "the old movie was replaced";
        EXPECT_FALSE(fs::exists(Out("o.avi")));
        EXPECT_FALSE(LeftOvers());
    }
}

// The sound extraction is under the stall watch like the encodings: a hung
// extractor is ended and the run fails with that reason, soon.
TEST_F(ConvertRunsTest, AHungSoundExtractionIsEnded) {
    FakeEncoder("echo starting >&2; exec sleep 600", "");
    const Outcome o = Run("--encoder-stall 2 --stills bmp " + ShellQuote(clip_) + " " + ShellQuote(Out("h.mp4")),
                          "timeout -s KILL 60 ");
    EXPECT_EQ(o.status, 1) << o.output;
    EXPECT_NE(o.output.find("the sound could not be extracted (the extractor made no progress for 2 s and was ended)"),
              std::string::npos)
        << o.output;
    EXPECT_FALSE(fs::exists(Out("h.mp4")));
    EXPECT_FALSE(LeftOvers());
}

// A copy of `from` whose first track (the picture's) claims a time scale
// of 0 in its media header.
void ZeroTimeScale(const std::string& from, const std::string& to) {
    std::string bytes = ReadAll(from);
    const size_t at = bytes.find("mdhd");
    ASSERT_NE(at, std::string::npos);
    ASSERT_EQ(bytes[at + 4], 0);  // version 0: two 4-byte times before the scale
    bytes.replace(at + 16, 4, std::string(4, '\0'));
    std::ofstream(to, std::ios::binary) << bytes;
}

// The parameter file's text with the lens tags given new values.
std::string WithLensValues(std::string text, const std::vector<std::pair<std::string, std::string>>& values) {
    for (const auto& [tag, value] : values) {
        const size_t start = text.find("<" + tag + ">") + tag.size() + 2;
        text.replace(start, text.find('<', start) - start, value);
    }
    return text;
}

// A bad option is 2, an unusable movie 3, as --help says; the start cut,
// which the user never chose, is never the one they are told to enlarge.
TEST_F(ConvertRunsTest, CutsAndPicturesGetTheirExitClass) {
    for (const char* size : {"1x1", "300x1"}) {
        ASSERT_EQ(std::system(("ffmpeg -v error -y -f lavfi -i testsrc=size=64x64:rate=25:duration=1 -vf scale=" +
                               std::string(size) + " -c:v ffv1 " + ShellQuote(Out(std::string(size) + ".mkv"))).c_str()),
                  0);
    }
    ZeroTimeScale(clip_, Out("zero.mp4"));
    tessaly::AppSettings inverted;
    inverted.XL1 = inverted.YL1 = 300;
    inverted.XL2 = inverted.YL2 = 10;
    ASSERT_TRUE(tessaly::SaveParameters(inverted, tessaly::ScreenSize{}, Out("inverted.ini")));
    const struct {
        const char* name;
        std::string args;
        int status;
        std::string message;
    } cases[] = {
        {"empty --cut", "--cut 0,0,0,0 " + clip_, 2, "--cut 0,0,0,0 is empty or inverted"},
        {"tiny --cut", "--cut 300,300,301,301 " + clip_, 2,
         "--cut 300,300,301,301 gives a crop of 0 x 0 pixels of the 160x120 picture, and at least 1 x 2 are needed"},
        {"inverted cut in a parameter file", "--params " + Out("inverted.ini") + " " + clip_, 2,
         "the cut 300,300,10,10 of " + Out("inverted.ini") + " is empty or inverted"},
        {"1x1 movie", Out("1x1.mkv"), 3,
         "cannot use " + Out("1x1.mkv") + ": its picture of 1x1 pixels is too small for a panorama"},
        {"300x1 movie", Out("300x1.mkv"), 3,
         "cannot use " + Out("300x1.mkv") + ": its picture of 300x1 pixels is too small for a panorama"},
        {"1x1 movie with a cut", "--cut -8,-8,616,606 " + Out("1x1.mkv"), 3, "cannot use " + Out("1x1.mkv")},
        {"zero time scale", Out("zero.mp4"), 3, "the movie's frame rate"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome o = Run(c.args + " " + ShellQuote(Out("o.mp4")));
        EXPECT_EQ(o.status, c.status) << o.output;
        EXPECT_NE(o.output.find("tessaly-convert: " + c.message), std::string::npos) << o.output;
        EXPECT_EQ(o.output.find("Enlarge"), std::string::npos) << o.output;
        EXPECT_FALSE(fs::exists(Out("o.mp4")));
        EXPECT_FALSE(LeftOvers());
    }
}

// Lens values of the parameter file that cannot be used take their
// defaults, and the user is told so on the terminal and in the shared log.
TEST_F(ConvertRunsTest, DamagedLensTagsAreSaid) {
    const std::string params = Out("lens.ini");
    std::ofstream(params, std::ios::binary)
        << WithLensValues(tessaly::SerializeParameters(tessaly::AppSettings{}, tessaly::ScreenSize{}),
                          {{"LENS", "99"}, {"LENS_FOV", "nan"}, {"YAW", "1e308"}});
    const Outcome o = Run("--params " + ShellQuote(params) + " " + ShellQuote(clip_) + " " + ShellQuote(Out("o.mp4")));
    ASSERT_EQ(o.status, 0) << o.output;
    const std::string log = ReadAll(dir_ / "prog" / "Tessaly_mono.log");
    for (const char* note : {"Parameter file: <LENS> \"99\" cannot be used (no lens model has that number)",
                             "Parameter file: <LENS_FOV> \"nan\" cannot be used (not a number); 180 is used instead",
                             "Parameter file: <YAW> \"1e308\" cannot be used"}) {
        EXPECT_NE(o.output.find(std::string("tessaly-convert: warning: ") + note), std::string::npos) << o.output;
        EXPECT_NE(log.find(note), std::string::npos) << note;
    }
}

// A 48 kHz one-channel sound becomes 44.1 kHz stereo at its own level on
// both channels, streamed, from stills, and joined from parts.
TEST_F(ConvertRunsTest, MonoSoundKeepsItsLevel) {
    const std::string source = Out("mono.mp4");
    ASSERT_EQ(std::system(("ffmpeg -v error -y -f lavfi -i testsrc=size=160x120:rate=25:duration=2 -f lavfi -i "
                           "sine=frequency=440:sample_rate=48000:duration=2 -ac 1 -c:v libx264 -pix_fmt yuv420p "
                           "-c:a aac -shortest " + ShellQuote(source)).c_str()),
              0);
    const Sound original = MeasureSound(source);
    ASSERT_EQ(original.layout, "48000,1\n");
    const std::string cut = "--cut -8,-8,616,606 ";
    const std::string in = ShellQuote(source) + " ";
    ASSERT_EQ(Run(cut + in + ShellQuote(Out("streamed.mp4"))).status, 0);
    ASSERT_EQ(Run(cut + "--stills bmp " + in + ShellQuote(Out("stills.mp4"))).status, 0);
    ASSERT_EQ(Run(cut + "--part 1/2 " + in + ShellQuote(Out("p1.mkv"))).status, 0);
    ASSERT_EQ(Run(cut + "--part 2/2 " + in + ShellQuote(Out("p2.mkv"))).status, 0);
    ASSERT_EQ(Run(cut + "--join " + in + ShellQuote(Out("joined.mp4")) + " " + ShellQuote(Out("p1.mkv")) + " " +
                  ShellQuote(Out("p2.mkv"))).status,
              0);
    for (const char* name : {"streamed.mp4", "stills.mp4", "joined.mp4"}) {
        SCOPED_TRACE(name);
        const Sound s = MeasureSound(Out(name));
        EXPECT_EQ(s.layout, "44100,2\n");
        EXPECT_NEAR(s.meanDb, original.meanDb, 0.5);
    }
}

}  // namespace
