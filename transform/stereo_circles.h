// The two lens circles of a stereo frame and the two cuts that place them.
// Each eye's circle is looked for in its own half of the brightest-luma
// plane (transform/circle_finder.h); the two cuts get one crop height, so
// that both eyes convert to squares of one size.
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

struct StereoCuts {
    bool ok = false;
    std::string problem;  // why not ok
    std::array<CutForCircleResult, 2> eyes;
};

// The cuts of both eyes' circles on one frameW x frameH frame, with one crop
// height: both are placed for the circles' mean radius (the two circles of
// one lens or of two like cameras differ only by the search's error), and
// the right eye's cut takes the left one's height should rounding part them.
StereoCuts CutsForStereoCircles(int32_t frameW, int32_t frameH, const std::array<LensCircle, 2>& circles);

}  // namespace tessaly
