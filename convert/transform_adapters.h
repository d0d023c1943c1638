// The transform's view of the application: the values of AppSettings and the
// main-window switches it reads, taken once per frame or per build.
#pragma once

#include "app/app_state.h"
#include "transform/cut_rect.h"
#include "transform/transform_settings.h"

namespace tessaly {

inline CutRect CutOf(const AppSettings& s) { return CutRect{s.XL1, s.YL1, s.XL2, s.YL2}; }

inline TransformSettings TransformSettingsOf(const AppSettings& s) {
    TransformSettings t;
    t.cut = CutOf(s);
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
    t.lens = s.lens;
    return t;
}

inline FrameSwitches FrameSwitchesOf(const RunState& run) {
    return FrameSwitches{run.horizontalFlip.load(), run.paused.load()};
}

}  // namespace tessaly
