// The lens circle of a cut and the cut of a lens circle.
//
// A cut places the lens's image circle: its centre is the crop's centre and
// its radius the distance at which the remap samples the lens's rim (the rays
// at fov / 2; with the default lens the 90-degree rim, projS * pi / 2, about
// 0.4545 * cropH). Circles are in source pixels of the frame, x to the right
// and y downward, with the centre of the top-left pixel at (0, 0).
#pragma once

#include <cstdint>

#include "transform/cut_geometry.h"
#include "transform/cut_rect.h"
#include "transform/lens.h"

namespace tessaly {

struct LensCircle {
    double cx = 0.0;
    double cy = 0.0;
    double r = 0.0;

    bool operator==(const LensCircle&) const = default;
};

// The lens circle the remap assumes for a built geometry.
LensCircle LensCircleOf(const CutGeometry& g);

// The circle on which the output's 180-degree edge (rays 90 degrees off the
// axis) samples the lens: the lens circle itself at a field of view of 180,
// inside it for wider lenses.
LensCircle HemisphereCircleOf(const CutGeometry& g, const LensSettings& lens);

struct CutForCircleResult {
    bool ok = false;
    CutRect cut;
    LensCircle achieved;  // the lens circle of `cut`
    // What the 600-unit grid and the rounding of the geometry leave, in
    // source pixels (achieved minus wanted).
    double errorX = 0.0;
    double errorY = 0.0;
    double errorR = 0.0;
};

// The cut whose lens circle lies nearest the wanted one on a frameW x frameH
// frame (the inverse of BuildCutGeometry: the 1.28 factor of the top, the
// 600-unit grid, nearest integers). Not ok when no usable cut gives it.
CutForCircleResult CutForCircle(int frameW, int frameH, const LensCircle& wanted);

}  // namespace tessaly
