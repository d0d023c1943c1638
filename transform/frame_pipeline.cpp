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
    hasGeometry_ = false;
    geometryStatus_ = TransformStatus::kNoGeometry;
    forceRebuild_ = true;
    InvalidateRemap(remap_);
    input_.Release();
    grab_.Release();
    if (frameW <= 0 || frameH <= 0) return TransformStatus::kNoFrame;
    // The resampler addresses the frame with 32-bit offsets.
    if (static_cast<int64_t>(frameW) * (static_cast<int64_t>(frameH) + 1) * 4 >
        std::numeric_limits<int32_t>::max()) {
        return TransformStatus::kFrameTooLarge;
    }
    try {
        input_.Allocate(frameW, frameH);
        grab_.Allocate(frameW, frameH);
    } catch (const std::bad_alloc&) {
        input_.Release();
        grab_.Release();
        return TransformStatus::kFrameTooLarge;
    }
    return TransformStatus::kOk;
}

GeometryResult FramePipeline::ApplyGeometry(const CutRect& cut, const LogFn& log) {
    auto say = [&log](const char* line) {
        if (log) log(line);
    };
    say("Checking 16x16");
    GeometryResult result = BuildCutGeometry(input_.Width(), input_.Height(), cut);
    geometryStatus_ = result.status;
    hasGeometry_ = false;
    if (!result.Ok()) return result;
    const CutGeometry& g = result.geometry;
    try {
        say("Determine CUTOFF");
        cutoff_.Allocate(g.cropW, g.cropH);
        say("Determine DMEM, DMEM2, DMEM3, DMEM4");
        dmem_.Allocate(g.outW, g.outH);
        dmem2_.Allocate(g.outW, g.outH);
        remap_.table.Reserve(g);
        say("Determine DMEM, DMEM2, DMEM3, DMEM4 END");
    } catch (const std::bad_alloc&) {
        cutoff_.Release();
        dmem_.Release();
        dmem2_.Release();
        result.status = geometryStatus_ = TransformStatus::kCropTooLarge;
        return result;
    }
    geometry_ = g;
    hasGeometry_ = true;
    return result;
}

GeometryResult FramePipeline::BuildGeometry(const AppSettings& settings, const LogFn& log) {
    return ApplyGeometry(CutRect{settings.XL1, settings.YL1, settings.XL2, settings.YL2}, log);
}

TransformStatus FramePipeline::ConvertFrame(const uint8_t* sample, size_t bytes, const AppSettings& settings,
                                            const FrameSwitches& switches, const FrameCallbacks& callbacks) {
    if (input_.Empty()) return TransformStatus::kNoFrame;
    if (sample == nullptr || bytes != input_.PictureBytes()) return TransformStatus::kBadSampleSize;
    if (!hasGeometry_) return TransformStatus::kNoGeometry;
    const TransformSettings s = TransformSettings::From(settings);
    LoadInputFrame(sample, static_cast<int64_t>(bytes / 4), kConversionAspectFactor, s.aspect != 0, input_,
                   resampler_, remap_, geometry_);
    InputFilters(input_, s, callbacks.sleep, callbacks.paintPreviews);
    CutCrop(input_, geometry_, switches.horizontalFlip != 0, cutoff_);
    ProjectToOutput(geometry_, cutoff_, dmem_, resampler_, remap_, s, callbacks.sleep);
    if (s.sharpenOn) Sharpen(dmem_.Width(), dmem_.Height(), dmem_.Data(), dmem2_.Data(), s.sharpen, s.radius);
    return TransformStatus::kOk;
}

PreviewResult FramePipeline::PreviewPass(const AppSettings& settings, const FrameSwitches& switches,
                                         const PreviewCallbacks& callbacks) {
    PreviewResult result;
    if (input_.Empty()) {
        result.status = TransformStatus::kNoFrame;
        return result;
    }
    auto yield = [&callbacks](int ms) {
        if (callbacks.yield) callbacks.yield(ms);
    };
    previewBusy_.store(1);
    const TransformSettings s = TransformSettings::From(settings);
    if (forceRebuild_ || s.XL1 != builtXL1_ || s.YL1 != builtYL1_) {
        forceRebuild_ = false;
        builtXL1_ = s.XL1;
        builtYL1_ = s.YL1;
        InvalidateRemap(remap_);
        const GeometryResult g = ApplyGeometry(CutRect{s.XL1, s.YL1, s.XL2, s.YL2}, {});
        result.geometryBuilt = true;
        if (!g.Ok()) {
            result.message = g.Message();
        } else if (callbacks.showOutputSize) {
            callbacks.showOutputSize(" " + std::to_string(g.geometry.outW) + "x" + std::to_string(g.geometry.outH));
        }
    }
    if (callbacks.getCurrentBuffer) callbacks.getCurrentBuffer(grab_.Data(), grab_.PictureBytes());
    LoadInputFrame(grab_.Data(), grab_.PixelCount(), kPreviewAspectFactor, s.aspect != 0, input_, resampler_,
                   remap_, geometry_);
    if (hasGeometry_) {
        CutCrop(input_, geometry_, switches.horizontalFlip != 0, cutoff_);
        ProjectToOutput(geometry_, cutoff_, dmem_, resampler_, remap_, s, callbacks.yield);
    } else {
        result.status = geometryStatus_;
    }
    yield(10);
    CpuPause(s, callbacks.yield);
    yield(switches.paused ? 90 : 1);
    if (hasGeometry_ && s.sharpenOn) {
        Sharpen(dmem_.Width(), dmem_.Height(), dmem_.Data(), dmem2_.Data(), s.sharpen, s.radius);
    }
    InputFilters(input_, s, callbacks.yield, callbacks.paintPreviews);
    previewBusy_.store(0);
    yield(20);
    return result;
}

}  // namespace tessaly
