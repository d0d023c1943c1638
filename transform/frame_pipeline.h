// FramePipeline: the per-movie state of the fisheye transform and the two
// per-frame orders that use it: ConvertFrame for every frame of a conversion
// and PreviewPass for the playback loop. It owns the working buffers
// (InputFrame, GrabBuffer, CUTOFF, DMEM, DMEM2), the remap table with its
// flags, the cut geometry and the row-splitting thread pool. The per-frame
// calls allocate nothing. One frame at a time: ConvertFrame and PreviewPass
// must not run at once (the resampler refuses re-entry).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "app/app_state.h"
#include "transform/cut_geometry.h"
#include "transform/filters.h"
#include "transform/frame_buffer.h"
#include "transform/remap_table.h"
#include "transform/resampler.h"
#include "transform/row_pool.h"
#include "transform/transform_settings.h"
#include "transform/transform_status.h"

namespace tessaly {

// What a conversion frame needs from outside.
struct FrameCallbacks {
    PaintFn paintPreviews;  // end of the input filters; may be empty
    SleepFn sleep;          // the CPU-usage pauses; empty = no pause
};

// What a preview pass needs from outside.
struct PreviewCallbacks {
    // Copies the newest decoded frame (bottom-up BGRX, frameW * frameH * 4
    // bytes) into dst; false when there is none yet (GrabBuffer then keeps
    // what it held).
    std::function<bool(uint8_t* dst, size_t bytes)> getCurrentBuffer;
    PaintFn paintPreviews;
    // Yield step: handle one pending window message, else sleep n ms.
    SleepFn yield;
    // Shows the output size (" 1104x1104") after a geometry build; optional.
    std::function<void(const std::string& text)> showOutputSize;
};

struct PreviewResult {
    // kOk, or why this pass produced no output frame (a refused cut:
    // kCropEmpty, kOutputTooLarge, kCropTooLarge; or kNoFrame).
    TransformStatus status = TransformStatus::kOk;
    // This pass (re)built the geometry; with a refusal, `message` says why.
    bool geometryBuilt = false;
    std::string message;
};

// Log lines of the conversion's geometry build, in order.
using LogFn = std::function<void(const std::string& line)>;

class FramePipeline {
public:
    // threads: parallelism of the projection; 0 = every core.
    explicit FramePipeline(int threads = 0);

    // 1 = the plain single-thread path; 0 = every core. Threads are created
    // here, never per frame; call it between frames.
    void SetThreadCount(int threads);
    int ThreadCount() const { return pool_->Threads(); }
    // The resampler's inner loop (all give identical bytes).
    void SetKernel(ResampleKernel kernel) { resampler_.SetKernel(kernel); }
    ResampleKernel Kernel() const { return resampler_.Kernel(); }

    // When a movie opens: InputFrame and GrabBuffer afresh (zero-filled) for
    // frames of this size, the remap table invalidated, and the next preview
    // pass rebuilds the geometry whatever the cut.
    TransformStatus Allocate(int frameW, int frameH);
    int FrameWidth() const { return input_.Width(); }
    int FrameHeight() const { return input_.Height(); }

    // The first preview pass after this rebuilds the geometry (stream start).
    void ForceGeometryRebuild() { forceRebuild_ = true; }

    // The geometry build of a conversion run: from all four cut values, with
    // CUTOFF, DMEM and DMEM2 reallocated (zero-filled). It leaves geomValid
    // alone; a table filled for another crop height is refilled by the first
    // projection. log (optional) receives "Checking 16x16", "Determine
    // CUTOFF", "Determine DMEM, DMEM2, DMEM3, DMEM4" and "... END".
    GeometryResult BuildGeometry(const AppSettings& settings, const LogFn& log = {});

    // One delivered frame of a conversion: load (aspect factor 0.7501), input
    // filters ending with paintPreviews, crop, projection, sharpen. The result
    // is in Output(). Refuses a sample whose size is not frameW * frameH * 4
    // (kBadSampleSize) and runs no transform without a valid geometry.
    TransformStatus ConvertFrame(const uint8_t* sample, size_t bytes, const AppSettings& settings,
                                 const FrameSwitches& switches, const FrameCallbacks& callbacks);

    // One pass of the playback loop: previewBusy = 1; geometry rebuild when
    // XL1 or YL1 changed since the last build (or on the first pass); the
    // newest frame into GrabBuffer and InputFrame (aspect factor 0.75); crop,
    // projection, yield 10, CpuPause, yield 90 (paused) or 1; sharpen; input
    // filters ending with paintPreviews; previewBusy = 0; yield 20. With a
    // refused cut the input side still runs, so the input preview goes on.
    PreviewResult PreviewPass(const AppSettings& settings, const FrameSwitches& switches,
                              const PreviewCallbacks& callbacks);

    // The output frame DMEM: OutputWidth() x OutputHeight() bottom-up BGRX
    // pixels at OutputPixels(), ready for a still writer taking
    // (const uint8_t* bgrx, int width, int height).
    const FrameBuffer& Output() const { return dmem_; }
    const uint8_t* OutputPixels() const { return dmem_.Data(); }
    int OutputWidth() const { return dmem_.Width(); }
    int OutputHeight() const { return dmem_.Height(); }

    bool HasGeometry() const { return hasGeometry_; }
    const CutGeometry& Geometry() const { return geometry_; }
    const FrameBuffer& InputFrame() const { return input_; }
    const FrameBuffer& GrabBuffer() const { return grab_; }
    const FrameBuffer& Cutoff() const { return cutoff_; }
    RemapState& Remap() { return remap_; }

    // 1 while PreviewPass runs; a conversion waits for 0 before it starts.
    std::atomic<int32_t>& PreviewBusy() { return previewBusy_; }
    std::atomic<int32_t>& GeomValid() { return remap_.geomValid; }
    std::atomic<int32_t>& CacheFilled() { return remap_.cacheFilled; }

private:
    GeometryResult ApplyGeometry(const CutRect& cut, const LogFn& log);

    std::unique_ptr<RowPool> pool_;
    Resampler resampler_;
    RemapState remap_;
    CutGeometry geometry_;
    bool hasGeometry_ = false;
    TransformStatus geometryStatus_ = TransformStatus::kNoGeometry;
    bool forceRebuild_ = true;
    int32_t builtXL1_ = 0;
    int32_t builtYL1_ = 0;
    std::atomic<int32_t> previewBusy_{0};

    FrameBuffer input_;   // InputFrame
    FrameBuffer grab_;    // GrabBuffer
    FrameBuffer cutoff_;  // CUTOFF
    FrameBuffer dmem_;    // DMEM: the output frame
    FrameBuffer dmem2_;   // DMEM2: sharpen scratch
};

}  // namespace tessaly
