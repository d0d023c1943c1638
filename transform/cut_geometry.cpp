#include "transform/cut_geometry.h"

#include <cmath>
#include <limits>

namespace tessaly {
namespace {

// The transcendental functions are evaluated in double precision and the
// result is stored as a float, like every other intermediate.
float SinF(float a) { return static_cast<float>(std::sin(static_cast<double>(a))); }
float CosF(float a) { return static_cast<float>(std::cos(static_cast<double>(a))); }
float AtanF(float a) { return static_cast<float>(std::atan(static_cast<double>(a))); }

float Longitude(const CutGeometry& g, int x) {
    const float dx = static_cast<float>(x) - (0.5f * static_cast<float>(g.outW) - 0.5f);
    return g.projK * dx;
}

float Latitude(const CutGeometry& g, int y) {
    const float dy = static_cast<float>(y) - (0.5f * static_cast<float>(g.outH) - 0.5f);
    const float k = g.projK * dy;
    return g.projLat0 - k;
}

SourcePair OffsetFromAngles(float projS, float sinLon, float cosLon, float sinLat, float cosLat) {
    const float a = sinLon * sinLat;  // to the right
    const float b = cosLat;           // upward
    const float c = cosLon * sinLat;  // along the optical axis
    const float bb = b * b;
    const float aa = a * a;
    const float r = std::sqrt(bb + aa);  // sine of the angle from the axis
    const float q = r / c;
    const float f = AtanF(q) / r;  // angle from the axis over its sine
    const float sa = projS * a;
    const float sb = projS * b;
    return SourcePair{sa * f, sb * f};
}

// Round to nearest, halves to even, of a value formed in extended precision;
// false when it does not fit a 32-bit integer.
bool RoundToInt32(long double value, int32_t& out) {
    const long double r = std::nearbyint(value);
    if (!(r >= static_cast<long double>(std::numeric_limits<int32_t>::min()) &&
          r <= static_cast<long double>(std::numeric_limits<int32_t>::max()))) {
        return false;
    }
    out = static_cast<int32_t>(r);
    return true;
}

}  // namespace

GeometryResult BuildCutGeometry(int frameW, int frameH, const CutRect& cut) {
    GeometryResult result;
    CutGeometry& g = result.geometry;
    if (frameW <= 0 || frameH <= 0) {
        result.status = TransformStatus::kNoFrame;
        return result;
    }
    g.frameW = frameW;
    g.frameH = frameH;
    g.fx = static_cast<float>(frameW) / 600.0f;
    g.fy = static_cast<float>(frameH) / 600.0f;
    const long double fx = g.fx;
    const long double fy = g.fy;
    const bool fits =
        RoundToInt32(fx * cut.XL1, g.cropLeft) &&
        RoundToInt32(fy * cut.YL1 * static_cast<long double>(1.28), g.cropTop) &&
        RoundToInt32(fx * (static_cast<long double>(cut.XL2) - cut.XL1), g.cropW) &&
        RoundToInt32(fy * (static_cast<long double>(cut.YL2) - cut.YL1), g.cropH);
    if (!fits) {
        result.status = TransformStatus::kCropTooLarge;
        return result;
    }
    if (g.cropH < 2 || g.cropW < 1) {
        result.status = TransformStatus::kCropEmpty;
        return result;
    }
    g.outW = g.outH = 2 * (g.cropH / 2);
    g.projD = static_cast<float>(2.0 * g.cropH * 0.159154);
    g.projK = 1.0f / g.projD;
    g.projS = static_cast<float>(static_cast<double>(g.projD) / 1.1);
    if (g.OutputPixels() > kRemapCapacityPixels) {
        result.status = TransformStatus::kOutputTooLarge;
        return result;
    }
    // The crop buffer (with its extra row) is addressed with 32-bit offsets.
    const int64_t cropBytes = static_cast<int64_t>(g.cropW) * (static_cast<int64_t>(g.cropH) + 1) * 4;
    if (cropBytes > std::numeric_limits<int32_t>::max()) {
        result.status = TransformStatus::kCropTooLarge;
        return result;
    }
    result.status = TransformStatus::kOk;
    return result;
}

void ComputeProjection(CutGeometry& g) {
    g.projD = static_cast<float>(2.0 * g.cropH * 0.159154);
    g.projK = static_cast<float>(1.0 / static_cast<double>(g.projD));
    g.projS = static_cast<float>(0.90909 * static_cast<double>(g.projD));
}

SourcePair SourceOffset(const CutGeometry& g, int x, int y) {
    const float lon = Longitude(g, x);
    const float lat = Latitude(g, y);
    return OffsetFromAngles(g.projS, SinF(lon), CosF(lon), SinF(lat), CosF(lat));
}

void FillLongitudeTerms(const CutGeometry& g, float* lonTerms) {
    for (int x = 0; x < g.outW; ++x) {
        const float lon = Longitude(g, x);
        lonTerms[2 * x] = SinF(lon);
        lonTerms[2 * x + 1] = CosF(lon);
    }
}

void SourceOffsetRow(const CutGeometry& g, const float* lonTerms, int y, float* uv) {
    const float lat = Latitude(g, y);
    const float sinLat = SinF(lat);
    const float cosLat = CosF(lat);
    for (int x = 0; x < g.outW; ++x) {
        const SourcePair p = OffsetFromAngles(g.projS, lonTerms[2 * x], lonTerms[2 * x + 1], sinLat, cosLat);
        uv[2 * x] = p.u;
        uv[2 * x + 1] = p.v;
    }
}

void LongitudeTerms(const CutGeometry& g, int x, float& sinLon, float& cosLon) {
    const float lon = Longitude(g, x);
    sinLon = SinF(lon);
    cosLon = CosF(lon);
}

void LatitudeTerms(const CutGeometry& g, int y, float& sinLat, float& cosLat) {
    const float lat = Latitude(g, y);
    sinLat = SinF(lat);
    cosLat = CosF(lat);
}

std::string GeometryResult::Message() const {
    const CutGeometry& g = geometry;
    if (!problem.empty()) return problem;
    switch (status) {
        case TransformStatus::kOk:
            return {};
        case TransformStatus::kCropEmpty:
            return "The cut rectangle is too small: it gives a crop of " + std::to_string(g.cropW) +
                   " x " + std::to_string(g.cropH) +
                   " pixels, and at least 1 x 2 pixels are needed. Enlarge the cut.";
        case TransformStatus::kOutputTooLarge:
            return "The cut rectangle is too large: it gives an output of " + std::to_string(g.outW) +
                   " x " + std::to_string(g.outH) +
                   " pixels, more than the 36000000 pixels (6000 x 6000) the remap table holds. "
                   "Make the cut smaller.";
        case TransformStatus::kCropTooLarge:
            return "The cut rectangle lies too far outside the frame or is too wide to be held in "
                   "memory. Reset the cut.";
        default:
            return StatusText(status);
    }
}

const char* StatusText(TransformStatus status) {
    switch (status) {
        case TransformStatus::kOk: return "OK";
        case TransformStatus::kNoFrame: return "No frame size is known: no movie is open.";
        case TransformStatus::kFrameTooLarge: return "The frame is too large for the transform.";
        case TransformStatus::kCropEmpty: return "The cut rectangle gives an empty crop.";
        case TransformStatus::kOutputTooLarge:
            return "The cut rectangle gives an output larger than 6000 x 6000 pixels.";
        case TransformStatus::kCropTooLarge: return "The cut rectangle gives a crop too large to hold.";
        case TransformStatus::kBadSampleSize:
            return "A delivered frame does not have the size of the movie's frames; it was skipped.";
        case TransformStatus::kNoGeometry: return "No valid cut geometry has been built.";
        case TransformStatus::kResamplerBusy:
            return "The resampler was busy with another frame; this frame was not transformed.";
        case TransformStatus::kEyesDiffer:
            return "The two eyes' cuts give outputs of different sizes: give both cuts one height.";
    }
    return "Unknown transform status.";
}

}  // namespace tessaly
