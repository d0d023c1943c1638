// The desktop's commands without a window: a session and its DesktopCommands,
// as the main window forwards to them. The expected fields and values are
// the ones the command table of the main window names for each control
// (written out here by number, not taken from the parameter table).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <thread>

#include "app/app_paths.h"
#include "ui/control_ids.h"
#include "app/startup.h"
#include "tests/video/test_clips.h"
#include "ui/desktop_session.h"

namespace tessaly {
namespace {

using testing::FisheyeClip;
using testing::ReadFile;
using testing::TempFolder;

// A session with no window, on a program folder of its own.
struct Headless {
    Headless() : dir(TempFolder("commands")) {
        StartUpOptions options;
        options.programDir = dir + "/";
        StartUpCore(app, options);
        session = std::make_unique<DesktopSession>(app);
        session->findCircleOnLoad = 0;
    }
    ~Headless() {
        app.run.streamState = StreamState::Stopped;
        if (stream.joinable()) stream.join();
        session.reset();
        std::filesystem::remove_all(dir);
    }
    DesktopCommands& commands() { return session->commands; }
    CutRect Cut() const {
        const AppSettings s = session->app.settings.Copy();
        return {s.XL1, s.YL1, s.XL2, s.YL2};
    }
    // Plays `path` on a thread of its own, as a load flow does.
    void Open(const std::string& path) {
        app.run.streamState = StreamState::Running;
        stream = std::thread([this, path] { session->source.OpenAndPlay(path); });
    }

    std::string dir;
    FisheyeApp app;
    std::unique_ptr<DesktopSession> session;
    std::thread stream;
};

using testing::WaitFor;

TEST(DesktopCommands, TheCutButtonsNeedAStreamAndTheInputShown) {
    Headless h;
    for (int id : {3900, 3901, 3902, 3903}) EXPECT_FALSE(h.commands().NudgeCut(id)) << id;
    for (int id : {3904, 3907, 3908}) EXPECT_FALSE(h.commands().CutButton(id)) << id;
    EXPECT_EQ(h.Cut(), kDefaultCut);

    h.app.run.streamState = StreamState::Running;
    h.app.run.showInputVideo = false;
    EXPECT_FALSE(h.commands().NudgeCut(3900));
    EXPECT_FALSE(h.commands().CutButton(3907));
    EXPECT_EQ(h.Cut(), kDefaultCut);

    // While the stream opens (2) as while it runs (1).
    h.app.run.showInputVideo = true;
    h.app.run.streamState = StreamState::Opening;
    EXPECT_TRUE(h.commands().NudgeCut(3900));
    EXPECT_EQ(h.Cut(), (CutRect{-9, -8, 615, 606}));
}

TEST(DesktopCommands, ArrowsMoveTheCutByOneUnitWithoutLimits) {
    Headless h;
    h.app.run.streamState = StreamState::Running;
    DesktopCommands& c = h.commands();
    ASSERT_TRUE(c.NudgeCut(3900));  // left: both x down
    EXPECT_EQ(h.Cut(), (CutRect{-9, -8, 615, 606}));
    ASSERT_TRUE(c.NudgeCut(3901));  // right: back
    EXPECT_EQ(h.Cut(), kDefaultCut);
    ASSERT_TRUE(c.NudgeCut(3902));  // up: the cut grows vertically
    EXPECT_EQ(h.Cut(), (CutRect{-8, -9, 616, 607}));
    ASSERT_TRUE(c.NudgeCut(3903));  // down: it shrinks again
    ASSERT_TRUE(c.NudgeCut(3903));
    EXPECT_EQ(h.Cut(), (CutRect{-8, -7, 616, 605}));
    // No id but the four arrows nudges.
    for (int id : {3904, 3907, 100, 0}) EXPECT_FALSE(c.NudgeCut(id)) << id;
    EXPECT_EQ(h.Cut(), (CutRect{-8, -7, 616, 605}));

    // Far beyond the preview: still one unit a step.
    h.session->app.settings.Change([](AppSettings& s) { s.XL1 = -5000, s.XL2 = -4000; });
    ASSERT_TRUE(c.NudgeCut(3900));
    EXPECT_EQ(h.Cut().XL1, -5001);
    EXPECT_EQ(h.Cut().XL2, -4001);
}

TEST(DesktopCommands, EnlargeShrinkAndResetTheCut) {
    Headless h;
    h.app.run.streamState = StreamState::Running;
    DesktopCommands& c = h.commands();
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(c.CutButton(3907));
    const AppSettings s = h.session->app.settings.Copy();
    EXPECT_EQ(h.Cut(), (CutRect{-11, -11, 622, 612}));
    EXPECT_EQ(s.XL2 - s.XL1, 633);
    ASSERT_TRUE(c.CutButton(3908));
    EXPECT_EQ(h.Cut(), (CutRect{-10, -10, 620, 610}));
    ASSERT_TRUE(c.CutButton(3904));
    EXPECT_EQ(h.Cut(), (CutRect{-8, -8, 616, 606}));
    EXPECT_FALSE(c.CutButton(3900));  // an arrow is no cut button
    EXPECT_EQ(h.Cut(), kDefaultCut);
}

TEST(DesktopCommands, SwitchesAndSlidersSetTheirOwnFieldOnly) {
    Headless h;
    DesktopCommands& c = h.commands();
    const struct { int id; int32_t AppSettings::*field; } switches[] = {
        {208, &AppSettings::SHARPEN_CH}, {523, &AppSettings::BRIGHTNESS_CH}, {522, &AppSettings::CONTRAST_CH},
        {571, &AppSettings::CPU_CH},     {573, &AppSettings::NOISE_CH},      {115, &AppSettings::ASPECT},
        {599, &AppSettings::AUTOSAVE},
    };
    for (const auto& sw : switches) {
        for (int checked : {1, 0, 1}) {
            AppSettings expected = h.session->app.settings.Copy();
            expected.*sw.field = checked;
            c.StoreSwitch(sw.id, checked);
            EXPECT_EQ(h.session->app.settings.Copy(), expected) << sw.id << " " << checked;
        }
    }
    const struct { int id; int32_t AppSettings::*field; int32_t position; } sliders[] = {
        {518, &AppSettings::SHARPEN, 4},   {590, &AppSettings::RADIUS, 2}, {520, &AppSettings::BRIGHTNESS, 200},
        {519, &AppSettings::CONTRAST, 31}, {572, &AppSettings::NOISE, 5},  {570, &AppSettings::CPU, 63},
    };
    for (const auto& t : sliders) {
        AppSettings expected = h.session->app.settings.Copy();
        expected.*t.field = t.position;
        c.StoreSlider(t.id, t.position);
        EXPECT_EQ(h.session->app.settings.Copy(), expected) << t.id;
    }
    // A slider's id is no switch and a switch's no slider; labels and
    // buttons store nothing.
    const AppSettings before = h.session->app.settings.Copy();
    c.StoreSwitch(520, 0);
    c.StoreSlider(208, 0);
    for (int id : {300, 311, 112, 581, 511, 3900, 0}) {
        c.StoreSwitch(id, 7);
        c.StoreSlider(id, 7);
    }
    EXPECT_EQ(h.session->app.settings.Copy(), before);
}

TEST(DesktopCommands, ResetButtonsStoreTheirRowsValuesWhateverTheSliderShows) {
    Headless h;
    DesktopCommands& c = h.commands();
    h.session->app.settings.Change([](AppSettings& s) {
        s.SHARPEN = 5, s.RADIUS = 3, s.BRIGHTNESS = 3, s.CONTRAST = 250, s.NOISE = 0, s.CPU = 50;
    });
    struct Row {
        int button;
        std::vector<std::pair<int, int32_t>> sliders;
    };
    const Row rows[] = {
        {581, {{518, 1}, {590, 0}}}, {582, {{520, 127}}}, {583, {{519, 127}}},
        {584, {{572, 1}}},           {585, {{570, 100}}},
    };
    for (const Row& row : rows) {
        const std::vector<SliderValue> moved = c.ResetRow(row.button);
        ASSERT_EQ(moved.size(), row.sliders.size()) << row.button;
        for (size_t i = 0; i < moved.size(); ++i) {
            EXPECT_EQ(moved[i].slider, row.sliders[i].first) << row.button;
            EXPECT_EQ(moved[i].value, row.sliders[i].second) << row.button;
        }
    }
    const AppSettings s = h.session->app.settings.Copy();
    EXPECT_EQ(s.SHARPEN, 1);
    EXPECT_EQ(s.RADIUS, 0);
    EXPECT_EQ(s.BRIGHTNESS, 127);
    EXPECT_EQ(s.CONTRAST, 127);
    EXPECT_EQ(s.NOISE, 1);  // also from 0, which its slider cannot show
    EXPECT_EQ(s.CPU, 100);
    EXPECT_TRUE(c.ResetRow(520).empty());
    EXPECT_TRUE(c.ResetRow(0).empty());
}

// The stream thread copies the settings for every preview pass while the
// GUI thread changes them: the lock keeps the copies whole (ThreadSanitizer
// watches the rest).
TEST(DesktopCommands, SettingsChangeUnderTheLockWhileAnotherThreadReadsThem) {
    Headless h;
    h.app.run.streamState = StreamState::Running;
    std::atomic<bool> done{false};
    std::atomic<int> torn{0};
    std::thread reader([&] {
        while (!done.load()) {
            const AppSettings s = h.session->app.settings.Copy();
            // Enlarge and shrink keep the cut 10 units wider than high.
            if ((s.XL2 - s.XL1) - (s.YL2 - s.YL1) != 10) ++torn;
        }
    });
    for (int i = 0; i < 2000; ++i) {
        h.commands().CutButton(i % 2 == 0 ? 3907 : 3908);
        h.commands().StoreSwitch(523, i % 2);
        h.commands().StoreSlider(520, i % 256);
    }
    done = true;
    reader.join();
    EXPECT_EQ(torn.load(), 0);
    EXPECT_EQ(h.session->app.settings.Copy().BRIGHTNESS, 1999 % 256);
}

TEST(DesktopCommands, DisplaySwitchesFoldersAndToggles) {
    Headless h;
    DesktopCommands& c = h.commands();
    c.ShowInput(0);
    c.ShowOutput(0);
    EXPECT_FALSE(h.app.run.showInputVideo);
    EXPECT_FALSE(h.app.run.showOutputVideo);
    c.ShowInput(1);
    c.ShowOutput(1);
    EXPECT_TRUE(h.app.run.showInputVideo);
    EXPECT_TRUE(h.app.run.showOutputVideo);
    c.SetStillFormat(1);
    EXPECT_EQ(h.app.run.tempFormat, StillFormat::Jpeg);  // JPEG
    c.SetStillFormat(0);
    EXPECT_EQ(h.app.run.tempFormat, StillFormat::Bmp);  // BMP
    c.SetFlip(1);
    EXPECT_TRUE(h.app.run.horizontalFlip);
    c.SetFlip(0);
    EXPECT_FALSE(h.app.run.horizontalFlip);

    const int32_t autosave = h.session->app.settings.Copy().AUTOSAVE;
    EXPECT_EQ(c.ToggleAutoSave(), autosave != 0 ? 0 : 1);
    EXPECT_EQ(c.ToggleAutoSave(), autosave != 0 ? 1 : 0);
    EXPECT_EQ(h.session->app.settings.Copy().AUTOSAVE, autosave);
    EXPECT_FALSE(c.ToggleVrMarking());
    EXPECT_FALSE(h.app.run.markVrOutput);
    EXPECT_TRUE(c.ToggleVrMarking());

    EXPECT_EQ(c.SetTempFolder(" " + h.dir + "/chosen  "), h.dir + "/chosen");
    EXPECT_EQ(h.session->app.settings.Copy().APATH, h.dir + "/chosen");
    // Cancelled: the start-up fallback (here the writable program folder).
    EXPECT_EQ(c.SetTempFolder(""), FallbackTempFolder(DecideAppPaths(h.app.env.programDir)));
    EXPECT_EQ(h.session->app.settings.Copy().APATH, h.dir);
}

TEST(DesktopCommands, SaveParametersNeedsAStream) {
    Headless h;
    std::filesystem::remove(h.app.env.iniPath);
    EXPECT_FALSE(h.commands().SaveParameters());
    EXPECT_FALSE(std::filesystem::exists(h.app.env.iniPath));
    h.app.run.streamState = StreamState::Running;
    h.session->app.settings.Change([](AppSettings& s) { s.BRIGHTNESS = 201; });
    EXPECT_TRUE(h.commands().SaveParameters());
    EXPECT_NE(ReadFile(h.app.env.iniPath).find("<BRIGHTNESS>201</BRIGHTNESS>\r\n"), std::string::npos);
}

TEST(DesktopCommands, PlayPausePausesResumesAndRestartsAtTheEnd) {
    Headless h;
    EXPECT_EQ(h.commands().PlayPause(), PlayOutcome::kIgnored);  // no stream
    EXPECT_FALSE(h.app.run.paused);

    h.Open(FisheyeClip("fish-2s.mp4"));
    VideoSource& source = h.session->source;
    ASSERT_TRUE(WaitFor([&] { return source.videoOpen == 1 && h.app.run.streamState == StreamState::Running; }));
    const int64_t duration = source.Info().durationTicks;
    ASSERT_GT(duration, 0);

    // Played to its end, it restarts from the beginning.
    ASSERT_TRUE(WaitFor([&] { return source.Stream().CurrentPosition() >= duration; }));
    EXPECT_EQ(h.commands().PlayPause(), PlayOutcome::kPaused);
    EXPECT_TRUE(h.app.run.paused);
    EXPECT_EQ(h.commands().PlayPause(), PlayOutcome::kRestarted);
    EXPECT_FALSE(h.app.run.paused);
    EXPECT_LT(source.Stream().CurrentPosition(), duration);
    ASSERT_TRUE(WaitFor([&] { return source.Stream().FramesDelivered() > 0; }));

    // Paused before the end, it resumes where it stood.
    EXPECT_EQ(h.commands().PlayPause(), PlayOutcome::kPaused);
    if (source.Stream().CurrentPosition() < duration) {
        EXPECT_EQ(h.commands().PlayPause(), PlayOutcome::kPlaying);
        EXPECT_FALSE(h.app.run.paused);
    }
    // It plays on to the end again.
    ASSERT_TRUE(WaitFor([&] { return source.Stream().CurrentPosition() >= duration; }));

    // Once the stream has ended, Play/Pause does nothing.
    h.app.run.streamState = StreamState::Stopped;
    h.stream.join();
    const int32_t paused = h.app.run.paused;
    EXPECT_EQ(h.commands().PlayPause(), PlayOutcome::kIgnored);
    EXPECT_EQ(h.app.run.paused, paused);
}

}  // namespace
}  // namespace tessaly
