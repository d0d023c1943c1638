// Finds the image circle of a circular fisheye lens in a movie's frames.
//
// The frames' luma is folded into one picture of the brightest value each
// pixel took, so that a scene dark in one frame is lit by another. The
// circle's rim is where that lit area meets the black surround: edge points
// are taken along rays from inside the lit area (the rim at the frame's
// border, where the circle is cut off, gives none), a circle is fitted to
// them robustly (straight edges such as letterbox bars do not fit one) and
// checked: enough of its rim seen, black outside, lit inside. Pure
// arithmetic on 8-bit planes; the frames come from the media layer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "transform/lens_circle.h"

namespace tessaly {

// An 8-bit picture, rows top-down, no padding.
struct LumaPlane {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> pixels;
};

// The brightest value each pixel took over the frames added (all of one size).
class LumaMaximum {
public:
    // Adds one frame of `width` x `height` bytes, rows `stride` apart, top-down.
    // A frame of another size than the first is ignored (returns false).
    bool Add(const uint8_t* luma, int32_t width, int32_t height, int32_t stride);
    const LumaPlane& Plane() const { return plane_; }
    int32_t Frames() const { return frames_; }

private:
    LumaPlane plane_;
    int32_t frames_ = 0;
};

struct CircleSearch {
    bool found = false;
    LensCircle circle;   // in source pixels (see lens_circle.h)
    std::string reason;  // why none was found: "the picture has no dark surround", ...
    // How the fit went: edge points taken, those on the circle, their RMS
    // distance from it (source pixels) and the degrees of rim they cover.
    int32_t edgePoints = 0;
    int32_t inliers = 0;
    double rms = 0.0;
    double coverage = 0.0;
};

// Finds the lens circle in `plane`, a picture of the whole frameW x frameH
// source frame, possibly scaled down (each plane pixel the average of the
// source pixels it covers). The circle is returned in source pixels.
CircleSearch FindLensCircle(const LumaPlane& plane, int32_t frameW, int32_t frameH);
// The same for a plane that covers frameW x frameH source pixels, which need
// not be whole (a half of a scaled-down plane).
CircleSearch FindLensCircleOver(const LumaPlane& plane, double frameW, double frameH);

// "no lens circle found: <reason>".
std::string NoCircleMessage(const CircleSearch& search);

// A number with one decimal, '.' whatever the locale: 639.5, -0.3, 0.0.
std::string OneDecimal(double value);

// "lens circle: centre 639.5,359.5 radius 360.0 px; <cutLabel> 0,-23,600,637
// (off by 0.0, 0.0, 0.0 px)": the circle and the cut that places it, with
// what the cut's rounding leaves (x, y, radius).
std::string CircleCutLine(const LensCircle& circle, const CutForCircleResult& cut, const std::string& cutLabel);

}  // namespace tessaly
