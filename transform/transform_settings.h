// The settings the transform reads, taken once per frame so that a frame is
// processed with one consistent set of values, and the switches of the main
// window that are not persisted. The application fills them (convert/).
#pragma once

#include <cstdint>

#include "transform/cut_rect.h"
#include "transform/lens.h"

namespace tessaly {

struct TransformSettings {
    CutRect cut;
    int32_t sharpenOn = 1, sharpen = 0, radius = 0;
    int32_t brightnessOn = 0, brightness = 0;
    int32_t contrastOn = 0, contrast = 0;
    int32_t cpuOn = 0, cpu = 0;
    int32_t noiseOn = 0, noise = 0;
    int32_t aspect = 0;
    LensSettings lens;
};

struct FrameSwitches {
    int32_t horizontalFlip = 0;
    int32_t paused = 0;
};

}  // namespace tessaly
