#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "transform/cut_geometry.h"
#include "transform/lens.h"
#include "transform/lens_circle.h"

namespace tessaly {
namespace {

TEST(LensCircle, OfTheStartCutOnA1920x1080Frame) {
    const GeometryResult r = BuildCutGeometry(1920, 1080, kDefaultCut);
    ASSERT_TRUE(r.Ok());
    const LensCircle c = LensCircleOf(r.geometry);
    // Crop (-26, -18) 1997 x 1105: its centre column 998 is frame column 972;
    // crop row 552 from the top shows picture row -18 + 552 - 1.
    EXPECT_DOUBLE_EQ(c.cx, 972.0);
    EXPECT_DOUBLE_EQ(c.cy, 533.0);
    EXPECT_NEAR(c.r, 502.27, 0.01);
    // The default lens samples its 180-degree edge on the lens circle itself.
    EXPECT_NEAR(HemisphereCircleOf(r.geometry, LensSettings{}).r, c.r, 1e-9);
}

TEST(LensCircle, HemisphereCircleLiesInsideWiderLenses) {
    const GeometryResult r = BuildCutGeometry(1280, 720, CutRect{0, -23, 600, 637});
    ASSERT_TRUE(r.Ok());
    const double rim = LensCircleOf(r.geometry).r;
    LensSettings lens;
    lens.fov = 220.0;
    EXPECT_NEAR(HemisphereCircleOf(r.geometry, lens).r, rim * 180.0 / 220.0, 1e-9);  // equidistant
    lens.model = LensModel::kEquisolid;
    EXPECT_NEAR(HemisphereCircleOf(r.geometry, lens).r,
                rim * std::sin(std::numbers::pi / 4) / std::sin(220.0 / 4 * std::numbers::pi / 180), 1e-9);
}

// Round trips: whatever circle is asked for, the cut found gives a circle
// within what the 600-unit grid can resolve, and reports what is left.
TEST(CutForCircle, RoundTripsWithinTheGridOnManyFrames) {
    const struct { int w, h; double cx, cy, r; } cases[] = {
        {640, 480, 320.0, 240.0, 238.0},     {1280, 720, 639.5, 359.5, 360.0},
        {1280, 720, 600.25, 380.0, 400.0},  {1920, 1080, 959.5, 539.5, 620.0},
        {1920, 1080, 900.0, 560.0, 500.0},  {3840, 2160, 1919.5, 1079.5, 1080.0},
        {3840, 2160, 2000.0, 1000.0, 1300.0}, {2880, 2880, 1439.5, 1439.5, 1440.0},
        {720, 1280, 359.5, 639.5, 350.0}};
    for (const auto& c : cases) {
        const CutForCircleResult fit = CutForCircle(c.w, c.h, LensCircle{c.cx, c.cy, c.r});
        ASSERT_TRUE(fit.ok) << c.w << "x" << c.h;
        const GeometryResult g = BuildCutGeometry(c.w, c.h, fit.cut);
        ASSERT_TRUE(g.Ok());
        const LensCircle got = LensCircleOf(g.geometry);
        EXPECT_EQ(got, fit.achieved);
        EXPECT_DOUBLE_EQ(fit.errorX, got.cx - c.cx);
        EXPECT_DOUBLE_EQ(fit.errorY, got.cy - c.cy);
        EXPECT_DOUBLE_EQ(fit.errorR, got.r - c.r);
        const double fx = c.w / 600.0;
        const double fy = c.h / 600.0;
        EXPECT_LE(std::fabs(fit.errorX), 0.5 * fx + 0.5) << c.w << "x" << c.h;
        EXPECT_LE(std::fabs(fit.errorY), 1.28 * fy) << c.w << "x" << c.h;
        EXPECT_LE(std::fabs(fit.errorR), 0.46 * fy + 0.3) << c.w << "x" << c.h;
        // The crop holds every column of the circle.
        EXPECT_LE(g.geometry.cropLeft, c.cx - c.r);
        EXPECT_GE(g.geometry.cropLeft + g.geometry.cropW - 1, c.cx + c.r);
    }
    // The demo clip's circle (as tall as a 1280 x 720 frame, centred) has the
    // cut computed for it by hand.
    const CutForCircleResult demo = CutForCircle(1280, 720, LensCircle{639.5, 359.5, 360.0});
    EXPECT_EQ(demo.cut.YL1, -23);
    EXPECT_EQ(demo.cut.YL2, 637);
    EXPECT_NEAR(demo.achieved.cx, 639.5, 0.6);
    EXPECT_NEAR(demo.errorY, 0.0, 0.05);
    EXPECT_NEAR(demo.errorR, 0.0, 0.05);
}

// Where the grid cannot place both the centre's row and the radius (1080
// rows), the cut's rim stays on the lens's picture: a rim outside the circle
// would bring the black surround into the panorama's edge.
TEST(CutForCircle, KeepsTheRimOnThePictureWhereTheGridFallsBetween) {
    const LensCircle circles[] = {{1359.5, 609.5, 360.0}, {390.5, 520.5, 361.0}, {960.5, 364.5, 361.0}};
    for (const LensCircle& c : circles) {
        const CutForCircleResult fit = CutForCircle(1920, 1080, c);
        ASSERT_TRUE(fit.ok);
        // The farthest the cut's rim reaches beyond the wanted circle.
        EXPECT_LE(std::hypot(fit.errorX, fit.errorY) + fit.errorR, 0.1) << c.cx << "," << c.cy << " r " << c.r;
        EXPECT_LE(std::hypot(fit.errorX, fit.errorY), 1.0) << c.cx << "," << c.cy << " r " << c.r;
    }
}

TEST(CutForCircle, RefusesCirclesWithoutACut) {
    for (const LensCircle& c : {LensCircle{640, 360, 0.0}, LensCircle{640, 360, -5.0}, LensCircle{NAN, 360, 100.0},
                                LensCircle{640, 360, 1e12}})
        EXPECT_FALSE(CutForCircle(1280, 720, c).ok) << c.cx << " " << c.r;
    EXPECT_FALSE(CutForCircle(0, 720, LensCircle{640, 360, 100.0}).ok);
}

TEST(Lens, NamesModelsAndRefusesImpossibleSettings) {
    for (const LensModel m : {LensModel::kEquidistant, LensModel::kEquisolid, LensModel::kStereographic,
                              LensModel::kOrthographic}) {
        EXPECT_EQ(LensModelFromName(LensModelName(m)), m);
        EXPECT_EQ(LensModelFromNumber(static_cast<int64_t>(m)), m);
        EXPECT_NEAR(LensRadiusFraction(LensSettings{m, 180.0, 0, 0, 0}, std::numbers::pi / 2), 1.0, 1e-12);
    }
    EXPECT_FALSE(LensModelFromName("fisheye"));
    EXPECT_FALSE(LensModelFromNumber(4));
    EXPECT_TRUE(LensProblem(LensSettings{}).empty());
    EXPECT_TRUE(LensSettings{}.IsDefault());
    EXPECT_NE(LensProblem(LensSettings{LensModel::kOrthographic, 190.0, 0, 0, 0}).find("orthographic"),
              std::string::npos);
    EXPECT_NE(LensProblem(LensSettings{LensModel::kEquidistant, 300.0, 0, 0, 0}).find("300"), std::string::npos);
    EXPECT_NE(LensProblem(LensSettings{LensModel::kEquidistant, 180.0, 0, 200.0, 0}).find("pitch"),
              std::string::npos);
    EXPECT_FALSE(LensProblem(LensSettings{LensModel::kEquidistant, NAN, 0, 0, 0}).empty());
}

}  // namespace
}  // namespace tessaly
