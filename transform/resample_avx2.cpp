// AVX2 inner loop of the resampler: eight destination pixels per step, two
// pixels' four channels per vector (one pixel in each 128-bit half). Each
// channel sees exactly the scalar sequence of single-precision multiplies and
// adds; no fused multiply-add is used.
//
// The loop is software-pipelined: the source offsets and weights of the next
// eight pixels are computed and stored while the current eight are
// interpolated, so reading the offsets back never waits for their store.
#include <immintrin.h>

#include "transform/resample_kernels.h"

#define TESSALY_INLINE __attribute__((always_inline)) inline

namespace tessaly::kernels {
namespace {

// What interpolating eight pixels needs, prepared one step ahead.
struct Step {
    alignas(32) int32_t offset[8];  // byte offset of each pixel's 4 x 4 block
    alignas(32) float wx[4][8];     // column weights by tap, then pixel
    alignas(32) float wy[4][8];     // row weights
    __m256i keep;                   // per pixel 0x00FFFFFF when written, else 0
};

TESSALY_INLINE void CubicWeights8(__m256 t, float (*w)[8]) {
    const __m256 one = _mm256_set1_ps(1.0f);
    const __m256 half = _mm256_set1_ps(0.5f);
    _mm256_store_ps(w[0], _mm256_mul_ps(_mm256_sub_ps(_mm256_mul_ps(_mm256_add_ps(
                                                          _mm256_mul_ps(_mm256_set1_ps(-0.16667f), t), half),
                                                                      t),
                                                        _mm256_set1_ps(0.33333f)),
                                          t));
    _mm256_store_ps(w[1], _mm256_add_ps(_mm256_mul_ps(_mm256_sub_ps(_mm256_mul_ps(_mm256_sub_ps(
                                                                                      _mm256_mul_ps(half, t), one),
                                                                                  t),
                                                                    half),
                                                      t),
                                        one));
    _mm256_store_ps(w[2], _mm256_mul_ps(_mm256_add_ps(_mm256_mul_ps(_mm256_mul_ps(_mm256_sub_ps(one, t), t), half),
                                                      one),
                                        t));
    _mm256_store_ps(w[3], _mm256_mul_ps(_mm256_mul_ps(_mm256_sub_ps(_mm256_mul_ps(t, t), one), t),
                                        _mm256_set1_ps(0.16667f)));
}

TESSALY_INLINE void Prepare(const SpanSource& s, const float* uv, Step& step) {
    const __m256 a = _mm256_loadu_ps(uv);
    const __m256 b = _mm256_loadu_ps(uv + 8);
    // u0 v0 u1 v1 ... -> u0 .. u7 and v0 .. v7
    const __m256 u = _mm256_castpd_ps(_mm256_permute4x64_pd(
        _mm256_castps_pd(_mm256_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0))), _MM_SHUFFLE(3, 1, 2, 0)));
    const __m256 v = _mm256_castpd_ps(_mm256_permute4x64_pd(
        _mm256_castps_pd(_mm256_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1))), _MM_SHUFFLE(3, 1, 2, 0)));
    const __m256 sx = _mm256_add_ps(_mm256_set1_ps(s.cxS), u);
    const __m256 sy = _mm256_add_ps(_mm256_set1_ps(s.cyS), v);
    const __m256i ix = _mm256_cvtps_epi32(sx);  // nearest, halves to even
    const __m256i iy = _mm256_cvtps_epi32(sy);
    const __m256 rx = _mm256_cvtepi32_ps(ix);
    const __m256 ry = _mm256_cvtepi32_ps(iy);
    const __m256 one = _mm256_set1_ps(1.0f);
    const __m256 valid = _mm256_and_ps(
        _mm256_and_ps(_mm256_cmp_ps(rx, one, _CMP_GE_OQ),
                      _mm256_cmp_ps(rx, _mm256_set1_ps(static_cast<float>(s.srcW - 3)), _CMP_LE_OQ)),
        _mm256_and_ps(_mm256_cmp_ps(ry, one, _CMP_GE_OQ),
                      _mm256_cmp_ps(ry, _mm256_set1_ps(static_cast<float>(s.srcH - 3)), _CMP_LE_OQ)));
    const __m256i validI = _mm256_castps_si256(valid);
    // (iy - 1) * stride + (ix - 1 - firstColumn) * 4; pixels that are not
    // written read the block at the buffer's origin.
    const __m256i oneI = _mm256_set1_epi32(1);
    const __m256i offset =
        _mm256_add_epi32(_mm256_mullo_epi32(_mm256_sub_epi32(iy, oneI), _mm256_set1_epi32(static_cast<int>(s.srcStride))),
                         _mm256_slli_epi32(_mm256_sub_epi32(ix, _mm256_set1_epi32(s.firstColumn + 1)), 2));
    _mm256_store_si256(reinterpret_cast<__m256i*>(step.offset), _mm256_and_si256(validI, offset));
    step.keep = _mm256_and_si256(validI, _mm256_set1_epi32(0x00FFFFFF));
    CubicWeights8(_mm256_sub_ps(sx, rx), step.wx);
    CubicWeights8(_mm256_sub_ps(sy, ry), step.wy);
}

// Both pixels' rows of four taps: ((w0 * p0 + w1 * p1) + w2 * p2) + w3 * p3.
TESSALY_INLINE __m256 RowSum(const uint8_t* a, const uint8_t* b, const __m256i* tap, const __m256* w) {
    const __m256i r = _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a))),
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(b)), 1);
    __m256 acc = _mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_shuffle_epi8(r, tap[0])), w[0]);
    acc = _mm256_add_ps(acc, _mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_shuffle_epi8(r, tap[1])), w[1]));
    acc = _mm256_add_ps(acc, _mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_shuffle_epi8(r, tap[2])), w[2]));
    acc = _mm256_add_ps(acc, _mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_shuffle_epi8(r, tap[3])), w[3]));
    return acc;
}

// Pixels k and k+1 of a step; their results as eight 32-bit integers.
TESSALY_INLINE __m256i PixelPair(const SpanSource& s, const Step& step, int k, const __m256i* tap) {
    const __m256i sel = _mm256_setr_epi32(k, k, k, k, k + 1, k + 1, k + 1, k + 1);
    __m256 x[4];
    __m256 y[4];
    for (int i = 0; i < 4; ++i) {
        x[i] = _mm256_permutevar8x32_ps(_mm256_load_ps(step.wx[i]), sel);
        y[i] = _mm256_permutevar8x32_ps(_mm256_load_ps(step.wy[i]), sel);
    }
    const ptrdiff_t stride = s.srcStride;
    const uint8_t* a = s.src + step.offset[k];
    const uint8_t* b = s.src + step.offset[k + 1];
    const __m256 r0 = RowSum(a, b, tap, x);
    const __m256 r1 = RowSum(a + stride, b + stride, tap, x);
    const __m256 r2 = RowSum(a + 2 * stride, b + 2 * stride, tap, x);
    const __m256 r3 = RowSum(a + 3 * stride, b + 3 * stride, tap, x);
    __m256 acc = _mm256_mul_ps(r0, y[0]);
    acc = _mm256_add_ps(acc, _mm256_mul_ps(r1, y[1]));
    acc = _mm256_add_ps(acc, _mm256_mul_ps(r2, y[2]));
    acc = _mm256_add_ps(acc, _mm256_mul_ps(r3, y[3]));
    return _mm256_cvtps_epi32(acc);  // nearest, halves to even
}

TESSALY_INLINE void Interpolate(const SpanSource& s, const Step& step, const __m256i* tap, uint8_t* d) {
    const __m256i q01 = PixelPair(s, step, 0, tap);
    const __m256i q23 = PixelPair(s, step, 2, tap);
    const __m256i q45 = PixelPair(s, step, 4, tap);
    const __m256i q67 = PixelPair(s, step, 6, tap);
    // packs/packus work within 128-bit halves: bytes come out as pixels
    // 0 2 4 6 | 1 3 5 7 and are put back in order.
    const __m256i bytes = _mm256_permutevar8x32_epi32(
        _mm256_packus_epi16(_mm256_packs_epi32(q01, q23), _mm256_packs_epi32(q45, q67)),
        _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7));
    const __m256i old = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(d),
                        _mm256_or_si256(_mm256_andnot_si256(step.keep, old), _mm256_and_si256(step.keep, bytes)));
}

}  // namespace

int SpanAvx2(const SpanSource& s, const float* uv, int count, uint8_t* dst) {
    const int steps = count / 8;
    if (steps == 0) return 0;
    // Byte shuffles that widen tap i's four channel bytes to 32-bit lanes.
    __m256i tap[4];
    for (int i = 0; i < 4; ++i) {
        const char b = static_cast<char>(4 * i);
        const char z = static_cast<char>(0x80);
        tap[i] = _mm256_setr_epi8(b, z, z, z, static_cast<char>(b + 1), z, z, z, static_cast<char>(b + 2), z, z, z,
                                  static_cast<char>(b + 3), z, z, z, b, z, z, z, static_cast<char>(b + 1), z, z, z,
                                  static_cast<char>(b + 2), z, z, z, static_cast<char>(b + 3), z, z, z);
    }
    Step ahead[2];
    Prepare(s, uv, ahead[0]);
    for (int i = 0; i < steps; ++i) {
        if (i + 1 < steps) Prepare(s, uv + 16 * (i + 1), ahead[(i + 1) & 1]);
        Interpolate(s, ahead[i & 1], tap, dst + 32 * static_cast<ptrdiff_t>(i));
    }
    return 8 * steps;
}

}  // namespace tessaly::kernels
