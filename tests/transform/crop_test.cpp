#include <gtest/gtest.h>

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

// Crop pixel (x, y from the crop's top) as the rule gives it: picture row
// cropTop + y - 1 (stored row frameH - sy), column cropLeft + x, black outside.
uint32_t Expected(const FrameBuffer& in, const CutGeometry& g, int x, int y) {
    const int sx = g.cropLeft + x;
    const int sy = g.cropTop + y;
    if (sx < 0 || sx > in.Width() - 1 || sy < 0 || sy > in.Height()) return 0;
    return PixelAt(in, sx, in.Height() - sy);  // sy = 0 reads the zero row
}

void CheckCrop(const FrameBuffer& in, const CutGeometry& g, const FrameBuffer& crop, bool flip) {
    for (int y = 0; y < g.cropH; ++y) {
        for (int x = 0; x < g.cropW; ++x) {
            const int col = flip ? g.cropW - 1 - x : x;
            ASSERT_EQ(PixelAt(crop, col, g.cropH - 1 - y), Expected(in, g, x, y))
                << "crop x=" << x << " y=" << y << (flip ? " flipped" : "");
        }
    }
}

CutGeometry Crop(int left, int top, int w, int h) {
    CutGeometry g;
    g.cropLeft = left;
    g.cropTop = top;
    g.cropW = w;
    g.cropH = h;
    return g;
}

TEST(CutCrop, InsideTheFrameCopiesWithTheOneRowShift) {
    const FrameBuffer in = PatternFrame(50, 40);
    const CutGeometry g = Crop(7, 5, 20, 16);
    FrameBuffer crop;
    crop.Allocate(g.cropW, g.cropH);
    CutCrop(in, g, false, crop);
    // Crop row 0 (top) shows picture row 4 = stored row 35, column 7 on.
    EXPECT_EQ(std::memcmp(crop.Row(15), in.Row(35) + 4 * 7, 4 * 20), 0);
    EXPECT_EQ(std::memcmp(crop.Row(0), in.Row(20) + 4 * 7, 4 * 20), 0);
    CheckCrop(in, g, crop, false);
}

TEST(CutCrop, BeyondEveryEdgeIsBlack) {
    const FrameBuffer in = PatternFrame(50, 40);
    FrameBuffer crop;
    // Left and top (sy = 0 is the row above the picture), right and bottom.
    for (const CutGeometry& g : {Crop(-6, -3, 20, 16), Crop(40, 30, 20, 16), Crop(-5, -5, 61, 50),
                                 Crop(50, 0, 4, 4), Crop(0, 41, 10, 3)}) {
        crop.Allocate(g.cropW, g.cropH);
        CutCrop(in, g, false, crop);
        CheckCrop(in, g, crop, false);
        CutCrop(in, g, true, crop);
        CheckCrop(in, g, crop, true);
    }
    // Column frameW is outside; stored row 0 (sy = frameH) is inside.
    const CutGeometry edge = Crop(49, 39, 2, 2);
    crop.Allocate(2, 2);
    CutCrop(in, edge, false, crop);
    EXPECT_NE(PixelAt(crop, 0, 0), 0u);  // (49, sy 40) = stored row 0
    EXPECT_EQ(PixelAt(crop, 1, 0), 0u);  // column 50
    EXPECT_EQ(PixelAt(crop, 0, 1) , PixelAt(in, 49, 1));
}

TEST(CutCrop, FlipGivesTheMirrorImageEvenAfterAnUnflippedFrame) {
    const FrameBuffer in = PatternFrame(50, 40);
    const CutGeometry g = Crop(-9, 2, 33, 12);  // reaches beyond the left edge
    FrameBuffer plain, flipped;
    plain.Allocate(g.cropW, g.cropH);
    flipped.Allocate(g.cropW, g.cropH);
    CutCrop(in, g, false, plain);
    CutCrop(in, g, false, flipped);  // the same buffer held an unflipped crop before
    CutCrop(in, g, true, flipped);
    for (int r = 0; r < g.cropH; ++r) {
        for (int x = 0; x < g.cropW; ++x) {
            ASSERT_EQ(PixelAt(flipped, x, r), PixelAt(plain, g.cropW - 1 - x, r)) << x << "," << r;
        }
    }
}

TEST(LoadInputFrame, AspectStretchLeavesTheLowestAndTwoHighestRows) {
    const int w = 40, h = 12;
    const std::vector<uint8_t> sample = testing::MakePattern(w, h, 8);
    FrameBuffer before = PatternFrame(w, h);  // what the previous frame left
    FrameBuffer in = PatternFrame(w, h);
    Resampler r;
    RemapState remap;
    LoadInputFrame(sample.data(), w * h, kPreviewAspectFactor, true, in, r, remap, CutGeometry{});
    for (int row = 0; row < h; ++row) {
        const bool kept = row == 0 || row >= h - 2;
        const bool same = std::memcmp(in.Row(row), before.Row(row), 4 * w) == 0;
        EXPECT_EQ(same, kept) << "stored row " << row;
    }
    // Without the stretch the whole frame is the sample.
    LoadInputFrame(sample.data(), w * h, kPreviewAspectFactor, false, in, r, remap, CutGeometry{});
    EXPECT_EQ(std::memcmp(in.Data(), sample.data(), sample.size()), 0);
}

}  // namespace
}  // namespace tessaly
