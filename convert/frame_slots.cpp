#include "convert/frame_slots.h"

#include <cmath>

namespace tessaly {

SlotPlan PlanFrameSlot(double seconds, double fps, int64_t nextSlot) {
    SlotPlan plan;
    if (!(fps > 0) || !std::isfinite(seconds) || seconds < 0) return plan;  // no time: in order
    const int64_t slot = std::llround(seconds * fps);
    if (slot < nextSlot - kSlotsBehindForDiscontinuity) {
        // Time went back (a damaged or restarted clock): in order, as without times.
    } else if (slot < nextSlot) {
        plan.keep = false;
    } else {
        plan.repeats = slot - nextSlot;
    }
    return plan;
}

int64_t SlotsForDuration(double seconds, double fps) {
    if (!(fps > 0) || !std::isfinite(seconds) || seconds <= 0) return 0;
    return std::llround(seconds * fps);
}

double ConvertedSeconds(double statedSeconds, int64_t frames, double fps) {
    if (!(fps > 0) || frames <= 0) return statedSeconds;
    // The encoder fills its limit with the last frame, so the limit may pass
    // the last frame's end by less than a frame: milliseconds, or
    // microseconds where a millisecond holds more than one frame.
    const double unit = fps > 1000 ? 1.0e6 : 1.0e3;
    const double own = std::ceil(static_cast<double>(frames) / fps * unit - 1.0e-6) / unit;
    return std::isfinite(statedSeconds) && statedSeconds >= own ? statedSeconds : own;
}

}  // namespace tessaly
