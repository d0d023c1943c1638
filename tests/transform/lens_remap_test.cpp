// The remap through lens models, field of view and levelling angles: the
// default lens keeps its table bit for bit, each model places rays where its
// formula says, the angles turn the view the expected way, directions outside
// the lens stay black through sharpen and later frames, and a lens change
// reaches the next preview pass.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numbers>
#include <string>
#include <vector>

#include "tests/transform/test_frames.h"
#include "transform/frame_pipeline.h"
#include "transform/lens.h"
#include "transform/lens_circle.h"
#include "transform/lens_projection.h"
#include "transform/row_pool.h"

namespace tessaly {
namespace {

using testing::MakePattern;

constexpr double kPi = std::numbers::pi;

CutGeometry Geometry(int w, int h, const CutRect& cut) {
    GeometryResult r = BuildCutGeometry(w, h, cut);
    EXPECT_TRUE(r.Ok());
    ComputeProjection(r.geometry);
    return r.geometry;
}

LensSettings Lens(LensModel model, double fov, double yaw = 0, double pitch = 0, double roll = 0) {
    return LensSettings{model, fov, yaw, pitch, roll};
}

TEST(LensRemap, TheDefaultLensBuildsTodaysTableBitForBit) {
    const CutGeometry g = Geometry(1280, 720, kDefaultCut);
    RowPool pool(2);
    RemapTable plain, withLens;
    ASSERT_TRUE(plain.Build(g, &pool));
    ASSERT_TRUE(withLens.Build(g, LensSettings{}, &pool));
    ASSERT_EQ(plain.PairCount(), static_cast<size_t>(g.OutputPixels()));
    EXPECT_EQ(std::memcmp(plain.Pairs(), withLens.Pairs(), plain.Bytes()), 0);
    // The lens arithmetic itself, given the default lens, lands within a
    // thousandth of a pixel of the default path everywhere.
    const LensProjection same = MakeLensProjection(g, LensSettings{});
    double worst = 0.0;
    for (int y = 0; y < g.outH; y += 5) {
        for (int x = 0; x < g.outW; x += 3) {
            const SourcePair a = SourceOffset(g, x, y);
            const SourcePair b = LensSourceOffset(g, same, x, y);
            worst = std::max({worst, std::fabs(double(a.u) - b.u), std::fabs(double(a.v) - b.v)});
        }
    }
    EXPECT_LT(worst, 1e-3);
}

// Along the output's middle row a ray lon off the axis lands on the
// horizontal through the centre, at R * LensRadiusFraction(lens, |lon|).
TEST(LensRemap, EachModelPlacesRaysAtItsRadius) {
    const CutGeometry g = Geometry(1920, 1080, CutRect{100, -20, 500, 620});
    const double radius = LensCircleOf(g).r;
    const int y = g.outH / 2;  // just above the middle: its latitude is a half pixel off
    for (const LensSettings& lens :
         {Lens(LensModel::kEquidistant, 200), Lens(LensModel::kEquisolid, 180), Lens(LensModel::kEquisolid, 230),
          Lens(LensModel::kStereographic, 190), Lens(LensModel::kOrthographic, 180),
          Lens(LensModel::kOrthographic, 150)}) {
        const LensProjection p = MakeLensProjection(g, lens);
        for (int x = 0; x < g.outW; x += 7) {
            float sinLon, cosLon, sinLat, cosLat;
            LongitudeTerms(g, x, sinLon, cosLon);
            LatitudeTerms(g, y, sinLat, cosLat);
            const double a = double(sinLon) * sinLat, b = cosLat, c = double(cosLon) * sinLat;
            const double theta = std::acos(c / std::sqrt(a * a + b * b + c * c));
            const SourcePair sp = LensSourceOffset(g, p, x, y);
            if (theta > 0.5 * lens.fov * kPi / 180.0) {
                EXPECT_TRUE(IsUncovered(sp.u) && IsUncovered(sp.v)) << LensModelName(lens.model) << " x " << x;
                continue;
            }
            const double want = radius * LensRadiusFraction(lens, theta);
            EXPECT_NEAR(std::hypot(sp.u, sp.v), want, 2e-3 * radius) << LensModelName(lens.model) << " x " << x;
            EXPECT_EQ(sp.u > 0, a > 0) << x;  // the right half stays right
        }
    }
}

// Which way each angle turns the view: with yaw the lens axis appears left
// of the output's centre (the view turned right), with pitch below it (the
// view tilted up), with roll the output's right samples below the lens axis.
TEST(LensRemap, AnglesTurnTheViewTheWayTheirNamesSay) {
    const CutGeometry g = Geometry(1000, 1000, CutRect{0, 0, 600, 600});
    const double perPixel = double(g.projK) * 180.0 / kPi;  // degrees per output pixel
    const int cx = g.outW / 2, cy = g.outH / 2;
    auto at = [&](const LensSettings& lens, int x, int y) { return LensSourceOffset(g, MakeLensProjection(g, lens), x, y); };
    // yaw 30: the output column 30 degrees left of the middle looks along the axis.
    const int left = cx - static_cast<int>(std::lround(30.0 / perPixel));
    SourcePair sp = at(Lens(LensModel::kEquidistant, 180, 30), left, cy);
    EXPECT_LT(std::max(std::fabs(sp.u), std::fabs(sp.v)), 1.5);
    // pitch 20: the row 20 degrees below the middle does (rows count from the bottom).
    const int below = cy - static_cast<int>(std::lround(20.0 / perPixel));
    sp = at(Lens(LensModel::kEquidistant, 180, 0, 20), cx, below);
    EXPECT_LT(std::max(std::fabs(sp.u), std::fabs(sp.v)), 1.5);
    // roll 90: a point right of the middle samples straight below the axis.
    sp = at(Lens(LensModel::kEquidistant, 180, 0, 0, 90), cx + 100, cy);
    EXPECT_LT(std::fabs(sp.u), 1.0);
    EXPECT_LT(sp.v, -50.0);
    sp = at(Lens(LensModel::kEquidistant, 180, 0, 0, -90), cx + 100, cy);
    EXPECT_GT(sp.v, 50.0);
}

// A 120-degree lens covers the middle of the output only: the rest is black
// in all four bytes, with sharpen on, frame after frame, on every kernel; the
// covered part is written. ReadColumns ignores the uncovered pixels.
TEST(LensRemap, DirectionsOutsideTheLensStayBlack) {
    const int w = 320, h = 240;
    TransformSettings s;
    s.cut = CutRect{-8, -8, 616, 606};
    s.sharpenOn = 1, s.sharpen = 3;
    s.lens = Lens(LensModel::kEquisolid, 120, 10, -5, 15);
    std::vector<uint8_t> reference;
    for (ResampleKernel k : {ResampleKernel::kScalar, ResampleKernel::kSse2, ResampleKernel::kAvx2, ResampleKernel::kAvx512}) {
        if (!KernelSupported(k)) continue;
        FramePipeline p(2);
        p.SetKernel(k);
        ASSERT_EQ(p.Allocate(w, h), TransformStatus::kOk);
        ASSERT_TRUE(p.BuildGeometry(s.cut, s.lens).Ok());
        const float* uv = p.Table().Pairs();
        size_t uncovered = 0;
        for (uint32_t seed : {1u, 2u, 3u}) {
            std::vector<uint8_t> frame = MakePattern(w, h, seed);
            for (size_t i = 3; i < frame.size(); i += 4) frame[i] = 0xFF;  // a fourth byte too
            ASSERT_EQ(p.ConvertFrame(frame.data(), frame.size(), s, {}, {}), TransformStatus::kOk);
            uncovered = 0;
            size_t litCovered = 0;
            for (size_t k2 = 0; k2 < p.Table().PairCount(); ++k2) {
                uint32_t px;
                std::memcpy(&px, p.OutputPixels() + 4 * k2, 4);
                if (IsUncovered(uv[2 * k2])) {
                    ++uncovered;
                    ASSERT_EQ(px, 0u) << "pixel " << k2 << " frame " << seed << " kernel " << KernelName(k);
                } else if ((px & 0xFFFFFF) != 0) {
                    ++litCovered;
                }
            }
            EXPECT_GT(uncovered, p.Table().PairCount() / 4);
            EXPECT_GT(litCovered, (p.Table().PairCount() - uncovered) * 9 / 10);
        }
        const std::vector<uint8_t> out(p.OutputPixels(), p.OutputPixels() + p.Output().PictureBytes());
        if (reference.empty()) reference = out;
        EXPECT_EQ(out, reference) << KernelName(k);
        // The crop columns read are those of the covered pixels' taps alone.
        const CutGeometry& g = p.Geometry();
        const float cxS = 0.5f * g.cropW - 0.5f;
        int low = g.cropW, high = -1;
        for (size_t k2 = 0; k2 < p.Table().PairCount(); ++k2) {
            if (IsUncovered(uv[2 * k2])) continue;
            const int rx = static_cast<int>(std::nearbyint(cxS + uv[2 * k2]));
            low = std::min(low, rx - 1);
            high = std::max(high, rx + 2);
        }
        EXPECT_EQ(p.Columns().first, low);
        EXPECT_EQ(p.Columns().first + p.Columns().count - 1, high);
    }
}

TEST(LensRemap, ALensChangeReachesTheNextPreviewPassAndTheConversion) {
    FramePipeline p(1);
    const std::vector<uint8_t> frame = MakePattern(300, 300, 5);
    PreviewCallbacks cb;
    cb.getCurrentBuffer = [&](uint8_t* dst, size_t bytes) { return std::memcpy(dst, frame.data(), bytes) != nullptr; };
    ASSERT_EQ(p.Allocate(300, 300), TransformStatus::kOk);
    TransformSettings s;
    s.cut = CutRect{0, 0, 600, 500};
    s.sharpenOn = 0;
    EXPECT_TRUE(p.PreviewPass(s, {}, cb).geometryBuilt);
    const std::vector<uint8_t> plain(p.OutputPixels(), p.OutputPixels() + p.Output().PictureBytes());
    EXPECT_FALSE(p.PreviewPass(s, {}, cb).geometryBuilt);
    EXPECT_EQ(p.CacheFilled(), 1);
    // Every setting of the lens is part of the key; the same cut is kept.
    for (const LensSettings& lens : {Lens(LensModel::kStereographic, 180), Lens(LensModel::kStereographic, 210),
                                    Lens(LensModel::kStereographic, 210, 5), Lens(LensModel::kStereographic, 210, 5, 1),
                                    Lens(LensModel::kStereographic, 210, 5, 1, -2), LensSettings{}}) {
        s.lens = lens;
        EXPECT_TRUE(p.PreviewPass(s, {}, cb).geometryBuilt);
        EXPECT_EQ(p.BuiltKey().lens, lens);
        EXPECT_EQ(p.CacheFilled(), 1);
        EXPECT_TRUE(p.Table().Holds(p.Geometry(), lens));
        EXPECT_FALSE(p.PreviewPass(s, {}, cb).geometryBuilt);
    }
    // Back at the default lens the preview gives the bytes it gave before.
    EXPECT_EQ(std::vector<uint8_t>(p.OutputPixels(), p.OutputPixels() + p.Output().PictureBytes()), plain);
    // A conversion builds the lens it is given, even on the preview's cut.
    s.lens = Lens(LensModel::kOrthographic, 170);
    ASSERT_TRUE(p.BuildGeometry(s.cut, s.lens).Ok());
    EXPECT_TRUE(p.Table().Holds(p.Geometry(), s.lens));
    EXPECT_FALSE(p.Table().Holds(p.Geometry(), LensSettings{}));
    ASSERT_EQ(p.ConvertFrame(frame.data(), frame.size(), s, {}, {}), TransformStatus::kOk);
    EXPECT_NE(std::vector<uint8_t>(p.OutputPixels(), p.OutputPixels() + p.Output().PictureBytes()), plain);
}

}  // namespace
}  // namespace tessaly
