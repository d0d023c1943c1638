#include "transform/resampler.h"

#include <algorithm>
#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "transform/resample_kernels.h"
#include "transform/row_pool.h"

namespace tessaly {

void BuildResamplerTables(ResamplerTables& tables) {
    for (int i = 0; i < 256; ++i) tables.byteToFloat[i] = static_cast<float>(i);
    tables.saturation[0] = 0;
    for (int i = 1; i < 4096; ++i) {
        const double q = i / 16.0;
        tables.saturation[i] = q > 255.0 ? 255 : static_cast<int32_t>(std::nearbyint(q + 0.5));
    }
}

namespace kernels {
namespace {

// Channel result: rounded to nearest (halves to even), then clamped to
// 0..255 through the saturation table.
uint8_t Saturate(const int32_t* saturation, float value) {
    const float r = std::nearbyint(value);
    const int v = r <= -1.0f ? -1 : (r >= 256.0f ? 256 : static_cast<int>(r));
    return static_cast<uint8_t>(saturation[std::clamp(16 * v - 1, 0, 4095)]);
}

}  // namespace

void SpanScalar(const SpanSource& s, const float* byteToFloat, const int32_t* saturation,
                const float* uv, int count, uint8_t* dst) {
    const float maxX = static_cast<float>(s.srcW - 3);
    const float maxY = static_cast<float>(s.srcH - 3);
    for (int k = 0; k < count; ++k, dst += 4) {
        const float sx = s.cxS + uv[2 * k];
        const float sy = s.cyS + uv[2 * k + 1];
        const float rx = std::nearbyint(sx);
        const float ry = std::nearbyint(sy);
        // Taps ix-1 .. ix+2 and iy-1 .. iy+2 must lie inside the source.
        if (!(rx >= 1.0f && rx <= maxX && ry >= 1.0f && ry <= maxY)) continue;
        const CubicWeights wx = CubicLagrangeWeights(sx - rx);
        const CubicWeights wy = CubicLagrangeWeights(sy - ry);
        const uint8_t* p = s.src + (static_cast<ptrdiff_t>(ry) - 1) * s.srcStride +
                           (static_cast<ptrdiff_t>(rx) - 1 - s.firstColumn) * 4;
        float rows[4][3];
        for (int j = 0; j < 4; ++j, p += s.srcStride) {  // lowest row first
            for (int c = 0; c < 3; ++c) {
                float acc = wx.w[0] * byteToFloat[p[c]];
                acc = acc + wx.w[1] * byteToFloat[p[4 + c]];
                acc = acc + wx.w[2] * byteToFloat[p[8 + c]];
                acc = acc + wx.w[3] * byteToFloat[p[12 + c]];
                rows[j][c] = acc;
            }
        }
        for (int c = 0; c < 3; ++c) {
            float acc = wy.w[0] * rows[0][c];
            acc = acc + wy.w[1] * rows[1][c];
            acc = acc + wy.w[2] * rows[2][c];
            acc = acc + wy.w[3] * rows[3][c];
            dst[c] = Saturate(saturation, acc);
        }
    }
}

#if !TESSALY_HAVE_X86_KERNELS
int SpanSse2(const SpanSource&, const float*, int, uint8_t*) { return 0; }
int SpanAvx2(const SpanSource&, const float*, int, uint8_t*) { return 0; }
int SpanAvx512(const SpanSource&, const float*, int, uint8_t*) { return 0; }
#endif

}  // namespace kernels

bool KernelSupported(ResampleKernel kernel) {
    switch (kernel) {
        case ResampleKernel::kAuto:
        case ResampleKernel::kScalar:
            return true;
#if TESSALY_HAVE_X86_KERNELS
        case ResampleKernel::kSse2:
            return __builtin_cpu_supports("sse2");
        case ResampleKernel::kAvx2:
            return __builtin_cpu_supports("avx2");
        case ResampleKernel::kAvx512:
            return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
#else
        case ResampleKernel::kSse2:
        case ResampleKernel::kAvx2:
        case ResampleKernel::kAvx512:
            return false;
#endif
    }
    return false;
}

const char* KernelName(ResampleKernel kernel) {
    switch (kernel) {
        case ResampleKernel::kAuto: return "auto";
        case ResampleKernel::kScalar: return "scalar";
        case ResampleKernel::kSse2: return "sse2";
        case ResampleKernel::kAvx2: return "avx2";
        case ResampleKernel::kAvx512: return "avx512";
    }
    return "?";
}

Resampler::Resampler() {
    BuildResamplerTables(tables_);
    SetKernel(ResampleKernel::kAuto);
}

void Resampler::SetKernel(ResampleKernel kernel) {
    if (kernel == ResampleKernel::kAuto) {
        kernel = KernelSupported(ResampleKernel::kAvx512) ? ResampleKernel::kAvx512
                 : KernelSupported(ResampleKernel::kAvx2) ? ResampleKernel::kAvx2
                 : KernelSupported(ResampleKernel::kSse2) ? ResampleKernel::kSse2
                                                          : ResampleKernel::kScalar;
    }
    kernel_ = KernelSupported(kernel) ? kernel : ResampleKernel::kScalar;
    switch (kernel_) {
        case ResampleKernel::kAvx512: vectorSpan_ = &kernels::SpanAvx512; break;
        case ResampleKernel::kAvx2: vectorSpan_ = &kernels::SpanAvx2; break;
        case ResampleKernel::kSse2: vectorSpan_ = &kernels::SpanSse2; break;
        default: vectorSpan_ = nullptr; break;
    }
}

namespace {

// Everything a worker needs for its band of destination rows.
struct RowWork {
    const ResampleJob* job;
    const ResamplerTables* tables;
    kernels::SpanSource span;
    kernels::VectorSpanFn vectorSpan;  // null: scalar only
    float cxD;
    float cyD;
    const float* pairs;  // mode 3: the remap table
    const float* red;    // lateral colour: the red and blue channels' pairs, else null
    const float* blue;
    const float* gains;  // vignetting: one gain per output pixel, else null
    std::atomic<int> nextRow;  // bands are taken in turn, so a slow thread delays no one
};

void ResampleSpan(const RowWork& w, const float* uv, int count, uint8_t* dst) {
    const int done = w.vectorSpan != nullptr ? w.vectorSpan(w.span, uv, count, dst) : 0;
    kernels::SpanScalar(w.span, w.tables->byteToFloat, w.tables->saturation, uv + 2 * done, count - done,
                        dst + 4 * static_cast<ptrdiff_t>(done));
}

constexpr int kTileWidth = 128;  // a multiple of every vector loop's width

// Lateral colour: one channel (BGRX byte `channel`) of a span read again
// through that channel's own pairs. A pixel whose channel pair leaves the
// source gets 0 there.
void ReplaceChannel(const RowWork& w, const float* uv, int count, int channel, uint8_t* dst) {
    uint8_t own[4 * kTileWidth] = {};
    ResampleSpan(w, uv, count, own);
    for (int k = 0; k < count; ++k) dst[4 * k + channel] = own[4 * k + channel];
}

// Vignetting: every colour of a written span scaled by its pixel's gain,
// rounded to nearest (halves to even) and clamped to 0..255. Clamping before
// rounding gives the same byte, and a value within 0..255 rounds exactly by
// adding and taking away 1.5 * 2^23 (the default rounding, as nearbyint's):
// no library call per channel. SSE2 does four pixels at once, their fourth
// byte multiplied by 1 so that it is kept.
void ApplyGainsScalar(const float* gains, int count, uint8_t* dst) {
    constexpr float kRound = 12582912.0f;
    for (int k = 0; k < count; ++k, dst += 4) {
        for (int c = 0; c < 3; ++c) {
            const float v = std::min(std::max(static_cast<float>(dst[c]) * gains[k], 0.0f), 255.0f);
            dst[c] = static_cast<uint8_t>((v + kRound) - kRound);
        }
    }
}

#if defined(__SSE2__)
// Pixels k .. k + 3 of `four` (16 bytes) scaled; cvtps2dq rounds as above.
void ApplyGains4(const float* gains, uint8_t* four) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(four));
    const __m128i low = _mm_unpacklo_epi8(bytes, zero);
    const __m128i high = _mm_unpackhi_epi8(bytes, zero);
    const __m128i words[4] = {_mm_unpacklo_epi16(low, zero), _mm_unpackhi_epi16(low, zero),
                              _mm_unpacklo_epi16(high, zero), _mm_unpackhi_epi16(high, zero)};
    __m128i out[4];
    for (int p = 0; p < 4; ++p) {
        const __m128 g = _mm_set_ps(1.0f, gains[p], gains[p], gains[p]);
        __m128 v = _mm_mul_ps(_mm_cvtepi32_ps(words[p]), g);
        v = _mm_min_ps(_mm_max_ps(v, _mm_setzero_ps()), _mm_set1_ps(255.0f));
        out[p] = _mm_cvtps_epi32(v);
    }
    const __m128i packed = _mm_packus_epi16(_mm_packs_epi32(out[0], out[1]), _mm_packs_epi32(out[2], out[3]));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(four), packed);
}
#endif

void ApplyGains(const float* gains, int count, uint8_t* dst) {
    int k = 0;
#if defined(__SSE2__)
    for (; k + 4 <= count; k += 4) ApplyGains4(gains + k, dst + 4 * static_cast<ptrdiff_t>(k));
#endif
    ApplyGainsScalar(gains + k, count - k, dst + 4 * static_cast<ptrdiff_t>(k));
}

// Projection rows y0 .. y1 (a few at most), taken in tiles of 128 columns so
// that the source pixels one tile reads stay in the nearest cache.
void ProjectRows(const RowWork& w, int y0, int y1) {
    const ResampleJob& job = *w.job;
    for (int x0 = 0; x0 < job.dstW; x0 += kTileWidth) {
        const int n = std::min(kTileWidth, job.dstW - x0);
        for (int y = y0; y < y1; ++y) {
            const ptrdiff_t first = static_cast<ptrdiff_t>(y) * job.dstW + x0;
            uint8_t* dst = job.dst + y * job.dstStride + 4 * static_cast<ptrdiff_t>(x0);
            ResampleSpan(w, w.pairs + 2 * first, n, dst);
            if (w.red != nullptr) ReplaceChannel(w, w.red + 2 * first, n, 2, dst);
            if (w.blue != nullptr) ReplaceChannel(w, w.blue + 2 * first, n, 0, dst);
            if (w.gains != nullptr) ApplyGains(w.gains + first, n, dst);
        }
    }
}

constexpr int kBandRows = 8;

void ResampleRows(const RowWork& w, int y0, int y1) {
    const ResampleJob& job = *w.job;
    if (job.mode == ResampleMode::kProjection) {
        for (int y = y0; y < y1; y += kBandRows) ProjectRows(w, y, std::min(y1, y + kBandRows));
        return;
    }
    constexpr int kChunk = 256;
    float stretch[2 * kChunk];
    for (int y = y0; y < y1; ++y) {
        uint8_t* dstRow = job.dst + y * job.dstStride;
        const float v = static_cast<float>(y) - w.cyD;
        for (int x0 = 0; x0 < job.dstW; x0 += kChunk) {
            const int n = std::min(kChunk, job.dstW - x0);
            for (int k = 0; k < n; ++k) {
                const float dx = static_cast<float>(x0 + k) - w.cxD;
                stretch[2 * k] = dx * job.parameter;
                stretch[2 * k + 1] = v;
            }
            ResampleSpan(w, stretch, n, dstRow + 4 * static_cast<ptrdiff_t>(x0));
        }
    }
}

void ResampleBand(void* context, int, int) {
    RowWork& w = *static_cast<RowWork*>(context);
    const int h = w.job->dstH;
    for (int y0 = w.nextRow.fetch_add(kBandRows); y0 < h; y0 = w.nextRow.fetch_add(kBandRows)) {
        ResampleRows(w, y0, std::min(h, y0 + kBandRows));
    }
}

}  // namespace

TransformStatus Resampler::Resample(const ResampleJob& job, const RemapTable* table) {
    if (job.dst == nullptr || job.src == nullptr || job.dstW <= 0 || job.dstH <= 0 || job.srcW <= 0 ||
        job.srcH <= 0) {
        return TransformStatus::kNoFrame;
    }
    const bool projection = job.mode == ResampleMode::kProjection;
    if (projection) {
        // The pairs belong to one output shape: refuse any other.
        if (table == nullptr || table->PairCount() != static_cast<size_t>(job.dstW) * static_cast<size_t>(job.dstH)) {
            return TransformStatus::kNoGeometry;
        }
    } else if (job.mode != ResampleMode::kAspectStretch) {
        return TransformStatus::kNoGeometry;
    }
    int32_t idle = 0;
    if (!busy_.compare_exchange_strong(idle, 1)) return TransformStatus::kResamplerBusy;

    RowWork w;
    w.job = &job;
    w.tables = &tables_;
    w.span = kernels::SpanSource{job.src, job.srcStride, job.srcW, job.srcH,
                                 0.5f * static_cast<float>(job.srcW) - 0.5f + job.centreX,
                                 0.5f * static_cast<float>(job.srcH) - 0.5f + job.centreY, job.srcFirstColumn};
    // The vector loops read the 4 x 4 block at the buffer's origin for pixels
    // they do not write, so they need a buffer of at least that size.
    const int columns = job.srcColumns > 0 ? job.srcColumns : job.srcW;
    w.vectorSpan = (columns >= 4 && job.srcH >= 4) ? vectorSpan_ : nullptr;
    w.cxD = 0.5f * static_cast<float>(job.dstW) - 0.5f;
    w.cyD = 0.5f * static_cast<float>(job.dstH) - 0.5f;
    w.pairs = projection ? table->Pairs() : nullptr;
    w.red = projection ? table->RedPairs() : nullptr;
    w.blue = projection ? table->BluePairs() : nullptr;
    w.gains = projection ? table->Gains() : nullptr;
    w.nextRow.store(0);
    if (pool_ != nullptr && pool_->Threads() > 1) {
        pool_->Run(&ResampleBand, &w);
    } else {
        ResampleRows(w, 0, job.dstH);
    }
    busy_.store(0);
    return TransformStatus::kOk;
}

}  // namespace tessaly
