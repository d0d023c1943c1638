// VideoStream against ffprobe's view of the test clips: facts, orientation,
// delivery of every frame once, pause, seek and end of stream.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "tests/video/test_clips.h"
#include "video/video_stream.h"

namespace tessaly {
namespace {

using namespace std::chrono_literals;
using testing::CountedFrames;
using testing::FisheyeClip;
using testing::ProbeVideoEntry;
using testing::WaitFor;
using testing::WaitForComplete;

class ContainerTest : public ::testing::TestWithParam<const char*> {};

TEST_P(ContainerTest, FactsMatchFfprobeAndConversionGetsEveryFrameOnce) {
    const std::string clip = FisheyeClip(GetParam());
    VideoStream stream;
    ASSERT_EQ(stream.Open(clip), StreamError::kNone);
    const MediaInfo info = stream.Info();
    EXPECT_EQ(info.frameWidth, std::atoi(ProbeVideoEntry(clip, "stream=width").c_str()));
    EXPECT_EQ(info.frameHeight, std::atoi(ProbeVideoEntry(clip, "stream=height").c_str()));
    EXPECT_EQ(info.sampleSize, info.frameWidth * info.frameHeight * 4);
    const std::string rate = ProbeVideoEntry(clip, "stream=avg_frame_rate");  // "num/den"
    const double fps = std::atof(rate.c_str()) / std::atof(rate.c_str() + rate.find('/') + 1);
    ASSERT_GT(fps, 0);
    EXPECT_NEAR(static_cast<double>(info.timePerFrame.count()), 1e7 / fps, 0.5);
    std::string duration = ProbeVideoEntry(clip, "stream=duration");
    if (duration.empty() || duration == "N/A") duration = ProbeVideoEntry(clip, "format=duration");
    EXPECT_NEAR(info.durationSeconds, std::atof(duration.c_str()), 1e-6) << duration;
    EXPECT_TRUE(info.seekable);

    // The driver's sequence: preview a little, pause, rewind, install the
    // callback, mute, run, wait for the end. Every frame arrives once, in order.
    const long expected = CountedFrames(clip);
    ASSERT_GT(expected, 0);
    const int32_t sampleSize = info.sampleSize;
    stream.Play();
    std::this_thread::sleep_for(60ms);
    stream.Hold();
    stream.SeekToStart();

    std::mutex m;
    std::vector<double> times;
    bool sizeOk = true;
    stream.SetFrameCallback([&](double t, const uint8_t* data, int32_t size) {
        std::lock_guard lock(m);
        times.push_back(t);
        sizeOk = sizeOk && data != nullptr && size == sampleSize;
    });
    stream.SetSoundMuted(true);
    stream.Play();
    ASSERT_TRUE(WaitForComplete(stream));
    {
        std::lock_guard lock(m);
        EXPECT_EQ(static_cast<long>(times.size()), expected);
        EXPECT_TRUE(sizeOk);
        for (size_t i = 1; i < times.size(); ++i) ASSERT_LT(times[i - 1], times[i]) << i;
        ASSERT_FALSE(times.empty());
        EXPECT_NEAR(times.front(), 0.0, 1e-3);
    }
    EXPECT_EQ(stream.FramesDelivered(), expected);
    EXPECT_EQ(stream.CurrentPosition(), stream.Info().duration);

    // The end is signalled once, and one left over from before a rewind
    // must not end the next run.
    std::this_thread::sleep_for(30ms);
    EXPECT_FALSE(stream.TakeMovieEnd()) << "posted twice";
    stream.Hold();
    stream.SeekToStart();
    EXPECT_FALSE(stream.TakeMovieEnd());
    stream.Play();
    ASSERT_TRUE(WaitForComplete(stream));
    EXPECT_EQ(stream.FramesDelivered(), expected);
    stream.SetFrameCallback(nullptr);
}

// The containers and codecs of the open chooser's list.
INSTANTIATE_TEST_SUITE_P(Clips, ContainerTest,
                         ::testing::Values("fish-h264.mp4", "fish-mjpeg.avi", "fish-mpeg4.mov",
                                           "fish-mpeg2.mpg", "fish-h264.m2ts", "fish-wmv2.asf",
                                           "fish-ntsc.mp4"));

// Red top-left corner, green bottom-right, on blue, stored losslessly: the
// first stored row must be the picture's bottom, bytes B, G, R, x.
TEST(VideoStreamTest, FramesAreBottomUpBgrx) {
    const std::string clip = testing::FfmpegClip(
        "corner-ffv1.avi",
        "-f lavfi -i color=c=blue:s=64x48:d=0.2:r=25,drawbox=x=0:y=0:w=16:h=12:color=red:t=fill,"
        "drawbox=x=48:y=36:w=16:h=12:color=lime:t=fill -pix_fmt bgr0 -c:v ffv1");
    VideoStream stream;
    ASSERT_EQ(stream.Open(clip), StreamError::kNone);
    const MediaInfo info = stream.Info();
    ASSERT_EQ(info.frameWidth, 64);
    ASSERT_EQ(info.frameHeight, 48);
    std::vector<uint8_t> frame(info.sampleSize);
    ASSERT_EQ(stream.GetCurrentBuffer(frame.data(), info.sampleSize), info.sampleSize);
    const int expected[][5] = {  // x, stored row, B, G, R
        {0, 47, 0, 0, 255}, {63, 47, 255, 0, 0}, {63, 0, 0, 255, 0}, {0, 0, 255, 0, 0}};
    for (const auto& e : expected)
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(frame[(e[1] * 64 + e[0]) * 4 + c], e[2 + c], 6) << e[0] << "," << e[1];
    EXPECT_EQ(stream.GetCurrentBuffer(frame.data(), info.sampleSize - 1), 0);  // too small
    stream.Close();
    EXPECT_EQ(stream.GetCurrentBuffer(frame.data(), info.sampleSize), 0);
}

TEST(VideoStreamTest, PreviewPlaysAtTheFileRatePausesAndSeeksToStart) {
    const std::string clip = FisheyeClip("fish-2s.mp4");
    VideoStream stream;
    ASSERT_EQ(stream.Open(clip), StreamError::kNone);
    stream.Play();
    ASSERT_TRUE(WaitFor([&] { return stream.CurrentPosition().count() > 0; }));
    std::this_thread::sleep_for(200ms);
    stream.Hold();
    std::this_thread::sleep_for(50ms);  // a frame already on its way may still land
    const int64_t paused = stream.CurrentPosition().count();
    EXPECT_LT(paused, 12'000'000);  // flat out would have reached the end long ago
    std::this_thread::sleep_for(150ms);
    EXPECT_EQ(stream.CurrentPosition().count(), paused);
    EXPECT_FALSE(stream.TakeMovieEnd());

    stream.SeekToStart();
    EXPECT_EQ(stream.CurrentPosition().count(), 0);
    stream.Play();
    ASSERT_TRUE(WaitFor([&] { return stream.CurrentPosition().count() > 0; }));
    EXPECT_LT(stream.CurrentPosition().count(), paused + 3'000'000);
}

}  // namespace
}  // namespace tessaly
