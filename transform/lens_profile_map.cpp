#include "transform/lens_profile_map.h"

#include <algorithm>
#include <cmath>

namespace tessaly {
namespace {

// Half the diagonal of a 36 x 24 mm sensor: crop factors are measured on it.
constexpr double kHalfFullFrameDiagonal = 21.633307652783937;

}  // namespace

ProfileMap MakeProfileMap(const CutGeometry& g, const LensSettings& lens, const LensCorrection& c) {
    ProfileMap m;
    m.view = MakeLensProjection(g, lens);
    m.view.model = c.projection;
    // The database normalises to half the short side of its calibration
    // picture; the frame is taken to cover the camera's sensor, whose
    // diagonal follows from the crop factor, and its pixel centres run from
    // 0 to size - 1.
    const double size = std::max(2, std::min(g.frameW, g.frameH));
    const double longSide = std::max(2, std::max(g.frameW, g.frameH));
    const double frameDiagonal = std::hypot(1.0, longSide / size);
    const double calibrationDiagonal = std::hypot(1.0, c.calibrationAspect);
    const double normPerPixel = 2.0 / (size - 1.0) * c.calibrationCropFactor / c.cropFactor * calibrationDiagonal /
                                frameDiagonal;
    m.pixelsPerNorm = 1.0 / normPerPixel;
    const double millimetresPerNorm = kHalfFullFrameDiagonal / calibrationDiagonal / c.calibrationCropFactor;
    m.focalNorm = c.projectionFocal / millimetresPerNorm;
    m.vignettingPerNorm = 1.0 / calibrationDiagonal;
    m.distortion = c.distortion;
    std::copy(std::begin(c.distortionTerms), std::end(c.distortionTerms), m.d);
    m.tca = c.tca;
    std::copy(std::begin(c.tcaTerms), std::end(c.tcaTerms), m.t);
    m.vignetting = c.vignetting;
    std::copy(std::begin(c.vignettingTerms), std::end(c.vignettingTerms), m.k);
    return m;
}

double DistortedRadius(const ProfileMap& m, double ru) {
    const double r2 = ru * ru;
    switch (m.distortion) {
        case DistortionModel::kPoly3: return ru * (1.0 - m.d[0] + m.d[0] * r2);
        case DistortionModel::kPoly5: return ru * (1.0 + m.d[0] * r2 + m.d[1] * r2 * r2);
        case DistortionModel::kPtLens:
            return ru * (m.d[0] * r2 * ru + m.d[1] * r2 + m.d[2] * ru + 1.0 - m.d[0] - m.d[1] - m.d[2]);
        case DistortionModel::kNone: break;
    }
    return ru;
}

double ChannelRadius(const ProfileMap& m, int channel, double r) {
    switch (m.tca) {
        case TcaModel::kLinear: return r * m.t[channel];
        case TcaModel::kPoly3: return r * (m.t[4 + channel] * r * r + m.t[2 + channel] * r + m.t[channel]);
        case TcaModel::kNone: break;
    }
    return r;
}

double VignettingGain(const ProfileMap& m, double u, double v) {
    if (!m.vignetting) return 1.0;
    const double r = std::hypot(u, v) / m.pixelsPerNorm * m.vignettingPerNorm;
    const double r2 = r * r;
    const double falloff = 1.0 + m.k[0] * r2 + m.k[1] * r2 * r2 + m.k[2] * r2 * r2 * r2;
    return falloff > 0.0 ? 1.0 / falloff : 1.0;
}

double ProfileRadiusPixels(const ProfileMap& m, double theta) {
    return DistortedRadius(m, LensRadius(m.view.model, theta) * m.focalNorm) * m.pixelsPerNorm;
}

ProfileSample ProfileOffsets(const ProfileMap& m, double a, double b, double c) {
    const LensProjection& p = m.view;
    const double x = p.turn[0][0] * a + p.turn[0][1] * b + p.turn[0][2] * c;
    const double y = p.turn[1][0] * a + p.turn[1][1] * b + p.turn[1][2] * c;
    const double z = p.turn[2][0] * a + p.turn[2][1] * b + p.turn[2][2] * c;
    ProfileSample s;
    if (z < p.cosRim) {
        s.green = s.red = s.blue = SourcePair{kUncoveredOffset, kUncoveredOffset};
        return s;
    }
    const double h = std::hypot(x, y);
    if (h < 1e-12) return s;  // the axis: every channel at the centre, no falloff
    const double rd = DistortedRadius(m, LensRadius(p.model, std::atan2(h, z)) * m.focalNorm);
    const double ux = x / h * m.pixelsPerNorm;
    const double uy = y / h * m.pixelsPerNorm;
    s.green = SourcePair{static_cast<float>(ux * rd), static_cast<float>(uy * rd)};
    if (m.tca != TcaModel::kNone) {
        const double rr = ChannelRadius(m, 0, rd);
        const double rb = ChannelRadius(m, 1, rd);
        s.red = SourcePair{static_cast<float>(ux * rr), static_cast<float>(uy * rr)};
        s.blue = SourcePair{static_cast<float>(ux * rb), static_cast<float>(uy * rb)};
    } else {
        s.red = s.blue = s.green;
    }
    s.gain = static_cast<float>(VignettingGain(m, ux * rd, uy * rd));
    return s;
}

void ProfileOffsetRow(const CutGeometry& g, const ProfileMap& m, const float* lonTerms, int y, const ProfileRow& row) {
    float sinLat = 0, cosLat = 0;
    LatitudeTerms(g, y, sinLat, cosLat);
    auto put = [](float* pairs, int x, SourcePair p) {
        pairs[2 * x] = p.u;
        pairs[2 * x + 1] = p.v;
    };
    for (int x = 0; x < g.outW; ++x) {
        const ProfileSample s =
            ProfileOffsets(m, double(lonTerms[2 * x]) * sinLat, cosLat, double(lonTerms[2 * x + 1]) * sinLat);
        put(row.green, x, s.green);
        if (row.red != nullptr) put(row.red, x, s.red);
        if (row.blue != nullptr) put(row.blue, x, s.blue);
        if (row.gains != nullptr) row.gains[x] = s.gain;
    }
}

}  // namespace tessaly
