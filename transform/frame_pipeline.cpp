#include "transform/frame_pipeline.h"

#include <limits>
#include <new>
#include <thread>

#include "transform/frame_steps.h"

namespace tessaly {

FramePipeline::FramePipeline(int threads) { SetThreadCount(threads); }

void FramePipeline::SetThreadCount(int threads) {
    if (threads <= 0) threads = static_cast<int>(std::thread::hardware_concurrency());
    if (threads <= 0) threads = 1;
    if (pool_ && pool_->Threads() == threads) return;
    resampler_.SetPool(nullptr);
    pool_ = std::make_unique<RowPool>(threads);
    resampler_.SetPool(pool_.get());
}

TransformStatus FramePipeline::Allocate(int frameW, int frameH) {
    builtKey_ = GeometryKey{};
    geometryStatus_ = TransformStatus::kNoGeometry;
    frameW_ = frameH_ = 0;
    input_.Release();
    grab_.Release();
    if (frameW <= 0 || frameH <= 0) return TransformStatus::kNoFrame;
    // The resampler addresses the frame with 32-bit offsets.
    if (static_cast<int64_t>(frameW) * (static_cast<int64_t>(frameH) + 1) * 4 >
        std::numeric_limits<int32_t>::max()) {
        return TransformStatus::kFrameTooLarge;
    }
    frameW_ = frameW;
    frameH_ = frameH;
    return TransformStatus::kOk;
}

bool FramePipeline::EnsureFrame(FrameBuffer& buffer) {
    if (buffer.Width() == frameW_ && buffer.Height() == frameH_) return true;
    try {
        buffer.Allocate(frameW_, frameH_);
        return true;
    } catch (const std::bad_alloc&) {
        buffer.Release();
        return false;
    }
}

GeometryResult FramePipeline::ApplyGeometry(const GeometryKey& key, const CutRect& cut, const LogFn& log) {
    auto say = [&log](const char* line) {
        if (log) log(line);
    };
    builtKey_ = key;
    say("Checking 16x16");
    GeometryResult result = BuildCutGeometry(frameW_, frameH_, cut);
    geometryStatus_ = result.status;
    if (!result.Ok()) return result;
    CutGeometry g = result.geometry;
    // The constants every projection uses (their own rounding, recomputed
    // from cropH) are the ones the table is built with.
    ComputeProjection(g);
    // A table shared with another pipeline stays as it is: another one is
    // built beside it.
    if (table_.use_count() > 1 && !table_->Holds(g, key.lens)) table_ = std::make_shared<RemapTable>();
    try {
        if (!table_->Build(g, key.lens, pool_.get()) && !table_->Problem().empty()) {
            crop_.Release();
            output_.Release();
            result.problem = table_->Problem();
            result.status = geometryStatus_ = TransformStatus::kNoGeometry;
            return result;
        }
        // CUTOFF holds only the columns the projection reads.
        columns_ = ReadColumns(*table_, g, key.shift);
        say("Determine CUTOFF");
        crop_.Allocate(columns_.count, g.cropH);
        say("Determine DMEM, DMEM2, DMEM3, DMEM4");
        if (placed_) {
            output_.Release();
        } else {
            output_.Allocate(g.outW, g.outH);
        }
        sharpenWindow_.resize(3 * static_cast<size_t>(g.outW) * 4);
        say("Determine DMEM, DMEM2, DMEM3, DMEM4 END");
    } catch (const std::bad_alloc&) {
        crop_.Release();
        output_.Release();
        table_ = std::make_shared<RemapTable>();
        result.status = geometryStatus_ = TransformStatus::kCropTooLarge;
        return result;
    }
    geometry_ = g;
    shift_ = key.shift;
    return result;
}

GeometryResult FramePipeline::BuildGeometry(const CutRect& cut, const LogFn& log) {
    return BuildGeometry(cut, LensSettings{}, log);
}

GeometryResult FramePipeline::BuildGeometry(const CutRect& cut, const LensSettings& lens, const LogFn& log) {
    return BuildGeometry(cut, lens, CentreShift{}, log);
}

GeometryResult FramePipeline::BuildGeometry(const CutRect& cut, const LensSettings& lens, const CentreShift& shift,
                                            const LogFn& log) {
    return ApplyGeometry(GeometryKey{frameW_, frameH_, cut.XL1, cut.YL1, lens, shift}, cut, log);
}

void FramePipeline::PlaceOutput(const PixelRect& rect) {
    placed_ = true;
    placedRect_ = rect;
    output_.Release();
}

TransformStatus FramePipeline::Project(const uint8_t* frame, int32_t frameW, int32_t frameH, const FrameRegion& window,
                                       const TransformSettings& s, bool flip, const SleepFn& sleep) {
    const PixelRect out = OutputRect();
    if (out.data == nullptr || out.width != geometry_.outW || out.height != geometry_.outH) {
        return TransformStatus::kNoGeometry;
    }
    CutCrop(frame, frameW, frameH, window, geometry_, flip, crop_, columns_.first);
    const TransformStatus status = ProjectToOutput(crop_, out, resampler_, *table_, geometry_.cropW, columns_.first, shift_);
    CpuPause(s, sleep);
    return status;
}

void FramePipeline::SharpenOutput(const TransformSettings& s) {
    // In place with a three-row window: no frame-sized scratch, no copy back.
    if (s.sharpenOn) SharpenInPlace(OutputRect(), s.sharpen, s.radius, sharpenWindow_);
}

bool FramePipeline::CutsFromSample(const TransformSettings& s, const FrameCallbacks& callbacks) {
    return s.aspect == 0 && NoisePasses(s) == 0 && !s.brightnessOn && !s.contrastOn && !callbacks.paintPreviews;
}

TransformStatus FramePipeline::ConvertFrame(const uint8_t* sample, size_t bytes, const TransformSettings& s,
                                            const FrameSwitches& switches, const FrameCallbacks& callbacks) {
    if (frameW_ <= 0) return TransformStatus::kNoFrame;
    if (sample == nullptr || bytes != static_cast<size_t>(frameW_) * static_cast<size_t>(frameH_) * 4) {
        return TransformStatus::kBadSampleSize;
    }
    if (!HasGeometry()) return TransformStatus::kNoGeometry;
    const bool flip = switches.horizontalFlip != 0;
    TransformStatus status = TransformStatus::kOk;
    if (CutsFromSample(s, callbacks)) {
        CpuPause(s, callbacks.sleep);
        status = Project(sample, s, flip, callbacks.sleep);
    } else {
        if (!EnsureFrame(input_)) return TransformStatus::kFrameTooLarge;
        status = LoadInputFrame(sample, static_cast<int64_t>(bytes / 4), kConversionAspectFactor, s.aspect != 0,
                                input_, resampler_);
        if (status != TransformStatus::kOk) return status;
        InputFilters(input_, s, callbacks.sleep, callbacks.paintPreviews);
        status = Project(input_.Data(), s, flip, callbacks.sleep);
    }
    if (status != TransformStatus::kOk) return status;
    SharpenOutput(s);
    return TransformStatus::kOk;
}

TransformStatus FramePipeline::ConvertWindow(const uint8_t* frame, int32_t frameW, int32_t frameH,
                                             const FrameRegion& window, const TransformSettings& s,
                                             const FrameSwitches& switches, const FrameCallbacks& callbacks) {
    if (frameW_ <= 0) return TransformStatus::kNoFrame;
    if (frame == nullptr || window.w != frameW_ || window.h != frameH_) return TransformStatus::kBadSampleSize;
    if (!CutsFromSample(s, callbacks)) {
        // The filters change the frame they read: they get a copy of the window.
        if (!EnsureFrame(grab_)) return TransformStatus::kFrameTooLarge;
        CopyWindow(frame, frameW, frameH, window, grab_);
        return ConvertFrame(grab_.Data(), grab_.PictureBytes(), s, switches, callbacks);
    }
    if (!HasGeometry()) return TransformStatus::kNoGeometry;
    CpuPause(s, callbacks.sleep);
    const TransformStatus status = Project(frame, frameW, frameH, window, s, switches.horizontalFlip != 0,
                                           callbacks.sleep);
    if (status != TransformStatus::kOk) return status;
    SharpenOutput(s);
    return TransformStatus::kOk;
}

PreviewResult FramePipeline::PreviewPass(const TransformSettings& s, const FrameSwitches& switches,
                                         const PreviewCallbacks& callbacks) {
    PreviewResult result;
    if (frameW_ <= 0 || !EnsureFrame(input_) || !EnsureFrame(grab_)) {
        result.status = frameW_ <= 0 ? TransformStatus::kNoFrame : TransformStatus::kFrameTooLarge;
        return result;
    }
    previewBusy_.store(1);
    const GeometryKey key{frameW_, frameH_, s.cut.XL1, s.cut.YL1, s.lens, CentreShift{}};
    if (key != builtKey_) {
        const GeometryResult g = ApplyGeometry(key, s.cut, {});
        result.geometryBuilt = true;
        if (!g.Ok()) {
            result.message = g.Message();
        } else if (callbacks.showOutputSize) {
            callbacks.showOutputSize(" " + std::to_string(g.geometry.outW) + "x" + std::to_string(g.geometry.outH));
        }
    }
    if (callbacks.getCurrentBuffer) callbacks.getCurrentBuffer(grab_.Data(), grab_.PictureBytes());
    TransformStatus status =
        LoadInputFrame(grab_.Data(), grab_.PixelCount(), kPreviewAspectFactor, s.aspect != 0, input_, resampler_);
    if (status == TransformStatus::kOk) {
        status = HasGeometry() ? Project(input_.Data(), s, switches.horizontalFlip != 0, callbacks.sleep)
                               : geometryStatus_;
    }
    result.status = status;
    CpuPause(s, callbacks.sleep);
    if (status == TransformStatus::kOk) SharpenOutput(s);
    InputFilters(input_, s, callbacks.sleep, callbacks.paintPreviews);
    previewBusy_.store(0);
    return result;
}

}  // namespace tessaly
