// Frames at varying intervals into an output at one constant rate, as
// ffmpeg's "-fps_mode cfr" does: each output slot shows the newest frame due
// by then, so a frame keeps its time. Frames of a constant-rate movie land
// one per slot, each in its own, and pass unchanged.
#pragma once

#include <cstdint>

namespace tessaly {

struct SlotPlan {
    bool keep = true;       // false: the frame's slot is already filled; it is dropped
    int64_t repeats = 0;    // slots the previous frame fills again before this one
};

// A frame this many slots or more behind the next slot is not late but
// from a clock that went back: it is taken in order instead of dropped.
inline constexpr int64_t kSlotsBehindForDiscontinuity = 3;

// The slot of a frame at `seconds` is the one nearest its time at `fps`;
// `nextSlot` is the first slot not yet filled.
SlotPlan PlanFrameSlot(double seconds, double fps, int64_t nextSlot);

// The slots a movie of `seconds` fills at `fps`.
int64_t SlotsForDuration(double seconds, double fps);

// The length to give an encoder for `frames` at `fps` from a movie that
// states `statedSeconds`: the stated length, or the frames' own when they
// run longer (a damaged movie's stated length may end before its last
// frames), rounded up to the millisecond an encoder's limit takes.
double ConvertedSeconds(double statedSeconds, int64_t frames, double fps);

}  // namespace tessaly
