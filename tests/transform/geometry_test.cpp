#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "transform/cut_geometry.h"

namespace tessaly {
namespace {

constexpr double kPi = 3.14159265358979323846;

CutGeometry WorkedExample() {
    GeometryResult r = BuildCutGeometry(1920, 1080, CutRect{-8, -8, 616, 606});
    EXPECT_TRUE(r.Ok());
    ComputeProjection(r.geometry);
    return r.geometry;
}

// Source point of an output pixel in crop coordinates (y from the bottom).
void SourcePoint(const CutGeometry& g, int x, int y, double& sx, double& sy) {
    const SourcePair p = SourceOffset(g, x, y);
    sx = 0.5 * g.cropW - 0.5 + p.u;
    sy = 0.5 * g.cropH - 0.5 + p.v;
}

TEST(CutGeometry, WorkedExampleOnA1920x1080Frame) {
    const CutGeometry g = WorkedExample();
    EXPECT_FLOAT_EQ(g.fx, 3.2f);
    EXPECT_FLOAT_EQ(g.fy, 1.8f);
    EXPECT_EQ(g.cropLeft, -26);  // from -25.6
    EXPECT_EQ(g.cropTop, -18);   // from -18.432: the 1.28 applies to the top only
    EXPECT_EQ(g.cropW, 1997);    // from 1996.8
    EXPECT_EQ(g.cropH, 1105);    // from 1105.2
    EXPECT_EQ(g.outW, 1104);
    EXPECT_EQ(g.outH, 1104);
    EXPECT_NEAR(g.projD, 351.7303, 5e-5);
    EXPECT_NEAR(g.projK, 0.0028431, 5e-8);
    EXPECT_NEAR(g.projS, 319.7545, 5e-5);
    EXPECT_NEAR(g.projS * kPi / 2, 502.3, 0.05);  // the 90-degree rim
}

TEST(CutGeometry, WorkedExampleCornerAndCentreMappings) {
    const CutGeometry g = WorkedExample();
    double sx, sy;
    // The two bottom corners both map to the lowest point of the rim.
    SourcePoint(g, 0, 0, sx, sy);
    EXPECT_NEAR(sx, 996.6, 0.05);
    EXPECT_NEAR(sy, 49.7, 0.05);
    SourcePoint(g, 1103, 0, sx, sy);
    EXPECT_NEAR(sx, 999.4, 0.05);
    EXPECT_NEAR(sy, 49.7, 0.05);
    // The top corners to its highest point.
    SourcePoint(g, 0, 1103, sx, sy);
    EXPECT_NEAR(sx, 996.6, 0.05);
    EXPECT_NEAR(sy, 1054.3, 0.05);
    SourcePoint(g, 1103, 1103, sx, sy);
    EXPECT_NEAR(sx, 999.4, 0.05);
    EXPECT_NEAR(sy, 1054.3, 0.05);
    for (int corner = 0; corner < 4; ++corner) {
        const SourcePair p = SourceOffset(g, (corner & 1) ? 1103 : 0, (corner & 2) ? 1103 : 0);
        const double radius = std::hypot(p.u, p.v);
        EXPECT_NEAR(radius, 502.27, 0.005);
        EXPECT_NEAR(radius / g.projS * 180.0 / kPi, 89.9995, 0.0003);  // angle from the axis
    }
    // The middle of the left edge is the leftmost point of the rim.
    SourcePoint(g, 0, 552, sx, sy);
    EXPECT_NEAR(sx, 496.6, 0.05);
    EXPECT_NEAR(sy, 552.7, 0.05);
    // The four pixels around the centre lie 0.4545 pixels to each side of (998, 552).
    for (int x = 551; x <= 552; ++x) {
        for (int y = 551; y <= 552; ++y) {
            SourcePoint(g, x, y, sx, sy);
            EXPECT_NEAR(sx, 998.0 + (x == 552 ? 0.4545 : -0.4545), 2e-4) << x << "," << y;
            EXPECT_NEAR(sy, 552.0 + (y == 552 ? 0.4545 : -0.4545), 2e-4) << x << "," << y;
        }
    }
}

TEST(CutGeometry, OutputIsEvenAndDependsOnCropHeightOnly) {
    // On a 600 x 600 frame one cut unit is one pixel.
    GeometryResult a = BuildCutGeometry(600, 600, CutRect{0, 0, 50, 1105});
    GeometryResult b = BuildCutGeometry(600, 600, CutRect{10, 0, 900, 1104});
    ASSERT_TRUE(a.Ok());
    ASSERT_TRUE(b.Ok());
    EXPECT_EQ(a.geometry.outW, 1104);
    EXPECT_EQ(a.geometry.outH, 1104);
    EXPECT_EQ(b.geometry.outW, 1104);
    EXPECT_EQ(a.geometry.cropW, 50);
    EXPECT_EQ(b.geometry.cropW, 890);
}

TEST(CutGeometry, RefusesEmptyOversizedAndUnrepresentableCuts) {
    const GeometryResult flat = BuildCutGeometry(600, 600, CutRect{0, 0, 100, 1});
    EXPECT_EQ(flat.status, TransformStatus::kCropEmpty);
    EXPECT_NE(flat.Message().find("100 x 1"), std::string::npos) << flat.Message();
    EXPECT_EQ(BuildCutGeometry(600, 600, CutRect{5, 0, 5, 100}).status, TransformStatus::kCropEmpty);
    EXPECT_EQ(BuildCutGeometry(600, 600, CutRect{0, 100, 100, 0}).status, TransformStatus::kCropEmpty);
    EXPECT_TRUE(BuildCutGeometry(600, 600, CutRect{0, 0, 1, 2}).Ok());

    // 6001 rows give 6000 x 6000, exactly the table's capacity; 6002 do not fit.
    EXPECT_TRUE(BuildCutGeometry(600, 600, CutRect{0, 0, 100, 6001}).Ok());
    const GeometryResult big = BuildCutGeometry(600, 600, CutRect{0, 0, 100, 6002});
    EXPECT_EQ(big.status, TransformStatus::kOutputTooLarge);
    EXPECT_NE(big.Message().find("6002 x 6002"), std::string::npos) << big.Message();

    const int32_t huge = std::numeric_limits<int32_t>::max();
    EXPECT_EQ(BuildCutGeometry(1920, 1080, CutRect{-8, -8, huge, 606}).status, TransformStatus::kCropTooLarge);
    EXPECT_EQ(BuildCutGeometry(1920, 1080, CutRect{huge, -8, huge, 606}).status, TransformStatus::kCropTooLarge);
    EXPECT_EQ(BuildCutGeometry(600, 600, CutRect{0, 0, 1000000, 5000}).status, TransformStatus::kCropTooLarge);
    EXPECT_EQ(BuildCutGeometry(0, 1080, CutRect{}).status, TransformStatus::kNoFrame);
}

TEST(CutGeometry, RowFormOfTheSourceOffsetIsBitIdentical) {
    for (const CutRect cut : {CutRect{0, 0, 200, 151}, CutRect{-8, -8, 616, 606}}) {
        GeometryResult r = BuildCutGeometry(640, 480, cut);
        ASSERT_TRUE(r.Ok());
        CutGeometry& g = r.geometry;
        ComputeProjection(g);
        std::vector<float> lon(2 * g.outW);
        std::vector<float> row(2 * g.outW);
        FillLongitudeTerms(g, lon.data());
        for (int y = 0; y < g.outH; ++y) {
            SourceOffsetRow(g, lon.data(), y, row.data());
            for (int x = 0; x < g.outW; ++x) {
                const SourcePair p = SourceOffset(g, x, y);
                ASSERT_EQ(std::memcmp(&p.u, &row[2 * x], 4), 0) << x << "," << y;
                ASSERT_EQ(std::memcmp(&p.v, &row[2 * x + 1], 4), 0) << x << "," << y;
            }
        }
    }
}

}  // namespace
}  // namespace tessaly
