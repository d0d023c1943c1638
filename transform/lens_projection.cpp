#include "transform/lens_projection.h"

#include <cmath>
#include <numbers>

namespace tessaly {
namespace {

constexpr double kRadiansPerDegree = std::numbers::pi / 180.0;

void Multiply(const double a[3][3], const double b[3][3], double c[3][3]) {
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) c[i][j] = a[i][0] * b[0][j] + a[i][1] * b[1][j] + a[i][2] * b[2][j];
    }
}

// The lens radius over the sine of the angle off the axis, for a unit
// direction with axis component c and sideways length h = sin(theta). Each
// model's form stays exact near the axis without a trigonometric call where
// none is needed.
double RadiusPerSine(LensModel model, double h, double c) {
    switch (model) {
        case LensModel::kEquisolid: return std::sqrt(2.0 / (1.0 + c));  // 2 sin(theta / 2) / sin(theta)
        case LensModel::kStereographic: return 2.0 / (1.0 + c);         // 2 tan(theta / 2) / sin(theta)
        case LensModel::kOrthographic: return 1.0;                      // sin(theta) / sin(theta)
        case LensModel::kEquidistant: break;
    }
    if (h < 1e-12) return 1.0;  // theta / sin(theta) on the axis
    // theta / sin(theta); atan of a quotient costs less than atan2.
    const double theta = c > 0.0 ? std::atan(h / c) : std::numbers::pi / 2 + std::atan(-c / h);
    return theta / h;
}

}  // namespace

void LevellingRotation(double yaw, double pitch, double roll, double turn[3][3]) {
    // v360 turns its direction (x right, y down, z forward) by the quaternion
    // yaw * pitch * roll about its y, x and z axes. With y flipped to point
    // up, the turns about x and z run the other way.
    const double y = yaw * kRadiansPerDegree;
    const double p = -pitch * kRadiansPerDegree;
    const double r = -roll * kRadiansPerDegree;
    const double aboutUp[3][3] = {{std::cos(y), 0, std::sin(y)}, {0, 1, 0}, {-std::sin(y), 0, std::cos(y)}};
    const double aboutRight[3][3] = {{1, 0, 0}, {0, std::cos(p), -std::sin(p)}, {0, std::sin(p), std::cos(p)}};
    const double aboutAxis[3][3] = {{std::cos(r), -std::sin(r), 0}, {std::sin(r), std::cos(r), 0}, {0, 0, 1}};
    double upRight[3][3];
    Multiply(aboutUp, aboutRight, upRight);
    Multiply(upRight, aboutAxis, turn);
}

LensProjection MakeLensProjection(const CutGeometry& g, const LensSettings& lens) {
    LensProjection p;
    p.model = lens.model;
    LevellingRotation(lens.yaw, lens.pitch, lens.roll, p.turn);
    const double rim = 0.5 * lens.fov * kRadiansPerDegree;
    p.cosRim = std::cos(rim);
    const double radius = static_cast<double>(g.projS) * std::numbers::pi / 2.0;
    p.scale = radius / LensRadius(lens.model, rim);
    return p;
}

SourcePair LensOffset(const LensProjection& p, double a, double b, double c) {
    const double x = p.turn[0][0] * a + p.turn[0][1] * b + p.turn[0][2] * c;
    const double y = p.turn[1][0] * a + p.turn[1][1] * b + p.turn[1][2] * c;
    const double z = p.turn[2][0] * a + p.turn[2][1] * b + p.turn[2][2] * c;
    if (z < p.cosRim) return SourcePair{kUncoveredOffset, kUncoveredOffset};
    const double h = std::sqrt(x * x + y * y);
    const double k = p.scale * RadiusPerSine(p.model, h, z);
    return SourcePair{static_cast<float>(k * x), static_cast<float>(k * y)};
}

SourcePair LensSourceOffset(const CutGeometry& g, const LensProjection& p, int x, int y) {
    float sinLon = 0, cosLon = 0, sinLat = 0, cosLat = 0;
    LongitudeTerms(g, x, sinLon, cosLon);
    LatitudeTerms(g, y, sinLat, cosLat);
    return LensOffset(p, double(sinLon) * sinLat, cosLat, double(cosLon) * sinLat);
}

void LensSourceOffsetRow(const CutGeometry& g, const LensProjection& p, const float* lonTerms, int y, float* uv) {
    float sinLat = 0, cosLat = 0;
    LatitudeTerms(g, y, sinLat, cosLat);
    for (int x = 0; x < g.outW; ++x) {
        const SourcePair sp = LensOffset(p, double(lonTerms[2 * x]) * sinLat, cosLat, double(lonTerms[2 * x + 1]) * sinLat);
        uv[2 * x] = sp.u;
        uv[2 * x + 1] = sp.v;
    }
}

}  // namespace tessaly
