// Where the lens circle the transform assumes lies in the input preview.
//
// The circles come from the same geometry the conversion builds from the cut
// (all four values) and are mapped from source pixels into the letterboxed
// 600-pixel panel: the frame fills the panel's width and the letterbox's
// height, so a circle becomes an ellipse whose two radii differ by the
// letterbox's rounding only.
#pragma once

#include <string>

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

// How far the rim a cut places misses a circle found in the picture, in
// source pixels: the widest gap between the two edges (centre distance plus
// the radii's difference).
double RimMiss(const LensCircle& rim, const LensCircle& found);
// A miss clearly larger than the cut grid's rounding: over 3% of the found
// radius and over 4 pixels.
bool RimMissesCircle(const LensCircle& rim, const LensCircle& found);
// "lens circle found: centre 639.5, 359.5, radius 355.0" ("." whatever the locale).
std::string CircleFoundLine(const LensCircle& found);

}  // namespace tessaly
