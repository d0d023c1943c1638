// The open movie as the program drives it: OpenAndPlay, the stream loop, the
// labels, the log, the parameter file, a second open while a stream runs,
// and damaged or unsuitable files.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "app/app_state.h"
#include "app/format.h"
#include "app/startup.h"
#include "app/user_interface.h"
#include "playback/video_source.h"
#include "tests/video/test_clips.h"
#include "video/stream_text.h"
#include "tests/recording_user_interface.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::FisheyeClip;
using testing::ReadFile;
using testing::WaitFor;

constexpr const char* kSourceError = "message Error | AddSourceFilte Error";

// Short waits for the tests: `settle` for an older stream, `connect` for
// the opening (a slow disk when long).
StreamTimings Timings(int settle, int connect) {
    return StreamTimings{.stopOlderStream = settle, .settleOlderStream = settle, .afterStream = settle,
                         .connect = connect, .beforeLoop = connect, .previewTurn = 2, .convertingTurn = 2,
                         .afterStop = settle / 2};
}

class VideoSourceTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = testing::TempFolder("source");
        app_.env.programDir = dir_ + "/";
        app_.env.log.SetPath(dir_ + "/Tessaly_mono.log");
        source_.SetTimings(Timings(10, 0));
        StreamHooks hooks;
        hooks.previewPass = [this] { ++previewPasses_; };
        hooks.allocateFrameBuffers = [this](const MediaInfo&) { ++allocations_; };
        hooks.invalidateGeometry = [] {};
        source_.SetHooks(hooks);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::vector<std::string> LogLines() const {  // CR LF ended
        const std::string text = ReadFile(dir_ + "/Tessaly_mono.log");
        std::vector<std::string> lines;
        for (size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
            lines.push_back(text.substr(start, end - start));
        return lines;
    }
    bool Logged(const std::string& line) const {
        const auto lines = LogLines();
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }

    struct Outcome {
        bool opened = false;
        bool ended = false;              // the end-of-stream event came
        std::vector<std::string> calls;  // what the interface was told
    };

    // RunVideoStream on a worker thread; a stream that comes up is played
    // through as a conversion does and then ended by streamState = StreamState::Stopped.
    Outcome RunOnce(const std::string& path) {
        Outcome out;
        const size_t before = ui_.Calls().size();
        std::atomic<bool> done{false};
        std::thread worker([&] {
            source_.RunVideoStream(path);
            done = true;
        });
        WaitFor([&] { return done.load() || app_.run.streamState == StreamState::Running; });
        if (!done && app_.run.streamState == StreamState::Running) {
            out.opened = true;
            app_.run.converting = true;
            VideoStream& s = source_.Stream();
            s.Hold();
            s.SeekToStart();
            s.SetFrameCallback([](double, const uint8_t*, int32_t) {});
            s.SetSoundMuted(true);
            s.Play();
            out.ended = testing::WaitForComplete(s);
            s.SetFrameCallback(nullptr);
            app_.run.streamState = StreamState::Stopped;
        }
        EXPECT_TRUE(WaitFor([&] { return done.load(); })) << path << " did not tear down";
        worker.join();
        app_.run.converting = false;
        const auto calls = ui_.Calls();
        out.calls.assign(calls.begin() + static_cast<long>(before), calls.end());
        return out;
    }

    std::string dir_;
    FisheyeApp app_;
    RecordingUserInterface ui_;
    VideoSource source_{app_, ui_};
    std::atomic<int> previewPasses_{0}, allocations_{0};
};

// Shutdown may come at any moment of an opening (a stop signal while the
// movie opens): the stream never starts playing after it, and OpenAndPlay
// returns. The first case is Shutdown just before the loader starts, whose
// streamState = StreamState::Stopped the opening then overwrote.
TEST_F(VideoSourceTest, ShutdownDuringTheOpeningEndsTheStream) {
    const std::string clip = FisheyeClip("fish-h264.mp4");
    for (int delayUs : {-1, 0, 300, 1000, 3000, 10000, 30000}) {
        SCOPED_TRACE("Shutdown after " + std::to_string(delayUs) + " us");
        FisheyeApp app;
        app.env.programDir = dir_ + "/";
        RecordingUserInterface ui;
        VideoSource source(app, ui);
        source.SetTimings(Timings(0, 0));
        source.SetParamFileFolder(dir_);
        source.RegisterShutdownHooks(std::chrono::seconds(20));
        if (delayUs < 0) Shutdown(app);
        std::atomic<bool> done{false};
        std::thread loader([&] {
            source.OpenAndPlay(clip);
            done = true;
        });
        if (delayUs >= 0) {
            std::this_thread::sleep_for(std::chrono::microseconds(delayUs));
            Shutdown(app);
        }
        EXPECT_TRUE(WaitFor([&] { return done.load(); }, 10s));
        app.run.streamState = StreamState::Stopped;  // frees a loop that missed the shutdown
        loader.join();
        EXPECT_EQ(source.streamActive, 0);
    }
}

TEST_F(VideoSourceTest, OpenPreviewAndCloseWriteTheLogLabelsAndParamFile) {
    const std::string clip = FisheyeClip("fish-h264.mp4");
    std::thread worker([&] { source_.OpenAndPlay(clip); });
    ASSERT_TRUE(WaitFor([&] { return app_.run.streamState == StreamState::Running && source_.streamActive == 1; }));
    // The preview plays to the end of the one-second clip: the bar reaches 598.
    ASSERT_TRUE(WaitFor([&] {
        const auto calls = ui_.Calls();
        return std::find(calls.begin(), calls.end(), "bar 598") != calls.end();
    }, 10s));
    EXPECT_EQ(source_.videoOpen, 1);
    // A second RunVideoStream while one is active does nothing.
    const size_t linesBefore = LogLines().size();
    EXPECT_EQ(source_.RunVideoStream(clip), 0);
    EXPECT_EQ(LogLines().size(), linesBefore);
    app_.run.streamState = StreamState::Stopped;
    worker.join();

    const double seconds = std::atof(testing::ProbeVideoEntry(clip, "stream=duration").c_str());
    EXPECT_EQ(LogLines(), (std::vector<std::string>{"OS_ASPECT = 0", "Render file:" + clip,
                                                    "Video File Duration = " + FormatNumber(seconds),
                                                    "Frame Size = 192x144", "getTimePerFrame = 0.04", "FPS = 25.00",
                                                    "numframes = 25", "File exit Ok", "AVIREAD"}));

    const auto calls = ui_.Calls();
    ASSERT_GE(calls.size(), 5u);
    EXPECT_EQ(std::vector<std::string>(calls.begin(), calls.begin() + 3),
              (std::vector<std::string>{"switches 1 1", "bar 1", "facts  " + clip + " |192x144|25.00 fps|25|00:00:01"}));
    EXPECT_EQ(calls[calls.size() - 2], "placeholders");
    EXPECT_EQ(calls.back(), "bar 1");
    for (const auto& c : calls) EXPECT_EQ(c.rfind("message", 0), std::string::npos) << c;

    const auto bytes = FisheyeParamBytes(MediaTime{400'000}, seconds);
    EXPECT_EQ(ReadFile(dir_ + "/param_fisheye.bin"), std::string(bytes.begin(), bytes.end()));

    EXPECT_EQ(allocations_, 1);
    EXPECT_GT(previewPasses_, 0);
    EXPECT_EQ(source_.streamActive, 0);
    EXPECT_EQ(source_.videoOpen, 0);
    EXPECT_FALSE(source_.Stream().IsOpen());
}

TEST_F(VideoSourceTest, ASecondOpenEndsTheRunningStreamFirst) {
    const std::string first = FisheyeClip("fish-mjpeg.avi");
    const std::string second = FisheyeClip("fish-h264.mp4");
    std::atomic<bool> firstDone{false};
    std::thread a([&] {
        source_.OpenAndPlay(first);
        firstDone = true;
    });
    ASSERT_TRUE(WaitFor([&] { return app_.run.streamState == StreamState::Running && source_.streamActive == 1; }));
    std::thread b([&] { source_.OpenAndPlay(second); });
    ASSERT_TRUE(WaitFor([&] { return app_.run.streamState == StreamState::Running && Logged("Render file:" + second); }));
    EXPECT_TRUE(WaitFor([&] { return firstDone.load(); }));
    a.join();
    EXPECT_EQ(source_.streamActive, 1);
    app_.run.streamState = StreamState::Stopped;
    b.join();

    // The first stream has logged its exit before the second one starts.
    std::vector<std::string> order;
    for (const auto& l : LogLines())
        if (l.rfind("Render file:", 0) == 0 || l == "File exit Ok" || l == "AVIREAD") order.push_back(l);
    EXPECT_EQ(order, (std::vector<std::string>{"Render file:" + first, "File exit Ok", "AVIREAD", "Render file:" + second,
                                               "File exit Ok", "AVIREAD"}));
}

// A second OpenAndPlay while the first file is still opening (the slow waits of
// the open stand for a slow disk): the first stream gives up, the file chosen
// last plays, and nothing hangs.
TEST_F(VideoSourceTest, ASecondOpenDuringTheFirstOpeningPlaysTheLastFile) {
    source_.SetTimings(Timings(10, 400));
    const std::string first = FisheyeClip("fish-mjpeg.avi");
    const std::string second = FisheyeClip("fish-h264.mp4");
    std::atomic<bool> firstDone{false};
    std::thread a([&] {
        source_.OpenAndPlay(first);
        firstDone = true;
    });
    ASSERT_TRUE(WaitFor([&] { return Logged("Render file:" + first); }));
    ASSERT_EQ(app_.run.streamState, StreamState::Stopped);  // still opening: the loop has not begun
    std::thread b([&] { source_.OpenAndPlay(second); });
    EXPECT_TRUE(WaitFor([&] { return firstDone.load(); }, 5s));
    EXPECT_TRUE(WaitFor([&] { return app_.run.streamState == StreamState::Running && source_.VideoPath() == second; }, 5s));
    EXPECT_EQ(source_.Info().videoPath.empty() ? second : source_.VideoPath(), second);
    app_.run.streamState = StreamState::Stopped;
    a.join();
    b.join();
}

// Unusable files fail with their message; truncated and bit-flipped copies
// of real clips either play to their end or fail with a known message. All
// tear down. (Run under AddressSanitizer in CI.)
TEST_F(VideoSourceTest, BadAndDamagedFilesGiveAMessageAndATeardown) {
    ASSERT_TRUE(RunOnce(FisheyeClip("fish-h264.mp4")).opened);
    const MediaInfo goodInfo = source_.Info();
    auto checkTeardown = [&](const Outcome& out, const std::string& path) {
        EXPECT_EQ(LogLines().back(), "File exit Ok") << path;
        EXPECT_EQ(source_.streamActive, 0) << path;
        ASSERT_GE(out.calls.size(), 2u) << path;
        EXPECT_EQ(out.calls[out.calls.size() - 2], "placeholders") << path;
        EXPECT_EQ(out.calls.back(), "bar 1") << path;
    };

    const std::string empty = dir_ + "/empty.mp4", text = dir_ + "/notes.mp4";
    std::ofstream(empty).close();
    std::ofstream(text) << "This is not a movie, only a few words of text.\n";
    const std::pair<std::string, std::string> bad[] = {
        // The specified text, then the reason tessaly-convert gives too.
        {dir_ + "/missing.mp4", std::string(kSourceError) + "\r\nnot a movie that can be read (No such file or directory)"},
        {empty, std::string(kSourceError) + "\r\nnot a movie that can be read (Invalid data found when processing input)"},
        {text, std::string(kSourceError) + "\r\nnot a movie that can be read (Invalid data found when processing input)"},
        {dir_, std::string(kSourceError) + "\r\nnot a movie that can be read (Is a directory)"},
        {testing::FfmpegClip("tone.m4a", "-f lavfi -i sine=frequency=440:duration=0.5 -c:a aac"),
         "message Error | Unsupported media type!\r\nno video stream"},
    };
    for (const auto& [path, message] : bad) {
        const Outcome out = RunOnce(path);
        EXPECT_FALSE(out.opened) << path;
        EXPECT_EQ(out.calls, (std::vector<std::string>{"bar 1", message, "placeholders", "bar 1"})) << path;
        checkTeardown(out, path);
    }
    // Failed opens keep the facts and the buffers of the last good movie.
    EXPECT_EQ(source_.Info().videoPath, goodInfo.videoPath);
    EXPECT_EQ(source_.Info().duration, goodInfo.duration);
    EXPECT_EQ(allocations_, 1);

    std::mt19937 random(20261206);
    int opened = 0, failed = 0;
    for (const std::string name :
         {"fish-h264.mp4", "fish-mpeg2.mpg", "fish-mjpeg.avi", "fish-h264.m2ts", "fish-wmv2.asf"}) {
        const std::string bytes = ReadFile(FisheyeClip(name));
        std::vector<std::string> copies;
        for (double cut : {0.002, 0.01, 0.05, 0.2, 0.5, 0.8, 0.97})
            copies.push_back(bytes.substr(0, static_cast<size_t>(bytes.size() * cut)));
        for (int flips : {1, 4, 16, 64, 256, 1024}) {
            std::string copy = bytes;
            for (int i = 0; i < flips; ++i)
                copy[random() % copy.size()] ^= static_cast<char>(1u << (random() % 8));
            copies.push_back(copy);
        }
        for (size_t i = 0; i < copies.size(); ++i) {
            const std::string path =
                dir_ + "/damaged-" + std::to_string(i) + fs::path(name).extension().string();
            std::ofstream(path, std::ios::binary) << copies[i];
            const Outcome out = RunOnce(path);
            checkTeardown(out, path);
            if (out.opened) {
                ++opened;
                EXPECT_TRUE(out.ended) << path << ": no end of stream";
            } else {
                ++failed;
                EXPECT_EQ(std::count_if(out.calls.begin(), out.calls.end(),
                                        [](const std::string& c) { return c.rfind("message Error", 0) == 0; }),
                          1) << path;
            }
            fs::remove(path);
        }
    }
    EXPECT_GT(opened, 0);  // both roads were taken
    EXPECT_GT(failed, 0);
}

}  // namespace
}  // namespace tessaly
