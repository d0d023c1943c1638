// How a frame holds a stereo picture's two eyes.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace tessaly {

enum class StereoLayout : int32_t {
    kMono = 0,
    kSideBySide = 1,  // left eye in the left half
    kTopBottom = 2,   // left eye in the top half
    kPair = 3,        // two movies, one eye each (an input layout only)
};

// "mono", "sbs", "tb", "pair".
const char* StereoLayoutName(StereoLayout layout);
// "sbs", "tb" or "pair" (the stereo layouts a user names).
std::optional<StereoLayout> StereoLayoutFromName(std::string_view name);

}  // namespace tessaly
