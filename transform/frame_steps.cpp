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

void CutCrop(const uint8_t* frame, int frameW, int frameH, const CutGeometry& geom, bool flip, FrameBuffer& crop,
             int firstColumn) {
    CutCrop(frame, frameW, frameH, FrameRegion{0, 0, frameW, frameH}, geom, flip, crop, firstColumn);
}

void CutCrop(const uint8_t* frame, int frameWidth, int frameHeight, const FrameRegion& window, const CutGeometry& geom,
             bool flip, FrameBuffer& crop, int firstColumn) {
    const int64_t width = crop.Width();  // columns held: firstColumn ..
    const int cropH = crop.Height();
    const int64_t frameW = frameWidth;
    const int64_t frameH = frameHeight;
    if (width <= 0 || cropH <= 0 || frameW <= 0 || frame == nullptr) return;
    // Window columns c0 .. c1 - 1 lie inside the frame (frame column window.x + c).
    const int64_t c0 = std::max<int64_t>(0, -static_cast<int64_t>(window.x));
    const int64_t c1 = std::min<int64_t>(window.w, frameW - window.x);
    // Crop column x shows window column cropLeft + x, or cropLeft + cropW - 1
    // - x when flipped; x0 .. x1 are the held columns inside the frame.
    const int64_t left = geom.cropLeft;
    const int64_t lo = flip ? left + geom.cropW - c1 : c0 - left;
    const int64_t hi = flip ? left + geom.cropW - 1 - c0 : c1 - 1 - left;
    const int64_t x0 = std::max<int64_t>(lo, firstColumn);
    const int64_t x1 = std::min<int64_t>(hi, firstColumn + width - 1);
    for (int y = 0; y < cropH; ++y) {
        uint8_t* dst = crop.Row(cropH - 1 - y);
        const int64_t sy = static_cast<int64_t>(geom.cropTop) + y;
        // Crop row y shows the window's picture row sy - 1, the frame's
        // picture row py; sy = 0 is the black row after the window's picture.
        const int64_t py = window.y + sy - 1;
        if (sy <= 0 || sy > window.h || py < 0 || py >= frameH || x0 > x1) {
            std::memset(dst, 0, static_cast<size_t>(width) * 4);
            continue;
        }
        const uint8_t* row = frame + (frameH - 1 - py) * frameW * 4;
        const int64_t first = x0 - firstColumn;  // held columns [first, first + n) get frame pixels
        const int64_t n = x1 - x0 + 1;
        std::memset(dst, 0, static_cast<size_t>(first) * 4);
        if (flip) {
            const uint8_t* src = row + (window.x + left + geom.cropW - 1 - x0) * 4;
            uint8_t* d = dst + first * 4;
            for (int64_t i = 0; i < n; ++i, src -= 4, d += 4) std::memcpy(d, src, 4);
        } else {
            std::memcpy(dst + first * 4, row + (window.x + left + x0) * 4, static_cast<size_t>(n) * 4);
        }
        std::memset(dst + (first + n) * 4, 0, static_cast<size_t>(width - first - n) * 4);
    }
}

void CopyWindow(const uint8_t* frame, int32_t frameW, int32_t frameH, const FrameRegion& window, FrameBuffer& eye) {
    if (eye.Width() != window.w || eye.Height() != window.h) eye.Allocate(window.w, window.h);
    const int32_t x0 = std::max(window.x, 0), x1 = std::min(window.x + window.w, frameW);
    for (int32_t r = 0; r < window.h; ++r) {
        // Stored row r (bottom-up) is the window's picture row h - 1 - r.
        const int32_t pictureRow = window.y + window.h - 1 - r;
        uint8_t* dst = eye.Row(r);
        if (pictureRow < 0 || pictureRow >= frameH || x0 >= x1) {
            std::memset(dst, 0, static_cast<size_t>(window.w) * 4);
            continue;
        }
        const uint8_t* src = frame + (static_cast<size_t>(frameH - 1 - pictureRow) * frameW + x0) * 4;
        const size_t before = static_cast<size_t>(x0 - window.x) * 4;
        const size_t inside = static_cast<size_t>(x1 - x0) * 4;
        std::memset(dst, 0, before);
        std::memcpy(dst + before, src, inside);
        std::memset(dst + before + inside, 0, static_cast<size_t>(window.w) * 4 - before - inside);
    }
}

TransformStatus ProjectToOutput(const FrameBuffer& crop, const PixelRect& output, Resampler& resampler,
                                const RemapTable& table, int cropW, int firstColumn, const CentreShift& shift) {
    ResampleJob job;
    job.dstW = output.width;
    job.dstH = output.height;
    job.dstStride = output.stride;
    job.dst = output.data;
    job.srcW = cropW > 0 ? cropW : crop.Width();
    job.srcH = crop.Height();
    job.srcStride = crop.Stride();
    job.src = crop.Data();
    job.srcFirstColumn = firstColumn;
    job.srcColumns = crop.Width();
    job.parameter = 1.0f;
    job.centreX = ShiftRight(shift);
    job.centreY = ShiftUp(shift);
    job.mode = ResampleMode::kProjection;
    return resampler.Resample(job, &table);
}

}  // namespace tessaly
