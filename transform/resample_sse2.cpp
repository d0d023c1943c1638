// SSE2 inner loop of the resampler: four destination pixels per step, one
// pixel's four channels per vector. Each channel sees exactly the scalar
// sequence of single-precision multiplies and adds.
#include <emmintrin.h>

#include "transform/resample_kernels.h"

namespace tessaly::kernels {
namespace {

struct Weights4 {
    __m128 w0, w1, w2, w3;
};

__attribute__((always_inline)) inline Weights4 CubicWeights4(__m128 t) {
    const __m128 one = _mm_set1_ps(1.0f);
    const __m128 half = _mm_set1_ps(0.5f);
    const __m128 sixth = _mm_set1_ps(0.16667f);
    Weights4 w;
    w.w0 = _mm_mul_ps(_mm_sub_ps(_mm_mul_ps(_mm_add_ps(_mm_mul_ps(_mm_set1_ps(-0.16667f), t), half), t),
                                 _mm_set1_ps(0.33333f)),
                      t);
    w.w1 = _mm_add_ps(
        _mm_mul_ps(_mm_sub_ps(_mm_mul_ps(_mm_sub_ps(_mm_mul_ps(half, t), one), t), half), t), one);
    w.w2 = _mm_mul_ps(_mm_add_ps(_mm_mul_ps(_mm_mul_ps(_mm_sub_ps(one, t), t), half), one), t);
    w.w3 = _mm_mul_ps(_mm_mul_ps(_mm_sub_ps(_mm_mul_ps(t, t), one), t), sixth);
    return w;
}

// One row of four taps: ((w0 * p0 + w1 * p1) + w2 * p2) + w3 * p3 per channel.
__attribute__((always_inline)) inline __m128 RowSum(const uint8_t* p, __m128 w0, __m128 w1, __m128 w2, __m128 w3) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i r = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i lo = _mm_unpacklo_epi8(r, zero);
    const __m128i hi = _mm_unpackhi_epi8(r, zero);
    __m128 acc = _mm_mul_ps(_mm_cvtepi32_ps(_mm_unpacklo_epi16(lo, zero)), w0);
    acc = _mm_add_ps(acc, _mm_mul_ps(_mm_cvtepi32_ps(_mm_unpackhi_epi16(lo, zero)), w1));
    acc = _mm_add_ps(acc, _mm_mul_ps(_mm_cvtepi32_ps(_mm_unpacklo_epi16(hi, zero)), w2));
    acc = _mm_add_ps(acc, _mm_mul_ps(_mm_cvtepi32_ps(_mm_unpackhi_epi16(hi, zero)), w3));
    return acc;
}

template <int K>
__attribute__((always_inline)) inline __m128i Pixel(const SpanSource& s, const int32_t* ix, const int32_t* iy, const Weights4& wx,
                     const Weights4& wy) {
    constexpr int sel = K * 0x55;
    const __m128 x0 = _mm_shuffle_ps(wx.w0, wx.w0, sel);
    const __m128 x1 = _mm_shuffle_ps(wx.w1, wx.w1, sel);
    const __m128 x2 = _mm_shuffle_ps(wx.w2, wx.w2, sel);
    const __m128 x3 = _mm_shuffle_ps(wx.w3, wx.w3, sel);
    const ptrdiff_t stride = s.srcStride;
    const uint8_t* p =
        s.src + static_cast<ptrdiff_t>(iy[K] - 1) * stride + static_cast<ptrdiff_t>(ix[K] - 1 - s.firstColumn) * 4;
    const __m128 r0 = RowSum(p, x0, x1, x2, x3);
    const __m128 r1 = RowSum(p + stride, x0, x1, x2, x3);
    const __m128 r2 = RowSum(p + 2 * stride, x0, x1, x2, x3);
    const __m128 r3 = RowSum(p + 3 * stride, x0, x1, x2, x3);
    __m128 acc = _mm_mul_ps(r0, _mm_shuffle_ps(wy.w0, wy.w0, sel));
    acc = _mm_add_ps(acc, _mm_mul_ps(r1, _mm_shuffle_ps(wy.w1, wy.w1, sel)));
    acc = _mm_add_ps(acc, _mm_mul_ps(r2, _mm_shuffle_ps(wy.w2, wy.w2, sel)));
    acc = _mm_add_ps(acc, _mm_mul_ps(r3, _mm_shuffle_ps(wy.w3, wy.w3, sel)));
    return _mm_cvtps_epi32(acc);  // nearest, halves to even
}

}  // namespace

int SpanSse2(const SpanSource& s, const float* uv, int count, uint8_t* dst) {
    const int n = count & ~3;
    const __m128 cx = _mm_set1_ps(s.cxS);
    const __m128 cy = _mm_set1_ps(s.cyS);
    const __m128 one = _mm_set1_ps(1.0f);
    const __m128 maxX = _mm_set1_ps(static_cast<float>(s.srcW - 3));
    const __m128 maxY = _mm_set1_ps(static_cast<float>(s.srcH - 3));
    const __m128i oneI = _mm_set1_epi32(1);
    const __m128i firstX = _mm_set1_epi32(s.firstColumn + 1);
    const __m128i bgr = _mm_set1_epi32(0x00FFFFFF);
    alignas(16) int32_t ix[4];
    alignas(16) int32_t iy[4];
    for (int x = 0; x < n; x += 4) {
        const __m128 a = _mm_loadu_ps(uv + 2 * x);
        const __m128 b = _mm_loadu_ps(uv + 2 * x + 4);
        const __m128 sx = _mm_add_ps(cx, _mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0)));
        const __m128 sy = _mm_add_ps(cy, _mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1)));
        const __m128i ixv = _mm_cvtps_epi32(sx);
        const __m128i iyv = _mm_cvtps_epi32(sy);
        const __m128 rx = _mm_cvtepi32_ps(ixv);
        const __m128 ry = _mm_cvtepi32_ps(iyv);
        const __m128 valid = _mm_and_ps(_mm_and_ps(_mm_cmpge_ps(rx, one), _mm_cmple_ps(rx, maxX)),
                                        _mm_and_ps(_mm_cmpge_ps(ry, one), _mm_cmple_ps(ry, maxY)));
        const __m128i validI = _mm_castps_si128(valid);
        // Pixels that are not written read the block at the source origin.
        _mm_store_si128(reinterpret_cast<__m128i*>(ix),
                        _mm_or_si128(_mm_and_si128(validI, ixv), _mm_andnot_si128(validI, firstX)));
        _mm_store_si128(reinterpret_cast<__m128i*>(iy),
                        _mm_or_si128(_mm_and_si128(validI, iyv), _mm_andnot_si128(validI, oneI)));
        const Weights4 wx = CubicWeights4(_mm_sub_ps(sx, rx));
        const Weights4 wy = CubicWeights4(_mm_sub_ps(sy, ry));
        const __m128i q0 = Pixel<0>(s, ix, iy, wx, wy);
        const __m128i q1 = Pixel<1>(s, ix, iy, wx, wy);
        const __m128i q2 = Pixel<2>(s, ix, iy, wx, wy);
        const __m128i q3 = Pixel<3>(s, ix, iy, wx, wy);
        const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(q0, q1), _mm_packs_epi32(q2, q3));
        uint8_t* d = dst + 4 * static_cast<ptrdiff_t>(x);
        const __m128i keep = _mm_and_si128(validI, bgr);
        const __m128i old = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d),
                         _mm_or_si128(_mm_andnot_si128(keep, old), _mm_and_si128(keep, bytes)));
    }
    return n;
}

}  // namespace tessaly::kernels
