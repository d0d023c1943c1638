// VideoStream against FFmpeg's own view of the test clips (ffprobe): facts,
// orientation, delivery of every frame once, pause, seek and end of stream.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include "tests/video/test_clips.h"
#include "video/video_stream.h"

namespace tessaly {
namespace {

using namespace std::chrono_literals;
using testing::CountedFrames;
using testing::FfmpegClip;
using testing::WaitFor;
using testing::FisheyeClip;
using testing::ProbeVideoEntry;

bool WaitForComplete(VideoStream& stream, std::chrono::milliseconds limit = 20s) {
    return WaitFor([&] {
        int32_t code = 0;
        while (stream.GetEvent(code))
            if (code == kEventComplete) return true;
        return false;
    }, limit);
}

double RateOf(const std::string& text) {
    const auto slash = text.find('/');
    if (slash == std::string::npos) return std::atof(text.c_str());
    const double den = std::atof(text.c_str() + slash + 1);
    return den == 0 ? 0 : std::atof(text.substr(0, slash).c_str()) / den;
}

struct Container {
    const char* name;
    const char* options;
};

// The containers and codecs of the open chooser's list, small and short.
const Container kContainers[] = {
    {"fish-h264.mp4", "--size 192x144 --duration 1 --audio --vcodec libx264"},
    {"fish-mjpeg.avi", "--size 192x144 --duration 1 --vcodec mjpeg"},
    {"fish-mpeg4.mov", "--size 192x144 --duration 1 --audio --vcodec mpeg4"},
    {"fish-mpeg2.mpg", "--size 192x144 --duration 1 --vcodec mpeg2video"},
    {"fish-h264.m2ts", "--size 192x144 --duration 1 --audio --vcodec libx264"},
    {"fish-wmv2.asf", "--size 192x144 --duration 1 --vcodec wmv2"},
    {"fish-ntsc.mp4", "--size 176x144 --fps 30000/1001 --duration 1 --vcodec libx264"},
};

class ContainerTest : public ::testing::TestWithParam<Container> {};

TEST_P(ContainerTest, FactsMatchFfprobe) {
    const std::string clip = FisheyeClip(GetParam().name, GetParam().options);
    VideoStream stream;
    ASSERT_EQ(stream.Open(clip), StreamError::kNone);
    const MediaInfo info = stream.Info();

    EXPECT_EQ(info.frameWidth, std::atoi(ProbeVideoEntry(clip, "stream=width").c_str()));
    EXPECT_EQ(info.frameHeight, std::atoi(ProbeVideoEntry(clip, "stream=height").c_str()));
    EXPECT_EQ(info.sampleSize, info.frameWidth * info.frameHeight * 4);
    const double fps = RateOf(ProbeVideoEntry(clip, "stream=avg_frame_rate"));
    ASSERT_GT(fps, 0);
    EXPECT_NEAR(static_cast<double>(info.avgTimePerFrame), 1e7 / fps, 0.5);

    std::string duration = ProbeVideoEntry(clip, "stream=duration");
    if (duration.empty() || duration == "N/A") duration = ProbeVideoEntry(clip, "format=duration");
    EXPECT_NEAR(info.durationSeconds, std::atof(duration.c_str()), 1e-6) << duration;
    EXPECT_DOUBLE_EQ(info.durationSeconds, static_cast<double>(info.durationTicks) / 1e7);
    EXPECT_EQ(info.frameCount,
              static_cast<int32_t>(std::floor(static_cast<long double>(info.durationTicks) /
                                              static_cast<long double>(info.avgTimePerFrame))));
    EXPECT_EQ(info.canStep, 1);
    EXPECT_EQ(info.videoPath, clip);
}

// The driver's sequence: preview a little, pause, rewind, install the
// callback, mute, run, wait for the end. Every frame arrives once, in order.
TEST_P(ContainerTest, ConversionDeliversEveryFrameOnceInOrder) {
    const std::string clip = FisheyeClip(GetParam().name, GetParam().options);
    const long expected = CountedFrames(clip);
    ASSERT_GT(expected, 0);

    VideoStream stream;
    ASSERT_EQ(stream.Open(clip), StreamError::kNone);
    const int32_t sampleSize = stream.Info().sampleSize;
    stream.Run();
    std::this_thread::sleep_for(60ms);
    stream.Pause();
    stream.SeekToStart();

    std::mutex m;
    std::vector<double> times;
    bool sizeOk = true;
    stream.SetFrameCallback([&](double t, const uint8_t* data, int32_t size) {
        std::lock_guard lock(m);
        times.push_back(t);
        sizeOk = sizeOk && data != nullptr && size == sampleSize;
    });
    stream.SetVolume(kVolumeSilence);
    stream.Run();
    ASSERT_TRUE(WaitForComplete(stream));
    stream.SetFrameCallback(nullptr);

    std::lock_guard lock(m);
    EXPECT_EQ(static_cast<long>(times.size()), expected);
    EXPECT_EQ(stream.FramesDelivered(), expected);
    EXPECT_TRUE(sizeOk);
    for (size_t i = 1; i < times.size(); ++i) {
        ASSERT_LT(times[i - 1], times[i]) << i;
    }
    ASSERT_FALSE(times.empty());
    EXPECT_NEAR(times.front(), 0.0, 1e-3);
    EXPECT_EQ(stream.CurrentPosition(), stream.Info().durationTicks);
}

INSTANTIATE_TEST_SUITE_P(Clips, ContainerTest, ::testing::ValuesIn(kContainers),
                         [](const auto& info) {
                             std::string n = info.param.name;
                             for (char& c : n)
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             return n;
                         });

// The open chooser lists more extensions than there are formats: the
// content decides, so each name opens as what it holds.
TEST(VideoStreamTest, EveryExtensionOfTheOpenListOpens) {
    const std::string dir = testing::TempFolder("extensions");
    const std::pair<const Container*, std::vector<const char*>> aliases[] = {
        {&kContainers[4], {".mts", ".m2t", ".tod"}},
        {&kContainers[2], {".qt"}},
        {&kContainers[3], {".mpeg"}},
    };
    for (const auto& [container, extensions] : aliases) {
        const std::string clip = FisheyeClip(container->name, container->options);
        for (const char* ext : extensions) {
            const std::string copy = dir + "/clip" + ext;
            std::filesystem::copy_file(clip, copy, std::filesystem::copy_options::overwrite_existing);
            VideoStream stream;
            ASSERT_EQ(stream.Open(copy), StreamError::kNone) << copy;
            EXPECT_EQ(stream.Info().frameWidth, 192) << copy;
            EXPECT_GT(stream.Info().frameCount, 0) << copy;
        }
    }
    std::filesystem::remove_all(dir);
}

// Red top-left corner on blue, stored losslessly as RGB: the first stored
// row must be the picture's bottom.
TEST(VideoStreamTest, FramesAreBottomUpBgrx) {
    const std::string clip = FfmpegClip(
        "corner-ffv1.avi",
        "-f lavfi -i color=c=blue:s=64x48:d=0.2:r=25,drawbox=x=0:y=0:w=16:h=12:color=red:t=fill,"
        "drawbox=x=48:y=36:w=16:h=12:color=lime:t=fill -pix_fmt bgr0 -c:v ffv1");
    VideoStream stream;
    ASSERT_EQ(stream.Open(clip), StreamError::kNone);
    const MediaInfo info = stream.Info();
    ASSERT_EQ(info.frameWidth, 64);
    ASSERT_EQ(info.frameHeight, 48);
    std::vector<uint8_t> frame(info.sampleSize + 64 * 4);
    ASSERT_EQ(stream.GetCurrentBuffer(frame.data(), static_cast<int32_t>(frame.size())),
              info.sampleSize);
    auto px = [&](int x, int storedRow) { return &frame[(storedRow * 64 + x) * 4]; };
    auto expectColour = [&](int x, int row, int b, int g, int r) {
        EXPECT_NEAR(px(x, row)[0], b, 6) << x << "," << row;
        EXPECT_NEAR(px(x, row)[1], g, 6) << x << "," << row;
        EXPECT_NEAR(px(x, row)[2], r, 6) << x << "," << row;
    };
    // Stored row 47 is the top: red at its left (bytes B, G, R).
    expectColour(0, 47, 0, 0, 255);
    expectColour(63, 47, 255, 0, 0);
    // Stored row 0 is the bottom: green at its right, blue at its left.
    expectColour(63, 0, 0, 255, 0);
    expectColour(0, 0, 255, 0, 0);

    // A buffer smaller than a frame gets nothing.
    EXPECT_EQ(stream.GetCurrentBuffer(frame.data(), info.sampleSize - 1), 0);
    stream.Close();
    EXPECT_EQ(stream.GetCurrentBuffer(frame.data(), info.sampleSize), 0);
}

TEST(VideoStreamTest, PreviewPlaysAtTheFileRateAndPauses) {
    const std::string clip = FisheyeClip("fish-2s.mp4", "--size 160x120 --duration 2 --vcodec libx264");
    VideoStream stream;
    ASSERT_EQ(stream.Open(clip), StreamError::kNone);
    EXPECT_EQ(stream.CurrentPosition(), 0);
    stream.Run();
    ASSERT_TRUE(WaitFor([&] { return stream.CurrentPosition() > 0; }));
    std::this_thread::sleep_for(200ms);
    stream.Pause();
    // A frame already on its way when Pause came may still land.
    std::this_thread::sleep_for(50ms);
    const int64_t paused = stream.CurrentPosition();
    // Playing flat out would have reached the end of the 2-second clip long ago.
    EXPECT_LT(paused, 12'000'000);
    std::this_thread::sleep_for(150ms);
    EXPECT_EQ(stream.CurrentPosition(), paused);
    int32_t code = 0;
    EXPECT_FALSE(stream.GetEvent(code));

    // Seek to 0 while paused shows the first frame again.
    stream.SeekToStart();
    EXPECT_EQ(stream.CurrentPosition(), 0);
    stream.Run();
    ASSERT_TRUE(WaitFor([&] { return stream.CurrentPosition() > 0; }));
    EXPECT_LT(stream.CurrentPosition(), paused + 3'000'000);
}

TEST(VideoStreamTest, EndOfStreamIsSignalledOnceAndClearedBySeek) {
    const std::string clip = FisheyeClip("fish-h264.mp4", kContainers[0].options);
    VideoStream stream;
    ASSERT_EQ(stream.Open(clip), StreamError::kNone);
    stream.SetFrameCallback([](double, const uint8_t*, int32_t) {});
    stream.Run();
    ASSERT_TRUE(WaitForComplete(stream));
    std::this_thread::sleep_for(30ms);
    int32_t code = 0;
    EXPECT_FALSE(stream.GetEvent(code)) << "posted twice";

    // A completion left over from before a rewind must not end the next run.
    stream.Pause();
    stream.SeekToStart();
    EXPECT_FALSE(stream.GetEvent(code));
    stream.Run();
    ASSERT_TRUE(WaitForComplete(stream));
    EXPECT_EQ(stream.FramesDelivered(), CountedFrames(clip));
}

class RecordingSink : public AudioSink {
public:
    void WriteSamples(const int16_t* samples, int frames) override {
        total += frames;
        for (int i = 0; i < frames * 2; ++i) peak = std::max(peak, std::abs(int{samples[i]}));
    }
    std::atomic<long> total{0};
    int peak = 0;  // written on the decoding thread only, read after Close
};

TEST(VideoStreamTest, SoundGoesToTheSinkUnlessMuted) {
    const std::string clip = FisheyeClip("fish-h264.mp4", kContainers[0].options);
    RecordingSink sink;
    {
        VideoStream stream;
        stream.SetAudioSink(&sink);
        ASSERT_EQ(stream.Open(clip), StreamError::kNone);
        stream.SetFrameCallback([](double, const uint8_t*, int32_t) {});
        stream.Run();
        ASSERT_TRUE(WaitForComplete(stream));
        stream.Close();
    }
    // One second of a 440 Hz tone at 44,100 Hz.
    EXPECT_NEAR(static_cast<double>(sink.total.load()), 44100.0, 44100.0 * 0.1);
    EXPECT_GT(sink.peak, 1000);

    RecordingSink muted;
    VideoStream stream;
    stream.SetAudioSink(&muted);
    stream.SetVolume(kVolumeSilence);
    ASSERT_EQ(stream.Open(clip), StreamError::kNone);
    stream.SetFrameCallback([](double, const uint8_t*, int32_t) {});
    stream.Run();
    ASSERT_TRUE(WaitForComplete(stream));
    EXPECT_EQ(muted.total.load(), 0);
}

TEST(VideoStreamTest, OperationsOnAClosedStreamDoNothing) {
    VideoStream stream;
    stream.Run();
    stream.Pause();
    stream.SeekToStart();
    stream.Stop();
    int32_t code = 0;
    EXPECT_FALSE(stream.GetEvent(code));
    EXPECT_FALSE(stream.IsOpen());
    EXPECT_EQ(stream.CurrentPosition(), 0);
    EXPECT_EQ(stream.Open("/nonexistent/clip.mp4"), StreamError::kSourceOpen);
    EXPECT_FALSE(stream.IsOpen());
}

}  // namespace
}  // namespace tessaly
