// RemapTable: for every output pixel, in row-major order from the bottom row,
// the pair (u, v) of its source offset from the crop centre. It is built once
// per geometry and lens (rows split across the pool) and only read by the
// frames. Every lens gives the same format: pixels the lens does not cover
// hold kUncoveredOffset, which the resampler skips.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "transform/cut_geometry.h"
#include "transform/lens.h"

namespace tessaly {

class RowPool;

class RemapTable {
public:
    // Computes every pair of g's output through `lens`, unless the table
    // already holds them. The default lens takes the plain equidistant path.
    // Returns false (and leaves the table empty) beyond the capacity or when
    // the lens's profile cannot be read (Problem() says why).
    bool Build(const CutGeometry& g, const LensSettings& lens, RowPool* pool);
    bool Build(const CutGeometry& g, RowPool* pool) { return Build(g, LensSettings{}, pool); }
    void Clear();

    // True when the table holds the pairs of g through `lens`: they depend on
    // the crop height (the output size and projection constants follow from
    // it) and the lens.
    bool Holds(const CutGeometry& g, const LensSettings& lens) const {
        return builtCropH_ == g.cropH && builtLens_ == lens &&
               pairs_.size() == 2 * static_cast<size_t>(g.OutputPixels());
    }

    float* Pairs() { return pairs_.data(); }
    const float* Pairs() const { return pairs_.data(); }
    size_t PairCount() const { return pairs_.size() / 2; }
    size_t Bytes() const { return (pairs_.size() + red_.size() + blue_.size() + gains_.size()) * sizeof(float); }

    // A calibrated profile adds, where it has them, the pairs of the red and
    // blue channels (lateral colour; Pairs() then serve green) and one gain
    // per output pixel undoing the vignetting. Null without them.
    const float* RedPairs() const { return red_.empty() ? nullptr : red_.data(); }
    const float* BluePairs() const { return blue_.empty() ? nullptr : blue_.data(); }
    const float* Gains() const { return gains_.empty() ? nullptr : gains_.data(); }
    // Why the last Build failed (a profile the database cannot give), or empty.
    const std::string& Problem() const { return problem_; }

private:
    std::vector<float> pairs_;
    std::vector<float> red_;
    std::vector<float> blue_;
    std::vector<float> gains_;
    std::string problem_;
    int32_t builtCropH_ = 0;  // 0 = nothing built
    LensSettings builtLens_;
};

// Crop columns first .. first + count - 1.
struct ColumnRange {
    int32_t first = 0;
    int32_t count = 0;
};

// The crop columns a projection through `table` reads from a crop of g's
// size: the 4 x 4 taps of every pixel it writes (computed exactly as the
// resampler does, around the centre `shift` moves), and at least
// min(4, cropW) columns. The crop buffer needs no other column: a crop wider
// than the fisheye circle is not held whole.
ColumnRange ReadColumns(const RemapTable& table, const CutGeometry& g, const CentreShift& shift = {});

// The resampler's offsets of the centre `shift` moves (rows are bottom-up).
inline float ShiftRight(const CentreShift& shift) { return static_cast<float>(shift.x); }
inline float ShiftUp(const CentreShift& shift) { return static_cast<float>(-shift.y); }

}  // namespace tessaly
