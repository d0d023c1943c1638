#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "tests/transform/test_frames.h"
#include "transform/frame_steps.h"

namespace tessaly {
namespace {

// An input frame with no black pixel, so black in the crop means "outside".
FrameBuffer PatternFrame(int w, int h) {
    FrameBuffer f;
    f.Allocate(w, h);
    std::vector<uint8_t> px = testing::MakePattern(w, h, 5);
    for (uint8_t& b : px) b |= 1;
    std::memcpy(f.Data(), px.data(), px.size());
    return f;
}

uint32_t PixelAt(const FrameBuffer& f, int x, int storedRow) {
    uint32_t v;
    std::memcpy(&v, f.Row(storedRow) + 4 * x, 4);
    return v;
}

CutGeometry Crop(int left, int top, int w, int h) {
    CutGeometry g;
    g.cropLeft = left, g.cropTop = top, g.cropW = w, g.cropH = h;
    return g;
}

// Crop pixel (x, y from the crop's top) shows picture row cropTop + y - 1
// (stored row frameH - sy), column cropLeft + x, and black outside the frame.
TEST(CutCrop, OneRowShiftBlackBordersAndFlip) {
    const FrameBuffer in = PatternFrame(50, 40);
    FrameBuffer crop;
    // Inside; beyond the left and top (sy = 0 is the row above the picture),
    // right and bottom; column frameW is outside, stored row 0 (sy = frameH) inside.
    for (const CutGeometry& g : {Crop(7, 5, 20, 16), Crop(-6, -3, 20, 16), Crop(40, 30, 20, 16), Crop(-5, -5, 61, 50),
                                 Crop(50, 0, 4, 4), Crop(0, 41, 10, 3), Crop(-9, 2, 33, 12)}) {
        crop.Allocate(g.cropW, g.cropH);
        for (bool flip : {false, true, false, true}) {  // a flip after an unflipped crop in the same buffer
            CutCrop(in, g, flip, crop);
            for (int y = 0; y < g.cropH; ++y) {
                for (int x = 0; x < g.cropW; ++x) {
                    const int sx = g.cropLeft + x, sy = g.cropTop + y;
                    const bool outside = sx < 0 || sx > in.Width() - 1 || sy < 0 || sy > in.Height();
                    ASSERT_EQ(PixelAt(crop, flip ? g.cropW - 1 - x : x, g.cropH - 1 - y),
                              outside ? 0u : PixelAt(in, sx, in.Height() - sy))
                        << "crop x=" << x << " y=" << y << (flip ? " flipped" : "");
                }
            }
            // A buffer holding only some columns gets exactly those of the whole crop.
            for (int first : {0, 1, g.cropW / 2, g.cropW - 1}) {
                FrameBuffer part;
                part.Allocate(std::min(3, g.cropW - first), g.cropH);
                CutCrop(in.Data(), in.Width(), in.Height(), g, flip, part, first);
                for (int y = 0; y < g.cropH; ++y) {
                    ASSERT_EQ(std::memcmp(part.Row(y), crop.Row(y) + 4 * first, 4 * part.Width()), 0)
                        << "first column " << first << " row " << y << (flip ? " flipped" : "");
                }
            }
        }
    }
}

// A window read in place gives the crop of the window copied out, for
// windows inside the frame and across each of its edges.
TEST(CutCrop, ThroughAWindowAsFromItsCopy) {
    const FrameBuffer in = PatternFrame(50, 40);
    const FrameRegion kWindows[] = {{0, 0, 50, 40}, {10, 6, 24, 20}, {-7, -5, 24, 20}, {35, 28, 24, 20}, {-3, 30, 60, 16}};
    for (const FrameRegion& window : kWindows) {
        FrameBuffer copy;
        CopyWindow(in.Data(), in.Width(), in.Height(), window, copy);
        for (const CutGeometry& g : {Crop(2, 3, 14, 12), Crop(-4, -2, 30, 25), Crop(window.w - 5, window.h - 6, 9, 9)}) {
            for (const bool flip : {false, true}) {
                for (const int first : {0, 3}) {
                    FrameBuffer want, got;
                    want.Allocate(g.cropW - first, g.cropH);
                    got.Allocate(g.cropW - first, g.cropH);
                    CutCrop(copy.Data(), copy.Width(), copy.Height(), g, flip, want, first);
                    CutCrop(in.Data(), in.Width(), in.Height(), window, g, flip, got, first);
                    ASSERT_EQ(std::memcmp(got.Data(), want.Data(), want.PictureBytes()), 0)
                        << "window " << window.x << "," << window.y << " crop " << g.cropLeft << "," << g.cropTop
                        << (flip ? " flipped" : "") << " first " << first;
                }
            }
        }
    }
}

TEST(LoadInputFrame, AspectStretchLeavesTheLowestAndTwoHighestRows) {
    const int w = 40, h = 12;
    const std::vector<uint8_t> sample = testing::MakePattern(w, h, 8);
    const FrameBuffer before = PatternFrame(w, h);  // what the previous frame left
    FrameBuffer in = PatternFrame(w, h);
    Resampler r;
    EXPECT_EQ(LoadInputFrame(sample.data(), w * h, kPreviewAspectFactor, true, in, r), TransformStatus::kOk);
    for (int row = 0; row < h; ++row) {
        const bool kept = row == 0 || row >= h - 2;
        EXPECT_EQ(std::memcmp(in.Row(row), before.Row(row), 4 * w) == 0, kept) << "stored row " << row;
    }
    // Without the stretch the whole frame is the sample.
    LoadInputFrame(sample.data(), w * h, kPreviewAspectFactor, false, in, r);
    EXPECT_EQ(std::memcmp(in.Data(), sample.data(), sample.size()), 0);
}

}  // namespace
}  // namespace tessaly
