#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "transform/filters.h"

namespace tessaly {
namespace {

// A buffer of w x h pixels plus the zero row, every byte given by f(i).
template <typename F>
std::vector<uint8_t> Bytes(int w, int h, F f) {
    std::vector<uint8_t> b(4 * static_cast<size_t>(w) * (h + 1), 0);
    for (size_t i = 0; i < 4 * static_cast<size_t>(w) * h; ++i) b[i] = static_cast<uint8_t>(f(i));
    return b;
}

std::vector<uint8_t> Random(int w, int h, uint32_t seed) {
    std::mt19937 rng(seed);
    return Bytes(w, h, [&](size_t) { return rng() & 0xFF; });
}

TEST(BrightnessContrast, ListedAmounts) {
    const std::vector<uint8_t> original = Bytes(64, 4, [](size_t i) { return i % 256; });
    auto adjusted = [&](int brightnessOn, int brightness, int contrastOn, int contrast) {
        TransformSettings s;
        s.brightnessOn = brightnessOn;
        s.brightness = brightness;
        s.contrastOn = contrastOn;
        s.contrast = contrast;
        std::vector<uint8_t> b = original;
        BrightnessContrast(b.data(), 64 * 4, s);
        return b;
    };
    EXPECT_EQ(adjusted(1, 127, 0, 0), original);  // brightness 127: no change
    EXPECT_EQ(adjusted(0, 0, 1, 128), original);  // contrast 128: no change
    EXPECT_EQ(adjusted(0, 0, 0, 0), original);    // both off
    const std::vector<uint8_t> dark = adjusted(1, 0, 0, 0);
    const std::vector<uint8_t> grey = adjusted(0, 0, 1, 0);
    for (size_t i = 0; i < 1024; ++i) {
        EXPECT_EQ(dark[i], original[i] > 127 ? original[i] - 127 : 0) << i;
        EXPECT_EQ(grey[i], 128) << i;
    }
    // {brightness on, brightness, contrast on, contrast, input byte, output}
    const int cases[][6] = {
        {0, 0, 1, 255, 0, 0},     // 128 + floor(-128 * 255 / 128) = -127, clamped
        {0, 0, 1, 255, 255, 255}, // 381, clamped
        {0, 0, 1, 255, 128, 128}, {0, 0, 1, 255, 150, 171},  // 128 + floor(22 * 255 / 128)
        {0, 0, 1, 255, 100, 72},  // 128 + floor(-28 * 255 / 128): floor, not truncation
        {0, 0, 1, 127, 0, 1},     {0, 0, 1, 127, 255, 254},
        {1, 200, 1, 200, 100, 198},  // b = 73: 173 -> 128 + floor(45 * 200 / 128)
        {1, 200, 1, 200, 250, 255},  // 255 (clamped before contrast) -> 326 -> 255
        {1, 200, 1, 200, 0, 42}};    // 73 -> 128 + floor(-55 * 200 / 128)
    for (const auto& c : cases) EXPECT_EQ(adjusted(c[0], c[1], c[2], c[3])[c[4]], c[5]) << c[1] << " " << c[3] << " " << c[4];
}

TEST(Sharpen, FlatAreasAndListedValues) {
    auto sharpened = [](std::vector<uint8_t> d, int w, int h, int amount, int radius) {
        std::vector<uint8_t> scratch(d.size(), 0);
        Sharpen(w, h, d.data(), scratch.data(), amount, radius);
        return d;
    };
    const std::vector<uint8_t> flat = Bytes(9, 7, [](size_t i) { return std::vector<int>{37, 200, 255, 0}[i % 4]; });
    for (int amount : {0, 1, 2, 3, 4, 5, 9, -1}) {
        for (int radius : {0, 1, 2, 3, 7}) EXPECT_EQ(sharpened(flat, 9, 7, amount, radius), flat) << amount << " " << radius;
    }
    // A spot at the centre of 5 x 5; {centre, background, amount, radius, x, stored row, channel-0 result}.
    const int cases[][7] = {{100, 0, 1, 0, 2, 2, 255},  // 5 * 100, clamped
                            {100, 0, 1, 0, 1, 2, 0},    // -100, clamped
                            {100, 0, 1, 1, 2, 2, 177},  // (255 + 100) / 2
                            {50, 40, 2, 3, 2, 2, 60},   // t = 450 - 320 = 130; (130 + 350) / 8
                            {50, 40, 2, 2, 2, 1, 35}};  // t = 360 - 2 * 170 = 20; (20 + 120) / 4
    for (const auto& c : cases) {
        const auto spot = Bytes(5, 5, [&](size_t i) { return (i / 4 == 12) ? c[0] : c[1]; });
        EXPECT_EQ(sharpened(spot, 5, 5, c[2], c[3])[4 * (5 * c[5] + c[4])], c[6]) << c[0] << " " << c[2] << " " << c[3];
    }
    // The left neighbour of a row's first pixel is the last pixel of the row below: 5 * 50 - 100.
    EXPECT_EQ(sharpened(Bytes(4, 3, [](size_t i) { return i == 12 ? 100 : i == 16 ? 50 : 0; }), 4, 3, 1, 0)[16], 150);
}

TEST(Filters, VectorPathsMatchThePlainOnes) {
    for (int w : {1, 2, 3, 4, 5, 7, 16, 17}) {
        for (int h : {1, 3, 8, 9}) {
            const std::vector<uint8_t> src = Random(w, h, 17 * w + h);
            std::vector<uint8_t> a = src, b = src;
            for (int pass = 0; pass < 3; ++pass) {
                NoisePass(a.data(), w, h);
                detail::NoisePassPlain(b.data(), w, h);
            }
            ASSERT_EQ(a, b) << "noise " << w << "x" << h;
            for (int amount = 0; amount <= 6; ++amount) {
                for (int radius = 0; radius <= 4; ++radius) {
                    std::vector<uint8_t> c = src, d = src, e = src, s1(src.size()), s2(src.size()), window;
                    Sharpen(w, h, c.data(), s1.data(), amount, radius);
                    detail::SharpenPlain(w, h, d.data(), s2.data(), amount, radius);
                    SharpenInPlace(w, h, e.data(), amount, radius, window);
                    ASSERT_EQ(c, d) << "sharpen " << w << "x" << h << " " << amount << " " << radius;
                    ASSERT_EQ(e, d) << "in place " << w << "x" << h << " " << amount << " " << radius;
                }
            }
        }
    }
}

TEST(Filters, FirstAndLastRowsAreNeverChanged) {
    const int w = 13, h = 6;
    const std::vector<uint8_t> src = Random(w, h, 4);
    const size_t row = 4 * w;
    auto sameEdges = [&](const std::vector<uint8_t>& b) {
        return std::equal(src.begin(), src.begin() + row, b.begin()) &&
               std::equal(src.end() - 2 * row, src.end(), b.end() - 2 * row);  // last row and the zero row
    };
    std::vector<uint8_t> noisy = src, sharp = src, scratch(src.size());
    for (int pass = 0; pass < 5; ++pass) NoisePass(noisy.data(), w, h);
    Sharpen(w, h, sharp.data(), scratch.data(), 5, 0);
    EXPECT_TRUE(sameEdges(noisy));
    EXPECT_NE(noisy, src);
    EXPECT_TRUE(sameEdges(sharp));
    EXPECT_NE(sharp, src);
}

TEST(NoisePass, ASingleBrightPixelInPlace) {
    // A 255 at (5, 4) of a black 12 x 9 frame, one pass in memory order: each
    // pixel sums neighbours already replaced before it, so the pixel itself
    // becomes (255 + 40 + 35 + 36) / 8 = 45, not 43.
    const int w = 12, h = 9;
    std::vector<uint8_t> b = Bytes(w, h, [](size_t i) { return (i / 4 == 4 * 12 + 5) ? 255 : 0; });
    NoisePass(b.data(), w, h);
    // {x, y, value}: (4,3) = 255 / 8, (5,3) = (255 + 31) / 8, (6,3) = (255 + 35) / 8, (7,3) its left 36,
    // (3,4) its below-right 31, (4,4) = (3 + 255 + 31 + 35) / 8, (6,4) = (45 + 36 + 4) / 8,
    // (5,2) two rows below: untouched, (4,5) = (5 + 40 + 45) / 8.
    const int expected[][3] = {{4, 3, 31}, {5, 3, 35}, {6, 3, 36}, {7, 3, 4}, {3, 4, 3},
                               {4, 4, 40}, {5, 4, 45}, {6, 4, 10}, {5, 2, 0}, {4, 5, 11}};
    for (const auto& e : expected) EXPECT_EQ(b[4 * (e[1] * w + e[0]) + 1], e[2]) << e[0] << "," << e[1];
}

}  // namespace
}  // namespace tessaly
