#include "transform/remap_table.h"

namespace tessaly {

bool RemapTable::Reserve(const CutGeometry& g) {
    const int64_t pixels = g.OutputPixels();
    if (pixels <= 0 || pixels > kRemapCapacityPixels) {
        pairs_ = std::vector<float>();
        lonTerms_ = std::vector<float>();
        filledCropH_ = 0;
        return false;
    }
    const size_t floats = 2 * static_cast<size_t>(pixels);
    if (pairs_.size() != floats) {
        pairs_ = std::vector<float>(floats);  // fresh: a smaller table gives memory back
        filledCropH_ = 0;
    }
    if (lonTerms_.size() != 2 * static_cast<size_t>(g.outW)) {
        lonTerms_ = std::vector<float>(2 * static_cast<size_t>(g.outW));
    }
    return true;
}

}  // namespace tessaly
