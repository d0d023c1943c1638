// Source offsets through a lens other than the default one. An output
// pixel's view direction (right, up, along the axis) is turned by the
// levelling angles the way ffmpeg's v360 filter turns its output direction
// (yaw, then pitch, then roll, composed as one rotation), and the turned
// direction is looked up in the lens model: a ray theta off the axis lands
// R * LensRadiusFraction(lens, theta) from the crop centre, R = projS * pi / 2.
// Directions beyond fov / 2 are not covered and get kUncoveredOffset, which
// the resampler skips, so those output pixels stay black.
#pragma once

#include "transform/cut_geometry.h"
#include "transform/lens.h"

namespace tessaly {

// A source offset far outside any crop (both coordinates): the pixel's taps
// leave the source, so the resampler writes nothing there. Finite and within
// 32-bit integers, so every kernel rejects it the same way.
inline constexpr float kUncoveredOffset = -1.0e9f;

inline bool IsUncovered(float u) { return u == kUncoveredOffset; }

// The constants of one lens on one geometry.
struct LensProjection {
    LensModel model = LensModel::kEquidistant;
    double turn[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};  // output direction -> lens direction
    double cosRim = 0.0;  // cos(fov / 2): a direction whose axis component is below it is not covered
    double scale = 0.0;   // source pixels per unit of LensRadius (focal length)
};

// The rotation, in (right, up, along the axis) coordinates, that v360 applies
// for yaw, pitch and roll in degrees: v360 works with y pointing down, so
// pitch and roll change sign here while yaw keeps it.
void LevellingRotation(double yaw, double pitch, double roll, double turn[3][3]);

LensProjection MakeLensProjection(const CutGeometry& g, const LensSettings& lens);

// The offset of the view direction (a right, b up, c along the axis; unit
// length) before the rotation.
SourcePair LensOffset(const LensProjection& p, double a, double b, double c);

// The offset of output pixel (x, y), y counted from the bottom row, from the
// same longitude and latitude the default path uses.
SourcePair LensSourceOffset(const CutGeometry& g, const LensProjection& p, int x, int y);

// A whole output row (lonTerms from FillLongitudeTerms), 2 * outW floats.
void LensSourceOffsetRow(const CutGeometry& g, const LensProjection& p, const float* lonTerms, int y, float* uv);

}  // namespace tessaly
