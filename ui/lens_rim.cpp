#include "ui/lens_rim.h"

#include <QString>

#include <cmath>

#include "transform/cut_geometry.h"
#include "ui/preview_painter.h"

namespace tessaly {

PreviewPoint SourceToPreview(double x, double y, int frameW, int frameH) {
    if (frameW <= 0 || frameH <= 0) return {};
    const Letterbox box = LetterboxFor(frameW, frameH);
    // The picture is stretched onto (0, top) with size 600 x height; pixel
    // centres sit half a pixel in.
    return PreviewPoint{(x + 0.5) * kInputPreviewSize / frameW, box.top + (y + 0.5) * box.height / frameH};
}

PreviewEllipse CircleToPreview(const LensCircle& circle, int frameW, int frameH) {
    if (frameW <= 0 || frameH <= 0) return {};
    const Letterbox box = LetterboxFor(frameW, frameH);
    const PreviewPoint centre = SourceToPreview(circle.cx, circle.cy, frameW, frameH);
    return PreviewEllipse{centre.x, centre.y, circle.r * kInputPreviewSize / frameW,
                          circle.r * box.height / frameH};
}

LensRims LensRimsOf(int frameW, int frameH, const CutRect& cut, const LensSettings& lens) {
    LensRims rims;
    if (frameW <= 0 || frameH <= 0) return rims;
    const GeometryResult built = BuildCutGeometry(frameW, frameH, cut);
    if (!built.Ok()) return rims;
    rims.valid = true;
    rims.lens = LensCircleOf(built.geometry);
    rims.lensInPreview = CircleToPreview(rims.lens, frameW, frameH);
    if (lens.fov > 180.0 && LensProblem(lens).empty()) {
        rims.hemisphere = true;
        rims.hemisphereCircle = HemisphereCircleOf(built.geometry, lens);
        rims.hemisphereInPreview = CircleToPreview(rims.hemisphereCircle, frameW, frameH);
    }
    return rims;
}

double RimMiss(const LensCircle& rim, const LensCircle& found) {
    return std::hypot(rim.cx - found.cx, rim.cy - found.cy) + std::fabs(rim.r - found.r);
}

bool RimMissesCircle(const LensCircle& rim, const LensCircle& found) {
    const double miss = RimMiss(rim, found);
    return miss > 4.0 && miss > 0.03 * found.r;
}

std::string CircleFoundLine(const LensCircle& found) {
    const auto tenth = [](double v) { return QString::number(v, 'f', 1).toStdString(); };
    return "lens circle found: centre " + tenth(found.cx) + ", " + tenth(found.cy) + ", radius " + tenth(found.r);
}

}  // namespace tessaly
