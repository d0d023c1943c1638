// The two lens circles of a stereo frame and where each eye is converted
// from. Each eye's circle is looked for in its own half of the
// brightest-luma plane (transform/circle_finder.h).
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "transform/circle_finder.h"
#include "transform/lens_circle.h"
#include "transform/stereo_layout.h"

namespace tessaly {

// The search in each eye's half (left eye first), circles in the whole
// frame's source pixels.
struct StereoCircleSearch {
    std::array<CircleSearch, 2> eyes;
    bool Found() const { return eyes[0].found && eyes[1].found; }
    // "no lens circle found for the right eye: <reason>", or empty.
    std::string Problem() const;
};

// `plane` covers the whole frameW x frameH frame (possibly scaled down).
StereoCircleSearch FindStereoCircles(const LumaPlane& plane, int32_t frameW, int32_t frameH,
                                     StereoLayout layout, bool swapEyes);

// Where each eye of a stereo frame is converted from: a window of the
// frame, the size of a half, and one cut in the window's 600 units. The cut
// places the left eye's circle (of the two circles' mean radius: the two of
// one lens or of two like cameras differ only by the search's error) as
// closely as the cut's grid allows; each window is then moved by whole
// pixels so that its eye's circle lies on the cut's circle, and the half
// pixel or less left over is the eye's centre shift. Both eyes thus convert
// to squares of one size, each centred on its circle; only the radius keeps
// the grid's rest.
struct StereoPlacement {
    bool ok = false;
    std::string problem;  // why not ok
    std::array<FrameRegion, 2> windows;
    std::array<CentreShift, 2> shifts;
    // Per eye: the cut (in the window) and the circle it places with the
    // shift in frame pixels, with what is left (placed minus found).
    std::array<CutForCircleResult, 2> eyes;
};

StereoPlacement PlaceStereoEyes(int32_t frameW, int32_t frameH, StereoLayout layout, bool swapEyes,
                                const std::array<LensCircle, 2>& circles);

}  // namespace tessaly
