#include "transform/remap_table.h"

#include <algorithm>
#include <atomic>

#include "transform/row_pool.h"

namespace tessaly {
namespace {

struct FillWork {
    const CutGeometry* geom;
    const float* lonTerms;
    float* pairs;
    std::atomic<int> nextRow{0};
};

constexpr int kFillBand = 16;

void FillBands(void* context, int, int) {
    FillWork& w = *static_cast<FillWork*>(context);
    const int h = w.geom->outH;
    const ptrdiff_t rowFloats = 2 * static_cast<ptrdiff_t>(w.geom->outW);
    for (int y0 = w.nextRow.fetch_add(kFillBand); y0 < h; y0 = w.nextRow.fetch_add(kFillBand)) {
        for (int y = y0; y < std::min(h, y0 + kFillBand); ++y) {
            SourceOffsetRow(*w.geom, w.lonTerms, y, w.pairs + y * rowFloats);
        }
    }
}

}  // namespace

void RemapTable::Clear() {
    pairs_ = std::vector<float>();
    builtCropH_ = 0;
}

bool RemapTable::Build(const CutGeometry& g, RowPool* pool) {
    const int64_t pixels = g.OutputPixels();
    if (pixels <= 0 || pixels > kRemapCapacityPixels) {
        Clear();
        return false;
    }
    if (Holds(g)) return true;
    const size_t floats = 2 * static_cast<size_t>(pixels);
    if (pairs_.size() != floats) pairs_ = std::vector<float>(floats);  // fresh: a smaller table gives memory back
    std::vector<float> lonTerms(2 * static_cast<size_t>(g.outW));
    FillLongitudeTerms(g, lonTerms.data());
    FillWork work;
    work.geom = &g;
    work.lonTerms = lonTerms.data();
    work.pairs = pairs_.data();
    if (pool != nullptr) {
        pool->Run(&FillBands, &work);
    } else {
        FillBands(&work, 0, 1);
    }
    builtCropH_ = g.cropH;
    return true;
}

}  // namespace tessaly
