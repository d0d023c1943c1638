// Two eyes in one frame: where a stereo source holds each eye's circle, the
// per-eye lens (the shared lens with the eye's own angles), and where each
// converted eye lies in the joined frame, side by side or one above the
// other. The plain StereoSettings value is what a conversion carries for
// stereo.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "transform/cut_geometry.h"
#include "transform/cut_rect.h"
#include "transform/eye_layout.h"
#include "transform/frame_buffer.h"
#include "transform/lens.h"

namespace tessaly {

// An eye's own levelling angles in degrees; each one not given is the
// shared lens's.
struct EyeAngles {
    std::optional<double> yaw;
    std::optional<double> pitch;
    std::optional<double> roll;

    bool operator==(const EyeAngles&) const = default;
};

inline constexpr int kLeftEye = 0;
inline constexpr int kRightEye = 1;

struct StereoSettings {
    StereoLayout input = StereoLayout::kMono;        // how the source frame holds the eyes
    StereoLayout output = StereoLayout::kSideBySide;  // how the output frame holds them
    bool swapEyes = false;  // the source's first half holds the right eye
    // Before the run, the eyes' vertical offset and roll difference are
    // measured on a converted frame and taken out by their pitch and roll.
    bool alignEyes = true;
    // Each eye is converted from a window of the frame of one size (a half,
    // moved by whole pixels so that its circle sits where its cut expects
    // it) with its cut in the window's 600 units, and the fraction of a
    // pixel its circle's centre lies off that: left eye, right eye.
    std::array<FrameRegion, 2> windows{};
    std::array<CutRect, 2> cuts{};
    std::array<CentreShift, 2> shifts{};
    std::array<EyeAngles, 2> angles{};  // left eye, right eye

    bool IsStereo() const { return input != StereoLayout::kMono; }
    bool operator==(const StereoSettings&) const = default;
};

// The half of a frameW x frameH frame (both halves of one size; an odd
// row or column in the middle belongs to neither) that holds `eye` (kLeftEye or
// kRightEye): the first half (left or top) holds the left eye unless swapped.
FrameRegion EyeRegion(StereoLayout layout, bool swapEyes, int32_t frameW, int32_t frameH, int eye);

// The shared lens with the eye's own angles put in.
LensSettings EyeLens(const LensSettings& shared, const EyeAngles& angles);

// The output frame's size for two eyes of eyeW x eyeH.
void JoinedSize(StereoLayout output, int32_t eyeW, int32_t eyeH, int32_t& w, int32_t& h);

// Where `eye` lies in a joined frame of `output`'s layout (JoinedSize): the
// left half or the top one (stored last: rows are bottom-up) for the left
// eye. Each eye's pipeline writes its output there in place.
PixelRect EyePart(StereoLayout output, FrameBuffer& joined, int eye);

}  // namespace tessaly
