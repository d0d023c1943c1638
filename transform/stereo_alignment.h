// How far the two converted eyes of a stereo frame disagree vertically:
// the right eye's picture against the left's, strip by strip along the
// horizon band, each strip matched over a range of horizontal shifts (the
// eyes' parallax) and vertical ones. A vertical offset that is the same
// across the view is a pitch difference, one that grows with the
// longitude's sine a roll difference; both are fitted to the strips' shifts.
#pragma once

#include <array>
#include <cstdint>

#include "transform/frame_buffer.h"
#include "transform/lens.h"
#include "transform/stereo_layout.h"

namespace tessaly {

struct EyeMisalignment {
    bool ok = false;      // enough strips with texture matched
    int32_t strips = 0;   // strips used
    // Degrees the right eye's view is turned against the left's, in the
    // sense of the lens's pitch (up) and roll.
    double pitch = 0.0;
    double roll = 0.0;
};

// Both eyes are equirectangular 180-degree squares of one size (bottom-up
// BGRX).
EyeMisalignment MeasureEyeMisalignment(const FrameBuffer& left, const FrameBuffer& right);

// Converts the two eyes as `stereo` places them (no filter, no sharpening)
// into `eyes`, each from its own bottom-up BGRX frame of one size: one
// frame twice for both eyes in one picture, two for a pair of movies. False
// when a geometry is refused.
bool ConvertStereoEyes(const std::array<const uint8_t*, 2>& frames, int32_t frameW, int32_t frameH, const StereoSettings& stereo,
                       const LensSettings& shared, std::array<FrameBuffer, 2>& eyes);

// `stereo` with each eye's pitch and roll moved by half of `measured`, in
// opposite directions, so that the eyes meet in the middle.
StereoSettings AlignedEyes(const StereoSettings& stereo, const LensSettings& shared, const EyeMisalignment& measured);

}  // namespace tessaly
