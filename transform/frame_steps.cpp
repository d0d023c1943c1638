#include "transform/frame_steps.h"

#include <algorithm>
#include <cstring>

namespace tessaly {

TransformStatus LoadInputFrame(const uint8_t* sample, int64_t pixelCount, float aspectFactor, bool aspect,
                               FrameBuffer& input, Resampler& resampler) {
    if (sample == nullptr || input.Empty()) return TransformStatus::kNoFrame;
    if (!aspect) {
        const int64_t n = std::clamp<int64_t>(pixelCount, 0, input.PixelCount());
        std::memcpy(input.Data(), sample, static_cast<size_t>(n) * 4);
        return TransformStatus::kOk;
    }
    ResampleJob job;
    job.dstW = job.srcW = input.Width();
    job.dstH = job.srcH = input.Height();
    job.dstStride = job.srcStride = input.Stride();
    job.dst = input.Data();
    job.src = sample;
    job.parameter = aspectFactor;
    job.mode = ResampleMode::kAspectStretch;
    return resampler.Resample(job);
}

void CutCrop(const uint8_t* frame, int frameWidth, int frameHeight, const CutGeometry& geom, bool flip,
             FrameBuffer& crop, int firstColumn) {
    const int64_t width = crop.Width();  // columns held: firstColumn ..
    const int cropH = crop.Height();
    const int64_t frameW = frameWidth;
    const int64_t frameH = frameHeight;
    if (width <= 0 || cropH <= 0 || frameW <= 0 || frame == nullptr) return;
    // Crop column x shows frame column cropLeft + x, or cropLeft + cropW - 1
    // - x when flipped; x0 .. x1 are the held columns inside the frame.
    const int64_t left = geom.cropLeft;
    const int64_t lo = flip ? left + geom.cropW - frameW : -left;
    const int64_t hi = flip ? left + geom.cropW - 1 : frameW - 1 - left;
    const int64_t x0 = std::max<int64_t>(lo, firstColumn);
    const int64_t x1 = std::min<int64_t>(hi, firstColumn + width - 1);
    for (int y = 0; y < cropH; ++y) {
        uint8_t* dst = crop.Row(cropH - 1 - y);
        const int64_t sy = static_cast<int64_t>(geom.cropTop) + y;
        // Stored row frameH - sy is picture row sy - 1; sy = 0 is the black
        // row after the picture.
        if (sy <= 0 || sy > frameH || x0 > x1) {
            std::memset(dst, 0, static_cast<size_t>(width) * 4);
            continue;
        }
        const uint8_t* row = frame + (frameH - sy) * frameW * 4;
        const int64_t first = x0 - firstColumn;  // held columns [first, first + n) get frame pixels
        const int64_t n = x1 - x0 + 1;
        std::memset(dst, 0, static_cast<size_t>(first) * 4);
        if (flip) {
            const uint8_t* src = row + (left + geom.cropW - 1 - x0) * 4;
            uint8_t* d = dst + first * 4;
            for (int64_t i = 0; i < n; ++i, src -= 4, d += 4) std::memcpy(d, src, 4);
        } else {
            std::memcpy(dst + first * 4, row + (left + x0) * 4, static_cast<size_t>(n) * 4);
        }
        std::memset(dst + (first + n) * 4, 0, static_cast<size_t>(width - first - n) * 4);
    }
}

TransformStatus ProjectToOutput(const FrameBuffer& crop, FrameBuffer& output, Resampler& resampler,
                                const RemapTable& table, int cropW, int firstColumn) {
    ResampleJob job;
    job.dstW = output.Width();
    job.dstH = output.Height();
    job.dstStride = output.Stride();
    job.dst = output.Data();
    job.srcW = cropW > 0 ? cropW : crop.Width();
    job.srcH = crop.Height();
    job.srcStride = crop.Stride();
    job.src = crop.Data();
    job.srcFirstColumn = firstColumn;
    job.srcColumns = crop.Width();
    job.parameter = 1.0f;
    job.mode = ResampleMode::kProjection;
    return resampler.Resample(job, &table);
}

}  // namespace tessaly
