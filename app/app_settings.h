// The persisted settings and their one owner: the values and the lock that
// guards them in one object.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>

#include "transform/cut_rect.h"
#include "transform/lens.h"
#include "transform/stereo_layout.h"

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
    // The movie the cut was set for (by the user or the lens circle search):
    // its path and picture size. Empty for the start cut and for a cut read
    // from a file that does not say; a movie that is not this one gets its
    // circle searched on load.
    std::string cutMovie;
    int32_t cutMovieWidth = 0;
    int32_t cutMovieHeight = 0;
    // Two eyes in one frame: how the movie holds them (a StereoLayout;
    // mono: one circle), how the output holds them, whether the movie's
    // first half holds the right eye, whether the eyes are aligned before a
    // run, and each eye's own levelling angles (none: the lens's).
    int32_t STEREO = 0;
    int32_t STEREO_OUT = 1;
    int32_t SWAP_EYES = 0;
    int32_t ALIGN_EYES = 1;
    std::array<EyeAngles, 2> eyeAngles{};

    bool operator==(const AppSettings&) const = default;
};

// Sets the cut rectangle of s to the start value.
inline void ResetCut(AppSettings& s) {
    s.XL1 = kDefaultCut.XL1;
    s.YL1 = kDefaultCut.YL1;
    s.XL2 = kDefaultCut.XL2;
    s.YL2 = kDefaultCut.YL2;
}

// True when the cut was set for the movie at `path` with that picture size.
inline bool CutSetFor(const AppSettings& s, const std::string& path, int32_t width, int32_t height) {
    return !s.cutMovie.empty() && s.cutMovie == path && s.cutMovieWidth == width && s.cutMovieHeight == height;
}

// Records that the cut now belongs to the movie at `path` (empty: to none).
inline void SetCutMovie(AppSettings& s, const std::string& path, int32_t width, int32_t height) {
    s.cutMovie = path;
    s.cutMovieWidth = path.empty() ? 0 : width;
    s.cutMovieHeight = path.empty() ? 0 : height;
}

// The settings with their lock. One thread owns them (the GUI thread, or the
// headless converter's main thread): it alone changes them, always through
// Change or Set, and may read them in place (`settings->XL1`, `*settings`)
// since nothing else writes them. Every other thread takes a Copy.
class SharedSettings {
public:
    SharedSettings() = default;
    SharedSettings(const SharedSettings&) = delete;
    SharedSettings& operator=(const SharedSettings&) = delete;

    // Reads on the owner's thread.
    const AppSettings& operator*() const { return values_; }
    const AppSettings* operator->() const { return &values_; }

    // Reads on any thread: a copy taken under the lock.
    AppSettings Copy() const {
        std::lock_guard lock(mutex_);
        return values_;
    }

    // Writes, on the owner's thread: `change(AppSettings&)` runs under the lock.
    template <class F>
    void Change(F&& change) {
        std::lock_guard lock(mutex_);
        std::forward<F>(change)(values_);
    }
    void Set(AppSettings values) {
        std::lock_guard lock(mutex_);
        values_ = std::move(values);
    }

private:
    mutable std::mutex mutex_;
    AppSettings values_;
};

}  // namespace tessaly
