#include "video/frame_copy.h"

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
    // 270 (w-1-y, x).
    for (int y = 0; y < outH; ++y) {
        uint32_t* out = reinterpret_cast<uint32_t*>(dst + static_cast<size_t>(outH - 1 - y) * outRow);
        for (int x = 0; x < outW; ++x) {
            int sx = 0, sy = 0;
            if (turns == 1) {
                sx = y;
                sy = h - 1 - x;
            } else if (turns == 2) {
                sx = w - 1 - x;
                sy = h - 1 - y;
            } else {
                sx = w - 1 - y;
                sy = x;
            }
            std::memcpy(&out[x], src + sy * srcStride + static_cast<ptrdiff_t>(sx) * 4, 4);
        }
    }
}

}  // namespace tessaly
