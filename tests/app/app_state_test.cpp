// The application's three parts: settings with one owner and one lock, the
// named run states, and the shutdown hooks.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "app/app_state.h"
#include "app/startup.h"

namespace tessaly {
namespace {

// The owner changes the cut as a whole (moved, its size kept) while another
// thread copies the settings: every copy is one whole state, never half a
// change. Under ThreadSanitizer an unguarded read or write shows as a race.
TEST(SharedSettings, CopiesOnAnotherThreadSeeWholeChanges) {
    SharedSettings settings;
    const int32_t width = settings->XL2 - settings->XL1;
    std::atomic<bool> done{false};
    std::vector<int32_t> seenWidths;
    int32_t lastSeenXL1 = settings->XL1;
    std::thread reader([&] {
        while (!done.load()) {
            const AppSettings copy = settings.Copy();
            seenWidths.push_back(copy.XL2 - copy.XL1);
            lastSeenXL1 = copy.XL1;
        }
    });
    for (int32_t step = 1; step <= 2000; ++step) {
        settings.Change([step](AppSettings& s) {
            s.XL1 = kDefaultCut.XL1 + step;
            s.XL2 = kDefaultCut.XL2 + step;
        });
    }
    done = true;
    reader.join();
    for (int32_t seen : seenWidths) ASSERT_EQ(seen, width);
    EXPECT_GE(lastSeenXL1, kDefaultCut.XL1);
    EXPECT_LE(lastSeenXL1, kDefaultCut.XL1 + 2000);
    // The owner reads its own writes in place.
    EXPECT_EQ(settings->XL1, kDefaultCut.XL1 + 2000);
    EXPECT_EQ((*settings).XL2, kDefaultCut.XL2 + 2000);
}

TEST(SharedSettings, SetReplacesEveryValueAndCopyIsIndependent) {
    SharedSettings settings;
    EXPECT_EQ(settings.Copy(), AppSettings{});
    AppSettings other;
    other.APATH = "/tmp/elsewhere";
    other.NOISE = 3;
    other.lens.fov = 200;
    settings.Set(other);
    EXPECT_EQ(*settings, other);
    AppSettings copy = settings.Copy();
    copy.NOISE = 5;  // a copy changes nothing of the owner's
    EXPECT_EQ(settings->NOISE, 3);
}

// The states keep the values they had as plain numbers: the still format is
// the command line's, and the stream starts stopped.
TEST(RunState, NamedStatesStartAtRest) {
    static_assert(static_cast<int32_t>(StillFormat::Bmp) == 1 && static_cast<int32_t>(StillFormat::Jpeg) == 2);
    static_assert(static_cast<int32_t>(StreamState::Stopped) == 0 && static_cast<int32_t>(StreamState::Running) == 1 &&
                  static_cast<int32_t>(StreamState::Opening) == 2);
    RunState run;
    EXPECT_EQ(run.streamState.load(), StreamState::Stopped);
    EXPECT_EQ(run.tempFormat.load(), StillFormat::Bmp);
    EXPECT_TRUE(run.showInputVideo.load());
    EXPECT_TRUE(run.showOutputVideo.load());
    EXPECT_TRUE(run.markVrOutput.load());
    for (const std::atomic<bool>* flag : {&run.horizontalFlip, &run.paused, &run.converting, &run.encoderBusy,
                                          &run.stopRequested, &run.shutdownDone, &run.vrNoteLogged}) {
        EXPECT_FALSE(flag->load());
    }
    EXPECT_EQ(run.frameWidth.load(), kStartFrameWidth);
    EXPECT_EQ(run.frameHeight.load(), kStartFrameHeight);
}

// Shutdown runs the stop hooks, then the join hooks, each kind in the order
// registered, once; a hook registered from another thread is run as well.
TEST(ShutdownHooks, RunInRegistrationOrderStopsBeforeJoins) {
    FisheyeApp app;
    std::vector<int> order;
    app.run.shutdown.AddJoinHook([&] { order.push_back(3); });
    app.run.shutdown.AddStopHook([&] { order.push_back(1); });
    std::thread other([&] { app.run.shutdown.AddStopHook([&] { order.push_back(2); }); });
    other.join();
    app.run.shutdown.AddJoinHook([&] { order.push_back(4); });
    Shutdown(app);
    Shutdown(app);  // the second call runs no hook
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4}));
    EXPECT_TRUE(app.run.stopRequested.load());
    EXPECT_TRUE(app.run.shutdownDone.load());
    EXPECT_EQ(app.run.streamState.load(), StreamState::Stopped);
}

}  // namespace
}  // namespace tessaly
