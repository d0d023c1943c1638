#include "transform/circle_finder.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <numbers>

namespace tessaly {

bool LumaMaximum::Add(const uint8_t* luma, int32_t width, int32_t height, int32_t stride) {
    if (luma == nullptr || width <= 0 || height <= 0 || stride < width) return false;
    if (frames_ == 0) {
        plane_.width = width;
        plane_.height = height;
        plane_.pixels.assign(static_cast<size_t>(width) * height, 0);
    } else if (width != plane_.width || height != plane_.height) {
        return false;
    }
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* src = luma + static_cast<size_t>(y) * stride;
        uint8_t* dst = plane_.pixels.data() + static_cast<size_t>(y) * width;
        for (int32_t x = 0; x < width; ++x) dst[x] = std::max(dst[x], src[x]);
    }
    ++frames_;
    return true;
}

namespace {

struct Point {
    double x = 0.0;
    double y = 0.0;
};

// The plane blurred by a 3 x 3 box (edge pixels repeated): noise that one
// frame's maximum kept stands out less.
std::vector<float> Smooth(const LumaPlane& p) {
    const int w = p.width, h = p.height;
    std::vector<float> rows(static_cast<size_t>(w) * h);
    for (int y = 0; y < h; ++y) {
        const uint8_t* r = p.pixels.data() + static_cast<size_t>(y) * w;
        for (int x = 0; x < w; ++x) {
            rows[static_cast<size_t>(y) * w + x] = float(r[std::max(x - 1, 0)]) + r[x] + r[std::min(x + 1, w - 1)];
        }
    }
    std::vector<float> out(rows.size());
    for (int y = 0; y < h; ++y) {
        const float* a = rows.data() + static_cast<size_t>(std::max(y - 1, 0)) * w;
        const float* b = rows.data() + static_cast<size_t>(y) * w;
        const float* c = rows.data() + static_cast<size_t>(std::min(y + 1, h - 1)) * w;
        for (int x = 0; x < w; ++x) out[static_cast<size_t>(y) * w + x] = (a[x] + b[x] + c[x]) / 9.0f;
    }
    return out;
}

// The levels that tell the black surround from the lit picture.
struct Levels {
    double black = 0.0;      // mean of the darkest pixels
    double threshold = 0.0;  // above it a pixel counts as lit
    double bright = 0.0;     // the picture's bright end
};

// The black level and its noise from the darkest corner of the frame (a
// lens circle leaves at least one corner black), the bright end from the
// whole picture.
Levels LevelsOf(const std::vector<float>& s, int w, int h) {
    const int side = std::max(4, std::min(w, h) * 3 / 100);
    Levels l;
    double bestMedian = 1e9, bestSpread = 0;
    std::vector<float> patch;
    for (int corner = 0; corner < 4; ++corner) {
        const int x0 = (corner & 1) ? w - side : 0, y0 = (corner & 2) ? h - side : 0;
        patch.clear();
        for (int y = y0; y < y0 + side; ++y)
            for (int x = x0; x < x0 + side; ++x) patch.push_back(s[static_cast<size_t>(y) * w + x]);
        std::nth_element(patch.begin(), patch.begin() + patch.size() / 2, patch.end());
        const double median = patch[patch.size() / 2];
        for (float& v : patch) v = std::fabs(v - static_cast<float>(median));
        std::nth_element(patch.begin(), patch.begin() + patch.size() / 2, patch.end());
        if (median < bestMedian) {
            bestMedian = median;
            bestSpread = 1.4826 * patch[patch.size() / 2];
        }
    }
    l.black = bestMedian;
    l.threshold = l.black + std::max(4.0, 4.0 * bestSpread + 2.0);
    std::vector<float> sorted(s);
    const size_t at = sorted.size() * 98 / 100;
    std::nth_element(sorted.begin(), sorted.begin() + at, sorted.end());
    l.bright = sorted[at];
    return l;
}

// Bilinear sample; (x, y) within the plane.
float Sample(const std::vector<float>& s, int w, int h, double x, double y) {
    const int x0 = std::clamp(static_cast<int>(x), 0, w - 2);
    const int y0 = std::clamp(static_cast<int>(y), 0, h - 2);
    const double fx = x - x0, fy = y - y0;
    const float* r0 = s.data() + static_cast<size_t>(y0) * w + x0;
    const float* r1 = r0 + w;
    return static_cast<float>((r0[0] * (1 - fx) + r0[1] * fx) * (1 - fy) + (r1[0] * (1 - fx) + r1[1] * fx) * fy);
}

struct PlaneGeometry {
    int w = 0, h = 0;
    double sx = 1.0, sy = 1.0;  // source pixels per plane pixel
    Point ToSource(double x, double y) const { return {(x + 0.5) * sx - 0.5, (y + 0.5) * sy - 0.5}; }
    Point ToPlane(double x, double y) const { return {(x + 0.5) / sx - 0.5, (y + 0.5) / sy - 0.5}; }
};

constexpr int kRays = 720;
constexpr double kStep = 0.5;      // plane pixels between samples along a ray
constexpr double kBorderGap = 3.0;  // plane pixels of black a rim needs before the frame's edge

// Where the lit area ends along rays from `from` (plane pixels), in source
// pixels. A ray that is lit until the frame's edge gives no point: that edge
// is the frame's, not the lens's. The point is where the picture falls half
// way from its level just inside to black, which keeps it in place under
// blur, downscaling and vignetting.
std::vector<Point> RimPoints(const std::vector<float>& s, const PlaneGeometry& g, const Levels& lv, Point from,
                             int32_t& litToEdge) {
    std::vector<Point> points;
    std::vector<float> p;
    litToEdge = 0;
    for (int i = 0; i < kRays; ++i) {
        const double a = 2.0 * std::numbers::pi * i / kRays;
        const double dx = std::cos(a), dy = std::sin(a);
        double tmax = 1e30;
        if (dx > 1e-12) tmax = std::min(tmax, (g.w - 1 - from.x) / dx);
        if (dx < -1e-12) tmax = std::min(tmax, -from.x / dx);
        if (dy > 1e-12) tmax = std::min(tmax, (g.h - 1 - from.y) / dy);
        if (dy < -1e-12) tmax = std::min(tmax, -from.y / dy);
        if (!(tmax > 4.0)) continue;
        const int n = static_cast<int>(tmax / kStep);
        p.resize(static_cast<size_t>(n) + 1);
        for (int k = 0; k <= n; ++k) p[k] = Sample(s, g.w, g.h, from.x + k * kStep * dx, from.y + k * kStep * dy);
        int last = -1;
        for (int k = n; k >= 0; --k) {
            if (p[k] > lv.threshold) {
                last = k;
                break;
            }
        }
        if (last < 0) continue;
        if ((n - last) * kStep < kBorderGap) {
            ++litToEdge;
            continue;
        }
        const int inside = std::max(0, last - static_cast<int>(4.0 / kStep));
        float level = 0;
        for (int k = inside; k <= last; ++k) level = std::max(level, p[k]);
        const double half = 0.5 * (level + lv.black);
        int j = -1;
        for (int k = std::min(n - 1, last + static_cast<int>(4.0 / kStep)); k >= inside; --k) {
            if (p[k] >= half) {
                j = k;
                break;
            }
        }
        if (j < 0 || j >= n) continue;
        const double t = (j + (p[j] - half) / std::max(1e-6, double(p[j]) - p[j + 1])) * kStep;
        points.push_back(g.ToSource(from.x + t * dx, from.y + t * dy));
    }
    return points;
}

// Solves the 3 x 3 system m x = v; false when it is singular.
bool Solve3(std::array<std::array<double, 3>, 3> m, std::array<double, 3> v, std::array<double, 3>& x) {
    for (int c = 0; c < 3; ++c) {
        int pivot = c;
        for (int r = c + 1; r < 3; ++r) {
            if (std::fabs(m[r][c]) > std::fabs(m[pivot][c])) pivot = r;
        }
        if (std::fabs(m[pivot][c]) < 1e-12) return false;
        std::swap(m[c], m[pivot]);
        std::swap(v[c], v[pivot]);
        for (int r = c + 1; r < 3; ++r) {
            const double f = m[r][c] / m[c][c];
            for (int k = c; k < 3; ++k) m[r][k] -= f * m[c][k];
            v[r] -= f * v[c];
        }
    }
    for (int r = 2; r >= 0; --r) {
        double sum = v[r];
        for (int k = r + 1; k < 3; ++k) sum -= m[r][k] * x[k];
        x[r] = sum / m[r][r];
    }
    return true;
}

bool CircleThrough(const Point& a, const Point& b, const Point& c, LensCircle& out) {
    const double bx = b.x - a.x, by = b.y - a.y, cx = c.x - a.x, cy = c.y - a.y;
    const double d = 2.0 * (bx * cy - by * cx);
    if (std::fabs(d) < 1e-9) return false;
    const double b2 = bx * bx + by * by, c2 = cx * cx + cy * cy;
    const double ux = (cy * b2 - by * c2) / d, uy = (bx * c2 - cx * b2) / d;
    out = {a.x + ux, a.y + uy, std::hypot(ux, uy)};
    return true;
}

// Least squares circle: the algebraic fit as the start, then Gauss-Newton on
// the distances from the rim.
bool FitCircle(const std::vector<Point>& pts, LensCircle& c) {
    if (pts.size() < 3) return false;
    double mx = 0, my = 0;
    for (const Point& p : pts) {
        mx += p.x;
        my += p.y;
    }
    mx /= pts.size();
    my /= pts.size();
    std::array<std::array<double, 3>, 3> m{};
    std::array<double, 3> v{};
    for (const Point& p : pts) {
        const double x = p.x - mx, y = p.y - my, z = x * x + y * y;
        const double row[3] = {x, y, 1.0};
        for (int i = 0; i < 3; ++i) {
            for (int k = 0; k < 3; ++k) m[i][k] += row[i] * row[k];
            v[i] -= row[i] * z;
        }
    }
    std::array<double, 3> s{};
    if (!Solve3(m, v, s)) return false;
    c.cx = -s[0] / 2.0;
    c.cy = -s[1] / 2.0;
    const double r2 = c.cx * c.cx + c.cy * c.cy - s[2];
    if (!(r2 > 0)) return false;
    c.r = std::sqrt(r2);
    for (int it = 0; it < 20; ++it) {
        std::array<std::array<double, 3>, 3> jtj{};
        std::array<double, 3> jtr{};
        for (const Point& p : pts) {
            const double x = p.x - mx - c.cx, y = p.y - my - c.cy, d = std::hypot(x, y);
            if (d < 1e-9) continue;
            const double j[3] = {-x / d, -y / d, -1.0};
            const double r = d - c.r;
            for (int i = 0; i < 3; ++i) {
                for (int k = 0; k < 3; ++k) jtj[i][k] += j[i] * j[k];
                jtr[i] -= j[i] * r;
            }
        }
        std::array<double, 3> step{};
        if (!Solve3(jtj, jtr, step)) break;
        c.cx += step[0];
        c.cy += step[1];
        c.r += step[2];
        if (std::fabs(step[0]) + std::fabs(step[1]) + std::fabs(step[2]) < 1e-6) break;
    }
    c.cx += mx;
    c.cy += my;
    return std::isfinite(c.cx) && std::isfinite(c.cy) && std::isfinite(c.r) && c.r > 0;
}

double Distance(const Point& p, const LensCircle& c) { return std::fabs(std::hypot(p.x - c.cx, p.y - c.cy) - c.r); }

struct Fit {
    bool ok = false;
    LensCircle circle;
    std::vector<Point> inliers;
};

// The circle most edge points lie on (random triples, a fixed seed so that a
// movie always gives the same answer), refined by least squares on them.
Fit RobustCircle(const std::vector<Point>& pts, double minR, double maxR, double pixel) {
    Fit best;
    if (pts.size() < 3) return best;
    const auto tolerance = [&](const LensCircle& c) { return std::max(1.5 * pixel, 0.003 * c.r); };
    uint64_t state = 0x9E3779B97F4A7C15ull;
    const auto next = [&](size_t n) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<size_t>((state >> 33) % n);
    };
    size_t bestCount = 0;
    LensCircle bestCircle;
    for (int it = 0; it < 600; ++it) {
        const size_t a = next(pts.size()), b = next(pts.size()), c = next(pts.size());
        if (a == b || b == c || a == c) continue;
        LensCircle cand;
        if (!CircleThrough(pts[a], pts[b], pts[c], cand) || cand.r < minR || cand.r > maxR) continue;
        const double tol = tolerance(cand);
        size_t count = 0;
        for (const Point& p : pts) count += Distance(p, cand) <= tol ? 1 : 0;
        if (count > bestCount) {
            bestCount = count;
            bestCircle = cand;
        }
    }
    if (bestCount < 3) return best;
    LensCircle c = bestCircle;
    std::vector<Point> in;
    for (int round = 0; round < 4; ++round) {
        const double tol = tolerance(c);
        in.clear();
        for (const Point& p : pts) {
            if (Distance(p, c) <= tol) in.push_back(p);
        }
        LensCircle refined;
        if (!FitCircle(in, refined) || refined.r < minR || refined.r > maxR) break;
        c = refined;
    }
    best.ok = in.size() >= 3;
    best.circle = c;
    best.inliers = std::move(in);
    return best;
}

// Degrees of the rim, in 5-degree steps, that the points cover.
double Coverage(const std::vector<Point>& pts, const LensCircle& c) {
    std::array<bool, 72> seen{};
    for (const Point& p : pts) {
        double a = std::atan2(p.y - c.cy, p.x - c.cx) * 180.0 / std::numbers::pi;
        if (a < 0) a += 360.0;
        seen[static_cast<size_t>(std::min(71.0, a / 5.0))] = true;
    }
    return 5.0 * static_cast<double>(std::count(seen.begin(), seen.end(), true));
}

// The centre of mass of the lit area, where the rays start; lit is the
// count of lit cells.
Point LitCentre(const std::vector<float>& s, const PlaneGeometry& g, const Levels& lv, double& lit) {
    double sumX = 0, sumY = 0;
    lit = 0;
    for (int y = 0; y < g.h; ++y) {
        for (int x = 0; x < g.w; ++x) {
            if (s[static_cast<size_t>(y) * g.w + x] > lv.threshold) {
                sumX += x;
                sumY += y;
                lit += 1;
            }
        }
    }
    return lit > 0 ? Point{sumX / lit, sumY / lit} : Point{0, 0};
}

// The rim found along rays from `start` and the circle fitted to it, and
// again from that circle's own centre, where the rays meet the rim evenly.
struct RimFit {
    std::vector<Point> points;
    Fit fit;
    int32_t litToEdge = 0;
};
RimFit FitRim(const std::vector<float>& s, const PlaneGeometry& g, const Levels& lv, Point start,
              double minR, double maxR, double pixel) {
    RimFit rim;
    rim.points = RimPoints(s, g, lv, start, rim.litToEdge);
    rim.fit = RobustCircle(rim.points, minR, maxR, pixel);
    if (!rim.fit.ok) return rim;
    const Point c = g.ToPlane(rim.fit.circle.cx, rim.fit.circle.cy);
    if (c.x <= 2 || c.y <= 2 || c.x >= g.w - 3 || c.y >= g.h - 3) return rim;
    RimFit centred;
    centred.points = RimPoints(s, g, lv, c, centred.litToEdge);
    centred.fit = RobustCircle(centred.points, minR, maxR, pixel);
    if (centred.fit.ok && centred.fit.inliers.size() >= rim.fit.inliers.size() / 2) return centred;
    return rim;
}

// Why the fitted rim is no lens circle (empty when it is one); fills the
// figures of `out` that describe the fit.
std::string RimProblem(const RimFit& rim, CircleSearch& out) {
    out.edgePoints = static_cast<int32_t>(rim.points.size());
    if (rim.points.size() < 12) {
        return rim.litToEdge > kRays / 2 ? "the picture is lit up to the frame's edges (no dark surround)"
                                         : "the lit area has no visible rim";
    }
    if (!rim.fit.ok) return "the edge of the lit area is not a circle";
    const Fit& fit = rim.fit;
    const LensCircle& c = fit.circle;
    out.circle = c;
    out.inliers = static_cast<int32_t>(fit.inliers.size());
    double sq = 0;
    for (const Point& p : fit.inliers) sq += Distance(p, c) * Distance(p, c);
    out.rms = std::sqrt(sq / std::max<size_t>(1, fit.inliers.size()));
    out.coverage = Coverage(fit.inliers, c);
    if (fit.inliers.size() < 12 || static_cast<double>(fit.inliers.size()) < 0.3 * rim.points.size()) {
        return "the edge of the lit area is not a circle";
    }
    if (out.coverage < 100.0) return "too little of a circular rim is visible";
    return {};
}

// Why the picture around the circle is not a lens's (empty when it is):
// black outside, lit inside, a ring around the rim left out.
std::string SurroundProblem(const std::vector<float>& s, const PlaneGeometry& g, const Levels& lv,
                            const LensCircle& c, double pixel) {
    const double ring = std::max(2.0 * pixel, 0.02 * c.r);
    double outside = 0, outsideLit = 0, inside = 0, insideLit = 0;
    for (int y = 0; y < g.h; ++y) {
        for (int x = 0; x < g.w; ++x) {
            const Point p = g.ToSource(x, y);
            const double d = std::hypot(p.x - c.cx, p.y - c.cy);
            const bool isLit = s[static_cast<size_t>(y) * g.w + x] > lv.threshold;
            if (d > c.r + ring) {
                outside += 1;
                outsideLit += isLit ? 1 : 0;
            } else if (d < c.r - ring) {
                inside += 1;
                insideLit += isLit ? 1 : 0;
            }
        }
    }
    if (outside < 0.01 * g.w * g.h) return "the circle fills the frame (no dark surround)";
    if (outsideLit > 0.03 * outside) return "the picture outside the circle is not dark";
    if (inside <= 0 || insideLit < 0.4 * inside) return "the circle is not lit inside";
    return {};
}

}  // namespace

CircleSearch FindLensCircle(const LumaPlane& plane, int32_t frameW, int32_t frameH) {
    return FindLensCircleOver(plane, frameW, frameH);
}

CircleSearch FindLensCircleOver(const LumaPlane& plane, double frameW, double frameH) {
    CircleSearch out;
    PlaneGeometry g;
    g.w = plane.width;
    g.h = plane.height;
    if (g.w < 16 || g.h < 16 || frameW < g.w || frameH < g.h ||
        plane.pixels.size() != static_cast<size_t>(g.w) * g.h) {
        out.reason = "the picture is too small";
        return out;
    }
    g.sx = frameW / g.w;
    g.sy = frameH / g.h;
    const double pixel = std::max(g.sx, g.sy);
    const std::vector<float> s = Smooth(plane);
    const Levels lv = LevelsOf(s, g.w, g.h);
    if (lv.bright - lv.black < 16.0) {
        out.reason = "the frames are too dark or too flat";
        return out;
    }
    double lit = 0;
    const Point start = LitCentre(s, g, lv, lit);
    if (lit < 0.02 * g.w * g.h) {
        out.reason = "the frames are too dark";
        return out;
    }
    const double minR = 0.05 * std::min(frameW, frameH);
    const double maxR = 1.5 * std::max(frameW, frameH);
    const RimFit rim = FitRim(s, g, lv, start, minR, maxR, pixel);
    out.reason = RimProblem(rim, out);
    if (out.reason.empty()) out.reason = SurroundProblem(s, g, lv, rim.fit.circle, pixel);
    out.found = out.reason.empty();
    return out;
}

std::string NoCircleMessage(const CircleSearch& search) {
    return "no lens circle found: " + (search.reason.empty() ? std::string("no reason given") : search.reason);
}

std::string OneDecimal(double value) {
    if (!std::isfinite(value)) return "nan";
    const long long tenths = std::llround(value * 10.0);
    const long long whole = (tenths < 0 ? -tenths : tenths) / 10;
    return std::string(tenths < 0 ? "-" : "") + std::to_string(whole) + "." +
           std::to_string((tenths < 0 ? -tenths : tenths) % 10);
}

std::string CircleCutLine(const LensCircle& circle, const CutForCircleResult& cut, const std::string& cutLabel) {
    const CutRect& c = cut.cut;
    return "lens circle: centre " + OneDecimal(circle.cx) + "," + OneDecimal(circle.cy) + " radius " +
           OneDecimal(circle.r) + " px; " + cutLabel + " " + std::to_string(c.XL1) + "," + std::to_string(c.YL1) +
           "," + std::to_string(c.XL2) + "," + std::to_string(c.YL2) + " (off by " + OneDecimal(cut.errorX) + ", " +
           OneDecimal(cut.errorY) + ", " + OneDecimal(cut.errorR) + " px)";
}

}  // namespace tessaly
