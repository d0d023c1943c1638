// AVX2 inner loop of the resampler: eight destination pixels per step, two
// pixels' four channels per vector (one pixel in each 128-bit half). Each
// channel sees exactly the scalar sequence of single-precision multiplies and
// adds; no fused multiply-add is used.
#include <immintrin.h>

#include "transform/resample_kernels.h"

namespace tessaly::kernels {
namespace {

struct Weights8 {
    __m256 w[4];
};

inline Weights8 CubicWeights8(__m256 t) {
    const __m256 one = _mm256_set1_ps(1.0f);
    const __m256 half = _mm256_set1_ps(0.5f);
    Weights8 w;
    w.w[0] = _mm256_mul_ps(
        _mm256_sub_ps(_mm256_mul_ps(_mm256_add_ps(_mm256_mul_ps(_mm256_set1_ps(-0.16667f), t), half), t),
                      _mm256_set1_ps(0.33333f)),
        t);
    w.w[1] = _mm256_add_ps(
        _mm256_mul_ps(
            _mm256_sub_ps(_mm256_mul_ps(_mm256_sub_ps(_mm256_mul_ps(half, t), one), t), half), t),
        one);
    w.w[2] = _mm256_mul_ps(
        _mm256_add_ps(_mm256_mul_ps(_mm256_mul_ps(_mm256_sub_ps(one, t), t), half), one), t);
    w.w[3] = _mm256_mul_ps(_mm256_mul_ps(_mm256_sub_ps(_mm256_mul_ps(t, t), one), t),
                           _mm256_set1_ps(0.16667f));
    return w;
}

// Both pixels' rows of four taps: ((w0 * p0 + w1 * p1) + w2 * p2) + w3 * p3.
inline __m256 RowSum(const uint8_t* a, const uint8_t* b, const __m256i* tap, const __m256* w) {
    const __m256i r = _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a))),
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(b)), 1);
    __m256 acc = _mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_shuffle_epi8(r, tap[0])), w[0]);
    acc = _mm256_add_ps(acc, _mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_shuffle_epi8(r, tap[1])), w[1]));
    acc = _mm256_add_ps(acc, _mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_shuffle_epi8(r, tap[2])), w[2]));
    acc = _mm256_add_ps(acc, _mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_shuffle_epi8(r, tap[3])), w[3]));
    return acc;
}

// Pixels k and k+1 of the step; their results as eight 32-bit integers.
inline __m256i PixelPair(const SpanSource& s, const int32_t* ix, const int32_t* iy, int k,
                         const Weights8& wx, const Weights8& wy, const __m256i* tap) {
    const __m256i sel = _mm256_setr_epi32(k, k, k, k, k + 1, k + 1, k + 1, k + 1);
    __m256 x[4];
    __m256 y[4];
    for (int i = 0; i < 4; ++i) {
        x[i] = _mm256_permutevar8x32_ps(wx.w[i], sel);
        y[i] = _mm256_permutevar8x32_ps(wy.w[i], sel);
    }
    const ptrdiff_t stride = s.srcStride;
    const uint8_t* a = s.src + static_cast<ptrdiff_t>(iy[k] - 1) * stride + static_cast<ptrdiff_t>(ix[k] - 1) * 4;
    const uint8_t* b =
        s.src + static_cast<ptrdiff_t>(iy[k + 1] - 1) * stride + static_cast<ptrdiff_t>(ix[k + 1] - 1) * 4;
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

}  // namespace

int SpanAvx2(const SpanSource& s, const float* uv, int count, uint8_t* dst) {
    const int n = count & ~7;
    const __m256 cx = _mm256_set1_ps(s.cxS);
    const __m256 cy = _mm256_set1_ps(s.cyS);
    const __m256 one = _mm256_set1_ps(1.0f);
    const __m256 maxX = _mm256_set1_ps(static_cast<float>(s.srcW - 3));
    const __m256 maxY = _mm256_set1_ps(static_cast<float>(s.srcH - 3));
    const __m256i oneI = _mm256_set1_epi32(1);
    const __m256i bgr = _mm256_set1_epi32(0x00FFFFFF);
    const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
    // Byte shuffles that widen tap i's four channel bytes to 32-bit lanes.
    __m256i tap[4];
    for (int i = 0; i < 4; ++i) {
        const char b = static_cast<char>(4 * i);
        const char z = static_cast<char>(0x80);
        tap[i] = _mm256_setr_epi8(b, z, z, z, b + 1, z, z, z, b + 2, z, z, z, b + 3, z, z, z,  //
                                  b, z, z, z, b + 1, z, z, z, b + 2, z, z, z, b + 3, z, z, z);
    }
    alignas(32) int32_t ix[8];
    alignas(32) int32_t iy[8];
    for (int x = 0; x < n; x += 8) {
        const __m256 a = _mm256_loadu_ps(uv + 2 * x);
        const __m256 b = _mm256_loadu_ps(uv + 2 * x + 8);
        const __m256 u = _mm256_castpd_ps(_mm256_permute4x64_pd(
            _mm256_castps_pd(_mm256_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0))), _MM_SHUFFLE(3, 1, 2, 0)));
        const __m256 v = _mm256_castpd_ps(_mm256_permute4x64_pd(
            _mm256_castps_pd(_mm256_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1))), _MM_SHUFFLE(3, 1, 2, 0)));
        const __m256 sx = _mm256_add_ps(cx, u);
        const __m256 sy = _mm256_add_ps(cy, v);
        const __m256i ixv = _mm256_cvtps_epi32(sx);
        const __m256i iyv = _mm256_cvtps_epi32(sy);
        const __m256 rx = _mm256_cvtepi32_ps(ixv);
        const __m256 ry = _mm256_cvtepi32_ps(iyv);
        const __m256 valid = _mm256_and_ps(
            _mm256_and_ps(_mm256_cmp_ps(rx, one, _CMP_GE_OQ), _mm256_cmp_ps(rx, maxX, _CMP_LE_OQ)),
            _mm256_and_ps(_mm256_cmp_ps(ry, one, _CMP_GE_OQ), _mm256_cmp_ps(ry, maxY, _CMP_LE_OQ)));
        const __m256i validI = _mm256_castps_si256(valid);
        // Pixels that are not written read the block at the source origin.
        _mm256_store_si256(reinterpret_cast<__m256i*>(ix), _mm256_blendv_epi8(oneI, ixv, validI));
        _mm256_store_si256(reinterpret_cast<__m256i*>(iy), _mm256_blendv_epi8(oneI, iyv, validI));
        const Weights8 wx = CubicWeights8(_mm256_sub_ps(sx, rx));
        const Weights8 wy = CubicWeights8(_mm256_sub_ps(sy, ry));
        const __m256i q01 = PixelPair(s, ix, iy, 0, wx, wy, tap);
        const __m256i q23 = PixelPair(s, ix, iy, 2, wx, wy, tap);
        const __m256i q45 = PixelPair(s, ix, iy, 4, wx, wy, tap);
        const __m256i q67 = PixelPair(s, ix, iy, 6, wx, wy, tap);
        // packs/packus work within 128-bit halves: bytes come out as pixels
        // 0 2 4 6 | 1 3 5 7 and are put back in order.
        const __m256i bytes = _mm256_permutevar8x32_epi32(
            _mm256_packus_epi16(_mm256_packs_epi32(q01, q23), _mm256_packs_epi32(q45, q67)), order);
        uint8_t* d = dst + 4 * static_cast<ptrdiff_t>(x);
        const __m256i keep = _mm256_and_si256(validI, bgr);
        const __m256i old = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(d),
                            _mm256_or_si256(_mm256_andnot_si256(keep, old), _mm256_and_si256(keep, bytes)));
    }
    return n;
}

}  // namespace tessaly::kernels
