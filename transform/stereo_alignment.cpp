#include "transform/stereo_alignment.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include "transform/frame_pipeline.h"

namespace tessaly {
namespace {

// Luma of an eye, rows top-down, box-averaged by `step` pixels each way.
struct Luma {
    int32_t n = 0;
    std::vector<float> v;
    float At(int x, int y) const { return v[static_cast<size_t>(y) * n + x]; }
};

Luma LumaOf(const FrameBuffer& eye, int step) {
    Luma l;
    l.n = eye.Width() / step;
    l.v.assign(static_cast<size_t>(l.n) * l.n, 0.0f);
    for (int y = 0; y < l.n * step; ++y) {
        const uint8_t* row = eye.Row(eye.Height() - 1 - y);
        for (int x = 0; x < l.n * step; ++x) {
            const uint8_t* p = row + 4 * x;
            l.v[static_cast<size_t>(y / step) * l.n + x / step] += 0.114f * p[0] + 0.587f * p[1] + 0.299f * p[2];
        }
    }
    for (float& value : l.v) value /= static_cast<float>(step * step);
    return l;
}

struct Strip {
    int x0 = 0, x1 = 0, y0 = 0, y1 = 0;  // the left eye's strip, half-open
};

double Cost(const Luma& a, const Luma& b, const Strip& s, int dx, int dy) {
    double sum = 0;
    for (int y = s.y0; y < s.y1; ++y)
        for (int x = s.x0; x < s.x1; ++x) {
            const double e = a.At(x, y) - b.At(x + dx, y + dy);
            sum += e * e;
        }
    return sum;
}

// The right eye's vertical shift (pixels, sub-pixel) that matches the
// strip best over horizontal shifts within `maxDx`; false without texture
// or without a clear minimum.
bool StripShift(const Luma& a, const Luma& b, const Strip& s, int maxDx, int maxDy, double& dy) {
    double mean = 0, sq = 0;
    const double count = static_cast<double>(s.x1 - s.x0) * (s.y1 - s.y0);
    for (int y = s.y0; y < s.y1; ++y)
        for (int x = s.x0; x < s.x1; ++x) {
            mean += a.At(x, y);
            sq += double(a.At(x, y)) * a.At(x, y);
        }
    if (sq / count - (mean / count) * (mean / count) < 4.0) return false;
    int bestDx = 0;
    double best = 1e300;
    for (int dx = -maxDx; dx <= maxDx; ++dx) {
        const double c = Cost(a, b, s, dx, 0);
        if (c < best) best = c, bestDx = dx;
    }
    int bestDy = 0;
    best = 1e300;
    for (int dx = bestDx - 1; dx <= bestDx + 1; ++dx)
        for (int d = -maxDy; d <= maxDy; ++d) {
            const double c = Cost(a, b, s, dx, d);
            if (c < best) best = c, bestDy = d, bestDx = dx;
        }
    if (bestDy == -maxDy || bestDy == maxDy) return false;
    const double cm = Cost(a, b, s, bestDx, bestDy - 1), cp = Cost(a, b, s, bestDx, bestDy + 1);
    const double curve = cm + cp - 2.0 * best;
    dy = bestDy + (curve > 0 ? 0.5 * (cm - cp) / curve : 0.0);
    return true;
}

}  // namespace

EyeMisalignment MeasureEyeMisalignment(const FrameBuffer& left, const FrameBuffer& right) {
    EyeMisalignment m;
    if (left.Empty() || left.Width() != right.Width() || left.Height() != right.Height() ||
        left.Width() != left.Height()) {
        return m;
    }
    const int step = std::max(1, left.Width() / 720);
    const Luma a = LumaOf(left, step), b = LumaOf(right, step);
    const double pixelsPerDegree = a.n / 180.0;
    const int half = std::max(2, static_cast<int>(3.0 * pixelsPerDegree));
    const int band = static_cast<int>(25.0 * pixelsPerDegree);
    const int maxDx = static_cast<int>(8.0 * pixelsPerDegree), maxDy = static_cast<int>(3.0 * pixelsPerDegree) + 2;
    double s11 = 0, s12 = 0, s22 = 0, r1 = 0, r2 = 0;
    for (int lonDeg = -60; lonDeg <= 60; lonDeg += 10) {
        const double lon = lonDeg * std::numbers::pi / 180.0;
        const int xc = static_cast<int>(std::lround(a.n / 2.0 - 0.5 + lonDeg * pixelsPerDegree));
        const Strip s{xc - half, xc + half, a.n / 2 - band, a.n / 2 + band};
        if (s.x0 - maxDx - 1 < 0 || s.x1 + maxDx + 1 > a.n || s.y0 - maxDy - 1 < 0 || s.y1 + maxDy + 1 > a.n) continue;
        double dy = 0;
        if (!StripShift(a, b, s, maxDx, maxDy, dy)) continue;
        // Degrees the right eye's picture lies lower: its view looks higher.
        const double shift = dy / pixelsPerDegree;
        const double c = std::cos(lon), si = std::sin(lon);
        s11 += c * c, s12 += c * si, s22 += si * si, r1 += c * shift, r2 += si * shift;
        ++m.strips;
    }
    const double det = s11 * s22 - s12 * s12;
    if (m.strips < 5 || std::fabs(det) < 1e-9) return m;
    m.pitch = (r1 * s22 - r2 * s12) / det;
    // A view rolled by a positive angle (as the lens's roll turns it) shows
    // the right side's picture higher.
    m.roll = -(s11 * r2 - s12 * r1) / det;
    m.ok = true;
    return m;
}

bool ConvertStereoEyes(const std::array<const uint8_t*, 2>& frames, int32_t frameW, int32_t frameH, const StereoSettings& stereo,
                       const LensSettings& shared, std::array<FrameBuffer, 2>& eyes) {
    TransformSettings settings;
    settings.sharpenOn = 0;
    for (int eye = 0; eye < 2; ++eye) {
        const FrameRegion& window = stereo.windows[eye];
        FramePipeline pipeline(1);
        if (pipeline.Allocate(window.w, window.h) != TransformStatus::kOk) return false;
        settings.cut = stereo.cuts[eye];
        settings.lens = EyeLens(shared, stereo.angles[eye]);
        if (!pipeline.BuildGeometry(settings.cut, settings.lens, stereo.shifts[eye]).Ok()) return false;
        if (pipeline.ConvertWindow(frames[eye], frameW, frameH, window, settings, {}, {}) != TransformStatus::kOk) {
            return false;
        }
        eyes[eye] = pipeline.Output();
    }
    return true;
}

StereoSettings AlignedEyes(const StereoSettings& stereo, const LensSettings& shared, const EyeMisalignment& measured) {
    StereoSettings aligned = stereo;
    for (int eye = 0; eye < 2; ++eye) {
        const LensSettings lens = EyeLens(shared, stereo.angles[eye]);
        const double sign = eye == kLeftEye ? 0.5 : -0.5;
        aligned.angles[eye].pitch = lens.pitch + sign * measured.pitch;
        aligned.angles[eye].roll = lens.roll + sign * measured.roll;
    }
    return aligned;
}

}  // namespace tessaly
