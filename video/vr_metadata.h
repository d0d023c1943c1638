// Marks a finished output movie as 180° × 180° equirectangular video, mono
// or stereo (the two eyes side by side or one above the other, each eye's
// picture the 180-degree square), so that VR players and video sites show it as such: Spherical Video
// V2 boxes (st3d, sv3d) in MP4 and QuickTime, the Projection element and
// StereoMode in Matroska and WebM. The movie is stream-copied by libavformat
// into another file, which is checked; a conversion makes that copy the
// output it renames into place (see output/pending_file.h).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "transform/eye_layout.h"

namespace tessaly {

// The equirectangular picture covers the middle half of the full sphere's
// longitude: a quarter (0.32 fixed point) is cut on the left and on the right,
// nothing at the top and bottom.
inline constexpr uint32_t kVr180BoundLeft = 0x40000000;
inline constexpr uint32_t kVr180BoundRight = 0x40000000;
inline constexpr uint32_t kVr180BoundTop = 0;
inline constexpr uint32_t kVr180BoundBottom = 0;

// The libavformat muxer that writes a container able to carry the marking,
// chosen by the lower-case extension (".mp4", ".m4v", ".mov", ".webm",
// ".mkv"); empty for every other container.
std::string VrMuxerFor(const std::string& extension);

enum class VrMarkStatus {
    kMarked,       // the movie now carries the marking
    kUnsupported,  // the container cannot carry it; the movie is untouched
    kFailed,       // something went wrong; the movie is untouched
};

struct VrMarkResult {
    VrMarkStatus status = VrMarkStatus::kFailed;
    std::string reason;    // one line: why not marked (empty when marked)
    double seconds = 0;    // time the remux took
    int64_t packets = 0;   // packets copied
};

using VrLogFn = std::function<void(const std::string& line)>;

// Copies the movie at `source` into `target` (an existing file, overwritten)
// with the marking, and checks the copy: same streams, same packets, the
// marking there. `shownPath` is the name the log line and the reasons give;
// the container follows its extension. On failure `target` holds whatever
// was written, for the caller to remove. One log line through `log` (may be
// empty).
// `stereo` says how the frame holds the eyes (kMono: one picture).
VrMarkResult MarkCopyAs180Video(const std::string& source, const std::string& target,
                                const std::string& shownPath, const VrLogFn& log,
                                StereoLayout stereo = StereoLayout::kMono);

// Marks the movie at `path` in place: the marked copy is made under a hidden
// name beside it and renamed over it; on any failure the movie stays exactly
// as it was. A link is followed and stays. One log line through `log`.
VrMarkResult MarkAs180Video(const std::string& path, const VrLogFn& log,
                            StereoLayout stereo = StereoLayout::kMono);

// What a movie says about its projection, read with libavformat: the first
// video stream's spherical and stereo side data.
struct VrMarking {
    bool opened = false;
    bool spherical = false;
    bool equirectangular = false;  // plain or tiled equirectangular
    uint32_t boundLeft = 0, boundTop = 0, boundRight = 0, boundBottom = 0;
    bool stereo = false;
    bool mono = false;  // stereo type 2D
    StereoLayout layout = StereoLayout::kMono;  // side by side, top-bottom, else mono
};
VrMarking ReadVrMarking(const std::string& path);

}  // namespace tessaly
