// Cut-circle geometry: turns the cut rectangle (in the 600 x 600 coordinates
// of the input preview) and the frame size into the crop, the square output
// size and the constants of the equidistant fisheye projection, and gives the
// source offset of every output pixel.
#pragma once

#include <cstdint>
#include <string>

#include "transform/cut_rect.h"
#include "transform/transform_status.h"

namespace tessaly {

// The remap table holds at most this many output pixels (6000 x 6000).
inline constexpr int64_t kRemapCapacityPixels = 36'000'000;

// Polar angle of the output's centre row.
inline constexpr float kProjLat0 = 1.570796f;

struct CutGeometry {
    int32_t frameW = 0;
    int32_t frameH = 0;
    float fx = 0.0f;  // frameW / 600
    float fy = 0.0f;  // frameH / 600
    int32_t cropLeft = 0;
    int32_t cropTop = 0;  // counted downward from the frame's top row
    int32_t cropW = 0;
    int32_t cropH = 0;
    int32_t outW = 0;  // output is square and even-sized: 2 * floor(cropH / 2)
    int32_t outH = 0;
    float projD = 0.0f;  // 2 * cropH * 0.159154
    float projK = 0.0f;  // radians per output pixel
    float projS = 0.0f;  // fisheye scale, source pixels per radian
    float projLat0 = kProjLat0;

    int64_t OutputPixels() const { return static_cast<int64_t>(outW) * outH; }
};

struct GeometryResult {
    TransformStatus status = TransformStatus::kNoGeometry;
    CutGeometry geometry;  // the computed values, also when refused (as far as computed)
    std::string problem;   // a refusal that is not the cut's own (the lens profile), said as it stands

    bool Ok() const { return status == TransformStatus::kOk; }
    // A sentence for the user naming the offending sizes; empty when Ok().
    std::string Message() const;
};

// Computes the geometry of a cut on a frame (products in extended precision,
// rounded once, halves to even). Refuses cuts that give cropH < 2 or
// cropW < 1, an output beyond kRemapCapacityPixels, or a crop beyond 32-bit
// coordinates / 2 GB; allocates nothing.
GeometryResult BuildCutGeometry(int frameW, int frameH, const CutRect& cut);

// Recomputes projD, projK and projS from cropH (run before every projection).
void ComputeProjection(CutGeometry& g);

// Where the lens circle's centre lies off the centre of the crop a cut
// makes, in source pixels, x to the right and y downward: the fraction of a
// pixel that the 600-unit grid and whole-pixel frame windows cannot place.
// The remap reads around the shifted centre; none for a plain cut.
struct CentreShift {
    double x = 0.0;
    double y = 0.0;

    bool operator==(const CentreShift&) const = default;
};

struct SourcePair {
    float u = 0.0f;  // offset from the crop centre, source pixels, to the right
    float v = 0.0f;  // offset from the crop centre, source pixels, upward
};

// The source offset of output pixel (x, y), y counted from the bottom row.
// Every intermediate is a single-precision float.
SourcePair SourceOffset(const CutGeometry& g, int x, int y);

// The same pairs for a whole output row, bit-identical to SourceOffset:
// lonTerms holds sin and cos of every column's longitude (FillLongitudeTerms),
// uv receives 2 * outW floats.
void FillLongitudeTerms(const CutGeometry& g, float* lonTerms);
void SourceOffsetRow(const CutGeometry& g, const float* lonTerms, int y, float* uv);

// Sine and cosine of column x's longitude and of row y's polar angle, as the
// source offset computes them.
void LongitudeTerms(const CutGeometry& g, int x, float& sinLon, float& cosLon);
void LatitudeTerms(const CutGeometry& g, int y, float& sinLat, float& cosLat);

}  // namespace tessaly
