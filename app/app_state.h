// Application state: the persisted settings and the runtime state that the
// threads of the program share. FisheyeApp is the one owner of both.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "app/run_log.h"
#include "transform/cut_rect.h"
#include "transform/lens.h"

namespace tessaly {

// The persisted parameters (the 27 specified ones, then the lens), with the values the program holds before any
// parameter file is read.
struct AppSettings {
    int32_t XL1 = kDefaultCut.XL1;
    int32_t YL1 = kDefaultCut.YL1;
    int32_t XL2 = kDefaultCut.XL2;
    int32_t YL2 = kDefaultCut.YL2;
    int32_t M_X = 0;
    int32_t M_Y = 0;
    int32_t V_X = 0;
    int32_t V_Y = 0;
    int32_t SHARPEN_CH = 1;
    int32_t BRIGHTNESS_CH = 0;
    int32_t CONTRAST_CH = 0;
    int32_t CPU_CH = 0;
    int32_t NOISE_CH = 0;
    int32_t ASPECT = 0;
    int32_t SHARPEN = 0;
    int32_t RADIUS = 0;
    int32_t BRIGHTNESS = 0;
    int32_t CONTRAST = 0;
    int32_t CPU = 0;
    int32_t NOISE = 0;
    std::string APATH;  // temporary folder, no trailing separator
    std::string OPATH;  // default output folder, no trailing separator
    int32_t DSSETUP = 0;
    int32_t BITRATE = 0;
    int32_t CODECMODE = 0;
    int32_t AUTOSAVE = 1;
    int32_t FPS = 1;
    // Kept after the 27 above: the lens model, its field of view and the
    // levelling angles (defaults: the equidistant 180-degree lens, level).
    LensSettings lens;

    bool operator==(const AppSettings&) const = default;
};

// The frame size assumed before a movie is open.
inline constexpr int32_t kStartFrameWidth = 400;
inline constexpr int32_t kStartFrameHeight = 300;

// Sets the cut rectangle of s to the start value.
inline void ResetCut(AppSettings& s) {
    s.XL1 = kDefaultCut.XL1;
    s.YL1 = kDefaultCut.YL1;
    s.XL2 = kDefaultCut.XL2;
    s.YL2 = kDefaultCut.YL2;
}

// Size of the desktop the windows live on; used to clamp saved window
// positions. The desktop program sets it from the primary screen.
struct ScreenSize {
    int32_t width = 1920;
    int32_t height = 1080;
};

// Progress texts shown during a conversion (8-character fixed texts).
struct ProgressTexts {
    std::string estimatedTime = "00.00.00";
    std::string timePassed = "00.00.00";
    std::string fps = "00.000";
};

// The progress texts behind their own lock: the frame thread writes them
// while the preview painter reads them on another.
class SharedProgress {
public:
    void Set(ProgressTexts texts) {
        std::lock_guard lock(mutex_);
        texts_ = std::move(texts);
    }
    ProgressTexts Get() const {
        std::lock_guard lock(mutex_);
        return texts_;
    }

private:
    mutable std::mutex mutex_;
    ProgressTexts texts_;
};

class FisheyeApp {
public:
    AppSettings settings;

    // Runtime state shared between threads: single 32-bit flags, each written
    // by one side and polled by the other.
    std::atomic<int32_t> tempFormat{1};       // 1 = BMP stills, 2 = JPEG stills
    std::atomic<int32_t> streamState{0};      // 0 none/stop, 2 opening, 1 running
    std::atomic<int32_t> showInputVideo{1};
    std::atomic<int32_t> showOutputVideo{1};
    std::atomic<int32_t> horizontalFlip{0};
    std::atomic<int32_t> paused{0};
    std::atomic<int32_t> converting{0};
    std::atomic<int32_t> encoderBusy{0};
    std::atomic<int32_t> stopRequested{0};
    std::atomic<int32_t> shutdownDone{0};
    std::atomic<int32_t> resizeChoice{0};     // resize choice of the output options
    // 1: every written output in a container that can carry it is marked as
    // 180-degree VR video ("Mark output as 180° VR video", --no-vr-metadata).
    std::atomic<int32_t> markVrOutput{1};
    std::atomic<int32_t> vrNoteLogged{0};     // the "cannot carry" note is in the log

    std::atomic<int32_t> frameWidth{kStartFrameWidth};
    std::atomic<int32_t> frameHeight{kStartFrameHeight};

    ScreenSize screen;
    SharedProgress progress;  // written by the frame thread, read for display only
    std::string fileInfoText;

    std::string programDir;  // folder of the executable, with a trailing "/"
    std::string iniPath;     // programDir + "Tessaly.ini"
    std::string logPath;     // programDir + "Tessaly_mono.log"

    RunLog log;

    // Hooks that Shutdown runs: the first stop playback (before "EXIT2"), the
    // second wait for the worker threads to finish (before "EXIT3").
    // Later layers register what they own; both kinds run in registration order.
    void AddStopHook(std::function<void()> hook);
    void AddJoinHook(std::function<void()> hook);
    void RunStopHooks();
    void RunJoinHooks();

private:
    std::mutex hooksMutex_;
    std::vector<std::function<void()>> stopHooks_;
    std::vector<std::function<void()>> joinHooks_;
};

// The still format from the first command-line argument: its numeric value,
// where missing, 0 or non-numeric gives 1.
int32_t ParseTempFormat(const char* firstArgument);

// The folder of the running executable with a trailing "/", derived from
// /proc/self/exe (falls back to the folder of argv0).
std::string ProgramFolder(const char* argv0);

}  // namespace tessaly
