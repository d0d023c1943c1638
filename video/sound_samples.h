// The start of a movie's sound, decoded with FFmpeg's libraries into mono
// samples at a low rate: enough to find where two recordings of one scene
// meet (video/sound_offset.h), little to hold.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/result.h"

namespace tessaly {

// The first `seconds` of the movie's main sound track, its channels mixed
// into one, at `sampleRate` samples a second. No sound track, or one that
// cannot be decoded or holds no sample: the reason ("has no sound").
Result<std::vector<float>> ReadMonoSound(const std::string& path, int32_t sampleRate, double seconds);

}  // namespace tessaly
