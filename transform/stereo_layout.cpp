#include "transform/stereo_layout.h"

namespace tessaly {

const char* StereoLayoutName(StereoLayout layout) {
    switch (layout) {
        case StereoLayout::kSideBySide: return "sbs";
        case StereoLayout::kTopBottom: return "tb";
        case StereoLayout::kPair: return "pair";
        case StereoLayout::kMono: break;
    }
    return "mono";
}

std::optional<StereoLayout> StereoLayoutFromName(std::string_view name) {
    if (name == "sbs") return StereoLayout::kSideBySide;
    if (name == "tb") return StereoLayout::kTopBottom;
    if (name == "pair") return StereoLayout::kPair;
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

PixelRect EyePart(StereoLayout output, FrameBuffer& joined, int eye) {
    if (output == StereoLayout::kTopBottom) {
        const int eyeH = joined.Height() / 2;
        return joined.Part(0, eye == kLeftEye ? eyeH : 0, joined.Width(), eyeH);
    }
    const int eyeW = joined.Width() / 2;
    return joined.Part(eye == kLeftEye ? 0 : eyeW, 0, eyeW, joined.Height());
}

}  // namespace tessaly
