// The conversion driver's own rules: the stall rule of the monitoring loop
// and the position bar.
#include "convert/conversion_driver.h"
#include "playback/video_source.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <thread>

#include "app/startup.h"
#include "tests/app/temp_dir.h"
#include "tests/recording_user_interface.h"
#include "tests/wait_for.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;

// The encoder's report read for its reason: a full disk anywhere in it (a
// file name with those words is not one), the line before ffmpeg's closing
// "Conversion failed!", a lack of memory.
TEST(EncoderReport, FailuresNameTheirCause) {
    const fs::path report = fs::temp_directory_path() / ("tessaly_report_" + std::to_string(::getpid()) + ".txt");
    auto write = [&](const std::string& text) { std::ofstream(report, std::ios::binary) << text; };
    std::string line;
    write("Input #0, mov, from 'No space left on device.mp4':\n"
          "[mp4 @ 0x5] av_interleaved_write_frame(): No space left on device\n"
          "frame=   30 fps=0.0 q=-1.0 Lsize=       0kB\rframe=   31\n");
    EXPECT_EQ(DiskErrorInReport(report.string(), &line), ENOSPC);
    EXPECT_EQ(line, "[mp4 @ 0x5] av_interleaved_write_frame(): No space left on device");
    write("Error writing trailer of file:o.mp4: File too large\r\n");
    EXPECT_EQ(DiskErrorInReport(report.string()), EFBIG);
    write("Input #0, mov, from 'No space left on device.mp4':\n");
    EXPECT_EQ(DiskErrorInReport(report.string()), 0);
    fs::remove(report);
    EXPECT_EQ(DiskErrorInReport(report.string()), 0);

    ChildOutcome failed;
    failed.status = failed.exitCode = 1;
    EXPECT_EQ(EncoderFailure(failed, {"Error initializing output stream 0:0 -- bad size", "Conversion failed!"}, "o.mp4"),
              "the encoder failed (exit status 1): Error initializing output stream 0:0 -- bad size "
              "(Conversion failed!)");
    // (No reason, no memory and no space: tessaly-convert's BrokenEncodersAreFailures.)
    EXPECT_EQ(EncoderMissing("", "/opt/t/"),
              "the encoder program is missing (looked for /opt/t/PLUG-IN/ffmpeg_III, "
              "/opt/t/../lib/tessaly/PLUG-IN/ffmpeg_III and ffmpeg on PATH)");
}

// A stop ends the run's wait for a preview pass that never ends at once: the
// stop wakes it (before, it waited 1000 turns of 50 ms whatever happened).
// The run then goes on to refuse the missing movie.
TEST(RunConversion, StopEndsTheWaitForThePreview) {
    testing::TempDir temp("waits");
    const fs::path dir = temp.path();
    fs::create_directories(dir / "prog");
    FisheyeApp app;
    StartUpOptions startUp;
    startUp.programDir = (dir / "prog").string() + "/";
    StartUpCore(app, startUp);
    RecordingUserInterface ui;
    FramePipeline pipeline(1);
    VideoSource source(app, ui);
    ConversionHooks hooks = PipelineHooks(pipeline, app);
    std::atomic<bool> asked{false};
    hooks.previewBusy = [&asked] {
        asked = true;
        return 1;
    };
    std::thread stopper([&] {
        testing::WaitFor([&] { return asked.load(); });
        app.run.RequestStop();
    });
    const auto start = std::chrono::steady_clock::now();
    const ConversionResult result = RunConversion(app, ui, source, hooks, {(dir / "out.mp4").string()}, {});
    const auto took = std::chrono::steady_clock::now() - start;
    stopper.join();
    EXPECT_EQ(result.status, ConversionStatus::kVideoMissing);
    EXPECT_LT(took, kPreviewFinishLimit / 3);
}

// A 1-second 160x120 clip opened in a VideoSource and stopped at its start,
// as the desktop holds it when Convert is pressed.
class OpenClip : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(dir / "prog");
        fs::create_directories(dir / "temp");
        const std::string clip = (dir / "clip.mp4").string();
        const std::string make = std::string(TESSALY_SOURCE_DIR) + "/tools/make-fisheye-clip '" + clip + "'";
        ASSERT_EQ(std::system((make + " --size 160x120 --fps 30 --duration 1 >/dev/null 2>&1").c_str()), 0);
        StartUpOptions startUp;
        startUp.programDir = (dir / "prog").string() + "/";
        StartUpCore(app, startUp);
        app.settings.Change([&](AppSettings& s) { s.APATH = (dir / "temp").string(); });
        StreamHooks streamHooks;
        streamHooks.allocateFrameBuffers = [this](const MediaInfo& info) {
            pipeline.Allocate(info.frameWidth, info.frameHeight);
        };
        source.SetHooks(streamHooks);
        source.SetTimings(StreamTimings{.stopOlderStream = 0, .settleOlderStream = 0, .afterStream = 0,
                                        .connect = 0, .beforeLoop = 0, .previewTurn = 1, .convertingTurn = 1,
                                        .afterStop = 0});
        loader = std::thread([this, clip] { source.OpenAndPlay(clip); });
        ASSERT_TRUE(testing::WaitFor(
            [&] { return app.run.streamState.load() == StreamState::Running && source.videoOpen.load() == 1; }));
        source.Stream().Hold();
        source.Stream().SeekToStart();
    }
    void TearDown() override {
        if (loader.joinable()) loader.join();
    }

    testing::TempDir temp{"clip"};
    const fs::path dir = temp.path();
    FisheyeApp app;
    RecordingUserInterface ui;
    FramePipeline pipeline{1};
    VideoSource source{app, ui};
    std::thread loader;
};

// The movie's end and its frames wake the run's watch: with a blink and a
// stall limit of minutes, a run of a 1-second clip still ends in seconds.
TEST_F(OpenClip, TheMovieEndWakesTheWatch) {
    ConversionOptions options;
    options.timings = ConversionTimings{.blink = std::chrono::minutes(2), .stallLimit = std::chrono::minutes(4)};
    const auto start = std::chrono::steady_clock::now();
    const ConversionResult result =
        RunConversion(app, ui, source, PipelineHooks(pipeline, app), {(dir / "out.mp4").string()}, options);
    const auto took = std::chrono::steady_clock::now() - start;
    loader.join();
    EXPECT_EQ(result.status, ConversionStatus::kDone);
    EXPECT_EQ(result.frames, 30);
    EXPECT_LT(took, std::chrono::minutes(1));
}

// A decoder that stops delivering without signalling the end: the frame
// thread hangs in the first frame, so the counter stands still. After more
// than 12 checks without a new frame the run goes on to the export with the
// stills it has.
TEST_F(OpenClip, StalledStreamGoesOnToTheExport) {
    using Clock = std::chrono::steady_clock;
    constexpr std::chrono::milliseconds kStall{200};
    ConversionHooks hooks = PipelineHooks(pipeline, app);
    std::atomic<int> calls{0};
    auto convert = hooks.convertFrame;
    hooks.convertFrame = [&, convert](double time, const uint8_t* data, int32_t size) -> const FrameBuffer* {
        const int call = calls++;
        if (call == 1) {
            // The second frame hangs 25 stall limits: the watch gives up
            // long before (the driver's removal of the frame callback then
            // waits for this call to return).
            const Clock::time_point until = Clock::now() + 25 * kStall;
            testing::WaitFor([&] { return Clock::now() >= until; }, std::chrono::seconds(60));
        }
        // Frames after the hang are refused, so the count is exact.
        return call <= 1 ? convert(time, data, size) : nullptr;
    };
    // A check that still sees no frame at all (a slow start, as under
    // ThreadSanitizer) waits until the first frame is done, so the stall
    // rule cannot fire before any frame arrived.
    struct SlowStart : RecordingUserInterface {
        std::atomic<int>& calls;
        explicit SlowStart(std::atomic<int>& c) : calls(c) {}
        void SetCurrentFrame(int32_t n) override {
            if (n == 0) testing::WaitFor([&] { return calls.load() >= 2; }, std::chrono::seconds(60));
            RecordingUserInterface::SetCurrentFrame(n);
        }
    } watchUi(calls);

    ConversionOptions options;
    options.timings = ConversionTimings{.blink = std::chrono::milliseconds(1), .stallLimit = kStall};
    const ConversionResult result = RunConversion(app, watchUi, source, hooks, {(dir / "out.mp4").string()}, options);
    loader.join();
    EXPECT_EQ(result.status, ConversionStatus::kDone);
    EXPECT_EQ(result.frames, 2);  // the first, and the one that hung
    ASSERT_EQ(result.exports.size(), 1u);
    EXPECT_TRUE(result.exports[0].written) << result.exports[0].error;
}

}  // namespace
}  // namespace tessaly
