// FramePipeline: the per-movie state of the fisheye transform and the two
// per-frame orders that use it: ConvertFrame for every frame of a conversion
// and PreviewPass for the playback loop. It owns the working buffers
// (InputFrame, GrabBuffer, CUTOFF, DMEM and a three-row sharpen window in
// place of DMEM2), the cut geometry with the
// key it was built from, the remap table (built with the geometry, only read
// by the frames) and the row-splitting thread pool. It takes settings and
// frames only; the application's state is translated in convert/. The
// per-frame calls allocate nothing. One frame at a time: ConvertFrame and
// PreviewPass must not run at once (the resampler refuses re-entry).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

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
    SleepFn sleep;  // the CPU-usage pauses; empty = no pause
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

// What the geometry in use was built from. A preview pass rebuilds when its
// key differs: another frame size, the cut's top-left corner moved (the
// bottom-right corner alone does not rebuild), or another lens.
struct GeometryKey {
    int32_t frameW = 0;  // 0: nothing built since the movie opened
    int32_t frameH = 0;
    int32_t XL1 = 0;
    int32_t YL1 = 0;
    LensSettings lens;
    CentreShift shift;  // a conversion's own; the preview has none

    bool operator==(const GeometryKey&) const = default;
};

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

    // When a movie opens: frames of this size from now on (InputFrame and
    // GrabBuffer are allocated afresh, zero-filled, when first needed), and
    // the next preview pass rebuilds the geometry whatever the cut.
    TransformStatus Allocate(int frameW, int frameH);
    int FrameWidth() const { return frameW_; }
    int FrameHeight() const { return frameH_; }

    // The first preview pass after this rebuilds the geometry (stream start).
    void ForceGeometryRebuild() { builtKey_ = GeometryKey{}; }

    // The geometry build of a conversion run, from all four cut values: CUTOFF
    // and DMEM reallocated (zero-filled) and the remap table computed
    // (rows split across the pool) unless it holds this crop height already.
    // log (optional) receives "Checking 16x16", "Determine CUTOFF", "Determine
    // DMEM, DMEM2, DMEM3, DMEM4" and "... END".
    // The remap table follows `lens` (the default lens when not given).
    GeometryResult BuildGeometry(const CutRect& cut, const LogFn& log = {});
    GeometryResult BuildGeometry(const CutRect& cut, const LensSettings& lens, const LogFn& log = {});
    // The same with the lens circle's centre `shift` off the crop's centre
    // (an eye placed to a fraction of a pixel): every frame reads around
    // it, through the same table.
    GeometryResult BuildGeometry(const CutRect& cut, const LensSettings& lens, const CentreShift& shift,
                                 const LogFn& log = {});

    // One delivered frame of a conversion: load (aspect factor 0.7501), input
    // filters ending with paintPreviews, crop, projection, CPU pause, sharpen.
    // With no aspect fix, no input filter and nothing to paint, the crop is
    // cut from the sample itself and InputFrame is neither filled nor held.
    // The result is in Output(). Refuses a sample whose size is not frameW *
    // frameH * 4 (kBadSampleSize), runs no transform without a valid geometry
    // and reports a resampler busy with another frame (kResamplerBusy).
    TransformStatus ConvertFrame(const uint8_t* sample, size_t bytes, const TransformSettings& settings,
                                 const FrameSwitches& switches, const FrameCallbacks& callbacks);
    // The same for a frame that is `window` (of this pipeline's frame size)
    // of a larger bottom-up frameW x frameH frame, with the same bytes as
    // ConvertFrame of the window copied out (CopyWindow): where ConvertFrame
    // cuts from the sample, the crop is cut from the frame through the
    // window in place; otherwise the window is copied into GrabBuffer first.
    TransformStatus ConvertWindow(const uint8_t* frame, int32_t frameW, int32_t frameH, const FrameRegion& window,
                                  const TransformSettings& settings, const FrameSwitches& switches,
                                  const FrameCallbacks& callbacks);

    // One pass of the playback loop: previewBusy = 1; geometry rebuild when
    // the key changed (or on the first pass); the newest frame into
    // GrabBuffer and InputFrame (aspect factor 0.75); crop, projection,
    // CpuPause, CpuPause; sharpen; input filters ending with paintPreviews;
    // previewBusy = 0. The stream loop paces the passes. With a
    // refused cut the input side still runs, so the input preview goes on.
    PreviewResult PreviewPass(const TransformSettings& settings, const FrameSwitches& switches,
                              const PreviewCallbacks& callbacks);

    // The output frame DMEM: OutputWidth() x OutputHeight() bottom-up BGRX
    // pixels at OutputPixels(), ready for a still writer taking
    // (const uint8_t* bgrx, int width, int height). Empty once the output
    // is placed in another frame (PlaceOutput).
    const FrameBuffer& Output() const { return output_; }
    const uint8_t* OutputPixels() const { return output_.Data(); }
    int OutputWidth() const { return output_.Width(); }
    int OutputHeight() const { return output_.Height(); }

    bool HasGeometry() const { return geometryStatus_ == TransformStatus::kOk; }
    const CutGeometry& Geometry() const { return geometry_; }
    const GeometryKey& BuiltKey() const { return builtKey_; }
    // The two remap flags, derived from the key and the table: geomValid is 0
    // from a movie's open (or a forced rebuild) until a geometry is built;
    // cacheFilled is 1 while the table holds the geometry in use.
    int32_t GeomValid() const { return builtKey_.frameW != 0 ? 1 : 0; }
    int32_t CacheFilled() const { return HasGeometry() && table_->Holds(geometry_, builtKey_.lens) ? 1 : 0; }
    const FrameBuffer& InputFrame() const { return input_; }
    const FrameBuffer& GrabBuffer() const { return grab_; }
    // CUTOFF: the crop's columns Columns().first .. + count - 1, all its rows.
    const FrameBuffer& Crop() const { return crop_; }
    const ColumnRange& Columns() const { return columns_; }
    const RemapTable& Table() const { return *table_; }

    // From now on the output frame is `rect` of a frame the caller owns and
    // keeps (an eye of a stereo frame, which two pipelines fill in place),
    // not a buffer of the pipeline's own: the geometry builds allocate none,
    // and a frame is converted only while `rect` has the geometry's output
    // size (an empty rect: none yet). The caller zero-fills it with each
    // geometry build, as a build does its own buffer.
    void PlaceOutput(const PixelRect& rect);
    // The next geometry builds read `other`'s remap table while it holds the
    // one they need (two eyes of one lens and cut size share it) instead of
    // building their own; a build that needs another table builds its own,
    // leaving `other`'s as it is.
    void ShareTableOf(const FramePipeline& other) { table_ = other.table_; }
    bool SharesTableWith(const FramePipeline& other) const { return table_ == other.table_; }

    // 1 while PreviewPass runs; a conversion waits for 0 before it starts.
    std::atomic<int32_t>& PreviewBusy() { return previewBusy_; }

private:
    GeometryResult ApplyGeometry(const GeometryKey& key, const CutRect& cut, const LogFn& log);
    // Crop (from `window` of a frameW x frameH frame), projection and CPU
    // pause of the current geometry.
    TransformStatus Project(const uint8_t* frame, int32_t frameW, int32_t frameH, const FrameRegion& window,
                            const TransformSettings& s, bool flip, const SleepFn& sleep);
    TransformStatus Project(const uint8_t* frame, const TransformSettings& s, bool flip, const SleepFn& sleep) {
        return Project(frame, frameW_, frameH_, FrameRegion{0, 0, frameW_, frameH_}, s, flip, sleep);
    }
    // Nothing changes or shows the input frame: the crop is cut from the
    // sample itself.
    static bool CutsFromSample(const TransformSettings& s, const FrameCallbacks& callbacks);
    // Where the output frame is written: the own buffer or the placed rect.
    PixelRect OutputRect() { return placed_ ? placedRect_ : output_.Whole(); }
    // Allocates a frame-sized buffer unless it has that size already.
    bool EnsureFrame(FrameBuffer& buffer);
    void SharpenOutput(const TransformSettings& s);

    std::unique_ptr<RowPool> pool_;
    Resampler resampler_;
    std::shared_ptr<RemapTable> table_ = std::make_shared<RemapTable>();
    ColumnRange columns_;  // the crop columns CUTOFF holds
    CutGeometry geometry_;
    CentreShift shift_;  // of geometry_
    GeometryKey builtKey_;
    TransformStatus geometryStatus_ = TransformStatus::kNoGeometry;
    std::atomic<int32_t> previewBusy_{0};
    int32_t frameW_ = 0;
    int32_t frameH_ = 0;

    FrameBuffer input_;   // InputFrame
    FrameBuffer grab_;    // GrabBuffer
    FrameBuffer crop_;  // CUTOFF
    FrameBuffer output_;  // DMEM: the output frame
    bool placed_ = false;  // the output frame is placedRect_ (PlaceOutput)
    PixelRect placedRect_;
    std::vector<uint8_t> sharpenWindow_;  // the three rows sharpening needs (in place of DMEM2)
};

}  // namespace tessaly
