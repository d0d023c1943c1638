#include "ui/stereo_eyes.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "convert/right_eye_feed.h"
#include "convert/stereo_cuts.h"
#include "convert/stereo_pair.h"
#include "ui/lens_rim.h"

namespace tessaly {

StereoSettings StereoChoiceOf(const AppSettings& s) {
    StereoSettings choice;
    choice.input = static_cast<StereoLayout>(s.STEREO);
    choice.output = static_cast<StereoLayout>(s.STEREO_OUT);
    choice.swapEyes = s.SWAP_EYES != 0;
    choice.alignEyes = s.ALIGN_EYES != 0;
    choice.angles = s.eyeAngles;
    return choice;
}

FoundEyes FindEyes(const std::string& path, const AppSettings& s, const std::atomic<bool>* stop) {
    FoundEyes found;
    found.eyes.settings = StereoChoiceOf(s);
    found.ok = ChooseStereoCuts(path, found.eyes, stop, found.said, found.problem);
    if (found.ok && found.eyes.settings.alignEyes && !(stop != nullptr && stop->load())) {
        found.ok = AlignStereoEyes(path, s.lens, found.eyes, found.said, found.problem);
    }
    return found;
}

namespace {

// The right movie's frame n + offset, which goes with the left's first.
std::string ReadRightFrame(const std::string& right, int32_t offset, FrameBuffer& frame) {
    RightEyeFeed feed;
    const std::string problem = feed.Open(right, offset);
    if (!problem.empty()) return "the right movie " + right + ": " + problem;
    const MediaInfo info = feed.Info();
    const double rate = info.timePerFrame.count() > 0 ? 1e7 / static_cast<double>(info.timePerFrame.count()) : 0;
    const uint8_t* data = rate > 0 ? feed.FrameFor(0, rate) : nullptr;
    if (data == nullptr) return "the right movie " + right + " ends before its frame " + std::to_string(offset);
    frame.Allocate(info.frameWidth, info.frameHeight);
    std::memcpy(frame.Data(), data, frame.PictureBytes());
    return {};
}

}  // namespace

FoundPair FindPair(const std::string& left, const std::string& right, const AppSettings& s,
                   const std::atomic<bool>* stop) {
    FoundPair found;
    found.eyes.settings = StereoChoiceOf(s);
    found.eyes.settings.input = StereoLayout::kPair;
    const Status resolved = ResolveStereoPair(left, right, std::nullopt, found.eyes, found.said, stop);
    found.problem = resolved.reason();
    // Aligned as tessaly-convert aligns a pair: the same job either way.
    if (resolved.ok() && found.eyes.settings.alignEyes && !(stop != nullptr && stop->load())) {
        AlignPairEyes(left, s.lens, found.eyes, found.said, found.problem);
    }
    auto frame = std::make_shared<FrameBuffer>();
    if (found.problem.empty()) found.problem = ReadRightFrame(right, found.eyes.rightOffset, *frame);
    found.rightFrame = std::move(frame);
    found.ok = found.problem.empty();
    return found;
}

std::array<LensCircle, 2> EyeRims(const StereoSettings& eyes, const LensSettings& shared) {
    std::array<LensCircle, 2> rims{};
    for (int eye = 0; eye < 2; ++eye) {
        const FrameRegion& w = eyes.windows[eye];
        const LensRims rim = LensRimsOf(w.w, w.h, eyes.cuts[eye], EyeLens(shared, eyes.angles[eye]));
        if (!rim.valid) continue;
        rims[eye] = LensCircle{rim.lens.cx + w.x, rim.lens.cy + w.y, rim.lens.r};
    }
    return rims;
}

void JoinEyesForPreview(const FrameBuffer& left, const FrameBuffer& right, bool anaglyph, FrameBuffer& out) {
    const int w = left.Width(), h = left.Height();
    if (left.Empty() || right.Width() != w || right.Height() != h) {
        out.Release();
        return;
    }
    const int outW = anaglyph ? w : 2 * w;
    if (out.Width() != outW || out.Height() != h) out.Allocate(outW, h);
    for (int r = 0; r < h; ++r) {
        const uint8_t* l = left.Row(r);
        const uint8_t* g = right.Row(r);
        uint8_t* o = out.Row(r);
        if (!anaglyph) {
            std::memcpy(o, l, static_cast<size_t>(left.Stride()));
            std::memcpy(o + left.Stride(), g, static_cast<size_t>(right.Stride()));
            continue;
        }
        // BGRX: blue and green from the right eye, red from the left.
        for (int x = 0; x < w; ++x) {
            o[4 * x] = g[4 * x];
            o[4 * x + 1] = g[4 * x + 1];
            o[4 * x + 2] = l[4 * x + 2];
            o[4 * x + 3] = 0;
        }
    }
}

bool StereoPreview::Convert(const FrameBuffer& frame, int frameW, int frameH, const StereoSettings& eyes,
                            const LensSettings& shared, bool anaglyph, const FrameBuffer* right) {
    if (frame.Width() != frameW || frame.Height() != frameH) return false;
    TransformSettings settings;
    settings.sharpenOn = 0;
    for (int eye = 0; eye < 2; ++eye) {
        const EyeKey key{eyes.windows[eye], eyes.cuts[eye], EyeLens(shared, eyes.angles[eye])};
        FramePipeline& pipeline = eyes_[eye];
        if (!(key == built_[eye]) || !pipeline.HasGeometry()) {
            built_[eye] = EyeKey{};
            if (pipeline.Allocate(key.window.w, key.window.h) != TransformStatus::kOk) return false;
            if (!pipeline.BuildGeometry(key.cut, key.lens).Ok()) return false;
            built_[eye] = key;
        }
        settings.cut = key.cut;
        settings.lens = key.lens;
        const bool own = eye == kRightEye && right != nullptr;
        const FrameBuffer& source = own ? *right : frame;
        if (own && (right->Width() != key.window.w || right->Height() != key.window.h)) return false;
        if (pipeline.ConvertWindow(source.Data(), source.Width(), source.Height(), key.window, settings, {}, {}) !=
            TransformStatus::kOk) {
            return false;
        }
    }
    JoinEyesForPreview(eyes_[kLeftEye].Output(), eyes_[kRightEye].Output(), anaglyph, shown_);
    return !shown_.Empty();
}

}  // namespace tessaly
