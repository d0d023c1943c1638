// The conversion hooks of a stereo run: one frame pipeline per eye, each
// with its own cut and geometry, reading its eye's window of the decoded
// frame in place and writing its output in place into its part of one
// joined frame (side by side or one above the other) that the run hands on
// like a mono one. Two eyes of one lens and cut size share one remap table.
#pragma once

#include <array>

#include "app/app_state.h"
#include "convert/conversion_driver.h"
#include "convert/right_eye_feed.h"
#include "transform/frame_pipeline.h"
#include "transform/stereo_layout.h"

namespace tessaly {

class StereoPipelines {
public:
    // Both eyes' pipelines for frames of frameW x frameH, each converting
    // its window of `stereo`.
    TransformStatus Allocate(int frameW, int frameH, const StereoSettings& stereo);
    int FrameWidth() const { return frameW_; }
    int FrameHeight() const { return frameH_; }
    FramePipeline& Eye(int eye) { return eyes_[eye]; }
    // The joined frame both eyes are written into.
    FrameBuffer& Joined() { return joined_; }

private:
    int frameW_ = 0;
    int frameH_ = 0;
    std::array<FramePipeline, 2> eyes_;
    FrameBuffer joined_;
};

// The hooks of a run over `stereo`'s two eyes. The geometry a build returns
// is the left eye's with the joined frame's size; a build whose eyes come
// out at different sizes is refused. A pair of movies (input kPair) takes
// the right eye from `rightEye` (frames of the same size as the left
// movie's, which runs at `framesPerSecond`); a frame without its right eye
// (the right movie ended) is refused.
ConversionHooks StereoHooks(StereoPipelines& pipelines, FisheyeApp& app, const StereoSettings& stereo,
                            RightEyeFeed* rightEye = nullptr, double framesPerSecond = 0);

}  // namespace tessaly
