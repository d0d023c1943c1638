// The headless converter as a user runs it: exit status, one-line errors,
// and no temporary files left behind, for good and bad input alike; how a
// run starts and ends (closed standard streams, signals before main, outputs
// placed together or not at all), warnings about the parameter file, and the
// level of a one-channel sound (measured by ffmpeg).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "app/parameter_file.h"
#include "tests/cli/converter_test_support.h"

namespace {

using namespace tessaly::testing;

// ffmpeg's own measure of a movie's sound: its mean volume in dB, its
// channels and its sample rate.
struct Sound {
    double meanDb = 0;
    std::string layout;
};
Sound MeasureSound(const std::string& path) {
    const std::string file = Quote("file:" + path);
    Sound s;
    const std::string mean = CaptureOutput("ffmpeg -hide_banner -nostats -i " + file +
                                           " -vn -af volumedetect -f null - 2>&1 | grep -o 'mean_volume: [-0-9.]*'");
    s.meanDb = mean.size() > 13 ? std::atof(mean.c_str() + 13) : 0;
    s.layout = Capture("ffprobe -v error -select_streams a:0 -show_entries stream=channels,sample_rate -of csv=p=0 " +
                       file);
    return s;
}

// A run that must fail: its arguments, exit status and message.
struct Refusal {
    const char* name;
    std::string args;
    int status;
    std::string message;
    std::string prefix = "";  // before the command: limits, the environment
    std::string temp = "";    // the temporary folder, when not the test's own
};

class ConvertCliTest : public ConverterTest {
protected:
    static void SetUpTestSuite() {
        MakeSuiteFolder("cli");
        clip_ = MakeClip("clip.mp4", "160x120", 30, "1", true);
    }
    static std::string MakeClip(const std::string& name, const std::string& size, int fps,
                                const std::string& seconds, bool audio) {
        const std::string path = (suiteDir_ / name).string();
        MakeFisheyeClip(path, size, fps, seconds, audio);
        return path;
    }
    void SetUp() override {
        ASSERT_TRUE(fs::exists(clip_)) << "the clip maker failed";
        ConverterTest::SetUp();
    }

    // A failed run: not killed, its exit status, its message in one line of
    // its own, no carriage return, no output and nothing left behind.
    void ExpectRefusals(const std::vector<Refusal>& refusals) const {
        for (const Refusal& r : refusals) {
            SCOPED_TRACE(r.name);
            const Outcome o = RunShell(r.prefix + Command(r.args, r.temp));
            EXPECT_FALSE(o.signalled) << o.output;
            EXPECT_EQ(o.status, r.status) << o.output;
            EXPECT_EQ(o.output.rfind("tessaly-convert: ", 0), 0u) << o.output;
            EXPECT_NE(o.output.find(r.message), std::string::npos) << o.output;
            EXPECT_EQ(o.output.find('\r'), std::string::npos) << o.output;
            // The start cut, which the user never chose, is never the one to enlarge.
            EXPECT_EQ(o.output.find("Enlarge"), std::string::npos) << o.output;
            // The usage hint follows a bad option; the line that tells the lens
            // circle (or its absence) may come first.
            if (r.status != 2) {
                std::string error = o.output;
                if (error.rfind("tessaly-convert: lens circle: ", 0) == 0 ||
                    error.rfind("tessaly-convert: no lens circle found: ", 0) == 0 ||
                    error.rfind("tessaly-convert: the lens circle is not looked for", 0) == 0) {
                    error.erase(0, error.find('\n') + 1);
                }
                EXPECT_EQ(error.find('\n'), error.size() - 1) << o.output;
            }
            EXPECT_FALSE(fs::exists(Out("o.mp4")));
            EXPECT_FALSE(fs::exists(Out("o.mpg")));
            EXPECT_TRUE(HiddenFiles().empty());
            EXPECT_FALSE(TemporaryFilesLeft());
        }
    }
    inline static std::string clip_;
};

TEST_F(ConvertCliTest, ConvertsIntoEveryOutputAndLeavesTheSettingsAlone) {
    const std::string params = Out("mine.ini");
    std::ofstream(params) << "<SHARPEN_CH>1</SHARPEN_CH>\r\n";
    Outcome o = Convert("--params " + Quote(params) + " --quality 5 --sharpen 2,1 " + Quote(clip_) +
                        " " + Quote(Out("a.mp4")) + " " + Quote(Out("b.webm")));
    ASSERT_EQ(o.status, 0) << o.output;
    EXPECT_NE(o.output.find("wrote " + Out("a.mp4") + ", " + Out("b.webm")), std::string::npos)
        << o.output;
    EXPECT_GT(fs::file_size(Out("a.mp4")), 0u);
    EXPECT_GT(fs::file_size(Out("b.webm")), 0u);
    EXPECT_FALSE(TemporaryFilesLeft());
    // The headless converter never writes a parameter file, nor a per-run
    // file beside the program.
    EXPECT_FALSE(fs::exists(dir_ / "prog" / "Tessaly.ini"));
    EXPECT_FALSE(fs::exists(dir_ / "prog" / "param_fisheye.bin"));
    EXPECT_EQ(ReadAll(params), "<SHARPEN_CH>1</SHARPEN_CH>\r\n");
    // The run's log joined the shared one, naming the folder it used.
    const std::string log = Log();
    EXPECT_NE(log.find("Temp file:\r\n" + (dir_ / "temp").string() + "/tessaly-convert-"), std::string::npos) << log;
    EXPECT_NE(log.find("EXIT3\r\n"), std::string::npos) << log;
}

// The stills stay in a folder of their own, the WAV goes; the JPEG stills
// decode with a decoder no one here wrote.
TEST_F(ConvertCliTest, KeepStills) {
    Outcome o = Convert("--keep-stills --stills jpg " + Quote(clip_) + " " + Quote(Out("k.avi")));
    ASSERT_EQ(o.status, 0) << o.output;
    std::vector<fs::path> kept;
    for (const auto& e : fs::directory_iterator(dir_ / "temp")) kept.push_back(e.path());
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0].filename().string().rfind("tessaly-stills-", 0), 0u) << kept[0];
    EXPECT_NE(o.output.find("stills kept in " + kept[0].string()), std::string::npos) << o.output;
    EXPECT_FALSE(fs::exists(kept[0] / "temp.wav"));
    Outcome djpeg = RunShell("cd " + Quote(kept[0].string()) + " && ls | grep -cv '^mono[0-9]*.jpg$'; ls mono*.jpg | wc -l && "
                             "for f in mono*.jpg; do djpeg -bmp $f >/dev/null || exit 1; done");
    EXPECT_EQ(djpeg.status, 0) << djpeg.output;
    EXPECT_EQ(djpeg.output.substr(0, 2), "0\n") << djpeg.output;  // nothing but the stills
    EXPECT_GE(std::atoi(djpeg.output.c_str() + 2), 29) << djpeg.output;
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

// Inputs and outputs that cannot be used, bad options and cuts: a bad
// option or output is 2, an unusable movie 3, a temporary folder 1.
TEST_F(ConvertCliTest, UnusableInputsOutputsAndOptionsAreRefused) {
    std::ofstream(Out("junk.mp4")) << "this is not a movie\n";
    const std::string soundOnly = Out("tone.m4a");
    ASSERT_EQ(RunShell("ffmpeg -v error -f lavfi -i sine=duration=1 " + Quote(soundOnly)).status, 0);
    for (const char* size : {"1x1", "300x1"}) {
        ASSERT_EQ(RunShell("ffmpeg -v error -y -f lavfi -i testsrc=size=64x64:rate=25:duration=1 -vf scale=" +
                           std::string(size) + " -c:v ffv1 " + Quote(Out(std::string(size) + ".mkv"))).status,
                  0);
    }
    ZeroTimeScale(clip_, Out("zero.mp4"));
    tessaly::AppSettings inverted;
    inverted.XL1 = inverted.YL1 = 300;
    inverted.XL2 = inverted.YL2 = 10;
    ASSERT_TRUE(tessaly::SaveParameters(inverted, tessaly::ScreenSize{}, Out("inverted.ini")));
    tessaly::AppSettings orthographic;  // a field of view its lens model cannot have, once --fov is given
    orthographic.lens.model = tessaly::LensModel::kOrthographic;
    orthographic.lens.fov = 170;
    ASSERT_TRUE(tessaly::SaveParameters(orthographic, tessaly::ScreenSize{}, Out("ortho.ini")));
    fs::create_directories(Out("folder.mp4"));
    std::ofstream(Out("plainfile")) << "x";
    // One file under two names, found out before any work (every spelling:
    // PendingFileTest.EverySpellingOfOneFileIsFound).
    const std::string mine = "the user's own movie";
    std::ofstream(Out("mine.mp4"), std::ios::binary) << mine;
    fs::create_symlink("mine.mp4", Out("l.webm"));
    fs::create_symlink(clip_, Out("input-link.mp4"));
    const std::string clip = Quote(clip_) + " ", o = " " + Quote(Out("o.mp4"));
    ExpectRefusals({
        {"missing input", Quote(Out("nothing.mp4")) + o, 3, "cannot open " + Out("nothing.mp4") + ": no such file"},
        {"unsupported movie", Quote(Out("junk.mp4")) + o, 3,
         "cannot open " + Out("junk.mp4") + ": not a movie that can be read (Invalid data found when processing input)"},
        {"sound only", Quote(soundOnly) + o, 3, ": no video stream (audio only)"},
        {"input is a folder", Quote(dir_.string()) + o, 3, ": is a directory"},
        {"1x1 movie", Out("1x1.mkv") + o, 3,
         "cannot use " + Out("1x1.mkv") + ": its picture of 1x1 pixels is too small for a panorama"},
        {"300x1 movie", Out("300x1.mkv") + o, 3,
         "cannot use " + Out("300x1.mkv") + ": its picture of 300x1 pixels is too small for a panorama"},
        {"1x1 movie with a cut", "--cut -8,-8,616,606 " + Out("1x1.mkv") + o, 3, "cannot use " + Out("1x1.mkv")},
        {"zero time scale", Out("zero.mp4") + o, 3, "the movie's frame rate"},
        {"bad option", "--quality 30 " + clip + o, 2, "--quality needs a whole number from 0 to 21, got '30'"},
        {"circle no cut can place", "--circle 79.5,59.5,1000000 " + clip + o, 2,
         "tessaly-convert: --circle: no cut places the lens circle"},
        {"circle and cut", "--circle 1,2,3 --cut 1,2,3,4 " + clip + o, 2, "--circle and --cut both set the cut"},
        {"empty --cut", "--cut 0,0,0,0 " + clip + o, 2, "--cut 0,0,0,0 is empty or inverted"},
        {"tiny --cut", "--cut 300,300,301,301 " + clip + o, 2,
         "--cut 300,300,301,301 gives a crop of 0 x 0 pixels of the 160x120 picture, and at least 1 x 2 are needed"},
        {"inverted cut in a parameter file", "--params " + Out("inverted.ini") + " " + clip + o, 2,
         "the cut 300,300,10,10 of " + Out("inverted.ini") + " is empty or inverted"},
        {"lens of the file beside an option", "--params " + Out("ortho.ini") + " --fov 200 " + clip + o, 2,
         "the lens cannot be used: an orthographic lens sees at most 180 degrees (not 200)"},
        {"no output", clip, 2, "no output movie given"},
        {"unknown container", clip + Quote(Out("o.mkv")), 2, "unsupported extension '.mkv'"},
        {"trailing blank", clip + Quote(Out("o.mp4 ")), 2, "unsupported extension '.mp4 '"},
        {"missing output folder", clip + Quote(Out("none/o.mp4")), 2, "no folder"},
        {"output is a folder", clip + Quote(Out("folder.mp4")), 2,
         "cannot write " + Out("folder.mp4") + ": is a directory"},
        {"output name too long", clip + Quote(Out(std::string(300, 'n') + ".mp4")), 2, ": file name too long"},
        {"output is the input", clip + Quote(suiteDir_.string() + "/./clip.mp4"), 2, "is the input movie"},
        {"link to the input", clip + Quote(Out("input-link.mp4")), 2, "is the input movie"},
        {"symbolic link", clip + Quote(Out("mine.mp4")) + " " + Quote(Out("l.webm")), 2,
         "the outputs " + Out("mine.mp4") + " and " + Out("l.webm") + " are the same file"},
        {"temporary folder under a file", clip + o, 1,
         "cannot use the temporary folder " + Out("plainfile") + "/t: not a folder", "", Out("plainfile") + "/t"},
    });
    EXPECT_EQ(ReadAll(Out("mine.mp4")), mine);
}

// Frame rates no encoder takes and files that cannot grow: refused, streaming or not.
TEST_F(ConvertCliTest, RatesAndSizesBeyondTheEncodersAreRefused) {
    // A movie of one frame every 250 seconds: "-r 00.00" for the encoder.
    const std::string slow = Out("slow.mkv");
    ASSERT_EQ(RunShell("ffmpeg -v error -f lavfi -i testsrc=size=160x120:rate=1/250 -frames:v 2 " + Quote(slow)).status,
              0);
    // A y4m header claiming five million frames a second: more than a
    // still conversion's encoder limit can bound.
    const std::string fast5m = Out("fast.y4m");
    ASSERT_EQ(RunShell("ffmpeg -v error -f lavfi -i testsrc=size=160x120:rate=25 -frames:v 5 -pix_fmt yuv420p " +
                       Quote(fast5m)).status,
              0);
    std::string bytes = ReadAll(fast5m);
    bytes.replace(bytes.find("F25:1"), 5, "F5000000:1");
    std::ofstream(fast5m, std::ios::binary | std::ios::trunc) << bytes;
    // A movie whose header claims a million seconds: its stills cannot fit.
    const std::string huge = Out("huge.mkv");
    fs::copy_file(MakeClip("huge.mkv", "160x120", 30, "1", false), huge);
    bytes = ReadAll(huge);
    const size_t at = bytes.find("\x44\x89\x88");  // Segment Duration, an 8-byte float (ms)
    ASSERT_NE(at, std::string::npos);
    const double ms = 1e9;
    uint64_t bits;
    std::memcpy(&bits, &ms, 8);
    for (int i = 0; i < 8; ++i) bytes[at + 3 + i] = static_cast<char>(bits >> (56 - 8 * i));
    std::ofstream(huge, std::ios::binary) << bytes;
    const std::string fast = Quote(MakeClip("fast.mp4", "160x120", 120, "0.25", false)) + " ";
    const std::string o = " " + Quote(Out("o.mp4"));
    ExpectRefusals({
        {"frame rate", Quote(slow) + o, 3, "the movie's frame rate (0.004 fps) cannot be encoded"},
        {"frame rate beyond stills", "--stills bmp " + Quote(fast5m) + o, 3,
         "the movie's frame rate (5000000 fps) is above the 1000000 fps stills can be encoded at; streaming "
         "(tessaly-convert without --stills) converts it"},
        // Refused before any frame is converted, streaming or not.
        {"frame rate beyond MPEG-2", fast + Quote(Out("o.mpg")) + o, 2,
         "cannot write " + Out("o.mpg") + ": MPEG-2 video takes at most 60 frames per second, the movie "
         "has 120.00 fps (another container, such as .mp4, keeps every frame)"},
        {"frame rate beyond MPEG-2, stills", "--stills jpg " + fast + Quote(Out("o.mpeg")), 2,
         "cannot write " + Out("o.mpeg") + ": MPEG-2 video takes at most 60 frames per second"},
        {"stills cannot fit", "--stills bmp " + Quote(huge) + o, 1, "not enough free space in the temporary folder"},
        // Files may not grow beyond 20 KB (`ulimit -f`, whose SIGXFSZ would
        // kill a program that does not ignore it): the first still cannot be
        // written. With several writer threads the message still names the
        // first still.
        {"file size limit", "--stills bmp " + Quote(clip_) + o, 1, "/mono000000.bmp: file too large", "ulimit -f 20; "},
        // The encoder meets the limit (and exits 0 after its failed trailer).
        {"file size limit, streaming", Quote(clip_) + o, 1,
         "cannot write " + Out("o.mp4") + ": file too large (" + Out("o.mp4") + ")", "ulimit -f 20; "},
    });
}

// Encoders and extractors that fail in every way a user met: never success,
// never a broken movie left (a movie that had the output's name keeps its
// bytes), the reason in words (a full disk or a size
// limit, a lack of memory, an encoder that gives none).
TEST_F(ConvertCliTest, BrokenEncodersAreFailures) {
    struct Case {
        const char* name;
        std::string wav, encode;
        std::string message;
        std::string mode = "--keep-stills";  // the still path; "" streams
        std::string output = "o.mp4";
        std::string input = clip_;
    };
    // An MPEG-2 movie of a 15 fps source runs at 30 fps; cut short, it is
    // still found out.
    const std::string slow = MakeClip("broken15.mp4", "160x120", 15, "1", true);
    const std::string cutMpeg = "ffmpeg \"$@\" || exit; ffmpeg -v error -y -i \"file:$out\" -t 0.5 -c copy -f vob "
                                "\"$out.tmp\"; mv \"$out.tmp\" \"$out\"";
    const Case cases[] = {
        {"mpg cut short", "", cutMpeg, "of video, 1.000 s were converted", "--stills bmp", "o.mpg", slow},
        {"streaming: mpg cut short", "", cutMpeg, "of video, 1.000 s were converted", "", "o.mpg", slow},
        {"streaming: killed mid-stream", "", "head -c 300000 >/dev/null; kill -9 $$",
         "the encoder was killed by signal 9 (Killed)", ""},
        {"streaming: exits 0 with garbage", "", "head -c 5000 /dev/urandom > \"$out\"; cat >/dev/null; exit 0",
         // Random bytes are now and then taken for some format: either way the movie is refused.
         "the encoded movie is not right: ", ""},
        {"streaming: stops reading and fails", "", "head -c 100000 >/dev/null; echo 'gave up' >&2; exit 1",
         "the encoder failed (exit status 1): gave up", ""},
        {"exits 0 with garbage", "", "head -c 5000 /dev/urandom > \"$out\"; exit 0",
         "the encoded movie is not right: "},
        {"cut short", "", "ffmpeg \"$@\" || exit; ffmpeg -v error -y -i \"file:$out\" -t 0.5 -c copy \"$out.mp4\"; mv \"$out.mp4\" \"$out\"",
         "of video, 1.000 s were converted"},
        {"killed", "", "kill -9 $$", "the encoder was killed by signal 9 (Killed)"},
        {"fails", "", "echo 'simulated encoder breakdown' >&2; exit 1",
         "the encoder failed (exit status 1): simulated encoder breakdown"},
        {"extractor killed", "kill -9 $$", "", "the sound could not be extracted (the extractor was killed by signal 9)"},
        {"extractor writes no samples", "ffmpeg -v error -y -f lavfi -i anullsrc -t 0 -f wav \"$out\"; exit 0", "",
         "the sound could not be extracted (the extracted sound holds no samples)"},
        // The sound extraction is under the stall watch like the encodings.
        {"extractor hangs", "echo starting >&2; exec sleep 600", "",
         "the sound could not be extracted (the extractor made no progress for 2 s and was ended)",
         "--encoder-stall 2 --stills bmp"},
    };
    // Failures on the output's side name their cause, in both modes.
    const std::string noSpace =
        "ffmpeg \"$@\" 2>/dev/null || exit; echo '[mp4 @ 0x5] av_interleaved_write_frame(): No space left on device' >&2; "
        "for i in 1 2 3 4 5 6; do echo 'frame=   30 fps=0.0 q=-1.0 Lsize=       0kB' >&2; done; "
        "head -c 2000 \"$out\" > \"$out.cut\"; mv \"$out.cut\" \"$out\"; exit 0";
    const std::string noMemory =
        "cat >/dev/null; echo 'x264 [error]: malloc of size 3569077 failed' >&2; "
        "echo 'Error initializing output stream 0:0 -- Error while opening encoder for output stream #0:0' >&2; "
        "echo 'Conversion failed!' >&2; exit 1";
    std::vector<Case> all(std::begin(cases), std::end(cases));
    for (const char* mode : {"--stills bmp", ""}) {
        all.push_back({"full disk, encoder exits 0", "", noSpace, "no space left on device (" + Out("o.mp4") + ")", mode});
        // A real write failure: a file-size limit the encoder runs under.
        all.push_back({"size limit", "", "trap '' XFSZ; ulimit -f 8; exec ffmpeg \"$@\"",
                       "file too large (" + Out("o.mp4") + ")", mode});
        all.push_back({"no memory", "", noMemory,
                       "the encoder ran out of memory (x264 [error]: malloc of size 3569077 failed)", mode});
        all.push_back({"no reason", "", "cat >/dev/null; echo 'Conversion failed!' >&2; exit 1",
                       "Conversion failed! (the encoder gave no reason)", mode});
    }
    const std::string mine = "the user's own movie, not to be lost";
    for (const Case& c : all) {
        SCOPED_TRACE(c.name + (" " + c.mode));
        FakeEncoder(c.wav, c.encode);
        // A movie that already has the output's name keeps its bytes.
        std::ofstream(Out(c.output), std::ios::binary) << mine;
        // --keep-stills keeps the stills of a good run only; a hang the
        // program misses ends at the timeout and fails.
        Outcome o = Convert(c.mode + " " + Quote(c.input) + " " + Quote(Out(c.output)), "timeout -s KILL 120 ");
        EXPECT_FALSE(o.signalled) << o.output;
        EXPECT_EQ(o.status, 1) << o.output;
        EXPECT_NE(o.output.find(c.message), std::string::npos) << o.output;
        EXPECT_EQ(o.output.find("wrote"), std::string::npos) << o.output;
        EXPECT_TRUE(c.message.find("not right") != std::string::npos ||
                    o.output.find("cannot be read back") == std::string::npos) << o.output;
        EXPECT_EQ(ReadAll(Out(c.output)), mine);
        EXPECT_TRUE(HiddenFiles().empty());
        EXPECT_FALSE(TemporaryFilesLeft());
        fs::remove(Out(c.output));
    }
}

// SIGINT, SIGTERM and SIGHUP in the frame phase, during the sound extraction
// and during an encoding that ignores SIGTERM: the run ends soon with
// 128 + the signal, nothing of it is left, and a movie that had the
// output's name keeps its bytes.
TEST_F(ConvertCliTest, SignalsInEveryPhaseLeaveNothingBehind) {
    const std::string longer = MakeClip("longer.mp4", "640x480", 30, "4", true);
    const std::string marker = Out("phase-reached");
    struct Phase {
        const char* name;
        std::string mode, wav, encode;
    };
    const std::string hung = HungEncoder(marker, true);
    const Phase phases[] = {
        {"frames", "--stills bmp", "", ""},
        {"sound", "--stills bmp", "touch " + Quote(marker) + "; exec sleep 30", ""},
        {"encoding", "--stills jpg", "", hung},
        // Streaming: an encoder that takes frames, and one that hangs
        // without reading them (the frames wait on its full pipe).
        {"streaming", "", "", "touch " + Quote(marker) + "; exec ffmpeg \"$@\""},
        {"streaming into a hung encoder", "", "", hung},
    };
    const std::string mine = "the user's own movie";
    for (const Phase& phase : phases) {
        FakeEncoder(phase.wav, phase.encode);
        // The frame phase is reached when the first still is there.
        const std::string ready = phase.wav.empty() && phase.encode.empty() ? StillsWritten()
                                                                            : "test -e " + Quote(marker) + " && sleep 0.2";
        for (const auto& [signal, code] : std::map<std::string, int>{{"INT", 130}, {"TERM", 143}, {"HUP", 129}}) {
            SCOPED_TRACE(std::string(phase.name) + " SIG" + signal);
            fs::remove(marker);
            std::ofstream(Out("s.mp4"), std::ios::binary) << mine;
            // A script's background job ignores SIGINT, and the program
            // leaves an ignored signal ignored: env gives it back its default.
            const Outcome o = WhileRunning(
                "env --default-signal=INT " + Command(phase.mode + " " + Quote(longer) + " " + Quote(Out("s.mp4"))),
                ready, "kill -" + signal + " $pid; t0=$(date +%s%N)", "echo \"ms=$(( ($(date +%s%N) - t0) / 1000000 ))\"");
            EXPECT_EQ(o.status, code) << o.output;
            EXPECT_NE(o.output.find("tessaly-convert: stopped by SIG" + signal +
                                    "; the partial output and the temporary files were removed\n"),
                      std::string::npos)
                << o.output;
            // Well within the 2 s asked for, even on a busy machine; the
            // hung encoder alone would take 30 s.
            const size_t ms = o.output.find("ms=");
            ASSERT_NE(ms, std::string::npos) << o.output;
            EXPECT_LT(std::atoi(o.output.c_str() + ms + 3), 5000) << o.output;
            EXPECT_EQ(ReadAll(Out("s.mp4")), mine);
            EXPECT_TRUE(HiddenFiles().empty());
            EXPECT_FALSE(TemporaryFilesLeft());
        }
    }
}

// A second SIGTERM ends a run that a hung encoder holds (it ignores the
// first) at once, with the same clean-up; a hang is killed after 20 s and
// fails. (Stops early in a run, while the movie opens: ConvertCli.StopSoak.)
TEST_F(ConvertCliTest, ASecondSignalEndsARunAHungEncoderHolds) {
    const std::string longer = MakeClip("opening.mp4", "640x480", 30, "4", true);
    // Kills a run that has not ended 20 s after the stop.
    const std::string watchdog =
        "(for i in $(seq 200); do sleep 0.1; kill -0 $pid || exit; done; kill -KILL $pid) >/dev/null 2>&1 & g=$!";
    // An encoder that ignores SIGTERM and hangs; the second SIGTERM comes
    // before the first one's grace is over.
    const std::string marker = Out("encoding");
    FakeEncoder("", HungEncoder(marker, true));
    for (const std::string mode : {"--stills jpg", ""}) {
        SCOPED_TRACE("two signals, mode '" + mode + "'");
        fs::remove(marker);
        const Outcome o = WhileRunning(Command(mode + " " + Quote(longer) + " " + Quote(Out("e.mp4"))),
                                       "test -e " + Quote(marker),
                                       "kill -TERM $pid; sleep 0.05; kill -TERM $pid; " + watchdog, "kill $g 2>/dev/null");
        EXPECT_EQ(o.status, 143) << o.output;
        EXPECT_NE(o.output.find("tessaly-convert: stopped by SIGTERM"), std::string::npos) << o.output;
        EXPECT_FALSE(fs::exists(Out("e.mp4")));
        EXPECT_FALSE(TemporaryFilesLeft())
            << o.output << tessaly::testing::CaptureOutput("find " + Quote((dir_ / "temp").string()));
    }
}

// A signal ignored when the run starts stays ignored: SIGHUP under nohup
// (here `trap '' HUP`), SIGINT for a background job of a script. The run
// goes on and writes its movie.
TEST_F(ConvertCliTest, IgnoredSignalsStayIgnored) {
    struct Case {
        const char* name;
        std::string start, signal;
    };
    const Case cases[] = {
        {"nohup, SIGHUP", "(trap '' HUP; exec " + Command("--stills bmp " + Quote(clip_) + " " + Quote(Out("n.mp4"))) + ")",
         "HUP"},
        {"background job, SIGINT", Command("--stills bmp " + Quote(clip_) + " " + Quote(Out("n.mp4"))), "INT"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(Out("n.mp4"));
        // Sent once the frames are being written.
        const Outcome o = WhileRunning(c.start, StillsWritten(), "kill -" + c.signal + " $pid");
        EXPECT_EQ(o.status, 0) << o.output;
        EXPECT_NE(o.output.find("; wrote " + Out("n.mp4")), std::string::npos) << o.output;
        EXPECT_EQ(ProbeMovie(Out("n.mp4")).frames, 30);
        EXPECT_FALSE(TemporaryFilesLeft());
    }
}

// Under a memory limit (`ulimit -v`) threads and buffers may be refused
// anywhere: no run may abort with an exception (exit 134, "terminate
// called"); a failed one says why in one line and leaves nothing.
TEST_F(ConvertCliTest, MemoryLimitsFailInOneLineAndCleanUp) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a sanitizer reserves more address space than any limit leaves";
#else
    int failed = 0;
    for (int megabytes = 200; megabytes <= 440; megabytes += 20) {
        for (const std::string mode : {"", "--stills jpg"}) {
            SCOPED_TRACE(std::to_string(megabytes) + " MB, mode '" + mode + "'");
            fs::remove(Out("v.mp4"));
            // The start cut: no circle is looked for, so the one line is the run's.
            Outcome o = Convert(mode + " --cut -8,-8,616,606 " + Quote(clip_) + " " + Quote(Out("v.mp4")),
                                "ulimit -v " + std::to_string(megabytes * 1024) + "; ");
            // The system's loader may not even map the libraries.
            if (o.output.find("error while loading shared libraries") != std::string::npos) continue;
            EXPECT_FALSE(o.signalled) << o.output;
            EXPECT_EQ(o.output.find("terminate called"), std::string::npos) << o.output;
            EXPECT_FALSE(TemporaryFilesLeft()) << o.output << tessaly::testing::CaptureOutput("find " + Quote((dir_ / "temp").string()));
            if (o.status == 0) continue;
            ++failed;
            EXPECT_TRUE(o.status == 1 || o.status == 3) << o.output;
            // The failure in one line of its own (a warning about frames lost
            // to the same lack of memory may come before it), nothing else.
            EXPECT_EQ(o.output.rfind("tessaly-convert: ", 0), 0u) << o.output;
            EXPECT_LE(std::count(o.output.begin(), o.output.end(), '\n'), 2) << o.output;
            for (size_t at = 0; at < o.output.size(); at = o.output.find('\n', at) + 1) {
                EXPECT_EQ(o.output.compare(at, 17, "tessaly-convert: "), 0) << o.output;
            }
            EXPECT_FALSE(fs::exists(Out("v.mp4")));
        }
    }
    // The lowest limits leave too little for any run.
    EXPECT_GT(failed, 0);
#endif
}

// An encoder is waited for while it shows progress (progress lines, a
// growing output, frames taken from its pipe), however slow; one without
// any for the stall limit is ended and its run fails with that reason.
TEST_F(ConvertCliTest, HungEncodersEndSlowOnesAreWaitedFor) {
    struct Case {
        const char* name;
        std::string mode, encode;
        int stallSeconds, status;
        std::string message;
    };
    // Signs of life every tenth of a second for 6 s, or 10 s (longer than
    // any wait for a frame) before it reads its pipe, then the real encoder.
    // The slow ones get a 5 s limit: fifty times their beat, and far more than
    // a loaded machine takes to start ffmpeg after the last one.
    const std::string slow = "for i in $(seq 60); do echo \"working $i\" >&2; sleep 0.1; done; exec ffmpeg \"$@\"";
    const std::string slower = "for i in $(seq 100); do echo \"working $i\" >&2; sleep 0.1; done; exec ffmpeg \"$@\"";
    const std::string hung = "echo starting >&2; exec sleep 600";
    const std::string deaf = "trap '' TERM; head -c 100000 >/dev/null; while :; do sleep 0.05; done";
    const std::string stall = "the encoder made no progress for 2 s (no output, no progress line) and was ended";
    const Case cases[] = {
        {"slow, stills", "--stills jpg", slow, 5, 0, "wrote"},
        {"slow, streaming", "", slower, 5, 0, "wrote"},
        {"hung, stills", "--stills jpg", hung, 2, 1, "cannot write " + Out("h.mp4") + ": " + stall},
        {"hung, streaming", "", hung, 2, 1, "cannot write " + Out("h.mp4") + ": " + stall},
        {"stops reading and ignores SIGTERM, streaming", "", deaf, 2, 1, "cannot write " + Out("h.mp4") + ": " + stall},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeEncoder("", c.encode);
        fs::remove(Out("h.mp4"));
        // The limits are short for the test; a hang the program misses ends
        // at the timeout and fails.
        Outcome o = Convert("--encoder-stall " + std::to_string(c.stallSeconds) + " " + c.mode + " " + Quote(clip_) +
                                " " + Quote(Out("h.mp4")),
                            "timeout -s KILL 120 ");
        EXPECT_EQ(o.status, c.status) << o.output;
        EXPECT_NE(o.output.find(c.message), std::string::npos) << o.output;
        EXPECT_EQ(fs::exists(Out("h.mp4")), c.status == 0);
        if (c.status == 0) {
            EXPECT_EQ(ProbeMovie(Out("h.mp4")).frames, 30);
        }
        EXPECT_FALSE(TemporaryFilesLeft());
    }
}

// Batch use: runs at once in one temporary folder and in another, and one
// refused beside them: every movie complete, no run touched another.
TEST_F(ConvertCliTest, ParallelRunsNeverTouchEachOther) {
    const std::string longer = MakeClip("parallel.mp4", "320x240", 30, "3", true);
    const std::string other = Out("other-temp");
    const std::string shared = (dir_ / "temp").string();
    const std::string first = Command("--stills bmp " + Quote(longer) + " " + Quote(Out("first.mov")), shared);
    const std::string second = Command("--stills jpg " + Quote(longer) + " " + Quote(Out("second.avi")), shared);
    const std::string third = Command(Quote(longer) + " " + Quote(Out("third.mp4")), other);
    const std::string refused = Command(Quote(longer) + " " + Quote(Out("refused.mkv")), shared);
    // The others start once the first has stills on disk.
    Outcome o = RunShell("(" + first + " > " + Quote(Out("first.txt")) + " 2>&1 & a=$!; for i in $(seq 1000); do ls " +
                         Quote(shared) + "/*/ 2>/dev/null | grep -q mono && break; sleep 0.01; done; " +
                         second + " > " + Quote(Out("second.txt")) + " 2>&1 & b=$!; " + third + " > " +
                         Quote(Out("third.txt")) + " 2>&1 & c=$!; " + refused + "; r=$?; wait $a; ra=$?; wait $b; rb=$?; wait $c; "
                         "rc=$?; echo \"codes $ra $rb $rc $r\")");
    EXPECT_NE(o.output.find("codes 0 0 0 2"), std::string::npos)
        << o.output << ReadAll(Out("first.txt")) << ReadAll(Out("second.txt")) << ReadAll(Out("third.txt"));
    const Probe source = ProbeMovie(longer);
    ASSERT_EQ(source.frames, 90);
    for (const char* name : {"first.mov", "second.avi", "third.mp4"}) {
        SCOPED_TRACE(name);
        const Probe out = ProbeMovie(Out(name));
        EXPECT_EQ(out.frames, source.frames);
        EXPECT_TRUE(out.audio);
    }
    EXPECT_FALSE(TemporaryFilesLeft(shared));
    EXPECT_FALSE(TemporaryFilesLeft(other));
    // Every run's lines arrived in the shared log, one block each.
    const std::string log = Log();
    size_t blocks = 0;
    for (size_t at = 0; (at = log.find("Generated by Tessaly", at)) != std::string::npos; ++at) ++blocks;
    EXPECT_EQ(blocks, 3u) << log;
}

// The user's own files in the temporary folder, named like the system's:
// untouched, and nothing else left there.
TEST_F(ConvertCliTest, UserFilesInTheTemporaryFolderStay) {
    const fs::path temp = dir_ / "temp";
    const std::vector<std::string> names = {"mono000000.bmp", "mono000001.jpg", "temp.wav",
                                            "encoder_report.txt", ".tessaly-convert.lock", "run.log"};
    for (const std::string& name : names) std::ofstream(temp / name) << "mine: " << name;
    fs::create_directories(temp / "tessaly-convert-mine");  // not a run's: no run lock ever held it
    std::ofstream(temp / "tessaly-convert-mine" / "notes.txt") << "mine";
    std::ofstream(temp / "tessaly-convert-mine" / "mono000000.jpg") << "mine too";
    for (const char* stills : {"bmp", "jpg"}) {
        Outcome o = Convert(std::string("--stills ") + stills + " " + Quote(clip_) + " " + Quote(Out("u.mp4")));
        ASSERT_EQ(o.status, 0) << o.output;
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(temp), fs::directory_iterator()), std::ssize(names) + 1);
    for (const std::string& name : names) EXPECT_EQ(ReadAll(temp / name), "mine: " + name);
    EXPECT_EQ(ReadAll(temp / "tessaly-convert-mine" / "notes.txt"), "mine");
}

// Names that look like blanks, options, protocols or patterns are files,
// used exactly as given for the frames, the sound and the output.
TEST_F(ConvertCliTest, OddNamesAreUsedExactly) {
    for (const char* name : {" lead.mp4", "-", "pipe:clip.mp4", "udp:clip.mp4"}) fs::copy_file(clip_, dir_ / name);
    struct Case {
        std::string input, output, temp;
    };
    const Case cases[] = {
        {" lead.mp4", " out.mp4", "tb "},
        {"-", "-out.mp4", "50%d %s"},
        {"pipe:clip.mp4", "udp:out.mov", "t"},
        {"udp:clip.mp4", "pipe:out.avi", "t"},
    };
    const std::string before = ReadAll(clip_);
    for (const Case& c : cases)
    for (const char* mode : {"--stills bmp", ""}) {
        SCOPED_TRACE(c.input + " -> " + c.output + " " + mode);
        Outcome o = RunShell("cd " + Quote(dir_.string()) + " && " + Quote(program_.string()) + " " + mode +
                             " --temp " + Quote(c.temp) + " -- " + Quote(c.input) + " " + Quote(c.output));
        ASSERT_EQ(o.status, 0) << o.output;
        EXPECT_NE(o.output.find("with sound"), std::string::npos) << o.output;
        const Probe out = ProbeMovie(Out(c.output));
        EXPECT_EQ(out.frames, 30);
        EXPECT_TRUE(out.audio);
        EXPECT_EQ(ReadAll(dir_ / c.input), before);
        EXPECT_FALSE(TemporaryFilesLeft(Out(c.temp)));
    }
}

// The last fraction of a second is kept: video and sound of 2.9 s and 9.5 s
// sources last as long as the source, within one frame.
TEST_F(ConvertCliTest, FractionalDurationsKeepTheirLastSecond) {
    for (const auto& [seconds, fps] : std::vector<std::pair<std::string, int>>{{"2.9", 30}, {"9.5", 10}}) {
        const std::string source = MakeClip("d" + seconds + ".mp4", "160x120", fps, seconds, true);
        // (MPEG program streams' lengths: MpegProgramStreamsAtStandardAndOtherRates.)
        for (const auto& [ext, mode] : std::vector<std::pair<std::string, std::string>>{
                 {".mp4", "--stills bmp"}, {".avi", "--stills jpg"}, {".mov", ""}}) {
            SCOPED_TRACE(seconds + " s " + ext + " " + mode);
            const std::string out = Out("d" + seconds + ext);
            Outcome o = Convert(mode + " " + Quote(source) + " " + Quote(out));
            ASSERT_EQ(o.status, 0) << o.output;
            const Probe probe = ProbeMovie(out);
            EXPECT_NEAR(probe.seconds, std::atof(seconds.c_str()), 1.0 / fps + 0.001);
            ASSERT_TRUE(probe.audio);
            const double audioEnd = StreamSeconds(out, "a:0");
            EXPECT_NEAR(audioEnd, std::atof(seconds.c_str()), 1.0 / fps + 0.05);
        }
    }
}

// Levels 1, 11 and 21 give strictly smaller files on every container row.
TEST_F(ConvertCliTest, CompressionLevelsShrinkEveryContainer) {
    const std::vector<std::string> exts = {".flv", ".mov", ".avi", ".mp4", ".m4v", ".ogg", ".ogv", ".webm", ".mpg"};
    std::map<std::string, std::vector<uintmax_t>> sizes;
    for (int level : {1, 11, 21}) {
        std::string outputs;
        for (const std::string& ext : exts) outputs += " " + Quote(Out("q" + std::to_string(level) + ext));
        Outcome o = Convert("--stills bmp --quality " + std::to_string(level) + " " + Quote(clip_) + outputs);
        ASSERT_EQ(o.status, 0) << o.output;
        for (const std::string& ext : exts) sizes[ext].push_back(fs::file_size(Out("q" + std::to_string(level) + ext)));
    }
    for (const std::string& ext : exts) {
        EXPECT_GT(sizes[ext][0], sizes[ext][1]) << ext;
        EXPECT_GT(sizes[ext][1], sizes[ext][2]) << ext;
    }
}

// Streaming into every container at once, with and without sound: every
// frame once at the source's rate, the source's duration, sound iff the
// source has some, and never a still or a WAV in the temporary folder.
TEST_F(ConvertCliTest, StreamingToEveryContainer) {
    const std::vector<std::string> exts = {".flv", ".mov", ".avi", ".mp4", ".m4v", ".ogg", ".ogv", ".webm", ".mpg"};
    const std::string silent = MakeClip("silent.mp4", "160x120", 25, "1.2", false);
    const std::string temp = (dir_ / "temp").string();
    for (const std::string& source : {clip_, silent}) {
        SCOPED_TRACE(source);
        const Probe in = ProbeMovie(source);
        std::string outputs;
        for (const std::string& ext : exts) outputs += " " + Quote(Out("stream" + ext));
        // A watcher notes any still or WAV that appears while the run goes on.
        Outcome o = RunShell("(" + Command(Quote(source) + outputs) + " & pid=$!; while kill -0 $pid 2>/dev/null; do "
                             "find " + Quote(temp) + " -name 'mono*' -o -name '*.wav' | grep -q . && echo SEEN; "
                             "sleep 0.005; done; wait $pid)");
        ASSERT_EQ(o.status, 0) << o.output;
        EXPECT_EQ(o.output.find("SEEN"), std::string::npos) << o.output;
        EXPECT_NE(o.output.find(in.audio ? "with sound" : "no sound"), std::string::npos) << o.output;
        for (const std::string& ext : exts) {
            SCOPED_TRACE(ext);
            const Probe out = ProbeMovie(Out("stream" + ext));
            // The clip's lens circle (radius 60) found: a 132 x 132 output.
            EXPECT_EQ(out.width, 132);
            EXPECT_EQ(out.height, 132);
            EXPECT_EQ(out.frames, in.frames);
            EXPECT_NEAR(out.seconds, in.seconds, in.seconds / in.frames + 0.001);
            EXPECT_EQ(out.audio, in.audio);
        }
        EXPECT_FALSE(TemporaryFilesLeft());
    }
}

// MPEG-2 program streams, streamed and from stills, as ffprobe reads them: a
// 25 fps movie keeps its rate and its frames; a 15 fps one goes to 30 fps
// with every frame twice. The sound (MPEG audio layer II) is there exactly
// when the source has some, and starts with the picture.
TEST_F(ConvertCliTest, MpegProgramStreamsAtStandardAndOtherRates) {
    struct Source {
        std::string path;
        const char* rate;  // what the output must declare
        int repeats;       // output frames per source frame
    };
    const Source sources[] = {{MakeClip("m25.mp4", "160x120", 25, "1.2", true), "25/1", 1},
                              {MakeClip("m15.mov", "160x120", 15, "1.4", false), "30/1", 2}};
    for (const Source& source : sources)
    for (const char* mode : {"", "--stills bmp"}) {
        SCOPED_TRACE(source.path + " " + mode);
        const Probe in = ProbeMovie(source.path);
        ASSERT_GT(in.frames, 0);
        const std::string out = Out("m.mpg");
        Outcome o = Convert(std::string(mode) + " " + Quote(source.path) + " " + Quote(out));
        ASSERT_EQ(o.status, 0) << o.output;
        const std::string file = Quote("file:" + out);
        EXPECT_EQ(Capture("ffprobe -v error -show_entries format=format_name -of csv=p=0 " + file), "mpeg\n");
        // The first line of a stream's entries (side data follows it).
        auto fields = [&file](const char* stream, const char* entries) {
            std::string text = Capture(std::string("ffprobe -v error -select_streams ") + stream +
                                       " -show_entries stream=" + entries + " -of csv=p=0 " + file);
            text = text.substr(0, text.find('\n'));
            while (!text.empty() && text.back() == ',') text.pop_back();
            return text;
        };
        EXPECT_EQ(fields("v:0", "codec_name,r_frame_rate"), std::string("mpeg2video,") + source.rate);
        EXPECT_EQ(fields("a", "codec_name,sample_rate,channels"), in.audio ? "mp2,44100,2" : "");
        const Probe probe = ProbeMovie(out);
        EXPECT_EQ(probe.width, 132);  // the clip's lens circle, found
        EXPECT_EQ(probe.height, 132);
        // The duration limit may end the last frame's repeats early.
        EXPECT_NEAR(probe.frames, source.repeats * in.frames, source.repeats - 1);
        EXPECT_NEAR(probe.seconds, in.seconds, in.seconds / in.frames + 0.001);
        if (in.audio) {
            EXPECT_NEAR(StreamSeconds(out, "a:0"), in.seconds, in.seconds / in.frames + 0.05);
            // Sound packets start earlier by the layer II coder's delay of
            // 481 samples, which its decoders take off again.
            auto start = [&file](const char* stream) {
                return std::atof(Capture(std::string("ffprobe -v error -select_streams ") + stream +
                                         " -show_entries stream=start_time -of csv=p=0 " + file).c_str());
            };
            EXPECT_NEAR(start("v:0") - start("a:0"), 481.0 / 44100, 0.002);
        }
    }
}

// The same frames either way: a streamed movie and one encoded from BMP
// stills with the same encoder settings decode to pictures within 40 dB.
TEST_F(ConvertCliTest, StreamingAndStillPathAgree) {
    ASSERT_EQ(Convert(Quote(clip_) + " " + Quote(Out("streamed.avi"))).status, 0);
    ASSERT_EQ(Convert("--stills bmp " + Quote(clip_) + " " + Quote(Out("stills.avi"))).status, 0);
    EXPECT_GE(AveragePsnr(Out("streamed.avi"), Out("stills.avi")), 40.0);
}

// The help lists the containers and every exit status; --version names the program.
TEST_F(ConvertCliTest, HelpAndVersion) {
    const Outcome help = Convert("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.output.rfind("Usage: tessaly-convert", 0), 0u) << help.output;
    for (const char* status : {".flv .avi .mpg .mpeg .ogg .ogv\n", "\n  0 ", "\n  1 ", "\n  2 ", "\n  3 ", "\n  4 ", "129 SIGHUP", "130 SIGINT", "143 SIGTERM"}) {
        EXPECT_NE(help.output.find(status), std::string::npos) << status;
    }
    const Outcome version = Convert("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.output.rfind("tessaly-convert ", 0), 0u);
}

// Outputs that can carry it are marked as 180-degree VR video (what the
// marking holds: VrMetadataTest; --no-vr-metadata: StereoCliBase); the others
// are noted once in the log.
TEST_F(ConvertCliTest, MarksOutputsAsVrVideo) {
    auto sideData = [](const std::string& path) {
        return RunShell("ffprobe -v error -select_streams v:0 -show_streams -of flat " +
                        Quote(path) + " | grep side_data").output;
    };
    Outcome o = Convert(Quote(clip_) + " " + Quote(Out("vr.mov")) + " " + Quote(Out("a.avi")) +
                        " " + Quote(Out("b.flv")) + " " + Quote(Out("c.mpg")));
    ASSERT_EQ(o.status, 0) << o.output;
    EXPECT_NE(sideData(Out("vr.mov")).find("tiled equirectangular"), std::string::npos);
    EXPECT_EQ(sideData(Out("a.avi")), "");
    // One note for the outputs that cannot carry it.
    const std::string text = Log();
    const size_t note = text.find("cannot carry the 180-degree VR marking");
    EXPECT_NE(note, std::string::npos) << text;
    EXPECT_EQ(text.find("cannot carry", note + 1), std::string::npos) << text;
    // 250 bytes of name: the hidden name is shortened, the marking made.
    const std::string longName = Out(std::string(246, 'n') + ".mp4");
    for (const char* mode : {"--stills jpg", ""}) {
        SCOPED_TRACE(std::string("long name ") + mode);
        o = Convert(std::string(mode) + " " + Quote(clip_) + " " + Quote(longName));
        ASSERT_EQ(o.status, 0) << o.output;
        EXPECT_EQ(o.output.find("without the 180"), std::string::npos) << o.output;
        EXPECT_NE(sideData(longName).find("tiled equirectangular"), std::string::npos);
        EXPECT_EQ(HiddenFiles(), std::vector<std::string>{});
        fs::remove(longName);
    }
}

// Without --cut and --params the lens circle is found and said, with the
// cut that places it; --circle gives it; --cut and --params keep control; a
// movie without a circle keeps the cut it had and says so.
TEST_F(ConvertCliTest, TheLensCircleFoundOrGiven) {
    const std::string line = "tessaly-convert: lens circle: centre 79.5,59.5 radius 60.0 px; --cut ";
    const Outcome found = Convert(Quote(clip_) + " " + Quote(Out("found.mp4")));
    ASSERT_NE(found.output.find(line), std::string::npos) << found.output;
    EXPECT_EQ(ProbeMovie(Out("found.mp4")).width, 132);
    EXPECT_NE(Log().find("lens circle: centre 79.5,59.5 radius 60.0 px"), std::string::npos);
    const size_t at = found.output.find(line) + line.size();
    const std::string cut = found.output.substr(at, found.output.find(' ', at) - at);
    const std::string plain = Out("plain.mp4");  // a normal movie: no circle
    ASSERT_EQ(RunShell("ffmpeg -v error -f lavfi -i testsrc2=size=160x120:rate=10:duration=1 -pix_fmt yuv420p " +
                       Quote(plain)).status,
              0);
    std::ofstream(Out("empty.ini")) << "";
    const std::string startCut = "; using the start cut -8,-8,616,606\n";
    const struct {
        const char* name;
        std::string args;
        std::vector<std::string> says;  // none: no word of a lens circle
        int width;                      // 0: not looked at
    } cases[] = {
        {"the cut it names gives the same size", "--cut " + cut + " " + Quote(clip_), {}, 132},
        {"given", "--circle=79.5,59.5,60 " + Quote(clip_), {line + cut + " (off by "}, 132},
        {"start cut", "--cut -8,-8,616,606 " + Quote(clip_), {}, 122},
        {"parameter file", "--params " + Quote(Out("empty.ini")) + " " + Quote(clip_), {}, 122},
        {"no circle", Quote(plain), {"tessaly-convert: no lens circle found: ", startCut}, 122},
        // The aspect fix stretches the picture: no search.
        {"aspect fix", "--aspect " + Quote(clip_),
         {"tessaly-convert: the lens circle is not looked for with the aspect fix on" + startCut}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome o = Convert(c.args + " " + Quote(Out("o.mp4")));
        ASSERT_EQ(o.status, 0) << o.output;
        if (c.says.empty()) {
            EXPECT_EQ(o.output.find("lens circle"), std::string::npos) << o.output;
        }
        for (const std::string& said : c.says) EXPECT_NE(o.output.find(said), std::string::npos) << o.output;
        EXPECT_TRUE(c.width == 0 || ProbeMovie(Out("o.mp4")).width == c.width);
    }
}

// A good run replaces a movie that already has the output's name, with the
// permissions it had, in both modes (a failed or stopped one keeps it:
// BrokenEncodersAreFailures, SignalsInEveryPhaseLeaveNothingBehind).
TEST_F(ConvertCliTest, AGoodRunReplacesAnExistingOutputKeepingItsPermissions) {
    const std::string mine = "the user's own movie";
    std::ofstream(Out("keep.mp4"), std::ios::binary) << mine;
    fs::permissions(Out("keep.mp4"), fs::perms(0640));
    for (const char* mode : {"--stills bmp", ""}) {
        SCOPED_TRACE(std::string("good run ") + mode);
        std::ofstream(Out("keep.mp4"), std::ios::binary) << mine;
        Outcome o = Convert(std::string(mode) + " " + Quote(clip_) + " " + Quote(Out("keep.mp4")));
        ASSERT_EQ(o.status, 0) << o.output;
        EXPECT_EQ(ProbeMovie(Out("keep.mp4")).frames, 30);
        EXPECT_EQ(fs::status(Out("keep.mp4")).permissions() & fs::perms::all, fs::perms(0640));
        EXPECT_EQ(HiddenFiles(), std::vector<std::string>{});
    }
}

// A stop that comes as the encoder finishes: the message says what is
// really there. Either the complete movie was put in place, or the old file
// is untouched; never a removal claimed of a movie that stays.
TEST_F(ConvertCliTest, ALateStopSaysWhatWasDone) {
    const std::string mine = "the user's own movie";
    FakeEncoder("", "ffmpeg \"$@\" || exit; kill -INT $PPID; exit 0");
    for (const char* mode : {"--stills jpg", ""}) {
        SCOPED_TRACE(mode);
        std::ofstream(Out("late.mp4"), std::ios::binary) << mine;
        Outcome o = Convert(std::string(mode) + " " + Quote(clip_) + " " + Quote(Out("late.mp4")));
        EXPECT_EQ(o.status, 130) << o.output;
        if (o.output.find("after " + Out("late.mp4") + " was written in full and checked") != std::string::npos) {
            EXPECT_EQ(ProbeMovie(Out("late.mp4")).frames, 30) << o.output;
        } else {
            EXPECT_NE(o.output.find("stopped by SIGINT; the partial output and the temporary files were removed"),
                      std::string::npos)
                << o.output;
            EXPECT_EQ(ReadAll(Out("late.mp4")), mine) << o.output;
        }
        EXPECT_EQ(HiddenFiles(), std::vector<std::string>{});
        EXPECT_FALSE(TemporaryFilesLeft());
    }
}

// An encoder program that exists but cannot be started, or none at all:
// where it was looked for, not a sound that "could not be extracted".
TEST_F(ConvertCliTest, EncoderProgramsThatCannotRunSayWhereTheyWereLookedFor) {
    const fs::path plugIn = dir_ / "prog" / "PLUG-IN" / "ffmpeg_III";
    fs::create_directories(plugIn.parent_path());
    std::ofstream(plugIn) << "#!/nonexistent/interpreter\n";
    fs::permissions(plugIn, fs::perms::owner_all);
    const struct {
        const char* name;
        std::string prefix, mode;
        std::vector<std::string> says;
    } cases[] = {
        {"cannot start, stills", "", "--stills bmp",
         {"the encoder program " + plugIn.string() + " cannot be started (looked for " + plugIn.string(),
          "and ffmpeg on PATH)"}},
        {"cannot start, streaming", "", "",
         {"the encoder program " + plugIn.string() + " cannot be started (looked for " + plugIn.string(),
          "and ffmpeg on PATH)"}},
        {"none anywhere", "PATH=/nonexistent ", "",
         {"the encoder program is missing (looked for " + plugIn.string() + ", ",
          "and ffmpeg on PATH): install ffmpeg or put it at "}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (!c.prefix.empty()) fs::remove(plugIn);  // none beside the program either
        Outcome o = Convert(c.mode + " " + Quote(clip_) + " " + Quote(Out("o.mp4")), c.prefix);
        EXPECT_EQ(o.status, 1) << o.output;
        for (const std::string& said : c.says) EXPECT_NE(o.output.find(said), std::string::npos) << o.output;
        EXPECT_EQ(o.output.find("(no encoder program)"), std::string::npos) << o.output;
        EXPECT_FALSE(fs::exists(Out("o.mp4")));
    }
}

// A sound track whose decoder cannot open (its AAC configuration
// destroyed): the movie is converted without it, and told so.
TEST_F(ConvertCliTest, AnUndecodableSoundTrackIsLeftOutAndSaid) {
    const std::string badSound = Out("bad-sound.mkv");
    ASSERT_EQ(RunShell("ffmpeg -v error -i " + Quote(clip_) + " -c:v copy -c:a aac " + Quote(badSound)).status, 0);
    {
        std::string bytes = ReadAll(badSound);
        size_t at = bytes.find("\x63\xA2");  // CodecPrivate: the video's, then the sound's
        ASSERT_NE(at, std::string::npos);
        at = bytes.find("\x63\xA2", at + 2);
        ASSERT_NE(at, std::string::npos);
        const size_t size = static_cast<unsigned char>(bytes[at + 2]) & 0x7F;
        for (size_t i = 0; i < size; ++i) bytes[at + 3 + i] = i == 0 ? '\xFF' : '\xF8';
        std::ofstream(badSound, std::ios::binary) << bytes;
    }
    for (const char* mode : {"--stills jpg", ""}) {
        SCOPED_TRACE(std::string("broken sound ") + mode);
        Outcome o = Convert(std::string(mode) + " " + Quote(badSound) + " " + Quote(Out("quiet.mp4")));
        ASSERT_EQ(o.status, 0) << o.output;
        EXPECT_NE(o.output.find("no sound (" + badSound + ": its sound track (stream #0:1) cannot be decoded ("),
                  std::string::npos)
            << o.output;
        const Probe p = ProbeMovie(Out("quiet.mp4"));
        EXPECT_EQ(p.frames, 30);
        EXPECT_FALSE(p.audio);
    }
    EXPECT_NE(Log().find("Sound left out: its sound track (stream #0:1)"), std::string::npos);

}

// A run killed outright (SIGKILL, a power cut) while it encodes leaves the
// old movie under the output's name, at most its own hidden file beside it,
// and its folder; the next run in that temporary folder removes the folder,
// after adding its log to the shared one, and touches nothing else.
TEST_F(ConvertCliTest, AKilledRunLeavesItsHiddenFileAndItsFolderToTheNextRun) {
    const std::string longer = MakeClip("killed-encoding.mp4", "320x240", 30, "3", true);
    const std::string marker = Out("encoding-reached");
    const std::string pidFile = Out("encoder.pid");
    FakeEncoder("", "echo $$ > " + Quote(pidFile) + "; " + HungEncoder(marker, false));
    const std::string mine = "the user's own movie";
    for (const char* mode : {"", "--stills jpg"}) {
        SCOPED_TRACE(mode);
        std::ofstream(Out("keep.mp4"), std::ios::binary) << mine;
        fs::remove(marker);
        WhileRunning(Command(std::string(mode) + " " + Quote(longer) + " " + Quote(Out("keep.mp4"))),
                     "test -e " + Quote(marker), "kill -KILL $pid", "kill -KILL $(cat " + Quote(pidFile) + ")");
        EXPECT_EQ(ReadAll(Out("keep.mp4")), mine);
        for (const std::string& name : HiddenFiles()) {
            EXPECT_TRUE(name.starts_with(".keep.tessaly-") && name.ends_with(".mp4")) << name;
            fs::remove(dir_ / name);
        }
    }
    ASSERT_TRUE(TemporaryFilesLeft());
    fs::remove(dir_ / "prog" / "PLUG-IN" / "ffmpeg_III");
    const Outcome o = Convert(Quote(clip_) + " " + Quote(Out("next.mp4")));
    ASSERT_EQ(o.status, 0) << o.output;
    EXPECT_FALSE(TemporaryFilesLeft());
    const std::string log = Log();
    EXPECT_NE(log.find("Open movie: " + longer), std::string::npos) << log;
    EXPECT_NE(log.find("Open movie: " + clip_), std::string::npos) << log;
}

// Closed standard streams take no run's pipe for themselves, and a stop
// signal that comes while the libraries start is a stop like any other.
TEST_F(ConvertCliTest, StartsCleanWithClosedStreamsAndEarlySignals) {
    struct Case {
        const char* name;
        std::string prefix, suffix;
        int status;
    };
    const std::string early = "LD_PRELOAD=" + Quote(TESSALY_EARLY_SIGNAL_LIB) + " ";
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
        const Outcome o = RunShell(
            "(" + c.prefix + Command(Quote(clip_) + " " + Quote(Out("o.mp4"))) + c.suffix + ")");
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
TEST_F(ConvertCliTest, AStoppedOrFailedRunPlacesNoOutput) {
    const std::string marker = Out("second-output");
    struct Case {
        const char* signal;  // null: the second encoding fails
        int status;
        std::string message;
    };
    const Case cases[] = {
        {"TERM", 143, "stopped by SIGTERM"},  // every signal's status: SignalsInEveryPhaseLeaveNothingBehind
        {nullptr, 1, "cannot write " + Out("o.mp4") + ": not put in place, since " + Out("o.avi") +
                         " could not be written"},
    };
    const std::string mine = "the user's own movie";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.signal == nullptr ? "failure" : c.signal);
        FakeEncoder("", std::string("case \"$out\" in *.avi) touch ") + Quote(marker) + "; " +
                            (c.signal ? "trap '' TERM; while :; do sleep 0.05; done" : "echo broken >&2; exit 1") +
                            ";; esac; exec ffmpeg \"$@\"");
        std::ofstream(Out("o.mp4"), std::ios::binary) << mine;
        fs::remove(marker);
        const std::string run = Command("--stills bmp " + Quote(clip_) + " " + Quote(Out("o.mp4")) + " " +
                                        Quote(Out("o.avi")));
        // A script's background job ignores SIGINT: env gives it back.
        const Outcome o = c.signal == nullptr ? RunShell(run)
                                              : WhileRunning("env --default-signal=INT " + run,
                                                             "test -e " + Quote(marker), "kill -" + std::string(c.signal) + " $pid");
        EXPECT_EQ(o.status, c.status) << o.output;
        EXPECT_NE(o.output.find(c.message), std::string::npos) << o.output;
        EXPECT_TRUE(ReadAll(Out("o.mp4")) == mine) << "the old movie was replaced";
        EXPECT_FALSE(fs::exists(Out("o.avi")));
        EXPECT_FALSE(LeftOvers());
    }
}

// Lens values of the parameter file that cannot be used take their defaults,
// and the user is told so on the terminal and in the shared log (the notes
// of more damaged values: ParameterFileLens).
TEST_F(ConvertCliTest, DamagedLensTagsAreSaid) {
    std::string text = tessaly::SerializeParameters(tessaly::AppSettings{}, tessaly::ScreenSize{});
    for (const auto& [tag, value] : {std::pair{"<LENS>", "99"}, std::pair{"<LENS_FOV>", "nan"}}) {
        const size_t at = text.find(tag) + std::strlen(tag);
        text.replace(at, text.find('<', at) - at, value);
    }
    std::ofstream(Out("lens.ini"), std::ios::binary) << text;
    const Outcome o = Convert("--params " + Quote(Out("lens.ini")) + " " + Quote(clip_) + " " + Quote(Out("o.mp4")));
    ASSERT_EQ(o.status, 0) << o.output;
    for (const char* note : {"Parameter file: <LENS> \"99\" cannot be used (no lens model has that number)",
                             "Parameter file: <LENS_FOV> \"nan\" cannot be used (not a number); 180 is used instead"}) {
        EXPECT_NE(o.output.find(std::string("tessaly-convert: warning: ") + note), std::string::npos) << o.output;
        EXPECT_NE(Log().find(note), std::string::npos) << note;
    }
}

// A 48 kHz one-channel sound becomes 44.1 kHz stereo at its own level on
// both channels, streamed, from stills, and joined from parts.
TEST_F(ConvertCliTest, MonoSoundKeepsItsLevel) {
    const std::string source = Out("mono.mp4");
    ASSERT_EQ(RunShell("ffmpeg -v error -y -f lavfi -i testsrc=size=160x120:rate=25:duration=2 -f lavfi -i "
                       "sine=frequency=440:sample_rate=48000:duration=2 -ac 1 -c:v libx264 -pix_fmt yuv420p "
                       "-c:a aac -shortest " + Quote(source)).status,
              0);
    const Sound original = MeasureSound(source);
    ASSERT_EQ(original.layout, "48000,1\n");
    const std::string cut = "--cut -8,-8,616,606 ";
    const std::string in = Quote(source) + " ";
    ASSERT_EQ(Convert(cut + in + Quote(Out("streamed.mp4"))).status, 0);
    ASSERT_EQ(Convert(cut + "--stills bmp " + in + Quote(Out("stills.mp4"))).status, 0);
    ASSERT_EQ(Convert(cut + "--part 1/2 " + in + Quote(Out("p1.mkv"))).status, 0);
    ASSERT_EQ(Convert(cut + "--part 2/2 " + in + Quote(Out("p2.mkv"))).status, 0);
    ASSERT_EQ(Convert(cut + "--join " + in + Quote(Out("joined.mp4")) + " " + Quote(Out("p1.mkv")) + " " +
                  Quote(Out("p2.mkv"))).status,
              0);
    for (const char* name : {"streamed.mp4", "stills.mp4", "joined.mp4"}) {
        SCOPED_TRACE(name);
        const Sound s = MeasureSound(Out(name));
        EXPECT_EQ(s.layout, "44100,2\n");
        EXPECT_NEAR(s.meanDb, original.meanDb, 0.5);
    }
}

}  // namespace
