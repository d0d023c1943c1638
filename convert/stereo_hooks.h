// The conversion hooks of a stereo run: one frame pipeline per eye, each
// with its own cut, geometry and remap table, both fed the same decoded
// frame; the two converted eyes are joined into one output frame (side by
// side or one above the other) that the run hands on like a mono one.
#pragma once

#include <array>

#include "app/app_state.h"
#include "convert/conversion_driver.h"
#include "transform/frame_pipeline.h"
#include "transform/stereo_layout.h"

namespace tessaly {

class StereoPipelines {
public:
    // Both eyes' pipelines for frames of frameW x frameH.
    TransformStatus Allocate(int frameW, int frameH);
    FramePipeline& Eye(int eye) { return eyes_[eye]; }
    FrameBuffer& Joined() { return joined_; }

private:
    std::array<FramePipeline, 2> eyes_;
    FrameBuffer joined_;
};

// The hooks of a run over `stereo`'s two eyes. The geometry a build returns
// is the left eye's with the joined frame's size; a build whose eyes come
// out at different sizes is refused.
ConversionHooks StereoHooks(StereoPipelines& pipelines, FisheyeApp& app, const StereoSettings& stereo);

}  // namespace tessaly
