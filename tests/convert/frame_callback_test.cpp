#include "convert/frame_callback.h"
#include "convert/frame_slots.h"
#include "convert/transform_adapters.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "convert/conversion_driver.h"
#include "output/still_writer.h"
#include "tests/app/temp_dir.h"
#include "transform/frame_pipeline.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;

constexpr int kW = 320;
constexpr int kH = 240;

// A frame with some structure that changes from frame to frame.
std::vector<uint8_t> Frame(int index) {
    std::vector<uint8_t> bytes(static_cast<size_t>(kW) * kH * 4);
    for (size_t i = 0; i < bytes.size(); ++i) {
        const size_t x = i / 4 % kW, y = i / 4 / kW, c = i % 4;
        bytes[i] = c == 3 ? 0 : static_cast<uint8_t>(x * (3 + c) + (x ^ y) + index * 7 * (c + 1));
    }
    return bytes;
}

using testing::ReadFile;

// A transform with sharpening, and a fresh folder, for each test.
struct FrameCallbackTest : ::testing::Test {
    void SetUp() override {
        app_.settings.Change([&](AppSettings& s) {
            s.SHARPEN_CH = 1;
            s.SHARPEN = 2;
            s.RADIUS = 1;
        });
        ASSERT_EQ(pipeline_.Allocate(kW, kH), TransformStatus::kOk);
        ASSERT_TRUE(pipeline_.BuildGeometry(CutOf(*app_.settings)).Ok());
    }
    testing::TempDir temp_{"fc"};
    const fs::path dir_ = temp_.path();
    FisheyeApp app_;
    FramePipeline pipeline_{1};
};

TEST_F(FrameCallbackTest, WriterThreadsGiveTheSameStillsAsOneFrameAtATime) {
    for (StillFormat format : {StillFormat::Jpeg, StillFormat::Bmp}) {
        app_.run.tempFormat = format;
        const std::string ext = format == StillFormat::Bmp ? ".bmp" : ".jpg";
        for (int threads : {0, 3}) {
            const fs::path folder = dir_ / (std::to_string(threads) + ext);
            fs::create_directories(folder);
            StillWriter writer(folder.string());
            FrameCallback callback(app_.run, writer, PipelineHooks(pipeline_, app_).convertFrame, 6, threads);
            callback.StartClock();
            for (int i = 0; i < 6; ++i) {
                std::vector<uint8_t> frame = Frame(i);
                callback.OnFrame(i / 25.0, frame.data(), static_cast<int32_t>(frame.size()));
            }
            callback.Flush();
            ASSERT_EQ(callback.frameNo.load(), 6);
        }
        for (int i = 0; i < 7; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "mono%06d%s", i, ext.c_str());
            const std::string plain = ReadFile(dir_ / ("0" + ext) / name);
            EXPECT_EQ(plain.empty(), i == 6) << name;
            EXPECT_EQ(plain, ReadFile(dir_ / ("3" + ext) / name)) << name;
        }
    }
}

TEST_F(FrameCallbackTest, EmptyStoppedAndWrongSizedFramesChangeNothing) {
    StillWriter writer(dir_.string());
    FrameCallback callback(app_.run, writer, PipelineHooks(pipeline_, app_).convertFrame, 10, 2);
    std::vector<uint8_t> frame = Frame(0);
    const auto size = static_cast<int32_t>(frame.size());
    callback.OnFrame(0, frame.data(), 0);
    callback.OnFrame(0, nullptr, size);
    // A frame of another size is refused, never read past its end.
    callback.OnFrame(0, frame.data(), size / 2);
    EXPECT_EQ(callback.frameNo.load(), 0);
    EXPECT_EQ(callback.refusedFrames.load(), 1);
    callback.OnFrame(0, frame.data(), size);
    callback.Flush();
    app_.run.stopRequested = true;
    callback.OnFrame(0, frame.data(), size);
    callback.Flush();
    EXPECT_EQ(callback.frameNo.load(), 1);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

TEST(FrameSlotsTest, ConstantRatePassesUnchangedAndVaryingIntervalsRepeatOrDrop) {
    // One frame per slot at the exact rate, also NTSC's, over hours.
    for (int64_t k : {0LL, 1LL, 2LL, 1000LL, 500000LL}) {
        const SlotPlan plan = PlanFrameSlot(static_cast<double>(k) * 1001.0 / 30000.0, 30000.0 / 1001.0, k);
        EXPECT_TRUE(plan.keep) << k;
        EXPECT_EQ(plan.repeats, 0) << k;
    }
    // Due in slot 3 (0.13 s at 25 fps) with slot 1 next: the previous frame fills two.
    SlotPlan late = PlanFrameSlot(0.13, 25, 1);
    EXPECT_TRUE(late.keep);
    EXPECT_EQ(late.repeats, 2);
    // Early, for a slot already filled: dropped.
    EXPECT_FALSE(PlanFrameSlot(0.02, 25, 2).keep);
    // A clock that went back, or no time at all: in order.
    SlotPlan back = PlanFrameSlot(0.0, 25, 100);
    EXPECT_TRUE(back.keep);
    EXPECT_EQ(back.repeats, 0);
    EXPECT_TRUE(PlanFrameSlot(-1, 25, 7).keep);
    EXPECT_EQ(PlanFrameSlot(5, 0, 7).repeats, 0);
    EXPECT_EQ(SlotsForDuration(3.0, 25), 75);
    EXPECT_EQ(SlotsForDuration(1.001, 30000.0 / 1001.0), 30);
    EXPECT_EQ(SlotsForDuration(2, 0), 0);
}

// Frames given at varying times come out one per slot of the rate: a gap
// repeats the frame before it (byte for byte), a crowded slot drops the
// later frame, and the end fills up to the length.
TEST_F(FrameCallbackTest, VaryingIntervalsAreRepeatedAndDroppedIntoTheRate) {
    app_.run.tempFormat = StillFormat::Bmp;
    StillWriter writer(dir_.string());
    FrameCallback callback(app_.run, writer, PipelineHooks(pipeline_, app_).convertFrame, 10, 2);
    callback.KeepFrameTimes(10, 10);  // 10 fps, a 1 s movie
    // Frame i at these times: 0, 0.1, 0.12 (slot 1 again), 0.4 (slots 2, 3 keep frame 1), 0.5.
    const double times[] = {0, 0.1, 0.12, 0.4, 0.5};
    for (int i = 0; i < 5; ++i) {
        std::vector<uint8_t> frame = Frame(i);
        callback.OnFrame(times[i], frame.data(), static_cast<int32_t>(frame.size()));
    }
    EXPECT_EQ(callback.droppedFrames.load(), 1);
    EXPECT_EQ(callback.deliveredFrames.load(), 5);
    callback.FillTo(1.0);
    callback.Flush();
    EXPECT_EQ(callback.frameNo.load(), 10);
    EXPECT_EQ(callback.repeatedFrames.load(), 2 + 4);
    auto still = [&](int n) {
        char name[32];
        std::snprintf(name, sizeof name, "mono%06d.bmp", n);
        return ReadFile(dir_ / name);
    };
    EXPECT_NE(still(0), still(1));
    EXPECT_EQ(still(1), still(2));
    EXPECT_EQ(still(2), still(3));
    EXPECT_NE(still(3), still(4));
    EXPECT_NE(still(4), still(5));
    for (int n = 6; n < 10; ++n) EXPECT_EQ(still(5), still(n)) << n;
    EXPECT_TRUE(still(10).empty());
}

}  // namespace
}  // namespace tessaly
