// The building blocks of one frame's remapping: load the delivered frame,
// cut the crop out of it, project the crop to the output.
#pragma once

#include <cstdint>

#include "transform/cut_geometry.h"
#include "transform/frame_buffer.h"
#include "transform/remap_table.h"
#include "transform/resampler.h"
#include "transform/transform_status.h"

namespace tessaly {

// Aspect factors of the stretch: a conversion uses 0.7501, the preview 0.75.
inline constexpr float kConversionAspectFactor = 0.7501f;
inline constexpr float kPreviewAspectFactor = 0.75f;

// Fills `input` from a bottom-up 32-bit sample of input's size. Aspect off: a
// plain copy of pixelCount pixels (at most input's). Aspect on: a stretch by
// 1 / factor about the frame centre (mode 2 of the resampler), which leaves the
// lowest stored row and the two highest as they were.
TransformStatus LoadInputFrame(const uint8_t* sample, int64_t pixelCount, float aspectFactor, bool aspect,
                               FrameBuffer& input, Resampler& resampler);

// Copies the crop out of a bottom-up frame of frameW x frameH pixels into
// `crop` (cropW x cropH): crop row y (from the top) shows picture row
// cropTop + y - 1, mirrored when flip is on. Pixels outside the frame (left,
// right, below, or at and above its top row) are black.
// `crop` may hold only some of the crop's columns: its column 0 is crop
// column firstColumn.
void CutCrop(const uint8_t* frame, int frameW, int frameH, const CutGeometry& geom, bool flip, FrameBuffer& crop,
             int firstColumn = 0);
inline void CutCrop(const FrameBuffer& input, const CutGeometry& geom, bool flip, FrameBuffer& crop) {
    CutCrop(input.Data(), input.Width(), input.Height(), geom, flip, crop);
}
// The same cut from `window` of the frame read in place, as if the window
// had been copied out first (CopyWindow): the cut's picture is the window's,
// and what lies beyond the window or the frame is black.
void CutCrop(const uint8_t* frame, int frameW, int frameH, const FrameRegion& window, const CutGeometry& geom,
             bool flip, FrameBuffer& crop, int firstColumn = 0);

// Copies `window` of a bottom-up BGRX frameW x frameH frame into `eye`
// (allocated to the window's size when it has another); what lies beyond
// the frame is black.
void CopyWindow(const uint8_t* frame, int32_t frameW, int32_t frameH, const FrameRegion& window, FrameBuffer& eye);

// The projection of `crop` into `output` (outW x outH) through a table
// built for this geometry, around the crop's centre moved by `shift`. A
// crop holding only some columns of a crop cropW wide starts at crop
// column firstColumn (ReadColumns with that shift).
TransformStatus ProjectToOutput(const FrameBuffer& crop, const PixelRect& output, Resampler& resampler,
                                const RemapTable& table, int cropW = 0, int firstColumn = 0,
                                const CentreShift& shift = {});

}  // namespace tessaly
