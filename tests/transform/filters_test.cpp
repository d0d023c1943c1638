#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "tests/transform/test_frames.h"
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

std::vector<uint8_t> AllByteValues() {
    return Bytes(64, 4, [](size_t i) { return i % 256; });
}

std::vector<uint8_t> Adjusted(int brightnessOn, int brightness, int contrastOn, int contrast) {
    TransformSettings s;
    s.brightnessOn = brightnessOn;
    s.brightness = brightness;
    s.contrastOn = contrastOn;
    s.contrast = contrast;
    std::vector<uint8_t> b = AllByteValues();
    BrightnessContrast(b.data(), 64 * 4, s);
    return b;
}

TEST(BrightnessContrast, ListedAmounts) {
    const std::vector<uint8_t> original = AllByteValues();
    EXPECT_EQ(Adjusted(1, 127, 0, 0), original);  // brightness 127: no change
    EXPECT_EQ(Adjusted(0, 0, 1, 128), original);  // contrast 128: no change
    EXPECT_EQ(Adjusted(0, 0, 0, 0), original);    // both off

    const std::vector<uint8_t> dark = Adjusted(1, 0, 0, 0);
    for (size_t i = 0; i < dark.size() - 256; ++i) EXPECT_EQ(dark[i], original[i] > 127 ? original[i] - 127 : 0);

    const std::vector<uint8_t> grey = Adjusted(0, 0, 1, 0);
    for (size_t i = 0; i < grey.size() - 256; ++i) EXPECT_EQ(grey[i], 128);

    const std::vector<uint8_t> strong = Adjusted(0, 0, 1, 255);
    EXPECT_EQ(strong[0], 0);      // 128 + floor(-128 * 255 / 128) = -127, clamped
    EXPECT_EQ(strong[255], 255);  // 381, clamped
    EXPECT_EQ(strong[128], 128);
    EXPECT_EQ(strong[100], 72);   // 128 + floor(-28 * 255 / 128) = 128 - 56 (floor, not truncation)
    EXPECT_EQ(strong[150], 171);  // 128 + floor(22 * 255 / 128) = 128 + 43

    const std::vector<uint8_t> reset = Adjusted(0, 0, 1, 127);  // slightly lower contrast
    EXPECT_EQ(reset[0], 1);
    EXPECT_EQ(reset[255], 254);

    const std::vector<uint8_t> both = Adjusted(1, 200, 1, 200);  // b = 73, then contrast
    EXPECT_EQ(both[100], 198);   // 173 -> 128 + floor(45 * 200 / 128)
    EXPECT_EQ(both[250], 255);   // 255 (clamped before contrast) -> 326 -> 255
    EXPECT_EQ(both[0], 128 + ((73 - 128) * 200 >> 7));
}

TEST(Sharpen, FlatAreasKeepTheirValueAtEveryAmountAndRadius) {
    const std::vector<uint8_t> flat = Bytes(9, 7, [](size_t i) {
        static const uint8_t v[4] = {37, 200, 255, 0};
        return v[i % 4];
    });
    for (int amount : {0, 1, 2, 3, 4, 5, 9, -1}) {
        for (int radius : {0, 1, 2, 3, 7}) {
            std::vector<uint8_t> d = flat;
            std::vector<uint8_t> d2(flat.size(), 0);
            Sharpen(9, 7, d.data(), d2.data(), amount, radius);
            EXPECT_EQ(d, flat) << "amount " << amount << " radius " << radius;
        }
    }
}

// Channel 0 of pixel (x, stored row y) after sharpening a w x h buffer.
int SharpenedAt(std::vector<uint8_t> d, int w, int h, int amount, int radius, int x, int y) {
    std::vector<uint8_t> d2(d.size(), 0);
    Sharpen(w, h, d.data(), d2.data(), amount, radius);
    return d[4 * (static_cast<size_t>(y) * w + x)];
}

TEST(Sharpen, WeightsRadiusBlendAndFlatNeighbours) {
    const int w = 5, h = 5;
    auto spot = [&](int centre, int background) {
        return Bytes(w, h, [=](size_t i) { return (i / 4 == 12) ? centre : background; });
    };
    EXPECT_EQ(SharpenedAt(spot(100, 0), w, h, 1, 0, 2, 2), 255);  // 5 * 100, clamped
    EXPECT_EQ(SharpenedAt(spot(100, 0), w, h, 1, 0, 1, 2), 0);    // -100, clamped
    EXPECT_EQ(SharpenedAt(spot(100, 0), w, h, 1, 1, 2, 2), 177);  // (255 + 100) / 2
    EXPECT_EQ(SharpenedAt(spot(50, 40), w, h, 2, 3, 2, 2), 60);   // t = 450 - 320 = 130; (130 + 350) / 8
    EXPECT_EQ(SharpenedAt(spot(50, 40), w, h, 2, 2, 2, 1), 35);   // t = 360 - 2 * 170 = 20; (20 + 120) / 4
}

TEST(Sharpen, NeighboursWrapAcrossRowsInMemoryOrder) {
    // The left neighbour of a row's first pixel is the last pixel of the row below.
    const int w = 4, h = 3;
    std::vector<uint8_t> d = Bytes(w, h, [](size_t) { return 0; });
    d[4 * 3] = 100;    // last pixel of stored row 0
    d[4 * 4] = 50;     // first pixel of stored row 1
    EXPECT_EQ(SharpenedAt(d, w, h, 1, 0, 0, 1), 150);  // 5 * 50 - 100
}

TEST(NoisePass, VectorPathMatchesThePlainOne) {
    std::mt19937 rng(17);
    for (int w : {1, 2, 7, 16}) {
        for (int h : {1, 3, 8}) {
            const std::vector<uint8_t> src = Bytes(w, h, [&](size_t) { return rng() & 0xFF; });
            std::vector<uint8_t> a = src, b = src;
            for (int pass = 0; pass < 3; ++pass) {
                NoisePass(a.data(), w, h);
                detail::NoisePassPlain(b.data(), w, h);
            }
            ASSERT_EQ(a, b) << w << "x" << h;
        }
    }
}

TEST(Sharpen, VectorPathMatchesThePlainOne) {
    std::mt19937 rng(99);
    for (int w : {1, 3, 4, 5, 17}) {
        const int h = 9;
        const std::vector<uint8_t> src = Bytes(w, h, [&](size_t) { return rng() & 0xFF; });
        for (int amount = 0; amount <= 6; ++amount) {
            for (int radius = 0; radius <= 4; ++radius) {
                std::vector<uint8_t> a = src, b = src, s1(src.size()), s2(src.size());
                Sharpen(w, h, a.data(), s1.data(), amount, radius);
                detail::SharpenPlain(w, h, b.data(), s2.data(), amount, radius);
                ASSERT_EQ(a, b) << w << " " << amount << " " << radius;
            }
        }
    }
}

TEST(Filters, FirstAndLastRowsAreNeverChanged) {
    std::mt19937 rng(4);
    const int w = 13, h = 6;
    const std::vector<uint8_t> src = Bytes(w, h, [&](size_t) { return rng() & 0xFF; });
    const size_t row = 4 * w;
    auto sameEdges = [&](const std::vector<uint8_t>& b) {
        return std::equal(src.begin(), src.begin() + row, b.begin()) &&
               std::equal(src.end() - 2 * row, src.end(), b.end() - 2 * row);  // last row and the zero row
    };
    std::vector<uint8_t> noisy = src;
    for (int pass = 0; pass < 5; ++pass) NoisePass(noisy.data(), w, h);
    EXPECT_TRUE(sameEdges(noisy));
    EXPECT_NE(noisy, src);
    std::vector<uint8_t> sharp = src, scratch(src.size());
    Sharpen(w, h, sharp.data(), scratch.data(), 5, 0);
    EXPECT_TRUE(sameEdges(sharp));
    EXPECT_NE(sharp, src);
}

TEST(NoisePass, ASingleBrightPixelInPlace) {
    // A 255 at (x, y) = (5, 4) of a black 12 x 9 frame; one pass in memory
    // order. Pixels computed before it that sum it: (4,3) as above-right,
    // (5,3) as above (with its replaced left 31), (6,3) as above-left (with
    // its replaced left 35); then (3,4) via its below-right, (4,4) via its
    // right. The pixel itself sums its replaced left, below and below-right:
    // (255 + 40 + 35 + 36) / 8 = 45. Taking those three as 255 / 8 = 31 each
    // would give 43, but in place each of them also sums a neighbour that was
    // replaced before it.
    const int w = 12, h = 9;
    std::vector<uint8_t> b = Bytes(w, h, [](size_t i) { return (i / 4 == 4 * 12 + 5) ? 255 : 0; });
    NoisePass(b.data(), w, h);
    auto at = [&](int x, int y) { return static_cast<int>(b[4 * (y * w + x) + 1]); };
    EXPECT_EQ(at(4, 3), 31);   // 255 / 8
    EXPECT_EQ(at(5, 3), 35);   // (255 + 31) / 8
    EXPECT_EQ(at(6, 3), 36);   // (255 + 35) / 8
    EXPECT_EQ(at(7, 3), 4);    // its left 36
    EXPECT_EQ(at(3, 4), 3);    // its below-right 31
    EXPECT_EQ(at(4, 4), 40);   // (3 + 255 + 31 + 35) / 8
    EXPECT_EQ(at(5, 4), 45);   // (255 + 40 + 35 + 36) / 8
    EXPECT_EQ(at(6, 4), 10);   // (45 + 36 + 4) / 8: its left, below and below-right
    EXPECT_EQ(at(5, 2), 0);    // two rows below: untouched by it
    EXPECT_EQ(at(4, 5), 11);   // (5 + 40 + 45) / 8: its left, below and below-right
}

TEST(CpuPause, SleepsTenTimesTheRemainingPercent) {
    TransformSettings s;
    s.cpuOn = 1;
    s.cpu = 50;
    EXPECT_EQ(CpuPauseMilliseconds(s), 500);
    s.cpu = 100;
    EXPECT_EQ(CpuPauseMilliseconds(s), 0);
    s.cpu = 73;
    EXPECT_EQ(CpuPauseMilliseconds(s), 270);
    s.cpu = -20;  // beyond the slider: at most one second
    EXPECT_EQ(CpuPauseMilliseconds(s), 1000);
    s.cpuOn = 0;
    EXPECT_EQ(CpuPauseMilliseconds(s), 0);
}

TEST(InputFilters, PauseThenNoiseThenBrightnessThenPaint) {
    std::mt19937 rng(8);
    const std::vector<uint8_t> src = Bytes(8, 6, [&](size_t) { return rng() & 0x7F; });
    TransformSettings s;
    s.cpuOn = 1;
    s.cpu = 90;
    s.noiseOn = 1;
    s.noise = 2;
    s.brightnessOn = 1;
    s.brightness = 227;  // +100
    std::vector<uint8_t> expected = src;
    NoisePass(expected.data(), 8, 6);
    NoisePass(expected.data(), 8, 6);
    BrightnessContrast(expected.data(), 8 * 6, s);

    FrameBuffer f;
    f.Allocate(8, 6);
    std::memcpy(f.Data(), src.data(), src.size());
    std::vector<std::string> events;
    InputFilters(f, s, [&](int ms) { events.push_back("sleep " + std::to_string(ms)); },
                 [&] { events.push_back(std::memcmp(f.Data(), expected.data(), expected.size()) == 0 ? "paint filtered"
                                                                                                 : "paint other"); });
    EXPECT_EQ(events, (std::vector<std::string>{"sleep 100", "paint filtered"}));
    s.noiseOn = 0;
    s.brightnessOn = 0;
    s.cpuOn = 0;
    events.clear();
    std::memcpy(f.Data(), src.data(), src.size());
    InputFilters(f, s, [&](int ms) { events.push_back("sleep " + std::to_string(ms)); }, {});
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(std::memcmp(f.Data(), src.data(), src.size()), 0);
}

}  // namespace
}  // namespace tessaly
