#include "transform/lens_circle.h"

#include <cmath>
#include <limits>
#include <numbers>

namespace tessaly {

LensCircle LensCircleOf(const CutGeometry& built) {
    CutGeometry g = built;
    ComputeProjection(g);  // projS as the remap uses it
    // Crop column x shows frame column cropLeft + x; crop row y (from the top)
    // shows picture row cropTop + y - 1. The remap samples around the crop's
    // centre, (cropW - 1) / 2 and (cropH - 1) / 2.
    return LensCircle{g.cropLeft + 0.5 * g.cropW - 0.5, g.cropTop + 0.5 * g.cropH - 1.5,
                      static_cast<double>(g.projS) * std::numbers::pi / 2.0};
}

LensCircle HemisphereCircleOf(const CutGeometry& g, const LensSettings& lens) {
    LensCircle c = LensCircleOf(g);
    c.r *= LensRadiusFraction(lens, std::numbers::pi / 2.0);
    return c;
}

namespace {

// The circle of a cut, or nothing when the cut gives no usable geometry.
bool CircleOfCut(int frameW, int frameH, const CutRect& cut, LensCircle& out) {
    const GeometryResult built = BuildCutGeometry(frameW, frameH, cut);
    if (!built.Ok()) return false;
    out = LensCircleOf(built.geometry);
    return true;
}

bool FitsInt32(double v) { return std::fabs(v) < 1.0e9; }

// The mean square of the radial gap between the wanted rim and the rim of a
// circle whose centre is `dc` and radius `dr` off (the gap at angle a is
// dr + dc cos a). A rim outside the lens's circle brings the black surround
// into the panorama's edge all along it, one inside loses only a sliver of
// picture, so gaps outward count three times as far as gaps inward.
double RimMismatch(double dc, double dr) {
    constexpr int kSteps = 72;
    double sum = 0.0;
    for (int i = 0; i < kSteps; ++i) {
        const double gap = dr + dc * std::cos((i + 0.5) * 2.0 * std::numbers::pi / kSteps);
        sum += gap > 0.0 ? 9.0 * gap * gap : gap * gap;
    }
    return sum / kSteps;
}

}  // namespace

CutForCircleResult CutForCircle(int frameW, int frameH, const LensCircle& wanted) {
    CutForCircleResult best;
    if (frameW <= 0 || frameH <= 0 || !(wanted.r > 0.0) || !std::isfinite(wanted.cx) ||
        !std::isfinite(wanted.cy) || !std::isfinite(wanted.r)) {
        return best;
    }
    const double fx = static_cast<float>(frameW) / 600.0f;
    const double fy = static_cast<float>(frameH) / 600.0f;
    // radius = 0.90909 * (2 * 0.159154 * cropH) * pi / 2
    const double radiusPerCropRow = 0.90909 * 2.0 * 0.159154 * std::numbers::pi / 2.0;
    const double cropH = wanted.r / radiusPerCropRow;
    const double spanY = cropH / fy;                           // YL2 - YL1
    const double top = wanted.cy + 1.5 - 0.5 * cropH;          // cropTop
    const double yl1 = top / (fy * 1.28);
    // The crop must hold the circle's columns and the resampler's taps.
    const double spanX = std::ceil((2.0 * wanted.r + 4.0) / fx);  // XL2 - XL1
    const double left = wanted.cx + 0.5 - 0.5 * spanX * fx;       // cropLeft
    const double xl1 = left / fx;
    if (!FitsInt32(spanY) || !FitsInt32(yl1) || !FitsInt32(spanX) || !FitsInt32(xl1)) return best;

    // The rounding of the geometry is not monotonic in every unit, so the
    // nearest integers are searched around the real-valued solution. Where
    // the grid cannot place both the centre's row and the radius, the rim
    // nearest the wanted one wins, a rim outside it counting three times.
    double bestVertical = std::numeric_limits<double>::infinity();
    CutRect cut;
    LensCircle got;
    for (int64_t dSpan = -2; dSpan <= 2; ++dSpan) {
        for (int64_t dTop = -2; dTop <= 2; ++dTop) {
            cut.YL1 = static_cast<int32_t>(std::lround(yl1) + dTop);
            cut.YL2 = static_cast<int32_t>(cut.YL1 + std::lround(spanY) + dSpan);
            cut.XL1 = static_cast<int32_t>(std::lround(xl1));
            cut.XL2 = static_cast<int32_t>(cut.XL1 + static_cast<int64_t>(spanX));
            if (!CircleOfCut(frameW, frameH, cut, got)) continue;
            const double e = RimMismatch(got.cy - wanted.cy, got.r - wanted.r);
            if (e < bestVertical) {
                bestVertical = e;
                best.cut = cut;
            }
        }
    }
    if (!std::isfinite(bestVertical)) return best;
    double bestHorizontal = std::numeric_limits<double>::infinity();
    const CutRect vertical = best.cut;
    for (int64_t dLeft = -2; dLeft <= 2; ++dLeft) {
        for (int64_t dSpan = 0; dSpan <= 2; ++dSpan) {
            cut = vertical;
            cut.XL1 = static_cast<int32_t>(std::lround(xl1) + dLeft);
            cut.XL2 = static_cast<int32_t>(cut.XL1 + static_cast<int64_t>(spanX) + dSpan);
            if (!CircleOfCut(frameW, frameH, cut, got)) continue;
            const double e = std::fabs(got.cx - wanted.cx);
            if (e < bestHorizontal - 1e-9) {
                bestHorizontal = e;
                best.cut = cut;
            }
        }
    }
    if (!CircleOfCut(frameW, frameH, best.cut, got)) return best;
    best.ok = true;
    best.achieved = got;
    best.errorX = got.cx - wanted.cx;
    best.errorY = got.cy - wanted.cy;
    best.errorR = got.r - wanted.r;
    return best;
}

}  // namespace tessaly
