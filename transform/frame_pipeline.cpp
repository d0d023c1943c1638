#include "transform/frame_pipeline.h"

#include <limits>
#include <new>
#include <thread>
#include <utility>

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

GeometryResult FramePipeline::ApplyGeometry(const GeometryKey& key, const CutRect& cut, const LogFn& log) {
    auto say = [&log](const char* line) {
        if (log) log(line);
    };
    builtKey_ = key;
    say("Checking 16x16");
    GeometryResult result = BuildCutGeometry(input_.Width(), input_.Height(), cut);
    geometryStatus_ = result.status;
    if (!result.Ok()) return result;
    CutGeometry g = result.geometry;
    // The constants every projection uses (their own rounding, recomputed
    // from cropH) are the ones the table is built with.
    ComputeProjection(g);
    try {
        say("Determine CUTOFF");
        cutoff_.Allocate(g.cropW, g.cropH);
        say("Determine DMEM, DMEM2, DMEM3, DMEM4");
        dmem_.Allocate(g.outW, g.outH);
        dmem2_.Allocate(g.outW, g.outH);
        table_.Build(g, pool_.get());
        say("Determine DMEM, DMEM2, DMEM3, DMEM4 END");
    } catch (const std::bad_alloc&) {
        cutoff_.Release();
        dmem_.Release();
        dmem2_.Release();
        table_.Clear();
        result.status = geometryStatus_ = TransformStatus::kCropTooLarge;
        return result;
    }
    geometry_ = g;
    return result;
}

GeometryResult FramePipeline::BuildGeometry(const CutRect& cut, const LogFn& log) {
    return ApplyGeometry(GeometryKey{input_.Width(), input_.Height(), cut.XL1, cut.YL1}, cut, log);
}

TransformStatus FramePipeline::Project(const TransformSettings& s, bool flip, const SleepFn& sleep) {
    CutCrop(input_, geometry_, flip, cutoff_);
    const TransformStatus status = ProjectToOutput(cutoff_, dmem_, resampler_, table_);
    CpuPause(s, sleep);
    return status;
}

void FramePipeline::SharpenOutput(const TransformSettings& s) {
    if (!s.sharpenOn) return;
    // DMEM2 receives the sharpened frame and becomes DMEM: no copy back.
    if (SharpenInto(dmem_.Width(), dmem_.Height(), dmem_.Data(), dmem2_.Data(), s.sharpen, s.radius)) {
        std::swap(dmem_, dmem2_);
    }
}

TransformStatus FramePipeline::ConvertFrame(const uint8_t* sample, size_t bytes, const TransformSettings& s,
                                            const FrameSwitches& switches, const FrameCallbacks& callbacks) {
    if (input_.Empty()) return TransformStatus::kNoFrame;
    if (sample == nullptr || bytes != input_.PictureBytes()) return TransformStatus::kBadSampleSize;
    if (!HasGeometry()) return TransformStatus::kNoGeometry;
    TransformStatus status =
        LoadInputFrame(sample, static_cast<int64_t>(bytes / 4), kConversionAspectFactor, s.aspect != 0, input_, resampler_);
    if (status != TransformStatus::kOk) return status;
    InputFilters(input_, s, callbacks.sleep, callbacks.paintPreviews);
    status = Project(s, switches.horizontalFlip != 0, callbacks.sleep);
    if (status != TransformStatus::kOk) return status;
    SharpenOutput(s);
    return TransformStatus::kOk;
}

PreviewResult FramePipeline::PreviewPass(const TransformSettings& s, const FrameSwitches& switches,
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
    const GeometryKey key{input_.Width(), input_.Height(), s.cut.XL1, s.cut.YL1};
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
        status = HasGeometry() ? Project(s, switches.horizontalFlip != 0, callbacks.yield) : geometryStatus_;
    }
    result.status = status;
    yield(10);
    CpuPause(s, callbacks.yield);
    yield(switches.paused ? 90 : 1);
    if (status == TransformStatus::kOk) SharpenOutput(s);
    InputFilters(input_, s, callbacks.yield, callbacks.paintPreviews);
    previewBusy_.store(0);
    yield(20);
    return result;
}

}  // namespace tessaly
