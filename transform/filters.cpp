#include "transform/filters.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tessaly {

namespace {

void NoisePixels(uint8_t* pixels, ptrdiff_t row, ptrdiff_t begin, ptrdiff_t end) {
    for (ptrdiff_t i = begin; i < end; i += 4) {
        uint8_t* p = pixels + i;
        for (int c = 0; c < 4; ++c) {
            const int sum = p[c] + p[c - 4] + p[c + 4] + p[c + row - 4] + p[c + row] + p[c + row + 4] +
                            p[c - row] + p[c - row + 4];
            p[c] = static_cast<uint8_t>(sum >> 3);
        }
    }
}

#if defined(__SSE2__)
// One pixel's four channels in 16-bit lanes. The left neighbour is the result
// of the previous step, kept in a register rather than read back from memory.
void NoisePixelsSse2(uint8_t* pixels, ptrdiff_t row, ptrdiff_t begin, ptrdiff_t end) {
    const __m128i zero = _mm_setzero_si128();
    auto at = [&](const uint8_t* p) {
        int32_t v;
        std::memcpy(&v, p, 4);
        return _mm_unpacklo_epi8(_mm_cvtsi32_si128(v), zero);
    };
    __m128i left = at(pixels + begin - 4);
    for (ptrdiff_t i = begin; i < end; i += 4) {
        uint8_t* p = pixels + i;
        const __m128i above = _mm_add_epi16(_mm_add_epi16(at(p + row - 4), at(p + row)), at(p + row + 4));
        const __m128i below = _mm_add_epi16(at(p - row), at(p - row + 4));
        const __m128i rest = _mm_add_epi16(_mm_add_epi16(above, below), _mm_add_epi16(at(p), at(p + 4)));
        left = _mm_srli_epi16(_mm_add_epi16(rest, left), 3);
        const int32_t out = _mm_cvtsi128_si32(_mm_packus_epi16(left, zero));
        std::memcpy(p, &out, 4);
    }
}
#endif

}  // namespace

void NoisePass(uint8_t* pixels, int width, int height) {
    if (width < 1 || height < 3) return;
    const ptrdiff_t row = 4 * static_cast<ptrdiff_t>(width);
#if defined(__SSE2__)
    NoisePixelsSse2(pixels, row, row, row * (height - 1));
#else
    NoisePixels(pixels, row, row, row * (height - 1));
#endif
}

void BrightnessContrast(uint8_t* pixels, int64_t count, const TransformSettings& settings) {
    if (!settings.brightnessOn && !settings.contrastOn) return;
    // The result depends on the byte value alone: one table per call.
    const int64_t b = settings.brightnessOn ? static_cast<int64_t>(settings.brightness) - 127 : 0;
    uint8_t table[256];
    for (int v = 0; v < 256; ++v) {
        int64_t out = std::clamp<int64_t>(v + b, 0, 255);
        if (settings.contrastOn) {
            // floor division by 128 = arithmetic shift right by 7
            out = std::clamp<int64_t>(128 + (((out - 128) * settings.contrast) >> 7), 0, 255);
        }
        table[v] = static_cast<uint8_t>(out);
    }
    const int64_t bytes = 4 * count;
    for (int64_t i = 0; i < bytes; ++i) pixels[i] = table[pixels[i]];
}

SharpenWeights SharpenWeightsFor(int amount) {
    if (amount == 0) return {};
    const int s = (amount >= 1 && amount <= 5) ? amount : 1;
    return SharpenWeights{s, 4 * s + 1};
}

namespace {

// Blend of the sharpened value t with P: (t + k * P) >> r, k = 2^r - 1.
int RadiusShift(int radius) { return std::clamp(radius, 0, 3); }

void SharpenBytes(const uint8_t* d, uint8_t* d2, ptrdiff_t row, ptrdiff_t begin, ptrdiff_t end,
                  SharpenWeights w, int shift) {
    const int k = (1 << shift) - 1;
    for (ptrdiff_t i = begin; i < end; ++i) {
        const int p = d[i];
        const int t = std::clamp(w.c * p - w.s * (d[i + row] + d[i - row] + d[i - 4] + d[i + 4]), 0, 255);
        d2[i] = static_cast<uint8_t>((t + k * p) >> shift);
    }
}

#if defined(__SSE2__)
// The same arithmetic on eight 16-bit lanes (two pixels) at a time.
inline __m128i SharpenLanes(__m128i p, __m128i up, __m128i down, __m128i left, __m128i right, __m128i c,
                            __m128i s, __m128i k, __m128i shift) {
    const __m128i sum = _mm_add_epi16(_mm_add_epi16(up, down), _mm_add_epi16(left, right));
    __m128i t = _mm_sub_epi16(_mm_mullo_epi16(c, p), _mm_mullo_epi16(s, sum));
    t = _mm_min_epi16(_mm_max_epi16(t, _mm_setzero_si128()), _mm_set1_epi16(255));
    return _mm_srl_epi16(_mm_add_epi16(t, _mm_mullo_epi16(k, p)), shift);
}

ptrdiff_t SharpenSse2(const uint8_t* d, uint8_t* d2, ptrdiff_t row, ptrdiff_t begin, ptrdiff_t end,
                      SharpenWeights w, int shift) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i c = _mm_set1_epi16(static_cast<int16_t>(w.c));
    const __m128i s = _mm_set1_epi16(static_cast<int16_t>(w.s));
    const __m128i k = _mm_set1_epi16(static_cast<int16_t>((1 << shift) - 1));
    const __m128i sh = _mm_cvtsi32_si128(shift);
    auto load = [](const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); };
    ptrdiff_t i = begin;
    for (; i + 16 <= end; i += 16) {
        const __m128i p = load(d + i);
        const __m128i up = load(d + i + row);
        const __m128i down = load(d + i - row);
        const __m128i left = load(d + i - 4);
        const __m128i right = load(d + i + 4);
        const __m128i lo = SharpenLanes(_mm_unpacklo_epi8(p, zero), _mm_unpacklo_epi8(up, zero),
                                        _mm_unpacklo_epi8(down, zero), _mm_unpacklo_epi8(left, zero),
                                        _mm_unpacklo_epi8(right, zero), c, s, k, sh);
        const __m128i hi = SharpenLanes(_mm_unpackhi_epi8(p, zero), _mm_unpackhi_epi8(up, zero),
                                        _mm_unpackhi_epi8(down, zero), _mm_unpackhi_epi8(left, zero),
                                        _mm_unpackhi_epi8(right, zero), c, s, k, sh);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d2 + i), _mm_packus_epi16(lo, hi));
    }
    return i;
}
#endif

// Sharpened values of the bytes begin .. end of d into the same positions
// of d2: the vector loop, then the bytes it leaves.
void SharpenRange(const uint8_t* d, uint8_t* d2, ptrdiff_t row, ptrdiff_t begin, ptrdiff_t end, SharpenWeights w,
                  int shift) {
    ptrdiff_t i = begin;
#if defined(__SSE2__)
    i = SharpenSse2(d, d2, row, begin, end, w, shift);
#endif
    SharpenBytes(d, d2, row, i, end, w, shift);
}

}  // namespace

void Sharpen(int width, int height, uint8_t* pixels, uint8_t* scratch, int amount, int radius) {
    const SharpenWeights w = SharpenWeightsFor(amount);
    if (w.s == 0 || width < 1 || height < 3) return;
    const ptrdiff_t row = 4 * static_cast<ptrdiff_t>(width);
    SharpenRange(pixels, scratch, row, row, row * (height - 1), w, RadiusShift(radius));
    std::memcpy(pixels + row, scratch + row, static_cast<size_t>(row * (height - 2)));
}

void SharpenInPlace(const PixelRect& pixels, int amount, int radius, std::vector<uint8_t>& window) {
    const SharpenWeights w = SharpenWeightsFor(amount);
    const int height = pixels.height;
    if (w.s == 0 || pixels.width < 1 || height < 3) return;
    const ptrdiff_t row = 4 * static_cast<ptrdiff_t>(pixels.width);
    const int shift = RadiusShift(radius);
    if (window.size() < static_cast<size_t>(3 * row)) window.resize(static_cast<size_t>(3 * row));
    // window = the unchanged rows r - 1, r, r + 1, contiguous as in the frame,
    // so that the first and last pixels of row r find their flat-sequence
    // neighbours in the rows beside it.
    uint8_t* win = window.data();
    std::memcpy(win, pixels.data, static_cast<size_t>(row));
    std::memcpy(win + row, pixels.data + pixels.stride, static_cast<size_t>(row));
    for (int r = 1; r < height - 1; ++r) {
        std::memcpy(win + 2 * row, pixels.data + (r + 1) * pixels.stride, static_cast<size_t>(row));
        // Row r is written where SharpenRange puts the window's middle row.
        SharpenRange(win, pixels.data + r * pixels.stride - row, row, row, 2 * row, w, shift);
        std::memmove(win, win + row, static_cast<size_t>(2 * row));
    }
}

namespace detail {
void NoisePassPlain(uint8_t* pixels, int width, int height) {
    if (width < 1 || height < 3) return;
    const ptrdiff_t row = 4 * static_cast<ptrdiff_t>(width);
    NoisePixels(pixels, row, row, row * (height - 1));
}

void SharpenPlain(int width, int height, uint8_t* pixels, uint8_t* scratch, int amount, int radius) {
    const SharpenWeights w = SharpenWeightsFor(amount);
    if (w.s == 0 || width < 1 || height < 3) return;
    const ptrdiff_t row = 4 * static_cast<ptrdiff_t>(width);
    SharpenBytes(pixels, scratch, row, row, row * (height - 1), w, RadiusShift(radius));
    std::memcpy(pixels + row, scratch + row, static_cast<size_t>(row * (height - 2)));
}
}  // namespace detail

int CpuPauseMilliseconds(const TransformSettings& settings) {
    if (!settings.cpuOn) return 0;
    return 10 * (100 - std::clamp(settings.cpu, 0, 100));
}

void CpuPause(const TransformSettings& settings, const SleepFn& sleep) {
    const int ms = CpuPauseMilliseconds(settings);
    if (ms > 0 && sleep) sleep(ms);
}

int NoisePasses(const TransformSettings& settings) {
    return settings.noiseOn ? std::clamp(settings.noise, 0, 5) : 0;
}

void InputFilters(FrameBuffer& input, const TransformSettings& settings, const SleepFn& sleep,
                  const PaintFn& paint) {
    CpuPause(settings, sleep);
    if (!input.Empty()) {
        for (int pass = NoisePasses(settings); pass > 0; --pass) {
            NoisePass(input.Data(), input.Width(), input.Height());
        }
        BrightnessContrast(input.Data(), input.PixelCount(), settings);
    }
    if (paint) paint();
}

}  // namespace tessaly
