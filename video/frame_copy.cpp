#include "video/frame_copy.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace tessaly {

int QuarterTurnsClockwise(double counterclockwiseDegrees) {
    if (!std::isfinite(counterclockwiseDegrees)) return 0;
    // The matrix says how to turn the stored picture for display: a
    // counterclockwise angle, so -90 (a phone's "rotate=90") is a quarter
    // turn clockwise, as ffmpeg's autorotate applies it.
    double clockwise = std::fmod(-counterclockwiseDegrees, 360.0);
    if (clockwise < 0) clockwise += 360.0;
    const double quarters = clockwise / 90.0;
    const double nearest = std::round(quarters);
    if (std::fabs(quarters - nearest) * 90.0 > 2.0) return 0;
    return static_cast<int>(nearest) % 4;
}

void CopyUprightBottomUp(const uint8_t* src, ptrdiff_t srcStride, int w, int h, int quarterTurns,
                         uint8_t* dst) {
    const int turns = ((quarterTurns % 4) + 4) % 4;
    const int outW = UprightWidth(w, h, turns);
    const int outH = UprightHeight(w, h, turns);
    const size_t outRow = static_cast<size_t>(outW) * 4;
    if (turns == 0) {
        for (int y = 0; y < h; ++y)
            std::memcpy(dst + static_cast<size_t>(h - 1 - y) * outRow, src + y * srcStride, outRow);
        return;
    }
    // Upright pixel (x, y), y counted from the top, and the stored pixel it
    // shows: clockwise 90 (sx, sy) = (y, h-1-x); 180 (w-1-x, h-1-y);
    // 270 (w-1-y, x). In square tiles, so that the stored rows a tile reads
    // stay in the cache while its columns are walked.
    constexpr int kTile = 32;
    for (int ty = 0; ty < outH; ty += kTile) {
        for (int tx = 0; tx < outW; tx += kTile) {
            const int yEnd = std::min(outH, ty + kTile), xEnd = std::min(outW, tx + kTile);
            for (int y = ty; y < yEnd; ++y) {
                uint8_t* out = dst + static_cast<size_t>(outH - 1 - y) * outRow + static_cast<size_t>(tx) * 4;
                // The stored pixel of (tx, y), as an offset, and the step to the next x.
                ptrdiff_t at = 0, step = 0;
                if (turns == 1) {
                    at = (h - 1 - tx) * srcStride + static_cast<ptrdiff_t>(y) * 4;
                    step = -srcStride;
                } else if (turns == 2) {
                    at = (h - 1 - y) * srcStride + static_cast<ptrdiff_t>(w - 1 - tx) * 4;
                    step = -4;
                } else {
                    at = tx * srcStride + static_cast<ptrdiff_t>(w - 1 - y) * 4;
                    step = srcStride;
                }
                for (int i = 0; i < xEnd - tx; ++i) std::memcpy(out + static_cast<size_t>(i) * 4, src + at + i * step, 4);
            }
        }
    }
}

void CopyPlaneUpright(const uint8_t* src, ptrdiff_t srcStride, int w, int h, int quarterTurns, uint8_t* dst) {
    const int turns = ((quarterTurns % 4) + 4) % 4;
    const int outW = UprightWidth(w, h, turns);
    const int outH = UprightHeight(w, h, turns);
    // The stored pixel each upright one shows, as in CopyUprightBottomUp.
    for (int y = 0; y < outH; ++y) {
        for (int x = 0; x < outW; ++x) {
            const int sx = turns == 0 ? x : turns == 1 ? y : turns == 2 ? w - 1 - x : w - 1 - y;
            const int sy = turns == 0 ? y : turns == 1 ? h - 1 - x : turns == 2 ? h - 1 - y : x;
            dst[static_cast<size_t>(y) * outW + x] = src[sy * srcStride + sx];
        }
    }
}

}  // namespace tessaly
