// FrameBuffer: a frame of 32-bit pixels stored as the bytes blue, green, red
// and one byte without meaning; rows bottom-up (the first stored row is the
// bottom of the picture); row stride 4 x width bytes, no padding. Every buffer
// carries one extra zero-filled row after its last picture row, so reads one
// row beyond the picture return black.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tessaly {

// A rectangle of a frame in source pixels, x to the right, y downward,
// (x, y) its top-left pixel; it may reach beyond the frame.
struct FrameRegion {
    int32_t x = 0;
    int32_t y = 0;
    int32_t w = 0;
    int32_t h = 0;

    bool operator==(const FrameRegion&) const = default;
};

// Pixels of a frame written in place: width x height from the first stored
// row at `data`, rows `stride` bytes apart. A whole buffer, or one eye's part
// of a stereo frame that two pipelines fill.
struct PixelRect {
    uint8_t* data = nullptr;
    int width = 0;
    int height = 0;
    std::ptrdiff_t stride = 0;
};

class FrameBuffer {
public:
    // Drops the old contents and allocates width x height pixels plus the extra
    // row, all zero. A non-positive size releases the buffer.
    void Allocate(int width, int height);
    void Release();

    bool Empty() const { return width_ <= 0 || height_ <= 0; }
    int Width() const { return width_; }
    int Height() const { return height_; }
    std::ptrdiff_t Stride() const { return 4 * static_cast<std::ptrdiff_t>(width_); }
    // Pixels of the picture (without the extra row).
    int64_t PixelCount() const { return static_cast<int64_t>(width_) * height_; }
    // Bytes of the picture (without the extra row): what a still writer takes.
    size_t PictureBytes() const { return static_cast<size_t>(PixelCount()) * 4; }

    // First stored row (the bottom row of the picture).
    uint8_t* Data() { return bytes_.data(); }
    const uint8_t* Data() const { return bytes_.data(); }
    // Stored row r (0 = bottom; r = Height() is the extra zero row).
    uint8_t* Row(int r) { return bytes_.data() + r * Stride(); }
    const uint8_t* Row(int r) const { return bytes_.data() + r * Stride(); }

    // The picture, or its w x h pixels from column x of stored row r (the
    // caller keeps them inside the picture).
    PixelRect Whole() { return PixelRect{Data(), width_, height_, Stride()}; }
    PixelRect Part(int x, int r, int w, int h) { return PixelRect{Row(r) + 4 * static_cast<std::ptrdiff_t>(x), w, h, Stride()}; }

private:
    int width_ = 0;
    int height_ = 0;
    std::vector<uint8_t> bytes_;
};

}  // namespace tessaly
