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

private:
    int width_ = 0;
    int height_ = 0;
    std::vector<uint8_t> bytes_;
};

}  // namespace tessaly
