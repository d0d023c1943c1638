#include "convert/frame_callback.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "convert/conversion_driver.h"
#include "output/still_writer.h"
#include "transform/frame_pipeline.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;

constexpr int kW = 320;
constexpr int kH = 240;

// A frame with some structure that changes from frame to frame.
std::vector<uint8_t> Frame(int index) {
    std::vector<uint8_t> bytes(static_cast<size_t>(kW) * kH * 4);
    for (int y = 0; y < kH; ++y) {
        for (int x = 0; x < kW; ++x) {
            uint8_t* p = &bytes[(static_cast<size_t>(y) * kW + x) * 4];
            p[0] = static_cast<uint8_t>((x * 3 + index * 7) & 255);
            p[1] = static_cast<uint8_t>((y * 5 + x * y / 64) & 255);
            p[2] = static_cast<uint8_t>(((x ^ y) + index * 13) & 255);
            p[3] = 0;
        }
    }
    return bytes;
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class FrameCallbackTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("tessaly_fc_" + std::to_string(::getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        app_.settings.SHARPEN_CH = 1;
        app_.settings.SHARPEN = 2;
        app_.settings.RADIUS = 1;
        ASSERT_EQ(pipeline_.Allocate(kW, kH), TransformStatus::kOk);
        ASSERT_TRUE(pipeline_.BuildGeometry(app_.settings).Ok());
        hooks_ = PipelineHooks(pipeline_, app_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    // Runs `count` frames through a fresh callback into `folder`.
    int32_t Convert(const fs::path& folder, int writerThreads, int count) {
        fs::create_directories(folder);
        StillWriter writer(folder.string());
        FrameCallback callback(app_, writer, hooks_.convertFrame, count, writerThreads);
        callback.StartClock();
        for (int i = 0; i < count; ++i) {
            std::vector<uint8_t> frame = Frame(i);
            callback.BufferCB(i / 25.0, frame.data(), static_cast<int32_t>(frame.size()));
        }
        callback.Flush();
        return callback.frameNo.load();
    }

    fs::path dir_;
    FisheyeApp app_;
    FramePipeline pipeline_{1};
    ConversionHooks hooks_;
};

TEST_F(FrameCallbackTest, WriterThreadsGiveTheSameStillsAsOneFrameAtATime) {
    for (int32_t format : {2, 1}) {
        app_.tempFormat = format;
        const std::string ext = format == 1 ? ".bmp" : ".jpg";
        ASSERT_EQ(Convert(dir_ / ("plain" + ext), 0, 6), 6);
        ASSERT_EQ(Convert(dir_ / ("threaded" + ext), 3, 6), 6);
        for (int i = 0; i < 6; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "mono%06d%s", i, ext.c_str());
            std::string plain = ReadFile(dir_ / ("plain" + ext) / name);
            ASSERT_FALSE(plain.empty()) << name;
            EXPECT_EQ(plain, ReadFile(dir_ / ("threaded" + ext) / name)) << name;
        }
        EXPECT_FALSE(fs::exists(dir_ / ("threaded" + ext) / ("mono000006" + ext)));
    }
}

TEST_F(FrameCallbackTest, EmptyStoppedAndWrongSizedFramesChangeNothing) {
    StillWriter writer(dir_.string());
    FrameCallback callback(app_, writer, hooks_.convertFrame, 10, 2);
    std::vector<uint8_t> frame = Frame(0);

    callback.BufferCB(0, frame.data(), 0);
    callback.BufferCB(0, nullptr, static_cast<int32_t>(frame.size()));
    EXPECT_EQ(callback.frameNo.load(), 0);

    // A frame of another size is refused, never read past its end.
    callback.BufferCB(0, frame.data(), static_cast<int32_t>(frame.size() / 2));
    EXPECT_EQ(callback.frameNo.load(), 0);
    EXPECT_EQ(callback.refusedFrames.load(), 1);

    callback.BufferCB(0, frame.data(), static_cast<int32_t>(frame.size()));
    callback.Flush();
    EXPECT_EQ(callback.frameNo.load(), 1);

    app_.stopRequested = 1;
    callback.BufferCB(0, frame.data(), static_cast<int32_t>(frame.size()));
    callback.Flush();
    EXPECT_EQ(callback.frameNo.load(), 1);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

TEST_F(FrameCallbackTest, AStillThatCannotBeWrittenStopsTheFrames) {
    StillWriter writer((dir_ / "no" / "such" / "folder").string());
    FrameCallback callback(app_, writer, hooks_.convertFrame, 10, 2);
    std::vector<uint8_t> frame = Frame(0);
    for (int i = 0; i < 5; ++i) {
        callback.BufferCB(0, frame.data(), static_cast<int32_t>(frame.size()));
        callback.Flush();
    }
    EXPECT_TRUE(callback.Failed());
    EXPECT_NE(callback.FailureMessage().find("mono000000"), std::string::npos)
        << callback.FailureMessage();
    EXPECT_EQ(callback.frameNo.load(), 1);  // nothing after the failed still
}

TEST_F(FrameCallbackTest, ProgressTextsAfterEveryThirtyFrames) {
    app_.tempFormat = 1;
    StillWriter writer(dir_.string());
    FrameCallback callback(app_, writer, hooks_.convertFrame, 300, 0);
    callback.StartClock();
    std::vector<uint8_t> frame = Frame(0);
    for (int i = 0; i < 29; ++i) {
        callback.BufferCB(0, frame.data(), static_cast<int32_t>(frame.size()));
    }
    EXPECT_EQ(app_.progress.fps, "00.000");
    EXPECT_EQ(app_.progress.estimatedTime, "00.00.00");
    callback.BufferCB(0, frame.data(), static_cast<int32_t>(frame.size()));
    EXPECT_NE(app_.progress.fps, "00.000");
    EXPECT_TRUE(::testing::internal::RE::FullMatch(app_.progress.fps, "[0-9][0-9]+\\.[0-9][0-9][0-9]"))
        << app_.progress.fps;
    EXPECT_TRUE(::testing::internal::RE::FullMatch(app_.progress.estimatedTime,
                                                   "[0-9][0-9]:[0-9][0-9]:[0-9][0-9]"))
        << app_.progress.estimatedTime;
}

TEST(ProgressFigures, EstimateRateAndElapsed) {
    // 30 frames in one second: 0.0333 s per frame.
    ProgressTexts t = ProgressFigures(1.0, 61.5, 300);
    EXPECT_EQ(t.estimatedTime, "00:00:10");  // 9.99 s
    EXPECT_EQ(t.timePassed, "00:01:02");     // 61.5 rounds to even
    EXPECT_EQ(t.fps, "30.030");
    EXPECT_EQ(ProgressFigures(120.0, 3661, 27000).timePassed, "01:01:01");
    EXPECT_EQ(ProgressFigures(120.0, 0, 27000).estimatedTime, "29:58:12");
    EXPECT_EQ(ProgressFigures(0.0, 0, 10).fps, "99.999");  // no division by zero
}

}  // namespace
}  // namespace tessaly
