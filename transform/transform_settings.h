// The settings the transform reads, taken from AppSettings once per call so
// that a frame is processed with one consistent set of values, and the
// switches of the main window that are not persisted.
#pragma once

#include <cstdint>

#include "app/app_state.h"

namespace tessaly {

struct TransformSettings {
    int32_t XL1 = -8, YL1 = -8, XL2 = 616, YL2 = 606;
    int32_t sharpenOn = 1, sharpen = 0, radius = 0;
    int32_t brightnessOn = 0, brightness = 0;
    int32_t contrastOn = 0, contrast = 0;
    int32_t cpuOn = 0, cpu = 0;
    int32_t noiseOn = 0, noise = 0;
    int32_t aspect = 0;

    static TransformSettings From(const AppSettings& s) {
        TransformSettings t;
        t.XL1 = s.XL1;
        t.YL1 = s.YL1;
        t.XL2 = s.XL2;
        t.YL2 = s.YL2;
        t.sharpenOn = s.SHARPEN_CH;
        t.sharpen = s.SHARPEN;
        t.radius = s.RADIUS;
        t.brightnessOn = s.BRIGHTNESS_CH;
        t.brightness = s.BRIGHTNESS;
        t.contrastOn = s.CONTRAST_CH;
        t.contrast = s.CONTRAST;
        t.cpuOn = s.CPU_CH;
        t.cpu = s.CPU;
        t.noiseOn = s.NOISE_CH;
        t.noise = s.NOISE;
        t.aspect = s.ASPECT;
        return t;
    }
};

// Main-window switches that live outside the parameter file.
struct FrameSwitches {
    int32_t horizontalFlip = 0;
    int32_t paused = 0;

    static FrameSwitches From(const FisheyeApp& app) {
        return FrameSwitches{app.horizontalFlip.load(), app.paused.load()};
    }
};

}  // namespace tessaly
