// A movie converted in parts: part I of N holds the output slots of the
// I-th of N equal spans of the movie's timeline, so that the parts together
// hold every frame of a whole run exactly once, in order. Each part file
// carries a tag (its "comment") that the join reads to check the parts
// against each other and against the source movie.
#pragma once

#include <cstdint>
#include <limits>
#include <string>

#include "app/app_state.h"
#include "transform/stereo_layout.h"

namespace tessaly {

inline constexpr int32_t kMaxParts = 10000;

// Output slots first .. end - 1 (see convert/frame_slots.h).
struct SlotWindow {
    int64_t first = 0;
    int64_t end = std::numeric_limits<int64_t>::max();

    bool Holds(int64_t slot) const { return slot >= first && slot < end; }
    bool operator==(const SlotWindow&) const = default;
};

// Part `index` (1..count) of a movie of `slots` slots: [floor(slots * (index
// - 1) / count), floor(slots * index / count)). The last part runs on to the
// movie's end, so a frame past the stated length still lands in one part.
SlotWindow PartWindow(int64_t slots, int32_t index, int32_t count);

// Why a part file cannot have this name, or empty. A part is written as
// the output of that extension would be (codec, quality, size) without
// sound; ".mkv" holds the H.264 video of the .mp4 row. MPEG-2 program
// streams cannot be joined without re-encoding.
std::string PartExtensionProblem(const std::string& path);

// The facts a part carries for its join.
struct PartTag {
    int32_t index = 0;
    int32_t count = 0;
    int64_t first = 0;  // the part's first slot
    int64_t end = 0;    // one past its last slot (the movie's slots for the last part)
    int64_t slots = 0;  // slots of the whole movie
    int64_t sourceBytes = 0;
    int32_t rateNum = 0;  // the source's frame rate
    int32_t rateDen = 0;
    std::string settings;  // PartSettingsText of the run
    // PartDigest of the part's file (empty while it is being encoded).
    std::string digest;

    bool operator==(const PartTag&) const = default;
};

// "tessaly-part 2/4 slots 50-100/200 source 123456/25/1 settings cut=...",
// then " digest <64 hex digits>" when the tag has one.
std::string PartTagText(const PartTag& tag);
// False when `text` is no part tag.
bool ParsePartTag(const std::string& text, PartTag& tag);

// The settings that shape a part's frames, as "name=value;..." (numbers
// written without the locale): cut, lens, filters, flip, aspect, quality,
// size and the eyes ("stereo=mono", or the layouts, swap and each eye's
// window, cut and angles).
std::string PartSettingsText(const AppSettings& settings, int32_t flip, int32_t quality, int32_t resize,
                             const StereoSettings& stereo);

// How the frames of parts with these settings hold the eyes (kMono: one
// picture), for the joined movie's marking.
StereoLayout PartStereoLayout(const std::string& settings);

// The first "name=value" of `a` that `b` does not have, as
// "lens=stereographic,190,0,0,0 (not lens=equidistant,180,0,0,0)"; empty when
// they are equal.
std::string SettingsDifference(const std::string& a, const std::string& b);

}  // namespace tessaly
