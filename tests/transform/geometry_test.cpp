#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "transform/cut_geometry.h"

namespace tessaly {
namespace {

constexpr double kPi = 3.14159265358979323846;

TEST(CutGeometry, WorkedExampleOnA1920x1080Frame) {
    GeometryResult r = BuildCutGeometry(1920, 1080, CutRect{-8, -8, 616, 606});
    ASSERT_TRUE(r.Ok());
    CutGeometry& g = r.geometry;
    ComputeProjection(g);
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

    // Source points in crop coordinates (y from the bottom): the bottom corners
    // map to the lowest point of the rim, the top ones to its highest, the
    // middle of the left edge to its leftmost point.
    const struct { int x, y; double sx, sy; } points[] = {
        {0, 0, 996.6, 49.7},       {1103, 0, 999.4, 49.7}, {0, 1103, 996.6, 1054.3},
        {1103, 1103, 999.4, 1054.3}, {0, 552, 496.6, 552.7}};
    for (const auto& pt : points) {
        const SourcePair p = SourceOffset(g, pt.x, pt.y);
        EXPECT_NEAR(0.5 * g.cropW - 0.5 + p.u, pt.sx, 0.05) << pt.x << "," << pt.y;
        EXPECT_NEAR(0.5 * g.cropH - 0.5 + p.v, pt.sy, 0.05) << pt.x << "," << pt.y;
        if (pt.y != 552) {
            const double radius = std::hypot(p.u, p.v);
            EXPECT_NEAR(radius, 502.27, 0.005);
            EXPECT_NEAR(radius / g.projS * 180.0 / kPi, 89.9995, 0.0003);  // angle from the axis
        }
    }
    // The four pixels around the centre lie 0.4545 pixels to each side of (998, 552).
    for (int x = 551; x <= 552; ++x) {
        for (int y = 551; y <= 552; ++y) {
            const SourcePair p = SourceOffset(g, x, y);
            EXPECT_NEAR(0.5 * g.cropW - 0.5 + p.u, 998.0 + (x == 552 ? 0.4545 : -0.4545), 2e-4) << x << "," << y;
            EXPECT_NEAR(0.5 * g.cropH - 0.5 + p.v, 552.0 + (y == 552 ? 0.4545 : -0.4545), 2e-4) << x << "," << y;
        }
    }
}

TEST(CutGeometry, RefusesEmptyOversizedAndUnrepresentableCuts) {
    const GeometryResult flat = BuildCutGeometry(600, 600, CutRect{0, 0, 100, 1});
    EXPECT_EQ(flat.status, TransformStatus::kCropEmpty);
    EXPECT_NE(flat.Message().find("100 x 1"), std::string::npos) << flat.Message();
    EXPECT_EQ(BuildCutGeometry(600, 600, CutRect{5, 0, 5, 100}).status, TransformStatus::kCropEmpty);
    EXPECT_EQ(BuildCutGeometry(600, 600, CutRect{0, 100, 100, 0}).status, TransformStatus::kCropEmpty);
    // On a 600 x 600 frame one cut unit is one pixel; the output is even and follows the crop height only.
    const GeometryResult two = BuildCutGeometry(600, 600, CutRect{0, 0, 1, 2});
    ASSERT_TRUE(two.Ok());
    EXPECT_EQ(two.geometry.outW, 2);
    EXPECT_EQ(two.geometry.outH, 2);

    // 6001 rows give 6000 x 6000, exactly the table's capacity; 6002 do not fit.
    const GeometryResult most = BuildCutGeometry(600, 600, CutRect{10, 0, 900, 6001});
    ASSERT_TRUE(most.Ok());
    EXPECT_EQ(most.geometry.outW, 6000);
    EXPECT_EQ(most.geometry.cropW, 890);
    const GeometryResult big = BuildCutGeometry(600, 600, CutRect{0, 0, 100, 6002});
    EXPECT_EQ(big.status, TransformStatus::kOutputTooLarge);
    EXPECT_NE(big.Message().find("6002 x 6002"), std::string::npos) << big.Message();

    const int32_t huge = std::numeric_limits<int32_t>::max();
    EXPECT_EQ(BuildCutGeometry(1920, 1080, CutRect{-8, -8, huge, 606}).status, TransformStatus::kCropTooLarge);
    EXPECT_EQ(BuildCutGeometry(1920, 1080, CutRect{huge, -8, huge, 606}).status, TransformStatus::kCropTooLarge);
    EXPECT_EQ(BuildCutGeometry(600, 600, CutRect{0, 0, 1000000, 5000}).status, TransformStatus::kCropTooLarge);
    EXPECT_EQ(BuildCutGeometry(0, 1080, CutRect{}).status, TransformStatus::kNoFrame);
}

}  // namespace
}  // namespace tessaly
