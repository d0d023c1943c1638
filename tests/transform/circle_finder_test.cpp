// The lens circle finder on pictures drawn here with known circles: each
// pixel covered by the circle in proportion (4 x 4 samples), so the true rim
// is known to a fraction of a pixel.
// (Pixels away from the rim take one sample.)
#include <gtest/gtest.h>

#include <cmath>
#include <algorithm>
#include <functional>
#include <numbers>
#include <random>
#include <string>

#include "transform/circle_finder.h"

namespace tessaly {
namespace {

// Brightness inside the circle at a point (x, y) given its distance from the
// centre as a fraction of the radius.
using Inside = std::function<double(double x, double y, double fraction)>;

double Pattern(double x, double y, double) {
    // Bands and checks: plenty of edges inside that are not the rim.
    return 120.0 + 80.0 * std::sin(x * 0.07) * std::cos(y * 0.05) + ((static_cast<int>(x / 23) % 2) ? 30.0 : -30.0);
}

// A w x h plane of one value.
LumaPlane Flat(int w, int h, uint8_t value) { return LumaPlane{w, h, std::vector<uint8_t>(static_cast<size_t>(w) * h, value)}; }

LumaPlane Draw(int w, int h, const LensCircle& c, const Inside& inside, double black = 0.0) {
    LumaPlane p = Flat(w, h, 0);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const double centre = std::hypot(x - c.cx, y - c.cy);
            if (std::fabs(centre - c.r) > 1.0) {
                const double v = centre <= c.r ? inside(x, y, centre / c.r) : black;
                p.pixels[static_cast<size_t>(y) * w + x] = static_cast<uint8_t>(std::clamp(v, 0.0, 255.0));
                continue;
            }
            double sum = 0.0;
            for (int sy = 0; sy < 4; ++sy) {
                for (int sx = 0; sx < 4; ++sx) {
                    const double px = x - 0.375 + 0.25 * sx, py = y - 0.375 + 0.25 * sy;
                    const double d = std::hypot(px - c.cx, py - c.cy);
                    sum += d <= c.r ? inside(px, py, d / c.r) : black;
                }
            }
            p.pixels[static_cast<size_t>(y) * w + x] = static_cast<uint8_t>(std::clamp(sum / 16.0, 0.0, 255.0));
        }
    }
    return p;
}

// Averages f x f blocks, as the media layer's area scaling does.
LumaPlane Shrink(const LumaPlane& p, int f) {
    LumaPlane s = Flat(p.width / f, p.height / f, 0);
    for (int y = 0; y < s.height; ++y) {
        for (int x = 0; x < s.width; ++x) {
            int sum = 0;
            for (int j = 0; j < f; ++j)
                for (int i = 0; i < f; ++i) sum += p.pixels[static_cast<size_t>(y * f + j) * p.width + x * f + i];
            s.pixels[static_cast<size_t>(y) * s.width + x] = static_cast<uint8_t>((sum + f * f / 2) / (f * f));
        }
    }
    return s;
}

void AddNoise(LumaPlane& p, int amplitude, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> d(-amplitude, amplitude);
    for (uint8_t& v : p.pixels) v = static_cast<uint8_t>(std::clamp(v + d(rng), 0, 255));
}

void ExpectNear(const CircleSearch& got, const LensCircle& want, const std::string& what) {
    ASSERT_TRUE(got.found) << what << ": " << NoCircleMessage(got);
    const double tol = std::max(2.0, 0.005 * 2.0 * want.r);
    EXPECT_NEAR(got.circle.cx, want.cx, tol) << what;
    EXPECT_NEAR(got.circle.cy, want.cy, tol) << what;
    EXPECT_NEAR(got.circle.r, want.r, tol) << what;
    ::testing::Test::RecordProperty(what, std::to_string(got.circle.cx - want.cx) + " " + std::to_string(got.circle.cy - want.cy) +
                             " " + std::to_string(got.circle.r - want.r));
}

// Whole and off-centre circles; one taller than the 16:9 frame (only its
// left and right arcs seen); planes scaled down from the source frame;
// noise, a vignette falling to a fifth, a dark scene with a third of the rim
// nearly black; and a cut-off circle letterboxed into 4:3 (the bars'
// straight edges are no part of the rim). `subPixel` asks for far better
// than the 2-pixel bound, which a clean edge gives; `coverage` bounds the
// degrees of rim seen.
TEST(CircleFinder, FindsCirclesWholeCutOffScaledNoisyDarkAndLetterboxed) {
    const LensCircle centred{319.5, 239.5, 230.0}, off{250.25, 301.75, 170.4}, tall{639.5, 359.5, 470.0},
        wide{1001.5, 530.0, 520.0}, hazy{330.0, 235.0, 220.0}, boxed{319.5, 239.5, 215.0};
    const auto vignetted = [](double x, double y, double f) { return 16.0 + (Pattern(x, y, f) - 16.0) * (1.0 - 0.8 * f * f); };
    const auto dark = [](double x, double y, double f) {
        const double v = 16.0 + 0.15 * (Pattern(x, y, f) - 16.0);
        return (y > 330.0) ? 16.0 + 0.3 * (v - 16.0) : v;
    };
    LumaPlane noisy = Draw(640, 480, hazy, Pattern, 16.0);
    AddNoise(noisy, 12, 7);
    LumaPlane letterboxed = Draw(640, 480, boxed, Pattern);
    for (size_t i = 0; i < letterboxed.pixels.size(); ++i)
        if (i < 60 * 640 || i >= 420 * 640) letterboxed.pixels[i] = 0;
    const LumaPlane full = Draw(1920, 1080, wide, Pattern);
    const struct {
        const char* name;
        LumaPlane plane;
        int w, h;
        LensCircle circle;
        bool subPixel;
        double minCoverage, maxCoverage;
    } cases[] = {
        {"centred", Draw(640, 480, centred, Pattern), 640, 480, centred, true, 300.0, 1e9},
        {"off-centre", Draw(640, 480, off, Pattern), 640, 480, off, false, 0.0, 1e9},
        {"cut off", Draw(1280, 720, tall, Pattern), 1280, 720, tall, false, 0.0, 260.0},
        {"half size", Shrink(full, 2), 1920, 1080, wide, false, 0.0, 1e9},
        {"quarter size", Shrink(full, 4), 1920, 1080, wide, false, 0.0, 1e9},
        {"noise", noisy, 640, 480, hazy, false, 0.0, 1e9},
        {"vignette", Draw(640, 480, hazy, vignetted, 16.0), 640, 480, hazy, false, 0.0, 1e9},
        {"dark", Draw(640, 480, hazy, dark, 16.0), 640, 480, hazy, false, 0.0, 1e9},
        {"letterboxed", letterboxed, 640, 480, boxed, false, 0.0, 1e9},
    };
    for (const auto& c : cases) {
        const CircleSearch got = FindLensCircle(c.plane, c.w, c.h);
        ExpectNear(got, c.circle, c.name);
        EXPECT_GT(got.coverage, c.minCoverage) << c.name;
        EXPECT_LT(got.coverage, c.maxCoverage) << c.name;
        if (c.subPixel) {
            EXPECT_NEAR(got.circle.r, c.circle.r, 0.5);
            EXPECT_NEAR(got.circle.cx, c.circle.cx, 0.5);
        }
    }
}

TEST(CircleFinder, SaysWhenThereIsNoCircle) {
    const auto plain = [](int w, int h, int top, int bottom) {
        LumaPlane p = Flat(w, h, 0);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                p.pixels[static_cast<size_t>(y) * w + x] =
                    (y < top || y >= h - bottom) ? 0 : static_cast<uint8_t>(std::clamp(Pattern(x, y, 0), 0.0, 255.0));
        return p;
    };
    // A normal full-frame picture, and one letterboxed: straight edges only.
    const CircleSearch full = FindLensCircle(plain(640, 480, 0, 0), 640, 480);
    EXPECT_FALSE(full.found);
    EXPECT_EQ(NoCircleMessage(full).rfind("no lens circle found: ", 0), 0u);
    EXPECT_FALSE(FindLensCircle(plain(640, 480, 60, 60), 640, 480).found);
    // A picture with a dark rectangle in a lit frame: no circle either.
    LumaPlane box = plain(640, 480, 0, 0);
    for (int y = 100; y < 380; ++y)
        for (int x = 150; x < 490; ++x) box.pixels[static_cast<size_t>(y) * 640 + x] = 0;
    EXPECT_FALSE(FindLensCircle(box, 640, 480).found);
    // All black.
    const CircleSearch none = FindLensCircle(Flat(320, 240, 16), 320, 240);
    EXPECT_FALSE(none.found);
    EXPECT_FALSE(none.reason.empty());
}

TEST(CircleFinder, TheMaximumOverFramesLightsDarkScenes) {
    const LensCircle c{319.5, 239.5, 200.0};
    // Each frame lights only a third of the circle; together they light it all.
    LumaMaximum max;
    for (int part = 0; part < 3; ++part) {
        const LumaPlane f = Draw(640, 480, c, [part](double x, double y, double fr) {
            const double a = std::atan2(y - 239.5, x - 319.5) + std::numbers::pi;
            return static_cast<int>(a / (2 * std::numbers::pi / 3)) == part ? Pattern(x, y, fr) : 0.0;
        });
        ASSERT_TRUE(max.Add(f.pixels.data(), 640, 480, 640));
    }
    EXPECT_EQ(max.Frames(), 3);
    EXPECT_FALSE(max.Add(std::vector<uint8_t>(100, 0).data(), 10, 10, 10));  // another size
    ExpectNear(FindLensCircle(max.Plane(), 640, 480), c, "folded");
}

TEST(CircleFinder, TellsTheCircleAndItsCutInOneLine) {
    for (const auto& [value, text] : {std::pair{639.5, "639.5"}, {-0.26, "-0.3"}, {-0.04, "0.0"}, {360.0, "360.0"},
                                      {1e-9, "0.0"}})
        EXPECT_EQ(OneDecimal(value), text);
    const LensCircle c{639.5, 359.5, 360.0};
    const CutForCircleResult cut = CutForCircle(1280, 720, c);
    ASSERT_TRUE(cut.ok);
    const std::string line = CircleCutLine(c, cut, "--cut");
    EXPECT_EQ(line.rfind("lens circle: centre 639.5,359.5 radius 360.0 px; --cut ", 0), 0u) << line;
    EXPECT_NE(line.find(std::to_string(cut.cut.XL1) + "," + std::to_string(cut.cut.YL1) + ","), std::string::npos);
    EXPECT_NE(line.find(" (off by "), std::string::npos);
    EXPECT_EQ(line.back(), ')');
}

}  // namespace
}  // namespace tessaly
