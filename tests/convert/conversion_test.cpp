// Whole conversions of generated fisheye clips, checked with ffprobe.
#include "convert/movie_conversion.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "app/startup.h"
#include "transform/frame_pipeline.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;

std::string Shell(const std::string& command) {
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return out;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) out += buffer;
    ::pclose(pipe);
    return out;
}

std::string Quote(const std::string& text) { return "'" + text + "'"; }

struct StreamFacts {
    bool present = false;
    int width = 0;
    int height = 0;
    int frames = 0;
    double duration = 0;
};

struct Probe {
    StreamFacts video;
    StreamFacts audio;
};

// What ffprobe reads from a movie: the first video and the first audio stream,
// frames counted by decoding, durations from the packets.
Probe ProbeMovie(const std::string& path) {
    Probe probe;
    const std::string text =
        Shell("ffprobe -v error -count_frames -show_entries "
              "stream=codec_type,width,height,nb_read_frames:format=duration -of flat " +
              Quote(path) + " 2>/dev/null");
    std::map<std::string, std::string> values;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        size_t eq = line.find('=');
        if (eq != std::string::npos) {
            std::string value = line.substr(eq + 1);
            if (value.size() >= 2 && value.front() == '"') value = value.substr(1, value.size() - 2);
            values[line.substr(0, eq)] = value;
        }
        start = end + 1;
    }
    for (int i = 0; i < 4; ++i) {
        const std::string prefix = "streams.stream." + std::to_string(i) + ".";
        auto type = values.find(prefix + "codec_type");
        if (type == values.end()) break;
        StreamFacts* facts = type->second == "video" ? &probe.video
                             : type->second == "audio" ? &probe.audio
                                                       : nullptr;
        if (facts == nullptr || facts->present) continue;
        facts->present = true;
        facts->width = std::atoi(values[prefix + "width"].c_str());
        facts->height = std::atoi(values[prefix + "height"].c_str());
        facts->frames = std::atoi(values[prefix + "nb_read_frames"].c_str());
    }
    // The audio duration from its decoded samples.
    if (probe.audio.present) {
        std::string d = Shell("ffprobe -v error -select_streams a:0 -show_entries packet=pts_time,duration_time "
                              "-of csv=p=0 " + Quote(path) + " 2>/dev/null | grep , | tail -1");
        double pts = 0, dur = 0;
        if (std::sscanf(d.c_str(), "%lf,%lf", &pts, &dur) == 2) probe.audio.duration = pts + dur;
    }
    return probe;
}

std::vector<std::string> ReadLogLines(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

bool HasTemporaryFiles(const fs::path& folder) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("mono", 0) == 0 || name == "temp.wav") return true;
    }
    return false;
}

class ConversionTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        suiteDir_ = fs::temp_directory_path() / ("tessaly_conv_" + std::to_string(::getpid()));
        fs::remove_all(suiteDir_);
        fs::create_directories(suiteDir_);
        const std::string tool = std::string(TESSALY_SOURCE_DIR) + "/tools/make-fisheye-clip";
        // 30 frames per second, so that the rows that ask the encoder for
        // 30 fps keep the frame count.
        soundClip_ = (suiteDir_ / "sound.mp4").string();
        silentClip_ = (suiteDir_ / "silent.mov").string();
        std::system((tool + " " + Quote(soundClip_) +
                     " --size 160x120 --fps 30 --duration 1 --audio >/dev/null 2>&1").c_str());
        std::system((tool + " " + Quote(silentClip_) +
                     " --size 160x120 --fps 30 --duration 1 >/dev/null 2>&1").c_str());
    }
    static void TearDownTestSuite() { fs::remove_all(suiteDir_); }

    void SetUp() override {
        ASSERT_TRUE(fs::exists(soundClip_)) << "the clip maker failed";
        ASSERT_TRUE(fs::exists(silentClip_));
        dir_ = suiteDir_ / ::testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::create_directories(dir_ / "prog");
        fs::create_directories(dir_ / "temp");
        StartUpOptions startUp;
        startUp.programDir = (dir_ / "prog").string() + "/";
        StartUpCore(app_, startUp);
        app_.settings.APATH = (dir_ / "temp").string();
        app_.settings.SHARPEN_CH = 1;
        app_.settings.SHARPEN = 1;

        options_.writerThreads = 2;
        options_.timings = ConversionTimings{1, 0, 0, 0, 1, 0, 12, 32};
        streamTimings_ = StreamTimings{0, 0, 0, 0, 0, 1, 1, 0};
    }

    MovieConversion Convert(const std::string& input, const std::string& output) {
        FramePipeline pipeline(1);
        return ConvertMovieFile(app_, ui_, pipeline, input, output, options_, streamTimings_);
    }

    std::string Out(const std::string& name) const { return (dir_ / name).string(); }

    static fs::path suiteDir_;
    static std::string soundClip_;
    static std::string silentClip_;
    fs::path dir_;
    FisheyeApp app_;
    RecordingUserInterface ui_;
    ConversionOptions options_;
    StreamTimings streamTimings_;
};

fs::path ConversionTest::suiteDir_;
std::string ConversionTest::soundClip_;
std::string ConversionTest::silentClip_;

// One conversion, then every container through the encode-again loop.
TEST_F(ConversionTest, EveryContainerGetsTheFramesAndTheSound) {
    const std::vector<std::string> exts = {".flv", ".mov", ".avi", ".mp4",
                                           ".m4v", ".ogg", ".ogv", ".webm"};
    for (size_t i = 1; i < exts.size(); ++i) {
        ui_.okCancelAnswers.push_back(true);
        ui_.dialogPaths.push_back(Out("out" + exts[i]));
    }
    const MovieConversion c = Convert(soundClip_, Out("out.flv"));
    ASSERT_TRUE(c.opened) << c.openError;
    ASSERT_EQ(c.result.status, ConversionStatus::kDone) << c.result.error;
    EXPECT_TRUE(c.result.hadSound);
    ASSERT_EQ(c.result.exports.size(), exts.size());
    EXPECT_TRUE(c.result.AllWritten());

    // What the source delivers, as FFmpeg's own decoder counts it.
    const Probe source = ProbeMovie(soundClip_);
    ASSERT_GT(source.video.frames, 0);
    EXPECT_NEAR(c.result.frames, source.video.frames, 1);
    // 160 x 120 with the default cut: crop height round(0.2 * 614) = 123.
    EXPECT_EQ(c.result.outW, 122);
    EXPECT_EQ(c.result.outH, 122);

    for (const std::string& ext : exts) {
        SCOPED_TRACE(ext);
        const Probe out = ProbeMovie(Out("out" + ext));
        ASSERT_TRUE(out.video.present);
        EXPECT_EQ(out.video.width, 122);
        EXPECT_EQ(out.video.height, 122);
        EXPECT_NEAR(out.video.frames, c.result.frames, 1);
        ASSERT_TRUE(out.audio.present);
        EXPECT_NEAR(out.audio.duration, source.audio.duration, 0.1);
    }
    EXPECT_FALSE(HasTemporaryFiles(dir_ / "temp"));

    // The run log: the lines of a run in their order.
    const std::vector<std::string> expected = {
        "Generated by Tessaly Mono Fisheye Converter, d'not edit!",
        "Temp file:",
        "Main Form Created Ok",  // not written without a window: skipped below
        "GetMultipleFiles pMediaControl begin",
        "GetMultipleFiles pMediaControl Ok",
        "OS_ASPECT = 0",
        "Render file:" + soundClip_,
        "Video File Duration = 1",
        "Frame Size = 160x120",
        "getTimePerFrame = ",
        "FPS = 30.00",
        "numframes = 30",
        "Convert Movie Begin ",
        "Output Folder Free Space 1:",
        "Set Stream to 0 position",
        "Set MovieDuration",
        "Checking 16x16",
        "Determine CUTOFF",
        "Determine DMEM, DMEM2, DMEM3, DMEM4",
        "Determine DMEM, DMEM2, DMEM3, DMEM4 END",
        "OS_DIRECT_ACCESS = 1",
        "OS_HRDWARE_SUPPORT = 1",
        "OS_DSS_SETUP = 0",
        "Begin Convert Process",
        "END Convert Process",
        "ConvertRectExport Begin",
        "ConvertRectFFMPEG aVideoEXT .flv",
        "FFMPEG : ",
        "ConvertRectExport End",
        "ConvertRectExport Begin",
        "ConvertRectFFMPEG aVideoEXT .mov",
        "Convert Movie End ",
        "EXIT11",
        "EXIT2",
        "EXIT3",
    };
    const std::vector<std::string> log = ReadLogLines(app_.logPath);
    size_t at = 0;
    for (const std::string& want : expected) {
        if (want == "Main Form Created Ok") continue;
        while (at < log.size() && log[at].rfind(want, 0) != 0) ++at;
        ASSERT_LT(at, log.size()) << "missing or out of order: " << want;
        ++at;
    }
    // The stream's thread ends the stream once the run lets it go; Shutdown
    // waits for it.
    auto index = [&log](const std::string& line) {
        return std::find(log.begin(), log.end(), line) - log.begin();
    };
    EXPECT_LT(index("END Convert Process"), index("File exit Ok"));
    EXPECT_LT(index("File exit Ok"), index("AVIREAD"));
    EXPECT_LT(index("AVIREAD"), index("EXIT3"));
    int exports = 0;
    for (const std::string& line : log) exports += line == "ConvertRectExport End";
    EXPECT_EQ(exports, 8);

    // Asked after every encoding; Cancel after the last.
    int asked = 0;
    for (const std::string& call : ui_.Calls()) {
        if (call.rfind("ask Successful termination | Movie converted successfully.\n", 0) == 0) ++asked;
    }
    EXPECT_EQ(asked, 8);
}

TEST_F(ConversionTest, NoSoundResizedOutput) {
    app_.resizeChoice = 1;  // 90 %: 16 * trunc(0.9 * 122 / 16) = 96
    ui_.okCancelAnswers.push_back(true);
    ui_.dialogPaths.push_back(Out("again.avi"));
    const MovieConversion c = Convert(silentClip_, Out("silent.mp4"));
    ASSERT_EQ(c.result.status, ConversionStatus::kDone) << c.result.error;
    EXPECT_FALSE(c.result.hadSound);
    for (const char* name : {"silent.mp4", "again.avi"}) {
        SCOPED_TRACE(name);
        const Probe out = ProbeMovie(Out(name));
        ASSERT_TRUE(out.video.present);
        EXPECT_EQ(out.video.width, 96);
        EXPECT_EQ(out.video.height, 96);
        EXPECT_NEAR(out.video.frames, c.result.frames, 1);
        EXPECT_FALSE(out.audio.present);
    }
    EXPECT_FALSE(HasTemporaryFiles(dir_ / "temp"));
}

TEST_F(ConversionTest, EncoderFailuresAreReportedNotCelebrated) {
    // An unknown extension builds no command; a folder that does not exist
    // makes the encoder fail. Then a good file, and Cancel.
    ui_.okCancelAnswers = {true, true, false};
    ui_.dialogPaths = {Out("no/such/folder/x.mp4"), Out("fine.mp4")};
    const MovieConversion c = Convert(silentClip_, Out("movie.mpg"));
    ASSERT_EQ(c.result.status, ConversionStatus::kDone);
    ASSERT_EQ(c.result.exports.size(), 3u);
    EXPECT_FALSE(c.result.exports[0].written);
    EXPECT_FALSE(c.result.exports[0].started);
    EXPECT_NE(c.result.exports[0].error.find("unsupported extension '.mpg'"), std::string::npos);
    EXPECT_FALSE(c.result.exports[1].written);
    EXPECT_TRUE(c.result.exports[1].started);
    EXPECT_NE(c.result.exports[1].error.find("exit status"), std::string::npos)
        << c.result.exports[1].error;
    EXPECT_TRUE(c.result.exports[2].written);
    EXPECT_FALSE(c.result.AllWritten());

    std::vector<std::string> asks;
    for (const std::string& call : ui_.Calls()) {
        if (call.rfind("ask ", 0) == 0) asks.push_back(call);
    }
    ASSERT_EQ(asks.size(), 3u);
    EXPECT_EQ(asks[0].rfind("ask Error | ", 0), 0u) << asks[0];
    EXPECT_EQ(asks[1].rfind("ask Error | ", 0), 0u) << asks[1];
    EXPECT_EQ(asks[2].rfind("ask Successful termination | ", 0), 0u) << asks[2];

    const std::vector<std::string> log = ReadLogLines(app_.logPath);
    bool emptyCommand = false, failure = false;
    for (size_t i = 0; i + 1 < log.size(); ++i) {
        if (log[i] == "ConvertRectFFMPEG aVideoEXT .mpg" && log[i + 1] == "FFMPEG : ") emptyCommand = true;
        if (log[i].rfind("FFMPEG failed: ", 0) == 0) failure = true;
    }
    EXPECT_TRUE(emptyCommand);
    EXPECT_TRUE(failure);
    EXPECT_FALSE(HasTemporaryFiles(dir_ / "temp"));
}

TEST_F(ConversionTest, KeepStillsLeavesTheStillsButNotTheSound) {
    options_.keepStills = true;
    app_.tempFormat = 2;
    const MovieConversion c = Convert(soundClip_, Out("keep.mp4"));
    ASSERT_EQ(c.result.status, ConversionStatus::kDone) << c.result.error;
    ASSERT_GT(c.result.frames, 0);
    EXPECT_FALSE(fs::exists(dir_ / "temp" / "temp.wav"));
    char last[32];
    std::snprintf(last, sizeof last, "mono%06d.jpg", c.result.frames - 1);
    EXPECT_TRUE(fs::exists(dir_ / "temp" / "mono000000.jpg"));
    EXPECT_TRUE(fs::exists(dir_ / "temp" / last));
    // Our JPEG stills decode with a decoder no one here wrote.
    const std::string djpeg = Shell("djpeg -bmp " + Quote((dir_ / "temp" / last).string()) +
                                    " 2>&1 >/dev/null; echo rc=$?");
    EXPECT_NE(djpeg.find("rc=0"), std::string::npos) << djpeg;
}

TEST_F(ConversionTest, DeletedMovieAndEmptyCutStopBeforeAnyStill) {
    // A cut with no height leaves no output.
    app_.settings.YL2 = app_.settings.YL1;
    MovieConversion c = Convert(silentClip_, Out("never.mp4"));
    ASSERT_TRUE(c.opened);
    EXPECT_EQ(c.result.status, ConversionStatus::kBadCut);
    EXPECT_FALSE(c.result.error.empty());
    EXPECT_FALSE(fs::exists(Out("never.mp4")));
    EXPECT_FALSE(HasTemporaryFiles(dir_ / "temp"));
    bool shown = false;
    for (const std::string& call : ui_.Calls()) shown |= call.rfind("message Error | ", 0) == 0;
    EXPECT_TRUE(shown);
}

TEST_F(ConversionTest, MovieDeletedAfterOpeningGivesVideoFileNotFound) {
    const std::string copy = Out("copy.mov");
    fs::copy_file(silentClip_, copy);
    FramePipeline pipeline(1);
    const MovieConversion c =
        ConvertMovieFile(app_, ui_, pipeline, copy, Out("never.mp4"), options_, streamTimings_,
                         [&copy](const MediaInfo&) { fs::remove(copy); });
    ASSERT_TRUE(c.opened);
    EXPECT_EQ(c.result.status, ConversionStatus::kVideoMissing);
    EXPECT_FALSE(HasTemporaryFiles(dir_ / "temp"));
    bool shown = false;
    for (const std::string& call : ui_.Calls()) {
        shown |= call == "message Error Monitoring | Video file not found!";
    }
    EXPECT_TRUE(shown);
}

TEST_F(ConversionTest, StopRequestDuringTheFramesSkipsTheExport) {
    // The stop comes from the frame thread after a few frames, as the close
    // box of the main window would set it.
    FramePipeline pipeline(1);
    struct StopAfter : UserInterface {
        FisheyeApp& app;
        RecordingUserInterface& inner;
        StopAfter(FisheyeApp& a, RecordingUserInterface& i) : app(a), inner(i) {}
        void SetLabel(int, const std::string&) override {}
        void SetCheck(int, int) override {}
        void SetPositionBar(int) override {}
        void ShowMessage(const std::string& c, const std::string& t, MessageIcon i, bool o) override {
            inner.ShowMessage(c, t, i, o);
        }
        void PaintPlaceholders() override {}
        void SetCurrentFrame(int32_t n) override {
            if (n > 0) app.stopRequested = 1;
        }
        bool AskOkCancel(const std::string& c, const std::string& t, MessageIcon i) override {
            return inner.AskOkCancel(c, t, i);
        }
    } ui(app_, ui_);
    options_.timings.blinkTurns = 0;
    const MovieConversion c =
        ConvertMovieFile(app_, ui, pipeline, soundClip_, Out("stopped.mp4"), options_, streamTimings_);
    ASSERT_TRUE(c.opened);
    EXPECT_EQ(c.result.status, ConversionStatus::kStopped);
    EXPECT_TRUE(c.result.exports.empty());
    EXPECT_FALSE(fs::exists(Out("stopped.mp4")));
    EXPECT_FALSE(HasTemporaryFiles(dir_ / "temp"));
    for (const std::string& call : ui_.Calls()) EXPECT_EQ(call.find("Successful"), std::string::npos);
    EXPECT_EQ(app_.converting.load(), 0);
}

}  // namespace
}  // namespace tessaly
