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

StereoPlacement PlaceStereoEyes(int32_t frameW, int32_t frameH, StereoLayout layout, bool swapEyes,
                                const std::array<LensCircle, 2>& circles) {
    StereoPlacement placement;
    const FrameRegion first = EyeRegion(layout, swapEyes, frameW, frameH, kLeftEye);
    const double r = 0.5 * (circles[0].r + circles[1].r);
    const LensCircle wanted{circles[0].cx - first.x, circles[0].cy - first.y, r};
    const CutForCircleResult cut = CutForCircle(first.w, first.h, wanted);
    if (!cut.ok) {
        placement.problem = "no cut places the left eye's lens circle centre " + OneDecimal(circles[0].cx) + "," +
                            OneDecimal(circles[0].cy) + " radius " + OneDecimal(r) + " px in a " +
                            std::to_string(first.w) + "x" + std::to_string(first.h) + " half of the frame";
        return placement;
    }
    // Each eye's window is moved by whole pixels so that its circle lies
    // where the one cut places a circle, and the remap's centre by the rest.
    const LensCircle& at = cut.achieved;
    for (int eye = 0; eye < 2; ++eye) {
        FrameRegion& window = placement.windows[eye];
        const double dx = circles[eye].cx - at.cx, dy = circles[eye].cy - at.cy;
        window = FrameRegion{static_cast<int32_t>(std::lround(dx)), static_cast<int32_t>(std::lround(dy)), first.w,
                             first.h};
        CentreShift& shift = placement.shifts[eye];
        shift = CentreShift{dx - window.x, dy - window.y};
        CutForCircleResult& placed = placement.eyes[eye];
        placed = cut;
        placed.achieved = LensCircle{at.cx + window.x + shift.x, at.cy + window.y + shift.y, at.r};
        placed.errorX = placed.achieved.cx - circles[eye].cx;
        placed.errorY = placed.achieved.cy - circles[eye].cy;
        placed.errorR = placed.achieved.r - circles[eye].r;
    }
    placement.ok = true;
    return placement;
}

}  // namespace tessaly
