// The commands of the desktop program that change its state: the cut
// buttons, play/pause, the filter switches and sliders, the Reset buttons,
// the display switches and the saving points. No widget here: the main
// window turns clicks into these calls and shows what they return, and tests
// drive them without a window. Every call runs on the GUI thread; every
// settings change of the desktop goes through here, under the session's
// settings lock, and is announced by the session's settingsChanged signal.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "transform/cut_rect.h"
#include "transform/lens.h"
#include "transform/stereo_layout.h"
#include "video/media_info.h"

namespace tessaly {

class DesktopSession;
struct AppSettings;

// Where the windows stand when the settings are saved; a hidden window has
// no position (0, 0 is stored for the output window).
struct WindowPositions {
    bool mainShown = false;
    int mainX = 0, mainY = 0;
    bool outputShown = false;
    int outputX = 0, outputY = 0;
};

// What Play/Pause did.
enum class PlayOutcome {
    kIgnored,    // no open stream: nothing happened
    kPaused,
    kPlaying,    // resumed where it stood
    kRestarted,  // it stood at the end: back to the start, then playing
};

// A slider moved to a value by a Reset button.
struct SliderValue {
    int slider;
    int32_t value;
};

class DesktopCommands {
public:
    explicit DesktopCommands(DesktopSession& session) : session_(session) {}

    // A stream is open or opening (the commands that need one do nothing
    // without it).
    bool HaveStream() const;
    // The cut buttons work while a stream is open and the input is shown.
    bool CutButtonsActive() const;

    // One step of a held arrow (control::kCutLeft .. kCutDown): the cut moves
    // by one unit (up and down grow and shrink it vertically); no limits.
    // A changed cut belongs to the open movie (AppSettings::cutMovie).
    // False when the cut buttons are not active or `arrow` is no arrow.
    bool NudgeCut(int arrow);
    // The Reset, enlarge and shrink buttons (control::kCutReset,
    // kCutEnlarge, kCutShrink); false when nothing changed.
    bool CutButton(int button);

    // Play/Pause: toggles `paused` and runs or pauses the stream; a stream
    // at its end starts again from the beginning.
    PlayOutcome PlayPause();

    // A check box of a parameter (a filter switch, the aspect fix): the
    // box's state into its field.
    void StoreSwitch(int checkBox, int checked);
    // A slider's position into its field.
    void StoreSlider(int slider, int32_t position);
    // A Reset button: the reset values of its row into their fields; returns
    // the sliders to move.
    std::vector<SliderValue> ResetRow(int resetButton);

    // "Auto saving a parameters": flips AUTOSAVE and returns the new value.
    int32_t ToggleAutoSave();
    // "Mark output as 180° VR video": flips the flag, returns the new value.
    bool ToggleVrMarking();
    // The temporary folder the chooser gave (empty when cancelled, which
    // takes the start-up fallback): trimmed and stored in APATH; returned.
    std::string SetTempFolder(const std::string& chosen);

    // Display and run switches of the check boxes.
    void ShowInput(int checked);
    void ShowOutput(int checked);
    void SetStillFormat(int jpegChecked);
    void SetFlip(int checked);

    // Load: `paused` back to 0, the stream marked closed, a load flow
    // started (`path` given: no chooser).
    void Load(const std::string& path = {});
    // Save parameters: the settings into the parameter file; false (nothing
    // written) without a stream or when it could not be written.
    bool SaveParameters();

    // The lens of the "Lens" dialog; refused (nothing changes) during a
    // conversion, when LensProblem finds a fault or when the lens database
    // cannot give its profile: the reason is returned, empty when stored.
    // With a profile, the lens model becomes the profile's projection.
    std::string SetLens(const LensSettings& lens);
    // The stereo choice: how the movie holds the eyes (mono: one circle),
    // how the output holds them, swapped eyes, aligned eyes. Refused during
    // a conversion, and an output layout that is not sbs or tb: the reason,
    // else empty. A changed choice finds the eyes' circles again.
    std::string SetStereo(StereoLayout input, StereoLayout output, bool swapEyes, bool alignEyes);
    // An eye's own levelling angles (none given: the lens's), checked as
    // the lens's are; refused as SetLens is.
    std::string SetEyeAngles(int eye, const EyeAngles& angles);
    // The output preview's anaglyph (left eye red, right eye green and
    // blue) instead of the eyes side by side; returns the new state.
    bool ToggleAnaglyph();
    // The windows' places, kept for the next start.
    void StoreWindowPositions(const WindowPositions& at);
    // The cut a circle search found for `movie`, which it then belongs to.
    void SetMovieCut(const CutRect& cut, const MediaInfo& movie);
    // The folder a movie was chosen in: the choosers start there next time.
    void SetMovieFolder(const std::string& folder);
    // The amounts a slider cannot show take its reset value, so each
    // slider shows exactly its field.
    void FitAmountsToSliders();

private:
    // The one path of a settings change: applied under the lock, then announced.
    void Change(const std::function<void(AppSettings&)>& change);

    DesktopSession& session_;
};

}  // namespace tessaly
