// Results of the transform's checks. Nothing in the transform throws: every
// refusal comes back as one of these, with a text the caller can show or log.
#pragma once

#include <cstdint>

namespace tessaly {

enum class TransformStatus : int32_t {
    kOk = 0,
    kNoFrame,         // no frame size known (no movie open) or a size <= 0
    kFrameTooLarge,   // the frame does not fit the transform's 32-bit offsets
    kCropEmpty,       // the cut gives cropH < 2 or cropW < 1
    kOutputTooLarge,  // the output exceeds the remap table's 36,000,000 pixels
    kCropTooLarge,    // the crop lies beyond 32-bit coordinates or 2 GB of memory
    kBadSampleSize,   // a delivered frame's byte count is not frameW * frameH * 4
    kNoGeometry,      // no valid cut geometry has been built
    kResamplerBusy,   // the resampler was running another job; this one was not done
    kEyesDiffer,      // the two eyes of a stereo cut give outputs of different sizes
};

// A fixed one-line description of the status.
const char* StatusText(TransformStatus status);

}  // namespace tessaly
