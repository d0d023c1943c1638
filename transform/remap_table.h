// RemapTable: for every output pixel, in row-major order from the bottom row,
// the pair (u, v) of its source offset from the crop centre. It is sized on
// demand (8 bytes per output pixel, at most kRemapCapacityPixels), filled by
// the first projection after an invalidation and only read afterwards.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "transform/cut_geometry.h"

namespace tessaly {

class RemapTable {
public:
    // Sizes the table for g's output; a changed size drops the old pairs.
    // Returns false (and leaves the table empty) beyond the capacity.
    bool Reserve(const CutGeometry& g);

    float* Pairs() { return pairs_.data(); }
    const float* Pairs() const { return pairs_.data(); }
    size_t PairCount() const { return pairs_.size() / 2; }
    size_t Bytes() const { return pairs_.size() * sizeof(float); }
    // sin and cos of every output column's longitude, used while filling.
    float* LongitudeTerms() { return lonTerms_.data(); }

    // True when the pairs were computed for g's crop height (the pairs depend
    // on nothing else) and the table has g's size.
    bool Holds(const CutGeometry& g) const {
        return filledCropH_ == g.cropH && pairs_.size() == 2 * static_cast<size_t>(g.OutputPixels());
    }
    void MarkFilled(const CutGeometry& g) { filledCropH_ = g.cropH; }
    void MarkEmpty() { filledCropH_ = 0; }

private:
    std::vector<float> pairs_;
    std::vector<float> lonTerms_;
    int32_t filledCropH_ = 0;
};

// The table with its two flags: geomValid (0 after any change of geometry or
// video) and cacheFilled (1 once the table holds the current geometry).
struct RemapState {
    RemapTable table;
    std::atomic<int32_t> geomValid{0};
    std::atomic<int32_t> cacheFilled{0};
};

// geomValid = 0: the next resampling rebuilds the resampler tables and the
// next projection refills the pairs.
inline void InvalidateRemap(RemapState& remap) { remap.geomValid.store(0); }

}  // namespace tessaly
