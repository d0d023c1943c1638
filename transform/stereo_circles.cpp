#include "transform/stereo_circles.h"

#include <algorithm>
#include <cmath>

namespace tessaly {
namespace {

// The plane's columns or rows that cover `region` of the frame (the plane
// pixels whose centres fall inside it), and the source pixels they span.
struct PlaneHalf {
    LumaPlane plane;
    double originX = 0.0, originY = 0.0;  // source position of the half's first pixel edge
    double extentW = 0.0, extentH = 0.0;  // source pixels the half covers
};

PlaneHalf HalfOf(const LumaPlane& plane, int32_t frameW, int32_t frameH, const FrameRegion& region) {
    const double sx = static_cast<double>(frameW) / plane.width;
    const double sy = static_cast<double>(frameH) / plane.height;
    const int x0 = static_cast<int>(std::ceil(region.x / sx - 0.5));
    const int x1 = static_cast<int>(std::ceil((region.x + region.w) / sx - 0.5));
    const int y0 = static_cast<int>(std::ceil(region.y / sy - 0.5));
    const int y1 = static_cast<int>(std::ceil((region.y + region.h) / sy - 0.5));
    PlaneHalf half;
    half.plane.width = std::max(0, std::min(x1, plane.width) - x0);
    half.plane.height = std::max(0, std::min(y1, plane.height) - y0);
    half.plane.pixels.resize(static_cast<size_t>(half.plane.width) * half.plane.height);
    for (int y = 0; y < half.plane.height; ++y) {
        const uint8_t* src = plane.pixels.data() + static_cast<size_t>(y + y0) * plane.width + x0;
        std::copy(src, src + half.plane.width, half.plane.pixels.begin() + static_cast<ptrdiff_t>(y) * half.plane.width);
    }
    half.originX = x0 * sx;
    half.originY = y0 * sy;
    half.extentW = half.plane.width * sx;
    half.extentH = half.plane.height * sy;
    return half;
}

}  // namespace

std::string StereoCircleSearch::Problem() const {
    for (int eye = 0; eye < 2; ++eye) {
        if (eyes[eye].found) continue;
        const std::string reason = eyes[eye].reason.empty() ? std::string("no reason given") : eyes[eye].reason;
        return std::string("no lens circle found for the ") + (eye == kLeftEye ? "left" : "right") +
               " eye: " + reason;
    }
    return {};
}

StereoCircleSearch FindStereoCircles(const LumaPlane& plane, int32_t frameW, int32_t frameH,
                                     StereoLayout layout, bool swapEyes) {
    StereoCircleSearch search;
    for (int eye = 0; eye < 2; ++eye) {
        CircleSearch& found = search.eyes[eye];
        if (plane.width <= 0 || plane.height <= 0 || frameW < plane.width || frameH < plane.height) {
            found.reason = "the picture is too small";
            continue;
        }
        const PlaneHalf half = HalfOf(plane, frameW, frameH, EyeRegion(layout, swapEyes, frameW, frameH, eye));
        found = FindLensCircleOver(half.plane, half.extentW, half.extentH);
        found.circle.cx += half.originX;
        found.circle.cy += half.originY;
    }
    return search;
}

namespace {

// The cut of `wanted` with `span` rows of 600-unit height (so one crop
// height for both eyes): the top nearest the circle's centre, the columns
// of `columns`. Not ok when none gives a usable geometry.
CutForCircleResult CutWithSpan(int32_t frameW, int32_t frameH, const LensCircle& wanted, const CutRect& columns,
                               int32_t span) {
    CutForCircleResult best;
    double bestError = 1e300;
    for (int32_t dTop = -4; dTop <= 4; ++dTop) {
        CutRect cut = columns;
        cut.YL1 = columns.YL1 + dTop;
        cut.YL2 = cut.YL1 + span;
        const GeometryResult built = BuildCutGeometry(frameW, frameH, cut);
        if (!built.Ok()) continue;
        const LensCircle got = LensCircleOf(built.geometry);
        const double error = std::hypot(got.cx - wanted.cx, got.cy - wanted.cy);
        if (error < bestError) {
            bestError = error;
            best.ok = true;
            best.cut = cut;
            best.achieved = got;
            best.errorX = got.cx - wanted.cx;
            best.errorY = got.cy - wanted.cy;
            best.errorR = got.r - wanted.r;
        }
    }
    return best;
}

}  // namespace

StereoCuts CutsForStereoCircles(int32_t frameW, int32_t frameH, const std::array<LensCircle, 2>& circles) {
    StereoCuts cuts;
    const double r = 0.5 * (circles[0].r + circles[1].r);
    std::array<CutForCircleResult, 2> own;
    for (int eye = 0; eye < 2; ++eye) {
        own[eye] = CutForCircle(frameW, frameH, LensCircle{circles[eye].cx, circles[eye].cy, r});
        if (!own[eye].ok) {
            cuts.problem = std::string("no cut places the ") + (eye == kLeftEye ? "left" : "right") +
                           " eye's lens circle centre " + OneDecimal(circles[eye].cx) + "," +
                           OneDecimal(circles[eye].cy) + " radius " + OneDecimal(r) + " px";
            return cuts;
        }
    }
    // One height for both: of the heights near the two eyes' own, the one
    // whose worst eye lies nearest its circle.
    double bestWorst = 1e300;
    const int32_t spans[2] = {own[0].cut.YL2 - own[0].cut.YL1, own[1].cut.YL2 - own[1].cut.YL1};
    for (int32_t span = std::min(spans[0], spans[1]) - 1; span <= std::max(spans[0], spans[1]) + 1; ++span) {
        std::array<CutForCircleResult, 2> pair;
        double worst = 0;
        for (int eye = 0; eye < 2; ++eye) {
            pair[eye] = CutWithSpan(frameW, frameH, circles[eye], own[eye].cut, span);
            if (!pair[eye].ok) worst = 1e300;
            worst = std::max(worst, std::hypot(std::hypot(pair[eye].errorX, pair[eye].errorY), pair[eye].errorR));
        }
        if (worst < bestWorst) {
            bestWorst = worst;
            cuts.eyes = pair;
            cuts.ok = true;
        }
    }
    if (!cuts.ok) cuts.problem = "no cut of one height places both eyes' lens circles";
    return cuts;
}

}  // namespace tessaly
