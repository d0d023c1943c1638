// Quantiser tables, the forward DCT and the coefficient planes.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <set>

#include "output/jpeg_prepare.h"
#include "output/jpeg_tables.h"
#include "tests/output/output_test_support.h"

namespace tessaly {
namespace {

using outtest::Frame;

// The Annex K luminance table read row by row (natural order).
constexpr int kLumaRows[64] = {
    16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
    14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
    18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
    49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99,
};

TEST(JpegZigzag, IsTheStandardScanOrder) {
    std::set<int> seen(kJpegZigzag.begin(), kJpegZigzag.end());
    EXPECT_EQ(seen.size(), 64u);
    // First steps of the zigzag walk: (0,0) (0,1) (1,0) (2,0) (1,1) (0,2) (0,3).
    EXPECT_EQ(kJpegZigzag[0], 0);
    EXPECT_EQ(kJpegZigzag[1], 1);
    EXPECT_EQ(kJpegZigzag[8], 2);
    EXPECT_EQ(kJpegZigzag[16], 3);
    EXPECT_EQ(kJpegZigzag[9], 4);
    EXPECT_EQ(kJpegZigzag[2], 5);
    EXPECT_EQ(kJpegZigzag[3], 6);
    EXPECT_EQ(kJpegZigzag[63], 63);
    for (int n = 0; n < 64; ++n) EXPECT_EQ(kJpegNatural[kJpegZigzag[n]], n);
    for (int n = 0; n < 64; ++n) EXPECT_EQ(kJpegBaseLuma[kJpegZigzag[n]], kLumaRows[n]);
    EXPECT_EQ(kJpegBaseChroma[0], 17);
    EXPECT_EQ(kJpegBaseChroma[63], 99);
}

TEST(JpegQuality, OutOfRangeQualitiesActAs75) {
    const JpegQuantTables q75 = JpegSetQuality(75);
    for (int q : {0, 49, 101, -5, 1000}) {
        const JpegQuantTables t = JpegSetQuality(q);
        EXPECT_EQ(t.quant, q75.quant) << q;
    }
    // 75: scale 50, (50 * 16 + 50) / 100 = 8.5 rounds to the even 8.
    EXPECT_EQ(q75.quant[0][0], 8);
    EXPECT_EQ(q75.quant[0][1], 6);  // base 11: 5.5 -> 6
}

TEST(JpegQuality, Quality50KeepsEvenAndRaisesOddBaseValues) {
    const JpegQuantTables t = JpegSetQuality(50);
    for (int z = 0; z < 64; ++z) {
        for (int table = 0; table < 2; ++table) {
            const int base = table == 0 ? kJpegBaseLuma[z] : kJpegBaseChroma[z];
            EXPECT_EQ(t.quant[table][z], base % 2 == 0 ? base : base + 1) << table << " " << z;
        }
    }
    EXPECT_EQ(t.quant[0][0], 16);
    EXPECT_EQ(t.quant[0][1], 12);  // base 11
}

TEST(JpegQuality, Quality98RoundsHalvesToEven) {
    const JpegQuantTables t = JpegSetQuality(98);
    const auto luma = [&](int row, int col) { return t.quant[0][kJpegZigzag[8 * row + col]]; };
    EXPECT_EQ(luma(0, 0), 1);  // 16 -> 1.14
    EXPECT_EQ(luma(1, 4), 2);  // 26 -> 1.54
    EXPECT_EQ(luma(0, 5), 2);  // 40 -> 2.1
    EXPECT_EQ(luma(7, 5), 4);  // 100 -> 4.5, the even 4
    EXPECT_EQ(luma(6, 5), 5);  // 121 -> 5.34
    EXPECT_EQ(luma(7, 7), 4);  // 99 -> 4.46
    std::set<int> lumaValues(t.quant[0].begin(), t.quant[0].end());
    std::set<int> chromaValues(t.quant[1].begin(), t.quant[1].end());
    EXPECT_EQ(lumaValues, (std::set<int>{1, 2, 3, 4, 5}));
    EXPECT_EQ(chromaValues, (std::set<int>{1, 2, 3, 4}));
}

TEST(JpegQuality, Quality100IsAllOnesAndQuality1ClampsAt255) {
    const JpegQuantTables t = JpegSetQuality(100);
    for (int z = 0; z < 64; ++z) {
        EXPECT_EQ(t.quant[0][z], 1);
        EXPECT_EQ(t.quant[1][z], 1);
    }
    EXPECT_EQ(JpegScaledQuantValue(198, 121), 240);
    EXPECT_EQ(JpegScaledQuantValue(500, 121), 255);
    EXPECT_EQ(JpegScaledQuantValue(0, 99), 1);
}

TEST(JpegQuality, DivisorsUndoTheAanScaling) {
    for (int quality : {50, 98, 100}) {
        const JpegQuantTables t = JpegSetQuality(quality);
        for (int r = 0; r < 8; ++r) {
            for (int c = 0; c < 8; ++c) {
                const auto a = [](int k) { return k == 0 ? 1.0 : std::sqrt(2.0) * std::cos(k * std::numbers::pi / 16); };
                const int z = kJpegZigzag[8 * r + c];
                const double expected = 1.0 / (8.0 * a(r) * a(c) * t.quant[0][z]);
                EXPECT_NEAR(t.divisor[0][z], expected, expected * 1e-6);
            }
        }
    }
}

// The textbook JPEG FDCT: F(u,v) = 1/4 C(u) C(v) sum f(x,y) cos cos.
double ReferenceDct(const float* f, int u, int v) {
    const double pi = std::numbers::pi;
    double sum = 0;
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
            sum += f[8 * y + x] * std::cos((2 * y + 1) * u * pi / 16) * std::cos((2 * x + 1) * v * pi / 16);
        }
    }
    const double cu = u == 0 ? 1 / std::sqrt(2.0) : 1.0, cv = v == 0 ? 1 / std::sqrt(2.0) : 1.0;
    return 0.25 * cu * cv * sum;
}

TEST(JpegForwardDct, MatchesTheTextbookTransformAfterScaling) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> value(-128.0f, 127.0f);
    for (int trial = 0; trial < 20; ++trial) {
        float block[64], original[64];
        for (int i = 0; i < 64; ++i) original[i] = block[i] = value(rng);
        JpegForwardDct(block);
        for (int u = 0; u < 8; ++u) {
            for (int v = 0; v < 8; ++v) {
                const double scaled = block[8 * u + v] * kJpegAanScale[u] * kJpegAanScale[v];
                EXPECT_NEAR(scaled, ReferenceDct(original, u, v), 2e-3) << u << "," << v;
            }
        }
    }
}

TEST(JpegPrepare, BlackFrameHasOnlyTheYDcCoefficient) {
    for (int quality : {98, 50, 75}) {
        const Frame black = outtest::MakeFrame(20, 11, 32);  // 3 x 2 blocks
        const JpegQuantTables t = JpegSetQuality(quality);
        JpegCoefficientPlanes planes;
        std::vector<uint8_t> scratch;
        JpegPrepareImage({black.bytes.data(), 20, 11, 32}, t, planes, scratch);
        ASSERT_EQ(planes.blockCols, 3);
        ASSERT_EQ(planes.blockRows, 2);
        const int expectedDc = static_cast<int>(std::nearbyint(-1024.0 / t.quant[0][0]));
        for (size_t b = 0; b < planes.BlockCount(); ++b) {
            EXPECT_EQ(planes.plane[0][64 * b], expectedDc) << quality;
            for (int k = 1; k < 64; ++k) ASSERT_EQ(planes.plane[0][64 * b + k], 0);
            for (int k = 0; k < 64; ++k) {
                ASSERT_EQ(planes.plane[1][64 * b + k], 0);
                ASSERT_EQ(planes.plane[2][64 * b + k], 0);
            }
        }
    }
    const JpegQuantTables t98 = JpegSetQuality(98);
    EXPECT_EQ(t98.quant[0][0], 1);  // so the DC above was -1024 at quality 98
}

TEST(JpegPrepare, PaddingIsBlackNotReplicated) {
    // A white 1 x 1 picture: the block holds one white pixel and 63 black ones,
    // so it has AC energy; a replicated edge would give a flat white block.
    Frame white = outtest::MakeFrame(1, 1, 32);
    white.bytes = {255, 255, 255, 0};
    JpegCoefficientPlanes planes;
    std::vector<uint8_t> scratch;
    JpegPrepareImage({white.bytes.data(), 1, 1, 32}, JpegSetQuality(100), planes, scratch);
    // Mean of the block: (255 - 128 + 63 * -128) / 64, times 8.
    EXPECT_EQ(planes.plane[0][0], static_cast<int>(std::nearbyint((127.0 - 63 * 128.0) / 8.0)));
    EXPECT_NE(planes.plane[0][1], 0);
    EXPECT_NE(planes.plane[0][2], 0);
}

TEST(JpegPrepare, RowsAreReadBottomUp) {
    // Top row white, the rest black: the Y block's vertical gradient (natural
    // (1, 0), zigzag 2) is positive when row 0 of the block is the top.
    Frame f = outtest::MakeFrame(8, 8, 32);
    for (int x = 0; x < 8; ++x) f.At(x, 0)[0] = f.At(x, 0)[1] = f.At(x, 0)[2] = 255;
    JpegCoefficientPlanes planes;
    std::vector<uint8_t> scratch;
    JpegPrepareImage({f.bytes.data(), 8, 8, 32}, JpegSetQuality(100), planes, scratch);
    EXPECT_GT(planes.plane[0][2], 0);
    EXPECT_EQ(planes.plane[0][1], 0);  // no horizontal change
}

TEST(JpegPrepare, FastPathEqualsPlainPathBitForBit) {
    const int sizes[][2] = {{1, 1}, {8, 8}, {7, 3}, {17, 9}, {64, 40}, {33, 65}, {100, 75}};
    unsigned seed = 1;
    for (const auto& s : sizes) {
        for (int bpp : {24, 32}) {
            for (int quality : {50, 98, 100}) {
                const Frame f = outtest::RandomFrame(s[0], s[1], bpp, seed++);
                const JpegSourceImage image{f.bytes.data(), s[0], s[1], bpp};
                const JpegQuantTables t = JpegSetQuality(quality);
                JpegCoefficientPlanes fast, plain;
                std::vector<uint8_t> scratch;
                JpegPrepareImage(image, t, fast, scratch);
                JpegPrepareImagePlain(image, t, plain);
                ASSERT_EQ(fast.plane, plain.plane) << s[0] << "x" << s[1] << " bpp " << bpp;
            }
        }
    }
}

}  // namespace
}  // namespace tessaly
