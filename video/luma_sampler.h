// Frames sampled across a movie for the lens circle finder: their luma,
// scaled down to a working size, folded into the brightest value each pixel
// took (transform/circle_finder.h).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "app/result.h"
#include "transform/circle_finder.h"

namespace tessaly {

struct LumaSampling {
    int32_t frames = 16;        // spread evenly over the duration
    int32_t maxPlaneSide = 1024;  // the working plane's longer side at most
};

struct SampledLuma {
    int32_t frameW = 0;  // the movie's frame size upright, as shown (the plane covers all of it)
    int32_t frameH = 0;
    int32_t frames = 0;  // frames folded in
    LumaPlane maximum;
};

// Opens the movie with FFmpeg's libraries and folds `sampling.frames` frames
// taken at even steps of its duration into one plane (a short movie, or one
// that cannot seek, gives what it has). Time: at most 24 frames decoded per
// point (from the key frame before it, or on from the point before; frames
// that no other frame refers to are skipped), and a bound on all of them
// that shrinks with the frame size (400 frames of 1280 x 720, at least 48). Memory: the decoder's frames and two planes of the working
// size. `stop` (optional) ends it early. No frame read: the reason, in one
// line ("cannot open the movie", "stopped").
Result<SampledLuma> SampleLumaMaximum(const std::string& path, const LumaSampling& sampling = {},
                              const std::atomic<bool>* stop = nullptr);

// The circle found in the movie's sampled frames (the reason in `reason`
// when none; also when the movie cannot be read).
CircleSearch FindLensCircleInMovie(const std::string& path, const std::atomic<bool>* stop = nullptr);

}  // namespace tessaly
