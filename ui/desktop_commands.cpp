#include "ui/desktop_commands.h"

#include "app/app_paths.h"
#include "ui/control_ids.h"
#include "app/format.h"
#include "app/parameter_file.h"
#include "ui/parameter_controls.h"
#include "app/startup.h"
#include "transform/lens_profile.h"
#include "ui/desktop_session.h"

namespace tessaly {

namespace {

// The cut after one step of an arrow; false for an id that is no arrow.
bool Nudge(int arrow, AppSettings& s) {
    switch (arrow) {
        case control::kCutLeft: --s.XL1, --s.XL2; return true;
        case control::kCutRight: ++s.XL1, ++s.XL2; return true;
        case control::kCutUp: --s.YL1, ++s.YL2; return true;
        case control::kCutDown: ++s.YL1, --s.YL2; return true;
        default: return false;
    }
}

// The cut after the reset, enlarge or shrink button; false for another id.
bool Resize(int button, AppSettings& s) {
    switch (button) {
        case control::kCutReset: ResetCut(s); return true;
        case control::kCutEnlarge: s.XL1 -= 1, s.YL1 -= 1, s.XL2 += 2, s.YL2 += 2; return true;
        case control::kCutShrink: s.XL1 += 1, s.YL1 += 1, s.XL2 -= 2, s.YL2 -= 2; return true;
        default: return false;
    }
}

}  // namespace

void DesktopCommands::Change(const std::function<void(AppSettings&)>& change) {
    session_.app.settings.Change(change);
    emit session_.settingsChanged();
}

bool DesktopCommands::HaveStream() const { return session_.app.run.streamState.load() != StreamState::Stopped; }

bool DesktopCommands::CutButtonsActive() const {
    return HaveStream() && session_.app.run.showInputVideo.load();
}

bool DesktopCommands::NudgeCut(int arrow) {
    if (!CutButtonsActive()) return false;
    const MediaInfo movie = session_.source.Info();
    bool moved = false;
    Change([&](AppSettings& s) {
        moved = Nudge(arrow, s);
        if (moved) SetCutMovie(s, movie.videoPath, movie.frameWidth, movie.frameHeight);
    });
    return moved;
}

bool DesktopCommands::CutButton(int button) {
    if (!CutButtonsActive()) return false;
    const MediaInfo movie = session_.source.Info();
    bool changed = false;
    Change([&](AppSettings& s) {
        changed = Resize(button, s);
        if (changed) SetCutMovie(s, movie.videoPath, movie.frameWidth, movie.frameHeight);
    });
    return changed;
}

PlayOutcome DesktopCommands::PlayPause() {
    FisheyeApp& app = session_.app;
    VideoSource& source = session_.source;
    if (!HaveStream() || source.videoOpen.load() == 0) return PlayOutcome::kIgnored;
    app.run.paused = !app.run.paused.load();
    VideoStream& stream = source.Stream();
    if (app.run.paused.load()) {
        stream.Hold();
        return PlayOutcome::kPaused;
    }
    PlayOutcome outcome = PlayOutcome::kPlaying;
    const MediaInfo info = source.Info();
    if (info.duration.count() > 0 && stream.CurrentPosition() >= info.duration) {
        source.position = MediaTime{0};
        stream.SeekToStart();
        outcome = PlayOutcome::kRestarted;
    }
    stream.Play();
    return outcome;
}

void DesktopCommands::StoreSwitch(int checkBox, int checked) {
    const ParameterControl* c = ParameterControlOf(checkBox, ControlKind::kCheckBox);
    if (c == nullptr) return;
    Change([field = FieldOf(*c), checked](AppSettings& s) { s.*field = checked; });
}

void DesktopCommands::StoreSlider(int slider, int32_t position) {
    const ParameterControl* c = ParameterControlOf(slider, ControlKind::kSlider);
    if (c == nullptr) return;
    Change([field = FieldOf(*c), position](AppSettings& s) { s.*field = position; });
}

std::vector<SliderValue> DesktopCommands::ResetRow(int resetButton) {
    std::vector<SliderValue> moved;
    for (const ParameterControl& c : kParameterControls) {
        if (resetButton != control::kNone && c.resetButton == resetButton)
            moved.push_back({c.control, Parameter(c.tag).reset});
    }
    // Stored whatever the slider shows: one already at the value reports
    // no change (Noise shows 1 while NOISE is still 0).
    Change([&moved](AppSettings& s) {
        for (const SliderValue& t : moved) s.*FieldOf(*ParameterControlOf(t.slider, ControlKind::kSlider)) = t.value;
    });
    return moved;
}

int32_t DesktopCommands::ToggleAutoSave() {
    int32_t value = 0;
    Change([&value](AppSettings& s) {
        value = s.AUTOSAVE != 0 ? 0 : 1;
        s.AUTOSAVE = value;
    });
    return value;
}

bool DesktopCommands::ToggleVrMarking() {
    const bool value = !session_.app.run.markVrOutput.load();
    session_.app.run.markVrOutput = value;
    return value;
}

std::string DesktopCommands::SetTempFolder(const std::string& chosen) {
    std::string folder = TrimBlanksAndNuls(chosen);
    // Cancelled: the folder start-up falls back to, which can be written.
    if (folder.empty()) folder = FallbackTempFolder(DecideAppPaths(session_.app.env.programDir));
    Change([&folder](AppSettings& s) { s.APATH = folder; });
    return folder;
}

void DesktopCommands::ShowInput(int checked) { session_.app.run.showInputVideo = checked != 0; }

void DesktopCommands::ShowOutput(int checked) { session_.app.run.showOutputVideo = checked != 0; }

void DesktopCommands::SetStillFormat(int jpegChecked) {
    session_.app.run.tempFormat = jpegChecked != 0 ? StillFormat::Jpeg : StillFormat::Bmp;
}

void DesktopCommands::SetFlip(int checked) { session_.app.run.horizontalFlip = checked != 0; }

void DesktopCommands::Load(const std::string& path) {
    session_.app.run.paused = false;
    session_.app.run.streamState = StreamState::Stopped;
    session_.StartLoadWorker(path);
}

bool DesktopCommands::SaveParameters() {
    if (!HaveStream()) return false;
    const FisheyeApp& app = session_.app;
    return tessaly::SaveParameters(session_.app.settings.Copy(), app.env.screen, app.env.iniPath);
}

std::string DesktopCommands::SetLens(const LensSettings& lens) {
    if (session_.app.run.converting.load()) return "the lens cannot change during a conversion";
    LensSettings stored = lens;
    if (!lens.profile.Empty()) {
        // Only a profile this machine's database gives is taken; its
        // projection is then the lens model.
        const LensProfileLookup found = LookUpLensProfile(lens.profile);
        if (!found.correction) return found.error;
        stored.model = found.correction->projection;
    }
    std::string problem = LensProblem(stored);
    if (problem.empty()) {
        Change([&stored](AppSettings& s) { s.lens = stored; });
        session_.EyesChoiceChanged();
    }
    return problem;
}

std::string DesktopCommands::SetStereo(StereoLayout input, StereoLayout output, bool swapEyes, bool alignEyes) {
    if (session_.app.run.converting.load()) return "the stereo layout cannot change during a conversion";
    if (output == StereoLayout::kMono) return "the output holds both eyes side by side or one above the other";
    Change([&](AppSettings& s) {
        s.STEREO = static_cast<int32_t>(input);
        s.STEREO_OUT = static_cast<int32_t>(output);
        s.SWAP_EYES = swapEyes ? 1 : 0;
        s.ALIGN_EYES = alignEyes ? 1 : 0;
    });
    session_.EyesChoiceChanged();
    return {};
}

std::string DesktopCommands::SetEyeAngles(int eye, const EyeAngles& angles) {
    if (session_.app.run.converting.load()) return "the lens cannot change during a conversion";
    if (eye != kLeftEye && eye != kRightEye) return "no such eye";
    const std::string problem = LensProblem(EyeLens(session_.app.settings->lens, angles));
    if (!problem.empty()) return problem;
    Change([&](AppSettings& s) { s.eyeAngles[eye] = angles; });
    session_.EyesChoiceChanged();
    return {};
}

bool DesktopCommands::ToggleAnaglyph() { return session_.anaglyph.fetch_xor(1) == 0; }

void DesktopCommands::StoreWindowPositions(const WindowPositions& at) {
    Change([&at](AppSettings& s) {
        if (at.mainShown) {
            s.M_X = at.mainX;
            s.M_Y = at.mainY;
        }
        s.V_X = at.outputShown ? at.outputX : 0;
        s.V_Y = at.outputShown ? at.outputY : 0;
    });
}

void DesktopCommands::SetMovieCut(const CutRect& cut, const MediaInfo& movie) {
    Change([&cut, &movie](AppSettings& s) {
        s.XL1 = cut.XL1;
        s.YL1 = cut.YL1;
        s.XL2 = cut.XL2;
        s.YL2 = cut.YL2;
        SetCutMovie(s, movie.videoPath, movie.frameWidth, movie.frameHeight);
    });
}

void DesktopCommands::SetMovieFolder(const std::string& folder) {
    Change([&folder](AppSettings& s) { s.OPATH = folder; });
}

void DesktopCommands::FitAmountsToSliders() { Change(FitAmountsToRanges); }

}  // namespace tessaly
