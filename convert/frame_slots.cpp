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
    const double own = std::ceil(static_cast<double>(frames) / fps * 1000.0) / 1000.0;
    return std::isfinite(statedSeconds) && statedSeconds >= own ? statedSeconds : own;
}

}  // namespace tessaly
