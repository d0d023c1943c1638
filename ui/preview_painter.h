// The live previews: the input frame letterboxed into 600 x 600 with the cut
// overlay, and the output frame stretched to 500 x 480. Drawing happens
// off-screen on the calling thread (the stream or frame thread); the finished
// pictures go to the GUI thread, which shows each in one step.
#pragma once

#include <QImage>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "app/app_state.h"
#include "transform/frame_buffer.h"
#include "transform/lens.h"
#include "transform/lens_circle.h"

namespace tessaly {

inline constexpr int kInputPreviewSize = 600;
inline constexpr int kOutputPreviewWidth = 500;
inline constexpr int kOutputPreviewHeight = 480;

// The lens rim over the input picture and the levelling lines over the
// output picture: colours none of the cut overlays uses.
inline constexpr QRgb kLensRimColour = 0xff00ffff;   // cyan
inline constexpr QRgb kHorizonColour = 0xffffc800;   // amber

// The 40-byte bitmap header the frames are painted with: the frame's size,
// one plane, 32 bits, uncompressed.
struct PreviewHeader {
    int32_t size = 40;
    int32_t width = 400;
    int32_t height = 300;
    int16_t planes = 1;
    int16_t bitCount = 32;
    int32_t compression = 0;
};
PreviewHeader MakePreviewHeader(int32_t frameWidth, int32_t frameHeight);

// Letterbox of a frame in the 600-pixel panel: picture height and top offset.
struct Letterbox {
    int height = 600;
    int top = 0;
};
Letterbox LetterboxFor(int frameWidth, int frameHeight);

struct InputOverlay {
    int32_t XL1 = -8, YL1 = -8, XL2 = 616, YL2 = 606;
    bool hasFileInfo = false;  // fileInfoText is not empty
    std::string videoNameLine, videoStreamLine, secondStreamLine;
    // What the lens circle search found in this movie (empty: nothing yet).
    std::string circleLine;
    // Places the lens rim drawn with the cut (see ui/lens_rim.h).
    LensSettings lens;
    // Two eyes in one frame: each eye's rim (source pixels) is drawn and
    // named instead of the cut's rim and frame.
    bool stereo = false;
    std::array<LensCircle, 2> eyeRims{};
};

// Draws `frame` (bottom-up BGRX, header.width x header.height) with the bars,
// the lens rim, the probe lines, the cut frame, the circles and the centre
// cross.
void RenderInputPreview(QImage& target, const FrameBuffer& frame, const PreviewHeader& header,
                        const InputOverlay& overlay);
// Stretches the output frame onto 500 x 480; while converting with the three
// progress lines. `horizon`: the equator (the output's middle row) and the
// centre column over the picture, for levelling.
void RenderOutputPreview(QImage& target, const FrameBuffer& output, bool converting,
                         const ProgressTexts& progress, bool horizon = false);

// PaintPreviews: draws on every second call only.
class PreviewPainter {
public:
    struct Sinks {
        std::function<void(const QImage&)> showInput;
        std::function<void(const QImage&)> showOutput;
    };
    void SetSinks(Sinks sinks) { sinks_ = std::move(sinks); }

    // True when this call drew. `showInput` / `showOutput` are the switches.
    bool Paint(const FrameBuffer& input, const PreviewHeader& header, const InputOverlay& overlay,
               const FrameBuffer& output, bool showInput, bool showOutput, bool converting,
               const ProgressTexts& progress);
    int64_t Drawn() const { return drawn_.load(); }
    // The levelling lines over the output picture (set by the GUI thread,
    // read by the painting thread).
    void ShowHorizon(bool on) { horizon_ = on ? 1 : 0; }
    bool HorizonShown() const { return horizon_.load() != 0; }

private:
    Sinks sinks_;
    std::atomic<int32_t> horizon_{0};
    std::atomic<int32_t> toggle_{0};
    std::atomic<int64_t> drawn_{0};
    QImage input_;
    QImage output_;
};

}  // namespace tessaly
