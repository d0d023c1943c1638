// Where the lens circle the transform assumes lies in the input preview.
//
// The circles come from the same geometry the conversion builds from the cut
// (all four values) and are mapped from source pixels into the letterboxed
// 600-pixel panel: the frame fills the panel's width and the letterbox's
// height, so a circle becomes an ellipse whose two radii differ by the
// letterbox's rounding only.
#pragma once

#include "transform/cut_rect.h"
#include "transform/lens.h"
#include "transform/lens_circle.h"

namespace tessaly {

// A point in the panel's continuous coordinates: x right, y down, pixel
// (i, j) covering [i, i + 1) x [j, j + 1).
struct PreviewPoint {
    double x = 0.0;
    double y = 0.0;
};

struct PreviewEllipse {
    double cx = 0.0;
    double cy = 0.0;
    double rx = 0.0;
    double ry = 0.0;
};

// A source pixel position (x right, y down, the centre of the top-left pixel
// at (0, 0)) on a frameW x frameH frame, in the input panel.
PreviewPoint SourceToPreview(double x, double y, int frameW, int frameH);
// A circle in source pixels as the ellipse it becomes in the input panel.
PreviewEllipse CircleToPreview(const LensCircle& circle, int frameW, int frameH);

struct LensRims {
    bool valid = false;  // the cut gives a geometry on this frame
    LensCircle lens;     // the lens circle, source pixels
    PreviewEllipse lensInPreview;
    // A lens wider than 180 degrees: the circle where the output's
    // 180-degree edge samples the lens, inside the lens circle.
    bool hemisphere = false;
    LensCircle hemisphereCircle;
    PreviewEllipse hemisphereInPreview;
};

LensRims LensRimsOf(int frameW, int frameH, const CutRect& cut, const LensSettings& lens);

}  // namespace tessaly
