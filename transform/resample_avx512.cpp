// AVX-512 inner loop of the resampler: sixteen destination pixels per step,
// four pixels' four channels per vector (one pixel in each 128-bit quarter).
// Each channel sees exactly the scalar sequence of single-precision multiplies
// and adds; no fused multiply-add is used. Software-pipelined like the AVX2
// loop: the offsets and weights of the next step are stored while the current
// step is interpolated.
#include <immintrin.h>

#include "transform/resample_kernels.h"

#define TESSALY_INLINE __attribute__((always_inline)) inline

namespace tessaly::kernels {
namespace {

struct Step {
    alignas(64) int32_t offset[16];  // byte offset of each pixel's 4 x 4 block
    alignas(64) float wx[4][16];     // column weights by tap, then pixel
    alignas(64) float wy[4][16];     // row weights
    __mmask64 keep;                  // the B, G, R bytes of the pixels written
};

TESSALY_INLINE void CubicWeights16(__m512 t, float (*w)[16]) {
    const __m512 one = _mm512_set1_ps(1.0f);
    const __m512 half = _mm512_set1_ps(0.5f);
    __m512 a = _mm512_mul_ps(_mm512_set1_ps(-0.16667f), t);
    a = _mm512_mul_ps(_mm512_sub_ps(_mm512_mul_ps(_mm512_add_ps(a, half), t), _mm512_set1_ps(0.33333f)), t);
    __m512 b = _mm512_sub_ps(_mm512_mul_ps(half, t), one);
    b = _mm512_add_ps(_mm512_mul_ps(_mm512_sub_ps(_mm512_mul_ps(b, t), half), t), one);
    __m512 c = _mm512_mul_ps(_mm512_mul_ps(_mm512_sub_ps(one, t), t), half);
    c = _mm512_mul_ps(_mm512_add_ps(c, one), t);
    __m512 d = _mm512_mul_ps(_mm512_sub_ps(_mm512_mul_ps(t, t), one), t);
    d = _mm512_mul_ps(d, _mm512_set1_ps(0.16667f));
    _mm512_store_ps(w[0], a);
    _mm512_store_ps(w[1], b);
    _mm512_store_ps(w[2], c);
    _mm512_store_ps(w[3], d);
}

TESSALY_INLINE void Prepare(const SpanSource& s, const float* uv, Step& step) {
    const __m512 a = _mm512_loadu_ps(uv);
    const __m512 b = _mm512_loadu_ps(uv + 16);
    const __m512i even = _mm512_setr_epi32(0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30);
    const __m512i odd = _mm512_add_epi32(even, _mm512_set1_epi32(1));
    const __m512 sx = _mm512_add_ps(_mm512_set1_ps(s.cxS), _mm512_permutex2var_ps(a, even, b));
    const __m512 sy = _mm512_add_ps(_mm512_set1_ps(s.cyS), _mm512_permutex2var_ps(a, odd, b));
    const __m512i ix = _mm512_cvtps_epi32(sx);  // nearest, halves to even
    const __m512i iy = _mm512_cvtps_epi32(sy);
    const __m512 rx = _mm512_cvtepi32_ps(ix);
    const __m512 ry = _mm512_cvtepi32_ps(iy);
    const __m512 one = _mm512_set1_ps(1.0f);
    const __mmask16 valid =
        _mm512_cmp_ps_mask(rx, one, _CMP_GE_OQ) &
        _mm512_cmp_ps_mask(rx, _mm512_set1_ps(static_cast<float>(s.srcW - 3)), _CMP_LE_OQ) &
        _mm512_cmp_ps_mask(ry, one, _CMP_GE_OQ) &
        _mm512_cmp_ps_mask(ry, _mm512_set1_ps(static_cast<float>(s.srcH - 3)), _CMP_LE_OQ);
    // (iy - 1) * stride + (ix - 1 - firstColumn) * 4; pixels that are not
    // written read the block at the buffer's origin.
    const __m512i oneI = _mm512_set1_epi32(1);
    const __m512i offset =
        _mm512_add_epi32(_mm512_mullo_epi32(_mm512_sub_epi32(iy, oneI), _mm512_set1_epi32(static_cast<int>(s.srcStride))),
                         _mm512_slli_epi32(_mm512_sub_epi32(ix, _mm512_set1_epi32(s.firstColumn + 1)), 2));
    _mm512_store_si512(step.offset, _mm512_maskz_mov_epi32(valid, offset));
    const __m512i keep = _mm512_maskz_mov_epi32(valid, _mm512_set1_epi32(0x00FFFFFF));
    step.keep = _mm512_test_epi8_mask(keep, keep);
    CubicWeights16(_mm512_sub_ps(sx, rx), step.wx);
    CubicWeights16(_mm512_sub_ps(sy, ry), step.wy);
}

// One row of four taps for four pixels: ((w0 * p0 + w1 * p1) + w2 * p2) + w3 * p3.
TESSALY_INLINE __m512 RowSum(const uint8_t* a, const uint8_t* b, const uint8_t* c, const uint8_t* d,
                             const __m512i* tap, __m512 w0, __m512 w1, __m512 w2, __m512 w3) {
    __m512i r = _mm512_castsi128_si512(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a)));
    r = _mm512_inserti32x4(r, _mm_loadu_si128(reinterpret_cast<const __m128i*>(b)), 1);
    r = _mm512_inserti32x4(r, _mm_loadu_si128(reinterpret_cast<const __m128i*>(c)), 2);
    r = _mm512_inserti32x4(r, _mm_loadu_si128(reinterpret_cast<const __m128i*>(d)), 3);
    __m512 acc = _mm512_mul_ps(_mm512_cvtepi32_ps(_mm512_shuffle_epi8(r, tap[0])), w0);
    acc = _mm512_add_ps(acc, _mm512_mul_ps(_mm512_cvtepi32_ps(_mm512_shuffle_epi8(r, tap[1])), w1));
    acc = _mm512_add_ps(acc, _mm512_mul_ps(_mm512_cvtepi32_ps(_mm512_shuffle_epi8(r, tap[2])), w2));
    acc = _mm512_add_ps(acc, _mm512_mul_ps(_mm512_cvtepi32_ps(_mm512_shuffle_epi8(r, tap[3])), w3));
    return acc;
}

// Pixels k .. k+3 of a step as 16 bytes (B, G, R, X each, rounded and clamped).
TESSALY_INLINE __m128i PixelQuad(const SpanSource& s, const Step& step, int k, const __m512i* tap) {
    const __m512i sel = _mm512_setr_epi32(k, k, k, k, k + 1, k + 1, k + 1, k + 1, k + 2, k + 2, k + 2, k + 2, k + 3,
                                          k + 3, k + 3, k + 3);
    const __m512 x0 = _mm512_permutexvar_ps(sel, _mm512_load_ps(step.wx[0]));
    const __m512 x1 = _mm512_permutexvar_ps(sel, _mm512_load_ps(step.wx[1]));
    const __m512 x2 = _mm512_permutexvar_ps(sel, _mm512_load_ps(step.wx[2]));
    const __m512 x3 = _mm512_permutexvar_ps(sel, _mm512_load_ps(step.wx[3]));
    const ptrdiff_t stride = s.srcStride;
    const uint8_t* a = s.src + step.offset[k];
    const uint8_t* b = s.src + step.offset[k + 1];
    const uint8_t* c = s.src + step.offset[k + 2];
    const uint8_t* d = s.src + step.offset[k + 3];
    const __m512 r0 = RowSum(a, b, c, d, tap, x0, x1, x2, x3);
    const __m512 r1 = RowSum(a + stride, b + stride, c + stride, d + stride, tap, x0, x1, x2, x3);
    const __m512 r2 = RowSum(a + 2 * stride, b + 2 * stride, c + 2 * stride, d + 2 * stride, tap, x0, x1, x2, x3);
    const __m512 r3 = RowSum(a + 3 * stride, b + 3 * stride, c + 3 * stride, d + 3 * stride, tap, x0, x1, x2, x3);
    __m512 acc = _mm512_mul_ps(r0, _mm512_permutexvar_ps(sel, _mm512_load_ps(step.wy[0])));
    acc = _mm512_add_ps(acc, _mm512_mul_ps(r1, _mm512_permutexvar_ps(sel, _mm512_load_ps(step.wy[1]))));
    acc = _mm512_add_ps(acc, _mm512_mul_ps(r2, _mm512_permutexvar_ps(sel, _mm512_load_ps(step.wy[2]))));
    acc = _mm512_add_ps(acc, _mm512_mul_ps(r3, _mm512_permutexvar_ps(sel, _mm512_load_ps(step.wy[3]))));
    // Round (halves to even), then clamp to 0..255.
    const __m512i v = _mm512_max_epi32(_mm512_cvtps_epi32(acc), _mm512_setzero_si512());
    return _mm512_cvtusepi32_epi8(v);
}

TESSALY_INLINE void Interpolate(const SpanSource& s, const Step& step, const __m512i* tap, uint8_t* d) {
    __m512i bytes = _mm512_castsi128_si512(PixelQuad(s, step, 0, tap));
    bytes = _mm512_inserti32x4(bytes, PixelQuad(s, step, 4, tap), 1);
    bytes = _mm512_inserti32x4(bytes, PixelQuad(s, step, 8, tap), 2);
    bytes = _mm512_inserti32x4(bytes, PixelQuad(s, step, 12, tap), 3);
    const __m512i old = _mm512_loadu_si512(d);
    _mm512_storeu_si512(d, _mm512_mask_blend_epi8(step.keep, old, bytes));
}

}  // namespace

int SpanAvx512(const SpanSource& s, const float* uv, int count, uint8_t* dst) {
    const int steps = count / 16;
    if (steps == 0) return 0;
    // Byte shuffles that widen tap i's four channel bytes to 32-bit lanes.
    __m512i tap[4];
    for (int i = 0; i < 4; ++i) {
        // Per 128-bit quarter: bytes 4i .. 4i+3 to the low byte of each dword.
        const uint64_t b = 4 * static_cast<uint64_t>(i);
        const uint64_t z = 0x80808000u;
        const long long lo = static_cast<long long>((b | z) | (((b + 1) | z) << 32));
        const long long hi = static_cast<long long>(((b + 2) | z) | (((b + 3) | z) << 32));
        tap[i] = _mm512_set_epi64(hi, lo, hi, lo, hi, lo, hi, lo);
    }
    Step ahead[2];
    Prepare(s, uv, ahead[0]);
    for (int i = 0; i < steps; ++i) {
        if (i + 1 < steps) Prepare(s, uv + 32 * (i + 1), ahead[(i + 1) & 1]);
        Interpolate(s, ahead[i & 1], tap, dst + 64 * static_cast<ptrdiff_t>(i));
    }
    return 16 * steps;
}

}  // namespace tessaly::kernels
