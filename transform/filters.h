// Image filters: noise "median" passes (an eight-pixel average), brightness and
// contrast on the input frame, sharpen on the output frame, and the CPU-usage
// pause. The pixel filters treat a buffer as one flat sequence of 32-bit
// pixels in memory order (bottom row first): the left neighbour of a row's
// first pixel is the last pixel of the row below. All four bytes of a pixel,
// the unused one included, go through the same integer arithmetic.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "transform/frame_buffer.h"
#include "transform/transform_settings.h"

namespace tessaly {

// Sleeps (or yields) the given number of milliseconds.
using SleepFn = std::function<void(int milliseconds)>;
// Draws the previews; run at the end of InputFilters.
using PaintFn = std::function<void()>;

// One noise pass in place over stored rows 1 .. height-2: every channel
// becomes floor(sum / 8) of the pixel, its left and right neighbours, the
// three pixels above and the pixel below and below-right (below-left is not
// part of it). Left, below and below-right were already replaced in this
// pass. Needs the zero row after the picture (it reads one pixel of it).
void NoisePass(uint8_t* pixels, int width, int height);

// Brightness offset b = brightness - 127 when on (else 0), vb = clamp(v + b);
// with contrast on, clamp(128 + floor((vb - 128) * contrast / 128)); over
// `count` pixels in place. Does nothing when both switches are off.
void BrightnessContrast(uint8_t* pixels, int64_t count, const TransformSettings& settings);

// Side weight s and centre weight c = 4s + 1 of a sharpen amount (1..5 give
// s = amount, any other non-zero amount s = 1); amount 0 gives s = c = 0.
struct SharpenWeights {
    int s = 0;
    int c = 0;
};
SharpenWeights SharpenWeightsFor(int amount);

// Sharpens pixels (width x height) in place over stored rows 1 .. height-2,
// using scratch (same shape) for the new rows: t = clamp(c*P - s*(up+down+left+right)),
// blended with P by radius (0: t, 1: (t+P)/2, 2: (t+3P)/4, 3+: (t+7P)/8,
// floored). Amount 0 does nothing; the first and last stored rows never change.
void Sharpen(int width, int height, uint8_t* pixels, uint8_t* scratch, int amount, int radius);
// The same result in place, without a frame-sized scratch: `window` holds
// three rows (grown on first use, then reused). The rows of a PixelRect
// are sharpened as if they lay one after the other.
void SharpenInPlace(const PixelRect& pixels, int amount, int radius, std::vector<uint8_t>& window);
inline void SharpenInPlace(int width, int height, uint8_t* pixels, int amount, int radius,
                           std::vector<uint8_t>& window) {
    SharpenInPlace(PixelRect{pixels, width, height, 4 * static_cast<std::ptrdiff_t>(width)}, amount, radius, window);
}

// The pause of the CPU-usage control: 10 * (100 - CPU) ms when on, CPU taken
// within 0..100; 0 when off.
int CpuPauseMilliseconds(const TransformSettings& settings);
void CpuPause(const TransformSettings& settings, const SleepFn& sleep);

// The noise passes are limited to the slider's 0..5.
int NoisePasses(const TransformSettings& settings);

// The input side, in this order: CpuPause, the noise passes, brightness and
// contrast, then paint (when given).
void InputFilters(FrameBuffer& input, const TransformSettings& settings, const SleepFn& sleep,
                  const PaintFn& paint);

namespace detail {
// Byte-at-a-time forms of the vectorised filters, kept to check them against.
void NoisePassPlain(uint8_t* pixels, int width, int height);
void SharpenPlain(int width, int height, uint8_t* pixels, uint8_t* scratch, int amount, int radius);
}  // namespace detail

}  // namespace tessaly
