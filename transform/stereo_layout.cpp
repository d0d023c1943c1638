#include "transform/stereo_layout.h"

#include <algorithm>
#include <cstring>

namespace tessaly {

const char* StereoLayoutName(StereoLayout layout) {
    switch (layout) {
        case StereoLayout::kSideBySide: return "sbs";
        case StereoLayout::kTopBottom: return "tb";
        case StereoLayout::kMono: break;
    }
    return "mono";
}

std::optional<StereoLayout> StereoLayoutFromName(std::string_view name) {
    if (name == "sbs") return StereoLayout::kSideBySide;
    if (name == "tb") return StereoLayout::kTopBottom;
    return std::nullopt;
}

FrameRegion EyeRegion(StereoLayout layout, bool swapEyes, int32_t frameW, int32_t frameH, int eye) {
    const bool second = (eye == kRightEye) != swapEyes;
    if (layout == StereoLayout::kSideBySide) {
        const int32_t half = frameW / 2;
        return FrameRegion{second ? frameW - half : 0, 0, half, frameH};
    }
    if (layout == StereoLayout::kTopBottom) {
        const int32_t half = frameH / 2;
        return FrameRegion{0, second ? frameH - half : 0, frameW, half};
    }
    return FrameRegion{0, 0, frameW, frameH};
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

LensSettings EyeLens(const LensSettings& shared, const EyeAngles& angles) {
    LensSettings lens = shared;
    if (angles.yaw) lens.yaw = *angles.yaw;
    if (angles.pitch) lens.pitch = *angles.pitch;
    if (angles.roll) lens.roll = *angles.roll;
    return lens;
}

void JoinedSize(StereoLayout output, int32_t eyeW, int32_t eyeH, int32_t& w, int32_t& h) {
    w = output == StereoLayout::kSideBySide ? 2 * eyeW : eyeW;
    h = output == StereoLayout::kTopBottom ? 2 * eyeH : eyeH;
}

bool JoinEyes(const FrameBuffer& left, const FrameBuffer& right, StereoLayout output, FrameBuffer& joined) {
    if (output == StereoLayout::kMono || left.Empty() || left.Width() != right.Width() ||
        left.Height() != right.Height()) {
        return false;
    }
    const int eyeW = left.Width(), eyeH = left.Height();
    int32_t w = 0, h = 0;
    JoinedSize(output, eyeW, eyeH, w, h);
    if (joined.Width() != w || joined.Height() != h) joined.Allocate(w, h);
    const size_t rowBytes = static_cast<size_t>(eyeW) * 4;
    for (int r = 0; r < eyeH; ++r) {
        if (output == StereoLayout::kSideBySide) {
            std::memcpy(joined.Row(r), left.Row(r), rowBytes);
            std::memcpy(joined.Row(r) + rowBytes, right.Row(r), rowBytes);
        } else {
            // Rows are stored bottom-up: the top half (left eye) comes last.
            std::memcpy(joined.Row(r + eyeH), left.Row(r), rowBytes);
            std::memcpy(joined.Row(r), right.Row(r), rowBytes);
        }
    }
    return true;
}

}  // namespace tessaly
