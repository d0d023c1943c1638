// Whole conversions of generated fisheye clips, checked with ffprobe.
#include "tests/capture_output.h"
#include "convert/movie_conversion.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/startup.h"
#include "transform/frame_pipeline.h"
#include "tests/recording_user_interface.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;

std::string Quote(const std::string& text) { return "'" + text + "'"; }

std::string Shell(const std::string& command) {
    return tessaly::testing::CaptureOutput(command + " 2>/dev/null");
}

// The first video stream as ffprobe decodes it; the first audio stream's end
// from its last packet, counted from the movie's start (an MPEG program
// stream starts at 0.5 s).
struct Probe { int width = 0, height = 0, frames = 0; bool audio = false; double audioSeconds = 0; };

Probe ProbeMovie(const std::string& path) {
    Probe p;
    std::sscanf(Shell("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                      "stream=width,height,nb_read_frames -of csv=p=0 " + Quote(path)).c_str(),
                "%d,%d,%d", &p.width, &p.height, &p.frames);
    double pts = 0, dur = 0;
    p.audio = std::sscanf(Shell("ffprobe -v error -select_streams a:0 -show_entries "
                                "packet=pts_time,duration_time -of csv=p=0 " + Quote(path) +
                                " | grep , | tail -1").c_str(),
                          "%lf,%lf", &pts, &dur) == 2;
    p.audioSeconds = pts + dur - std::atof(Shell("ffprobe -v error -show_entries format=start_time -of csv=p=0 " +
                                                 Quote(path)).c_str());
    return p;
}

class ConversionTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        suiteDir_ = fs::temp_directory_path() / ("tessaly_conv_" + std::to_string(::getpid()));
        fs::remove_all(suiteDir_);
        fs::create_directories(suiteDir_);
        // The sound clip at 25 fps, which every container keeps (MPEG-2 among
        // its standard rates): nothing is re-timed by repeating frames.
        const std::string tool = std::string(TESSALY_SOURCE_DIR) + "/tools/make-fisheye-clip ";
        const std::string args = " --size 160x120 --duration 1 --fps ";
        std::system((tool + Quote(SoundClip()) + args + "25 --audio >/dev/null 2>&1").c_str());
        std::system((tool + Quote(SilentClip()) + args + "30 >/dev/null 2>&1").c_str());
    }
    static void TearDownTestSuite() { fs::remove_all(suiteDir_); }
    static std::string SoundClip() { return (suiteDir_ / "sound.mp4").string(); }
    static std::string SilentClip() { return (suiteDir_ / "silent.mov").string(); }

    void SetUp() override {
        ASSERT_TRUE(fs::exists(SoundClip()) && fs::exists(SilentClip())) << "the clip maker failed";
        dir_ = suiteDir_ / ::testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::create_directories(dir_ / "prog");
        fs::create_directories(dir_ / "temp");
        StartUpOptions startUp;
        startUp.programDir = (dir_ / "prog").string() + "/";
        StartUpCore(app_, startUp);
        app_.settings.Change([&](AppSettings& s) {
            s.APATH = (dir_ / "temp").string();
            s.SHARPEN_CH = 1;
            s.SHARPEN = 1;
        });
        options_.writerThreads = 2;
    }

    MovieConversion Convert(const std::string& input, const std::vector<std::string>& outputs) {
        FramePipeline pipeline(1);
        return ConvertMovieFile(app_, ui_, pipeline, input, outputs, options_);
    }

    std::string Out(const std::string& name) const { return (dir_ / name).string(); }

    // Stills and the WAV are gone after every run.
    void ExpectNoTemporaryFiles() const {
        EXPECT_EQ(Shell("ls " + Quote((dir_ / "temp").string()) + " | grep -E '^mono|^temp.wav$'"), "");
    }

    static fs::path suiteDir_;
    fs::path dir_;
    FisheyeApp app_;
    RecordingUserInterface ui_;
    ConversionOptions options_;
};

fs::path ConversionTest::suiteDir_;

// One conversion, its stills encoded into every container in turn, each at
// the movie's own rate.
TEST_F(ConversionTest, EveryContainerGetsTheFramesAndTheSound) {
    const std::vector<std::string> exts = {".flv", ".mov", ".avi", ".mp4", ".m4v",
                                           ".ogg", ".ogv", ".webm", ".mpg"};
    std::vector<std::string> outputs;
    for (const std::string& ext : exts) outputs.push_back(Out("out" + ext));
    const MovieConversion c = Convert(SoundClip(), outputs);
    ASSERT_TRUE(c.opened) << c.openError;
    ASSERT_EQ(c.result.status, ConversionStatus::kDone) << c.result.error;
    EXPECT_TRUE(c.result.hadSound);
    ASSERT_EQ(c.result.exports.size(), exts.size());
    EXPECT_TRUE(c.result.AllWritten());

    const Probe source = ProbeMovie(SoundClip());
    ASSERT_GT(source.frames, 0);
    EXPECT_NEAR(c.result.frames, source.frames, 1);
    // 160 x 120 with the default cut: crop height round(0.2 * 614) = 123.
    EXPECT_EQ(c.result.outW, 122);
    EXPECT_EQ(c.result.outH, 122);
    for (const std::string& ext : exts) {
        SCOPED_TRACE(ext);
        const Probe out = ProbeMovie(Out("out" + ext));
        EXPECT_EQ(out.width, 122);
        EXPECT_EQ(out.height, 122);
        EXPECT_NEAR(out.frames, c.result.frames, 1);
        ASSERT_TRUE(out.audio);
        EXPECT_NEAR(out.audioSeconds, source.audioSeconds, 0.1);
        const std::string rate = Shell("ffprobe -v error -select_streams v:0 -show_entries stream=avg_frame_rate "
                                       "-of csv=p=0 " + Quote(Out("out" + ext)));
        EXPECT_EQ(rate.substr(0, 3), "25/") << rate;
    }
    ExpectNoTemporaryFiles();

    // The run log: the lines of a run in their order ("Main Form Created Ok"
    // is not written without a window).
    const std::vector<std::string> expected = {
        "Generated by Tessaly Mono Fisheye Converter, d'not edit!", "Temp file:",
        "Open movie: " + SoundClip(), "Video File Duration = 1", "Frame Size = 160x120",
        "getTimePerFrame = ", "FPS = 25.00", "numframes = 25", "Convert Movie Begin ",
        "Output Folder Free Space 1:", "Set Stream to 0 position", "Set MovieDuration",
        "Checking 16x16", "Determine CUTOFF", "Determine DMEM, DMEM2, DMEM3, DMEM4",
        "Determine DMEM, DMEM2, DMEM3, DMEM4 END", "OS_DIRECT_ACCESS = 1", "OS_HRDWARE_SUPPORT = 1",
        "OS_DSS_SETUP = 0", "Begin Convert Process", "END Convert Process", "ConvertRectExport Begin",
        "ConvertRectFFMPEG aVideoEXT .flv", "FFMPEG : ", "ConvertRectExport End",
        "ConvertRectExport Begin", "ConvertRectFFMPEG aVideoEXT .mov", "Convert Movie End ",
        "EXIT11", "EXIT2", "EXIT3"};
    const std::string log = "\n" + Shell("tr -d '\\r' < " + Quote(app_.env.logPath));
    auto inOrder = [&log](const std::vector<std::string>& lines) {
        size_t at = 0;
        for (const std::string& want : lines) {
            at = log.find("\n" + want, at);
            ASSERT_NE(at++, std::string::npos) << "missing or out of order: " << want;
        }
    };
    inOrder(expected);
    // Shutdown stops the stream's thread, then releases the movie.
    inOrder({"END Convert Process", "EXIT2", "File exit Ok", "EXIT3"});
    // The run opened the movie itself: none of the desktop's load and
    // playback lines.
    for (const char* line : {"\nGetMultipleFiles", "\nAVIREAD", "\nRender file:", "\nOS_ASPECT"})
        EXPECT_EQ(log.find(line), std::string::npos) << line;
    EXPECT_EQ(Shell("tr -d '\\r' < " + Quote(app_.env.logPath) + " | grep -cx 'ConvertRectExport End'"),
              std::to_string(exts.size()) + "\n");
}

TEST_F(ConversionTest, NoSoundResizedOutput) {
    app_.run.resizeChoice = 1;  // 90 %: 16 * trunc(0.9 * 122 / 16) = 96
    const MovieConversion c = Convert(SilentClip(), {Out("silent.mp4"), Out("again.avi")});
    ASSERT_EQ(c.result.status, ConversionStatus::kDone) << c.result.error;
    EXPECT_FALSE(c.result.hadSound);
    for (const char* name : {"silent.mp4", "again.avi"}) {
        SCOPED_TRACE(name);
        const Probe out = ProbeMovie(Out(name));
        EXPECT_EQ(out.width, 96);
        EXPECT_EQ(out.height, 96);
        EXPECT_NEAR(out.frames, c.result.frames, 1);
        EXPECT_FALSE(out.audio);
    }
    ExpectNoTemporaryFiles();
}

TEST_F(ConversionTest, EncoderFailuresAreReportedNotCelebrated) {
    // An unknown extension starts no encoder, nor does a missing folder
    // (its hidden file cannot be made there). Then a good file.
    const MovieConversion c = Convert(SilentClip(), {Out("movie.mkv"), Out("no/such/folder/x.mp4"), Out("fine.mp4")});
    ASSERT_EQ(c.result.status, ConversionStatus::kDone);
    ASSERT_EQ(c.result.exports.size(), 3u);
    const auto& e = c.result.exports;
    EXPECT_FALSE(e[0].started || e[0].written);
    EXPECT_NE(e[0].error.find("unsupported extension '.mkv'"), std::string::npos) << e[0].error;
    EXPECT_FALSE(e[1].started || e[1].written);
    EXPECT_NE(e[1].error.find("cannot write " + Out("no/such/folder/x.mp4") + ": cannot create a temporary file in " +
                              Out("no/such/folder") + ": No such file or directory"),
              std::string::npos)
        << e[1].error;
    EXPECT_TRUE(e[2].written);
    EXPECT_FALSE(c.result.AllWritten());
    ExpectNoTemporaryFiles();
}

}  // namespace
}  // namespace tessaly
