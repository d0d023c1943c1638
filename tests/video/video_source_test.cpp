// The open movie as the program drives it: AVIREAD, the stream loop with
// its flags, the labels, the log, the parameter file, a second open while a
// stream runs, and damaged or unsuitable files.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <thread>

#include "app/app_state.h"
#include "app/format.h"
#include "app/user_interface.h"
#include "tests/video/test_clips.h"
#include "video/stream_text.h"
#include "video/video_source.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::CountedFrames;
using testing::FfmpegClip;
using testing::WaitFor;
using testing::FisheyeClip;
using testing::ProbeVideoEntry;
using testing::TempFolder;

constexpr const char* kMp4Options = "--size 192x144 --duration 1 --audio --vcodec libx264";

std::string ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(f)), {});
}

std::vector<std::string> SplitCrLf(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0, end;
    while ((end = text.find("\r\n", start)) != std::string::npos) {
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

class VideoSourceTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = TempFolder("source");
        app_.programDir = dir_ + "/";
        app_.log.SetPath(dir_ + "/Tessaly_mono.log");
        StreamTimings fast;
        fast.stopOlderStream = 10;
        fast.settleOlderStream = 10;
        fast.afterStream = 10;
        fast.connect = 0;
        fast.beforeLoop = 0;
        fast.previewTurn = 2;
        fast.convertingTurn = 2;
        fast.afterStop = 5;
        source_.SetTimings(fast);
        source_.SetHooks(StreamHooks{
            [this] {
                ++previewPasses_;
                grabbed_ += source_.Stream().GetCurrentBuffer(
                                grab_.data(), static_cast<int32_t>(grab_.size())) > 0;
            },
            [this](const MediaInfo& info) {
                ++allocations_;
                // A spare row, as the frame pipeline keeps one.
                grab_.assign(static_cast<size_t>(info.frameWidth) * (info.frameHeight + 1) * 4, 0);
            },
            [this] { ++invalidations_; },
        });
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::vector<std::string> LogLines() const { return SplitCrLf(ReadFile(dir_ + "/Tessaly_mono.log")); }

    // Plays the opened stream through once the way a conversion does and
    // returns the number of frames the callback got; -1 when no end came.
    long ConvertOpenStream() {
        app_.converting = 1;
        VideoStream& s = source_.Stream();
        s.Pause();
        s.SeekToStart();
        std::atomic<long> frames{0};
        s.SetFrameCallback([&](double, const uint8_t*, int32_t) { ++frames; });
        s.SetVolume(kVolumeSilence);
        s.Run();
        const bool ended = WaitFor([&] {
            int32_t code = 0;
            while (s.GetEvent(code))
                if (code == kEventComplete) return true;
            return false;
        });
        s.SetFrameCallback(nullptr);
        return ended ? frames.load() : -1;
    }

    struct Outcome {
        bool opened = false;
        long frames = 0;
        bool finished = false;
    };

    // RunVideoStream on a worker thread; when the stream comes up it is
    // converted to its end and then ended by streamState = 0.
    Outcome RunOnce(const std::string& path, bool convert = true) {
        Outcome out;
        std::atomic<bool> done{false};
        std::thread worker([&] {
            source_.RunVideoStream(path);
            done = true;
        });
        WaitFor([&] { return done.load() || app_.streamState == 1; });
        if (!done && app_.streamState == 1) {
            out.opened = true;
            if (convert) out.frames = ConvertOpenStream();
            app_.streamState = 0;
        }
        out.finished = WaitFor([&] { return done.load(); });
        worker.join();
        app_.converting = 0;
        return out;
    }

    std::string dir_;
    FisheyeApp app_;
    RecordingUserInterface ui_;
    VideoSource source_{app_, ui_};
    std::vector<uint8_t> grab_;
    std::atomic<int> previewPasses_{0};
    std::atomic<int> grabbed_{0};
    std::atomic<int> allocations_{0};
    std::atomic<int> invalidations_{0};
};

TEST_F(VideoSourceTest, OpenPreviewAndCloseWriteTheLogLabelsAndParamFile) {
    const std::string clip = FisheyeClip("fish-h264.mp4", kMp4Options);
    std::thread worker([&] { source_.AVIREAD(clip); });
    ASSERT_TRUE(WaitFor([&] { return app_.streamState == 1 && source_.streamActive == 1; }));
    // The preview plays to the end of the one-second clip: the bar reaches 598.
    ASSERT_TRUE(WaitFor([&] {
        const auto calls = ui_.Calls();
        return std::find(calls.begin(), calls.end(), "bar 598") != calls.end();
    }, 10s));
    EXPECT_EQ(source_.videoOpen, 1);
    // A second RunVideoStream while one is active does nothing and shows nothing.
    const size_t callsBefore = ui_.Calls().size();
    const size_t linesBefore = LogLines().size();
    EXPECT_EQ(source_.RunVideoStream(clip), 0);
    EXPECT_EQ(LogLines().size(), linesBefore);
    const auto callsNow = ui_.Calls();
    for (size_t i = callsBefore; i < callsNow.size(); ++i)
        EXPECT_EQ(callsNow[i].rfind("bar ", 0), 0u) << callsNow[i];  // only the loop's own bar moves
    app_.streamState = 0;
    worker.join();

    std::string duration = ProbeVideoEntry(clip, "stream=duration");
    const double seconds = std::atof(duration.c_str());
    const std::vector<std::string> expected = {
        "OS_ASPECT = 0",
        "Render file:" + clip,
        "Video File Duration = " + FormatNumber(seconds),
        "Frame Size = 192x144",
        "getTimePerFrame = 0.04",
        "FPS = 25.00",
        "numframes = 25",
        "File exit Ok",
        "AVIREAD",
    };
    EXPECT_EQ(LogLines(), expected);

    const auto calls = ui_.Calls();
    ASSERT_GE(calls.size(), 10u);
    const std::vector<std::string> opening = {
        "check 511 1", "check 512 1", "bar 1",
        "label 303  " + clip + " ", "label 304 192x144", "label 305 25.00 fps",
        "label 306 25", "label 409 00:00:01",
    };
    EXPECT_EQ(std::vector<std::string>(calls.begin(), calls.begin() + 8), opening);
    EXPECT_EQ(calls[calls.size() - 2], "placeholders");
    EXPECT_EQ(calls.back(), "bar 1");
    for (const auto& c : calls) EXPECT_EQ(c.rfind("message", 0), std::string::npos) << c;

    const auto bytes = FisheyeParamBytes(400'000, seconds);
    EXPECT_EQ(ReadFile(dir_ + "/param_fisheye.bin"), std::string(bytes.begin(), bytes.end()));

    EXPECT_EQ(allocations_, 1);
    EXPECT_EQ(invalidations_, 2);  // at the start and just before the loop
    EXPECT_GT(previewPasses_, 0);
    EXPECT_EQ(grabbed_, previewPasses_);
    EXPECT_TRUE(std::any_of(grab_.begin(), grab_.end(), [](uint8_t b) { return b != 0; }));
    EXPECT_EQ(app_.frameWidth, 192);
    EXPECT_EQ(app_.frameHeight, 144);
    EXPECT_EQ(source_.streamActive, 0);
    EXPECT_EQ(source_.videoOpen, 0);
    EXPECT_FALSE(source_.Stream().IsOpen());
    EXPECT_EQ(source_.Info().frameCount, 25);
}

TEST_F(VideoSourceTest, AConversionGetsEveryFrameAndTheLoopOnlyIdles) {
    const std::string clip = FisheyeClip("fish-mpeg2.mpg", "--size 192x144 --duration 1 --vcodec mpeg2video");
    std::atomic<bool> done{false};
    std::thread worker([&] {
        source_.AVIREAD(clip);
        done = true;
    });
    ASSERT_TRUE(WaitFor([&] { return app_.streamState == 1; }));
    ASSERT_TRUE(WaitFor([&] { return previewPasses_ > 0; }));
    const long frames = ConvertOpenStream();
    const int passesAfter = previewPasses_;
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(previewPasses_, passesAfter) << "no preview while converting";
    EXPECT_EQ(frames, CountedFrames(clip));
    EXPECT_FALSE(done);

    // A stop request ends the loop even while streamState is still 1.
    app_.stopRequested = 1;
    ASSERT_TRUE(WaitFor([&] { return done.load(); }));
    worker.join();
    EXPECT_EQ(LogLines().back(), "AVIREAD");
    EXPECT_EQ(LogLines()[LogLines().size() - 2], "File exit Ok");
}

TEST_F(VideoSourceTest, ASecondOpenEndsTheRunningStreamFirst) {
    const std::string first = FisheyeClip("fish-mjpeg.avi", "--size 192x144 --duration 1 --vcodec mjpeg");
    const std::string second = FisheyeClip("fish-h264.mp4", kMp4Options);
    std::atomic<bool> firstDone{false};
    std::thread a([&] {
        source_.AVIREAD(first);
        firstDone = true;
    });
    ASSERT_TRUE(WaitFor([&] { return app_.streamState == 1 && source_.streamActive == 1; }));
    std::thread b([&] { source_.AVIREAD(second); });
    auto renders = [&] {
        const auto lines = LogLines();
        return std::count_if(lines.begin(), lines.end(),
                             [](const std::string& l) { return l.rfind("Render file:", 0) == 0; });
    };
    ASSERT_TRUE(WaitFor([&] { return renders() == 2 && app_.streamState == 1; }));
    EXPECT_TRUE(WaitFor([&] { return firstDone.load(); }));
    a.join();
    EXPECT_EQ(source_.Info().videoPath, second);
    EXPECT_EQ(source_.streamActive, 1);
    app_.streamState = 0;
    b.join();

    const auto lines = LogLines();
    const auto at = [&](const std::string& text, size_t from) {
        return std::find(lines.begin() + static_cast<long>(from), lines.end(), text) - lines.begin();
    };
    const size_t firstExit = static_cast<size_t>(at("File exit Ok", 0));
    const size_t secondRender = static_cast<size_t>(at("Render file:" + second, 0));
    ASSERT_LT(firstExit, lines.size());
    EXPECT_LT(at("Render file:" + first, 0), firstExit);
    EXPECT_EQ(lines[firstExit + 1], "AVIREAD");
    EXPECT_GT(secondRender, firstExit + 1);
    EXPECT_EQ(lines[lines.size() - 2], "File exit Ok");
    EXPECT_EQ(lines.back(), "AVIREAD");
}

struct BadFile {
    const char* name;
    const char* message;
};

TEST_F(VideoSourceTest, UnusableFilesGiveTheirMessageAndATeardown) {
    const std::string good = FisheyeClip("fish-h264.mp4", kMp4Options);
    ASSERT_TRUE(RunOnce(good, false).opened);
    const MediaInfo goodInfo = source_.Info();

    const std::string empty = dir_ + "/empty.mp4";
    std::ofstream(empty).close();
    const std::string text = dir_ + "/notes.mp4";
    std::ofstream(text) << "This is not a movie, only a few words of text.\n";
    const std::string audioOnly =
        FfmpegClip("tone.m4a", "-f lavfi -i sine=frequency=440:duration=0.5 -c:a aac");
    const std::pair<std::string, std::string> cases[] = {
        {dir_ + "/missing.mp4", "message Error | AddSourceFilte Error"},
        {empty, "message Error | AddSourceFilte Error"},
        {text, "message Error | AddSourceFilte Error"},
        {dir_, "message Error | AddSourceFilte Error"},
        {audioOnly, "message Error | Unsupported media type!"},
    };
    for (const auto& [path, message] : cases) {
        const size_t before = ui_.Calls().size();
        const Outcome out = RunOnce(path);
        EXPECT_FALSE(out.opened) << path;
        EXPECT_TRUE(out.finished) << path;
        const auto calls = ui_.Calls();
        const std::vector<std::string> tail(calls.begin() + static_cast<long>(before), calls.end());
        const std::vector<std::string> expected = {"bar 1", message, "placeholders", "bar 1"};
        EXPECT_EQ(tail, expected) << path;
        EXPECT_EQ(LogLines().back(), "File exit Ok");
        EXPECT_EQ(source_.streamActive, 0);
    }
    // Failed opens keep the facts and the buffers of the last good movie.
    EXPECT_EQ(source_.Info().videoPath, goodInfo.videoPath);
    EXPECT_EQ(source_.Info().durationTicks, goodInfo.durationTicks);
    EXPECT_EQ(allocations_, 1);
}

// Truncated and bit-flipped copies of real clips: each either opens and
// plays to its end or fails with one of the known messages, and always
// tears down. (Run under AddressSanitizer in CI.)
TEST_F(VideoSourceTest, DamagedCopiesNeverCrashOrHang) {
    const std::vector<std::string> originals = {
        FisheyeClip("fish-h264.mp4", kMp4Options),
        FisheyeClip("fish-mpeg2.mpg", "--size 192x144 --duration 1 --vcodec mpeg2video"),
        FisheyeClip("fish-mjpeg.avi", "--size 192x144 --duration 1 --vcodec mjpeg"),
        FisheyeClip("fish-h264.m2ts", kMp4Options),
        FisheyeClip("fish-wmv2.asf", "--size 192x144 --duration 1 --vcodec wmv2"),
    };
    const std::vector<std::string> known = {
        "message Error | AddSourceFilte Error", "message Error | Unsupported media type!",
        "message Error | AddFilter m_pNullRenderer", "message Error | Stream Error 010",
        "message Error | Stream Error 011",
        "message Error Monitoring | Format of the file is not support,\r\n"
        "or the movie can be opened by another app.\r\n ",
    };
    std::mt19937 random(20261206);
    int opened = 0, failed = 0;
    for (const std::string& original : originals) {
        const std::string bytes = ReadFile(original);
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
            const std::string path = dir_ + "/damaged-" + std::to_string(i) +
                                     fs::path(original).extension().string();
            std::ofstream(path, std::ios::binary) << copies[i];
            const size_t before = ui_.Calls().size();
            const Outcome out = RunOnce(path);
            ASSERT_TRUE(out.finished) << path;
            EXPECT_EQ(LogLines().back(), "File exit Ok") << path;
            EXPECT_EQ(source_.streamActive, 0);
            const auto calls = ui_.Calls();
            const std::vector<std::string> tail(calls.begin() + static_cast<long>(before), calls.end());
            ASSERT_GE(tail.size(), 2u);
            EXPECT_EQ(tail[tail.size() - 2], "placeholders");
            EXPECT_EQ(tail.back(), "bar 1");
            if (out.opened) {
                ++opened;
                EXPECT_GE(out.frames, 0) << path << ": no end of stream";
            } else {
                ++failed;
                const auto message = std::find_if(tail.begin(), tail.end(), [](const std::string& c) {
                    return c.rfind("message", 0) == 0;
                });
                ASSERT_NE(message, tail.end()) << path;
                EXPECT_NE(std::find(known.begin(), known.end(), *message), known.end()) << *message;
            }
            fs::remove(path);
        }
    }
    // Both roads were taken.
    EXPECT_GT(opened, 0);
    EXPECT_GT(failed, 0);
}

TEST_F(VideoSourceTest, ShutdownHooksStopTheStreamAndWaitForItsTeardown) {
    const std::string clip = FisheyeClip("fish-h264.mp4", kMp4Options);
    source_.RegisterShutdownHooks();
    std::thread worker([&] { source_.AVIREAD(clip); });
    ASSERT_TRUE(WaitFor([&] { return app_.streamState == 1; }));
    // What Shutdown does: flags, then its stop hooks, then its join hooks.
    app_.streamState = 0;
    app_.stopRequested = 1;
    app_.RunStopHooks();
    app_.RunJoinHooks();
    EXPECT_EQ(source_.streamActive, 0);
    EXPECT_FALSE(source_.Stream().IsOpen());
    worker.join();
    const auto lines = LogLines();
    EXPECT_EQ(lines[lines.size() - 2], "File exit Ok");
}

TEST_F(VideoSourceTest, ClearVideoInfoEmptiesTheLabelsAndTexts) {
    app_.fileInfoText = " Video file: a.mp4\r\n";
    ProbeTexts texts{"a", "b", "c", "d"};
    ClearVideoInfo(ui_, app_, &texts);
    const std::vector<std::string> expected = {"label 409 ", "label 309 ", "label 303 ", "label 304 ",
                                               "label 305 ", "label 306 ", "label 307 "};
    EXPECT_EQ(ui_.Calls(), expected);
    EXPECT_EQ(app_.fileInfoText, "");
    EXPECT_EQ(texts, ProbeTexts{});
}

TEST(StreamMessageTest, EveryFailureHasItsCaptionTextAndIcon) {
    const StreamMessage format = MessageForStreamError(StreamError::kFormat);
    EXPECT_EQ(format.caption, "Error Monitoring");
    EXPECT_EQ(format.text,
              "Format of the file is not support,\r\nor the movie can be opened by another app.\r\n ");
    EXPECT_EQ(format.icon, MessageIcon::Information);
    EXPECT_TRUE(format.ownerIsMainWindow);
    const StreamMessage source = MessageForStreamError(StreamError::kSourceOpen);
    EXPECT_EQ(source.caption, "Error");
    EXPECT_EQ(source.text, "AddSourceFilte Error");
    EXPECT_EQ(source.icon, MessageIcon::Error);
    EXPECT_FALSE(source.ownerIsMainWindow);
}

}  // namespace
}  // namespace tessaly
