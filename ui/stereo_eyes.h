// The desktop's two eyes in one frame: the stereo choice of the settings,
// the eyes found and aligned in the open movie (the engine's circle search
// and alignment, as tessaly-convert runs them when it builds a job), where
// each eye's rim lies over the input preview, and the output preview of
// both eyes: side by side, or as a red/cyan anaglyph for judging their
// alignment by eye.
#pragma once

#include <array>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "app/app_settings.h"
#include "convert/movie_job.h"
#include "transform/frame_pipeline.h"
#include "transform/lens_circle.h"
#include "transform/stereo_layout.h"

namespace tessaly {

// The layouts, swap, alignment and eye angles the settings choose (no
// windows or cuts: those come from the movie).
StereoSettings StereoChoiceOf(const AppSettings& s);

// The eyes of the movie at `path` for the settings' choice: both circles
// found and cut and, when the choice aligns, the eyes aligned. The lines
// say what was found (one per eye, then the alignment's).
struct FoundEyes {
    bool ok = false;
    std::string problem;  // why not ok
    JobStereo eyes;
    std::vector<std::string> said;
};
FoundEyes FindEyes(const std::string& path, const AppSettings& s, const std::atomic<bool>* stop);

// The eyes of a pair of movies, one camera each (`left` is the movie the
// desktop shows): both circles found and cut and the right movie's offset
// found from the sound, as tessaly-convert --stereo pair finds them, and
// the right movie's frame that goes with the left's first, for the output
// preview. The lines say what was found (the last is the sound's).
struct FoundPair {
    bool ok = false;
    std::string problem;  // why not ok
    JobStereo eyes;
    std::shared_ptr<const FrameBuffer> rightFrame;  // bottom-up BGRX at the right movie's size
    std::vector<std::string> said;
};
FoundPair FindPair(const std::string& left, const std::string& right, const AppSettings& s,
                   const std::atomic<bool>* stop);

// The lens circle each eye's cut places, in the whole frame's source pixels.
std::array<LensCircle, 2> EyeRims(const StereoSettings& eyes, const LensSettings& shared);

// Both eyes (bottom-up BGRX squares of one size) as one preview frame: side
// by side (left eye left), or one picture with the left eye's red and the
// right eye's green and blue.
void JoinEyesForPreview(const FrameBuffer& left, const FrameBuffer& right, bool anaglyph, FrameBuffer& out);

// The output preview of a stereo movie: each eye converted from its window
// of the input frame (no filter, no sharpening), its geometry rebuilt only
// when its window, cut or lens changes; a pair's right eye from the right
// movie's frame `right` instead. One thread uses it.
class StereoPreview {
public:
    // False when an eye's geometry is refused (the preview keeps its last).
    bool Convert(const FrameBuffer& frame, int frameW, int frameH, const StereoSettings& eyes,
                 const LensSettings& shared, bool anaglyph, const FrameBuffer* right = nullptr);
    const FrameBuffer& Shown() const { return shown_; }

private:
    struct EyeKey {
        FrameRegion window;
        CutRect cut;
        LensSettings lens;
        bool operator==(const EyeKey&) const = default;
    };
    std::array<FramePipeline, 2> eyes_{FramePipeline(1), FramePipeline(1)};
    std::array<EyeKey, 2> built_{};
    FrameBuffer shown_;
};

}  // namespace tessaly
