// The desktop's commands without a window: a session and its DesktopCommands,
// as the main window forwards to them. The expected fields and values are
// the ones the command table of the main window names for each control
// (written out here by number, not taken from the parameter table).
#include <gtest/gtest.h>

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

// The arrows move the cut by one unit (left and right move it, up and down
// grow and shrink it vertically), Enlarge and Shrink change its size, Reset
// brings the start cut back; all only while a stream opens or runs and the
// input is shown, and no other id does either.
TEST(DesktopCommands, TheCutCommandsNeedAStreamAndTheInputShown) {
    Headless h;
    const StreamState off = StreamState::Stopped, on = StreamState::Running;
    const struct {
        StreamState state;
        bool input, button;
        int id;
        bool accepted;
        CutRect cut;
    } steps[] = {
        {off, true, false, 3900, false, kDefaultCut},  {off, true, false, 3903, false, kDefaultCut},
        {off, true, true, 3907, false, kDefaultCut},   {off, true, true, 3904, false, kDefaultCut},
        {on, false, false, 3900, false, kDefaultCut},  {on, false, true, 3907, false, kDefaultCut},
        {StreamState::Opening, true, false, 3900, true, {-9, -8, 615, 606}},
        {on, true, false, 3901, true, kDefaultCut},    {on, true, false, 3902, true, {-8, -9, 616, 607}},
        {on, true, false, 3903, true, kDefaultCut},    {on, true, false, 3903, true, {-8, -7, 616, 605}},
        {on, true, false, 3904, false, {-8, -7, 616, 605}}, {on, true, false, 3907, false, {-8, -7, 616, 605}},
        {on, true, false, 0, false, {-8, -7, 616, 605}},    {on, true, true, 3904, true, kDefaultCut},
        {on, true, true, 3907, true, {-9, -9, 618, 608}},   {on, true, true, 3907, true, {-10, -10, 620, 610}},
        {on, true, true, 3907, true, {-11, -11, 622, 612}}, {on, true, true, 3908, true, {-10, -10, 620, 610}},
        {on, true, true, 3900, false, {-10, -10, 620, 610}}, {on, true, true, 3904, true, kDefaultCut},
    };
    for (size_t i = 0; i < std::size(steps); ++i) {
        const auto& step = steps[i];
        h.app.run.streamState = step.state;
        h.app.run.showInputVideo = step.input;
        const bool accepted = step.button ? h.commands().CutButton(step.id) : h.commands().NudgeCut(step.id);
        EXPECT_EQ(accepted, step.accepted) << "step " << i;
        EXPECT_EQ(h.Cut(), step.cut) << "step " << i;
    }
    // Far beyond the preview: still one unit a step.
    h.session->app.settings.Change([](AppSettings& s) { s.XL1 = -5000, s.XL2 = -4000; });
    ASSERT_TRUE(h.commands().NudgeCut(3900));
    EXPECT_EQ(h.Cut().XL1, -5001);
    EXPECT_EQ(h.Cut().XL2, -4001);
}

// The window's own switches, the temporary folder (blanks trimmed; a
// cancelled chooser gives the start-up fallback, here the writable program
// folder) and the VR marking, which only the run state keeps.
TEST(DesktopCommands, DisplaySwitchesFoldersAndToggles) {
    Headless h;
    DesktopCommands& c = h.commands();
    for (const int on : {0, 1, 0}) {
        c.ShowInput(on);
        c.ShowOutput(on);
        c.SetStillFormat(on);
        c.SetFlip(on);
        EXPECT_EQ(h.app.run.showInputVideo, on == 1);
        EXPECT_EQ(h.app.run.showOutputVideo, on == 1);
        EXPECT_EQ(h.app.run.tempFormat, on == 1 ? StillFormat::Jpeg : StillFormat::Bmp);
        EXPECT_EQ(h.app.run.horizontalFlip, on == 1);
        EXPECT_EQ(c.ToggleVrMarking(), on == 1);
    }
    EXPECT_EQ(c.SetTempFolder(" " + h.dir + "/chosen  "), h.dir + "/chosen");
    EXPECT_EQ(h.session->app.settings.Copy().APATH, h.dir + "/chosen");
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
    const MediaTime duration = source.Info().duration;
    ASSERT_GT(duration.count(), 0);

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
