// The lens rim over the input preview and the levelling lines over the output
// preview: the mapping from source pixels into the letterboxed panel, the
// circles taken from the cut geometry, and the pixels they leave.
#include <gtest/gtest.h>

#include <QImage>

#include <cmath>
#include <numbers>

#include "tests/ui/rim_pixels.h"
#include "transform/cut_geometry.h"
#include "ui/lens_rim.h"
#include "ui/preview_painter.h"

namespace tessaly {
namespace {

constexpr double kPi = std::numbers::pi;

using testing::RimNear;
using testing::RimPointsOn;

FrameBuffer UniformFrame(int width, int height, uint8_t level) {
    FrameBuffer frame;
    frame.Allocate(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint8_t* p = frame.Row(y) + 4 * x;
            p[0] = p[1] = p[2] = level;
        }
    return frame;
}

TEST(LensRim, SourcePixelsMapIntoTheLetterboxedPanel) {
    const struct {
        int w, h;
        double top, bottom;  // where the frame's top and bottom edges land
    } frames[] = {
        {600, 600, 0, 600}, {1920, 1080, 131, 469}, {1280, 720, 131, 469},
        {640, 480, 75, 525}, {480, 640, -100, 700},  // a portrait frame overflows the panel
    };
    for (const auto& f : frames) {
        SCOPED_TRACE(std::to_string(f.w) + "x" + std::to_string(f.h));
        // The frame's outer corners (pixel centres are half a pixel in).
        const PreviewPoint topLeft = SourceToPreview(-0.5, -0.5, f.w, f.h);
        const PreviewPoint bottomRight = SourceToPreview(f.w - 0.5, f.h - 0.5, f.w, f.h);
        EXPECT_NEAR(topLeft.x, 0.0, 1e-9);
        EXPECT_NEAR(topLeft.y, f.top, 1e-9);
        EXPECT_NEAR(bottomRight.x, 600.0, 1e-9);
        EXPECT_NEAR(bottomRight.y, f.bottom, 1e-9);
        const PreviewPoint middle = SourceToPreview(0.5 * f.w - 0.5, 0.5 * f.h - 0.5, f.w, f.h);
        EXPECT_NEAR(middle.x, 300.0, 1e-9);
        EXPECT_NEAR(middle.y, 300.0, 1e-9);
    }
    EXPECT_NEAR(SourceToPreview(0, 0, 600, 600).x, 0.5, 1e-12);
    EXPECT_NEAR(SourceToPreview(1, 2, 1920, 1080).y, 131 + 2.5 * 338.0 / 1080.0, 1e-12);

    // A circle becomes an ellipse scaled by the picture's width and letterbox height.
    const PreviewEllipse e = CircleToPreview(LensCircle{959.5, 539.5, 500.0}, 1920, 1080);
    EXPECT_NEAR(e.cx, 300.0, 1e-9);
    EXPECT_NEAR(e.cy, 300.0, 1e-9);
    EXPECT_NEAR(e.rx, 500.0 * 600.0 / 1920.0, 1e-9);
    EXPECT_NEAR(e.ry, 500.0 * 338.0 / 1080.0, 1e-9);
    // No frame, no mapping.
    const PreviewEllipse none = CircleToPreview(LensCircle{1, 1, 1}, 0, 0);
    EXPECT_EQ(none.rx, 0.0);
}

// The mapping agrees with where the painter puts the picture: the centre of
// a bright block of source pixels lands where SourceToPreview says.
TEST(LensRim, MappingAgreesWithThePaintedPicture) {
    const int w = 1280, h = 720;
    FrameBuffer frame = UniformFrame(w, h, 0);
    const int left = 1000, top = 600, side = 32;  // away from every overlay
    for (int y = top; y < top + side; ++y)
        for (int x = left; x < left + side; ++x) {
            uint8_t* p = frame.Row(h - 1 - y) + 4 * x;  // rows are stored bottom-up
            p[0] = p[1] = p[2] = 255;
        }
    QImage image;
    RenderInputPreview(image, frame, MakePreviewHeader(w, h), InputOverlay{});
    const PreviewPoint expected = SourceToPreview(left + 0.5 * side - 0.5, top + 0.5 * side - 0.5, w, h);
    double sum = 0, sx = 0, sy = 0;
    for (int y = static_cast<int>(expected.y) - 20; y <= static_cast<int>(expected.y) + 20; ++y)
        for (int x = static_cast<int>(expected.x) - 20; x <= static_cast<int>(expected.x) + 20; ++x) {
            const double v = qGray(image.pixel(x, y));
            sum += v, sx += v * (x + 0.5), sy += v * (y + 0.5);
        }
    ASSERT_GT(sum, 0.0);
    EXPECT_NEAR(sx / sum, expected.x, 0.6);
    EXPECT_NEAR(sy / sum, expected.y, 0.6);
}

TEST(LensRim, CirclesComeFromTheCutGeometryAndTheLens) {
    // The start cut's circle on 1920 x 1080 (its numbers: LensCircle's own test).
    const LensRims rims = LensRimsOf(1920, 1080, kDefaultCut, LensSettings{});
    ASSERT_TRUE(rims.valid);
    EXPECT_EQ(rims.lens, LensCircleOf(BuildCutGeometry(1920, 1080, kDefaultCut).geometry));
    EXPECT_NEAR(rims.lensInPreview.cx, 972.5 * 600.0 / 1920.0, 1e-9);
    EXPECT_NEAR(rims.lensInPreview.cy, 131 + 533.5 * 338.0 / 1080.0, 1e-9);
    EXPECT_FALSE(rims.hemisphere);

    LensSettings lens;
    lens.fov = 150.0;  // narrower: the 180-degree edge lies outside, not drawn
    EXPECT_FALSE(LensRimsOf(1920, 1080, kDefaultCut, lens).hemisphere);

    // Wider lenses: the 90-degree rays land at the model's radius for 90
    // degrees over its radius for fov / 2.
    const double deg = kPi / 180.0;
    const struct {
        LensModel model;
        double fov, fraction;
    } wide[] = {
        {LensModel::kEquidistant, 200.0, 90.0 / 100.0},
        {LensModel::kEquisolid, 190.0, std::sin(45.0 * deg) / std::sin(47.5 * deg)},
        {LensModel::kStereographic, 220.0, std::tan(45.0 * deg) / std::tan(55.0 * deg)},
    };
    for (const auto& c : wide) {
        lens.model = c.model;
        lens.fov = c.fov;
        const LensRims r = LensRimsOf(1920, 1080, kDefaultCut, lens);
        ASSERT_TRUE(r.hemisphere) << c.fov;
        EXPECT_NEAR(r.hemisphereCircle.r, rims.lens.r * c.fraction, 1e-6) << c.fov;
        EXPECT_EQ(r.hemisphereCircle.cx, rims.lens.cx);
        EXPECT_EQ(r.hemisphereCircle.cy, rims.lens.cy);
        EXPECT_NEAR(r.hemisphereInPreview.rx, rims.lensInPreview.rx * c.fraction, 1e-6);
        EXPECT_NEAR(r.hemisphereInPreview.ry, rims.lensInPreview.ry * c.fraction, 1e-6);
    }
    // An impossible lens draws no second circle; a cut without a crop no rim.
    lens.model = LensModel::kOrthographic;
    lens.fov = 200.0;
    EXPECT_FALSE(LensRimsOf(1920, 1080, kDefaultCut, lens).hemisphere);
    EXPECT_FALSE(LensRimsOf(1920, 1080, CutRect{10, -8, 10, 606}, LensSettings{}).valid);
    EXPECT_FALSE(LensRimsOf(0, 0, kDefaultCut, LensSettings{}).valid);
}

TEST(LensRim, DrawnOnTheInputPreviewAndMovedByTheCut) {
    const FrameBuffer frame = UniformFrame(1280, 720, 40);
    const PreviewHeader header = MakePreviewHeader(1280, 720);
    InputOverlay overlay;  // the start cut
    QImage image;
    RenderInputPreview(image, frame, header, overlay);
    const LensRims rims = LensRimsOf(1280, 720, kDefaultCut, LensSettings{});
    ASSERT_TRUE(rims.valid);
    const PreviewEllipse& e = rims.lensInPreview;
    // About (304, 298) with radii of 157 panel pixels: inside the picture.
    EXPECT_NEAR(e.cx, 304.0, 1.0);
    EXPECT_NEAR(e.cy, 298.0, 1.0);
    EXPECT_NEAR(e.rx, 157.0, 1.0);
    for (const auto& [x, y] : {std::pair{e.cx - e.rx, e.cy}, {e.cx + e.rx, e.cy}, {e.cx, e.cy - e.ry},
                               {e.cx, e.cy + e.ry}}) {
        EXPECT_TRUE(RimNear(image, x, y)) << x << "," << y;
    }
    EXPECT_GT(RimPointsOn(image, e, 0), 300);  // a solid line (the cross covers a few dots)
    // Nothing of it at the centre or a few pixels off the line.
    EXPECT_FALSE(RimNear(image, e.cx, e.cy, 5));
    EXPECT_FALSE(RimNear(image, e.cx - e.rx + 6, e.cy));
    EXPECT_FALSE(RimNear(image, e.cx - e.rx - 6, e.cy));
    // The specified overlays keep their colours over it: black bars of 131
    // rows; the red cut frame 91 units inside the circle's square, from
    // (83, 83) over 442 pixels, with its corner mark 20 pixels long; the
    // green centre cross at round(-8 + 312 + 1) = 305 and the blue dots.
    const QColor black(Qt::black), red(Qt::red), picture(40, 40, 40);
    const struct { int x, y; QColor colour; } pixels[] = {
        {0, 0, black},     {50, 130, black},  {599, 469, black}, {0, 599, black},  {20, 300, picture},
        {50, 131, picture}, {50, 468, picture}, {83, 300, red},   {524, 300, red},  {84, 300, picture},
        {83, 95, red},     {95, 83, red},     {105, 83, black},
    };
    for (const auto& p : pixels) EXPECT_EQ(QColor(image.pixel(p.x, p.y)), p.colour) << p.x << "," << p.y;
    int green = 0, blue = 0;
    for (int y = 140; y < 460; ++y) green += QColor(image.pixel(305, y)) == QColor(Qt::green);
    for (int x = 0; x < 600; ++x)
        for (int y = 131; y < 469; ++y) blue += QColor(image.pixel(x, y)) == QColor(Qt::blue);
    EXPECT_GT(green, 100);
    EXPECT_GT(blue, 100);
    // No second circle at 180 degrees.
    PreviewEllipse inner = e;
    inner.rx *= 0.9, inner.ry *= 0.9;
    EXPECT_LT(RimPointsOn(image, inner, 1), 5);

    // The cut 30 units to the right: the rim follows by 30 * 1280 / 600 source pixels.
    overlay.XL1 += 30, overlay.XL2 += 30;
    RenderInputPreview(image, frame, header, overlay);
    const double shift = 64.0 * 600.0 / 1280.0;
    EXPECT_TRUE(RimNear(image, e.cx - e.rx + shift, e.cy));
    EXPECT_TRUE(RimNear(image, e.cx + e.rx + shift, e.cy));
    EXPECT_FALSE(RimNear(image, e.cx - e.rx, e.cy));

    // A 200-degree lens: the 180-degree edge dashed at 0.9 of the radius.
    overlay.XL1 -= 30, overlay.XL2 -= 30;
    overlay.lens.fov = 200.0;
    RenderInputPreview(image, frame, header, overlay);
    EXPECT_GT(RimPointsOn(image, e, 0), 300);
    const int dashes = RimPointsOn(image, inner, 1);
    EXPECT_GT(dashes, 120);  // dashes ...
    EXPECT_LT(dashes, 320);  // ... with gaps
    EXPECT_FALSE(RimNear(image, e.cx, e.cy, 5));

    // The probe lines over the picture: white on grey at (10, 10).
    overlay.hasFileInfo = true;
    overlay.videoNameLine = " Video file: a.mp4 ";
    RenderInputPreview(image, frame, header, overlay);
    bool white = false;
    for (int x = 10; x < 80; ++x) white |= QColor(image.pixel(x, 16)) == QColor(Qt::white);
    EXPECT_TRUE(white);
    EXPECT_EQ(QColor(image.pixel(12, 11)), QColor(0x80, 0x80, 0x80));
}

TEST(LensRim, LevellingLinesOnTheOutputPreview) {
    const FrameBuffer output = UniformFrame(64, 64, 90);
    QImage image;
    RenderOutputPreview(image, output, false, {}, false);
    const QColor amber = QColor::fromRgb(kHorizonColour), grey(90, 90, 90);
    EXPECT_EQ(QColor(image.pixel(100, 240)), grey);
    RenderOutputPreview(image, output, false, {}, true);
    int equator = 0, column = 0;
    for (int x = 0; x < 500; ++x) equator += QColor(image.pixel(x, 240)) == amber;
    for (int y = 0; y < 480; ++y) column += QColor(image.pixel(250, y)) == amber;
    EXPECT_GE(equator, 495);  // solid across the picture
    EXPECT_GT(column, 150);   // dashed down its middle
    EXPECT_LT(column, 470);
    EXPECT_EQ(QColor(image.pixel(100, 236)), grey);
    EXPECT_EQ(QColor(image.pixel(100, 244)), grey);

    // The painter draws them while asked to.
    PreviewPainter painter;
    QImage shown;
    painter.SetSinks({[](const QImage&) {}, [&](const QImage& o) { shown = o; }});
    FrameBuffer in;
    in.Allocate(400, 300);
    painter.ShowHorizon(true);
    ASSERT_TRUE(painter.Paint(in, MakePreviewHeader(400, 300), {}, output, false, true, false, {}));
    EXPECT_EQ(QColor(shown.pixel(100, 240)), amber);
    painter.ShowHorizon(false);
    EXPECT_FALSE(painter.Paint(in, MakePreviewHeader(400, 300), {}, output, false, true, false, {}));
    ASSERT_TRUE(painter.Paint(in, MakePreviewHeader(400, 300), {}, output, false, true, false, {}));
    EXPECT_EQ(QColor(shown.pixel(100, 240)), grey);
}

}  // namespace
}  // namespace tessaly
