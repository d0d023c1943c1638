#include "transform/frame_buffer.h"

namespace tessaly {

void FrameBuffer::Allocate(int width, int height) {
    if (width <= 0 || height <= 0) {
        Release();
        return;
    }
    width_ = width;
    height_ = height;
    // A fresh vector, so a smaller frame also gives the memory back.
    bytes_ = std::vector<uint8_t>(static_cast<size_t>(width) * (static_cast<size_t>(height) + 1) * 4);
}

void FrameBuffer::Release() {
    width_ = 0;
    height_ = 0;
    bytes_ = std::vector<uint8_t>();
}

}  // namespace tessaly
