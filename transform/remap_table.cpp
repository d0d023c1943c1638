#include "transform/remap_table.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <optional>

#include "transform/lens_profile_map.h"
#include "transform/lens_projection.h"
#include "transform/row_pool.h"

namespace tessaly {
namespace {

struct FillWork {
    const CutGeometry* geom;
    const float* lonTerms;
    const LensProjection* lens;  // null: the default lens's own path
    const ProfileMap* profile;   // a calibrated profile: used instead of lens
    float* pairs;
    float* red;
    float* blue;
    float* gains;
    std::atomic<int> nextRow{0};
};

constexpr int kFillBand = 16;

void FillBands(void* context, int, int) {
    FillWork& w = *static_cast<FillWork*>(context);
    const int h = w.geom->outH;
    const ptrdiff_t rowFloats = 2 * static_cast<ptrdiff_t>(w.geom->outW);
    for (int y0 = w.nextRow.fetch_add(kFillBand); y0 < h; y0 = w.nextRow.fetch_add(kFillBand)) {
        for (int y = y0; y < std::min(h, y0 + kFillBand); ++y) {
            if (w.profile != nullptr) {
                const ptrdiff_t at = y * rowFloats;
                ProfileOffsetRow(*w.geom, *w.profile, w.lonTerms, y,
                                 ProfileRow{w.pairs + at, w.red != nullptr ? w.red + at : nullptr,
                                            w.blue != nullptr ? w.blue + at : nullptr,
                                            w.gains != nullptr ? w.gains + at / 2 : nullptr});
            } else if (w.lens != nullptr) {
                LensSourceOffsetRow(*w.geom, *w.lens, w.lonTerms, y, w.pairs + y * rowFloats);
            } else {
                SourceOffsetRow(*w.geom, w.lonTerms, y, w.pairs + y * rowFloats);
            }
        }
    }
}

}  // namespace

void RemapTable::Clear() {
    pairs_ = std::vector<float>();
    red_ = std::vector<float>();
    blue_ = std::vector<float>();
    gains_ = std::vector<float>();
    builtCropH_ = 0;
    builtLens_ = LensSettings{};
}

bool RemapTable::Build(const CutGeometry& g, const LensSettings& lens, RowPool* pool) {
    const int64_t pixels = g.OutputPixels();
    problem_.clear();
    if (pixels <= 0 || pixels > kRemapCapacityPixels) {
        Clear();
        return false;
    }
    if (Holds(g, lens)) return true;
    std::optional<ProfileMap> profile;
    if (!lens.profile.Empty()) {
        const LensProfileLookup found = LookUpLensProfile(lens.profile);
        if (!found.correction) {
            Clear();
            problem_ = found.error;
            return false;
        }
        profile = MakeProfileMap(g, lens, *found.correction);
    }
    const size_t floats = 2 * static_cast<size_t>(pixels);
    auto size = [](std::vector<float>& v, size_t n) {
        if (v.size() != n) v = std::vector<float>(n);  // fresh: a smaller table gives memory back
    };
    size(pairs_, floats);
    const bool colour = profile && profile->tca != TcaModel::kNone;
    size(red_, colour ? floats : 0);
    size(blue_, colour ? floats : 0);
    size(gains_, profile && profile->vignetting ? floats / 2 : 0);
    std::vector<float> lonTerms(2 * static_cast<size_t>(g.outW));
    FillLongitudeTerms(g, lonTerms.data());
    // The default lens keeps its own arithmetic, so its table stays bit for bit.
    const LensProjection projection = MakeLensProjection(g, lens);
    FillWork work;
    work.geom = &g;
    work.lonTerms = lonTerms.data();
    work.lens = lens.IsDefault() ? nullptr : &projection;
    work.profile = profile ? &*profile : nullptr;
    work.pairs = pairs_.data();
    work.red = colour ? red_.data() : nullptr;
    work.blue = colour ? blue_.data() : nullptr;
    work.gains = gains_.empty() ? nullptr : gains_.data();
    if (pool != nullptr) {
        pool->Run(&FillBands, &work);
    } else {
        FillBands(&work, 0, 1);
    }
    builtCropH_ = g.cropH;
    builtLens_ = lens;
    return true;
}

ColumnRange ReadColumns(const RemapTable& table, const CutGeometry& g, const CentreShift& shift) {
    const float cxS = 0.5f * static_cast<float>(g.cropW) - 0.5f + ShiftRight(shift);
    const float cyS = 0.5f * static_cast<float>(g.cropH) - 0.5f + ShiftUp(shift);
    const float maxX = static_cast<float>(g.cropW - 3);
    const float maxY = static_cast<float>(g.cropH - 3);
    float low = maxX + 1.0f;
    float high = 0.0f;
    // Lateral colour reads red and blue at pairs of their own.
    for (const float* uv : {table.Pairs(), table.RedPairs(), table.BluePairs()}) {
        if (uv == nullptr) continue;
        for (size_t k = 0; k < table.PairCount(); ++k) {
            const float rx = std::nearbyint(cxS + uv[2 * k]);
            const float ry = std::nearbyint(cyS + uv[2 * k + 1]);
            if (!(rx >= 1.0f && rx <= maxX && ry >= 1.0f && ry <= maxY)) continue;
            low = std::min(low, rx);
            high = std::max(high, rx);
        }
    }
    const int32_t minimum = std::min(4, g.cropW);
    ColumnRange range{0, minimum};
    if (low <= high) {
        range.first = static_cast<int32_t>(low) - 1;
        range.count = static_cast<int32_t>(high) + 2 - range.first + 1;
    }
    if (range.count < minimum) {
        range.first = std::max(0, std::min(range.first, g.cropW - minimum));
        range.count = minimum;
    }
    return range;
}

}  // namespace tessaly
