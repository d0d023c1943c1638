// Quantiser tables, coefficient planes, Huffman tables, the bit writer and
// block coding.
#include <gtest/gtest.h>

#include <set>

#include "output/jpeg_encoder.h"
#include "output/jpeg_huffman.h"
#include "output/jpeg_prepare.h"
#include "output/jpeg_scan.h"
#include "output/jpeg_tables.h"
#include "tests/output/output_test_support.h"

namespace tessaly {
namespace {

using outtest::Frame;

// Qualities 50, 75, 98 and 100 are JpegFile.GoldenChecksums'; out of range
// acts as 75, and a scaled value is clamped.
TEST(JpegQuality, OutOfRangeActsAs75AndValuesAreClamped) {
    const JpegQuantTables q75 = JpegSetQuality(75);
    for (int q : {0, 49, 101}) EXPECT_EQ(JpegSetQuality(q).quant, q75.quant) << q;
    const JpegQuantTables q100 = JpegSetQuality(100);
    for (const auto& table : q100.quant) EXPECT_EQ(std::set<int>(table.begin(), table.end()), std::set<int>{1});
    EXPECT_EQ(JpegScaledQuantValue(500, 121), 255);
}

TEST(JpegPrepare, BlackFrameHasOnlyTheYDcCoefficient) {
    const Frame black = outtest::MakeFrame(20, 11, 32);  // 3 x 2 blocks
    JpegCoefficientPlanes planes;
    std::vector<uint8_t> scratch;
    JpegPrepareImage({black.bytes.data(), 20, 11, 32}, JpegSetQuality(98), planes, scratch);
    std::vector<JpegCoefficient> y(6 * 64, 0);
    for (size_t b = 0; b < 6; ++b) y[64 * b] = -1024;  // (0 - 128) * 8 with quantiser 1 at quality 98
    EXPECT_EQ(planes.plane[0], y);
    EXPECT_EQ(planes.plane[1], std::vector<JpegCoefficient>(6 * 64, 0));
    EXPECT_EQ(planes.plane[2], std::vector<JpegCoefficient>(6 * 64, 0));
}

HuffmanTable Build(const JpegFrequencies& f) {
    HuffmanTable t;
    JpegBuildHuffmanTable(f, t);
    JpegAssignCodes(t);
    return t;
}

TEST(JpegHuffman, OneSymbolAndEqualFrequenciesWorkedByHand) {
    JpegFrequencies one{}, four{};
    one[0x37] = 12345;  // the one-bit code 0
    const HuffmanTable t = Build(one);
    EXPECT_EQ(t.bits, (std::array<uint8_t, 17>{0, 1}));
    ASSERT_EQ(t.vals, std::vector<uint8_t>{0x37});
    EXPECT_EQ(t.code[0x37], 0);
    EXPECT_EQ(t.LengthMask(0x37), 1u);
    EXPECT_EQ(t.LengthMask(0x36), 0u);
    // Ties go to the higher symbol: lengths 2, 2, 2, 3 (+ the reserved symbol's 3).
    for (int s = 0; s < 4; ++s) four[s] = 1;
    const HuffmanTable u = Build(four);
    EXPECT_EQ(u.vals, (std::vector<uint8_t>{0, 1, 2, 3}));
    EXPECT_EQ((std::vector<int>{u.code[0], u.code[1], u.code[2], u.code[3], u.length[3]}),
              (std::vector<int>{0b00, 0b01, 0b10, 0b110, 3}));
}

TEST(JpegHuffman, LengthsAreLimitedTo16BitsWithNoAllOnesCode) {
    JpegFrequencies fib{}, all{};  // Fibonacci counts make a tree as deep as the symbol count
    for (uint64_t s = 0, a = 1, b = 1; s < 40; ++s, b += a, a = b - a) fib[s] = a;
    for (int s = 0; s < 256; ++s) all[s] = 1 + static_cast<uint64_t>(s % 7);
    for (const auto& [f, count] : {std::pair{fib, 40}, {all, 256}}) {
        const HuffmanTable t = Build(f);
        ASSERT_EQ(t.vals.size(), static_cast<size_t>(count));
        uint64_t kraft = 0;  // sum of 2^-length, times 2^16
        for (int len = 1; len <= 16; ++len) kraft += static_cast<uint64_t>(t.bits[len]) << (16 - len);
        EXPECT_LT(kraft, 1u << 16);
        for (int s = 0; s < count; ++s) {
            EXPECT_TRUE(t.length[s] >= 1 && t.length[s] <= 16) << s;
            EXPECT_NE(t.code[s], (1 << t.length[s]) - 1) << "all-ones code";
        }
    }
    EXPECT_LE(Build(fib).length[39], 2);  // frequent symbols keep short codes
}

TEST(JpegBitWriter, StuffsEveryFFIncludingThePaddedLastByte) {
    // (length mask, bits) put, bytes out
    const std::pair<std::vector<std::pair<uint32_t, uint32_t>>, std::vector<uint8_t>> cases[] = {
        {{{0x80, 0xFF}, {0x80, 0x12}}, {0xFF, 0x00, 0x12}},
        {{{0x40, 0x7F}}, {0xFF, 0x00}},       // seven 1-bits; padding makes the byte 0xFF
        {{{0x4, 0x2}, {0, 0x7}}, {0x5F}},     // 010 padded with ones; mask 0 writes nothing
        {{{0x80, 0x00}}, {0x00}},             // a whole byte: no padding byte follows
    };
    for (const auto& [puts, bytes] : cases) {
        std::vector<uint8_t> buf;
        JpegBitWriter w(buf, 0);
        for (const auto& [mask, bits] : puts) w.PutBits(mask, bits);
        buf.resize(w.Finish());
        EXPECT_EQ(buf, bytes);
    }
    // FF bytes inside 32-bit words: JpegFile.ScanDecodesToTheCoefficients...
}

// One block of Y (and flat Cb, Cr) coded as a whole scan; returns the Y
// block's symbols as a decoder reads them from the bytes.
std::vector<int> YSymbols(const std::array<int32_t, 64>& y) {
    JpegCoefficientPlanes planes;
    planes.blockCols = planes.blockRows = 1;
    planes.plane = {std::vector<JpegCoefficient>(y.begin(), y.end()), std::vector<JpegCoefficient>(64), std::vector<JpegCoefficient>(64)};
    JpegEncoder encoder;
    encoder.EncodePlanes(planes, JpegSetQuality(98), 8, 8);
    std::vector<int> symbols;
    const auto decoded = outtest::DecodeScan({encoder.File().begin(), encoder.File().end()}, 1, nullptr, &symbols);
    EXPECT_EQ(decoded[0], planes.plane[0]);
    return symbols;
}

TEST(JpegScan, RunsOfSixteenZerosAndTheEndOfBlockRule) {
    const std::pair<std::vector<std::pair<int, int32_t>>, std::vector<int>> cases[] = {
        {{{0, 5}, {17, 1}}, {3, 0xF0, 0x01, 0x00}},                  // 16 zeros then a value: one ZRL, a run of 0
        {{{20, -1}, {63, 3}}, {0, 0xF0, 0x31, 0xF0, 0xF0, 0xA2}},    // 42 zeros, then coefficient 63: no EOB
        {{{0, -1024}}, {11, 0x00}},                                  // only DC: EOB at once
        {{{1, 700}}, {0, 0x0A, 0x00}},                               // trailing zeros: only EOB, no ZRL
    };
    for (const auto& [nonZero, symbols] : cases) {
        std::array<int32_t, 64> y{};
        for (const auto& [k, v] : nonZero) y[static_cast<size_t>(k)] = v;
        EXPECT_EQ(YSymbols(y), symbols);
    }
    std::array<int32_t, 64> all;
    all.fill(-2);  // every coefficient non-zero: DC size 2, 63 run-0 size-2 symbols and no EOB
    EXPECT_EQ(YSymbols(all), std::vector<int>(64, 0x02));
}

TEST(JpegScan, EstimateIsTheUnstuffedScanSizeAndTheBufferGrowsWhenShort) {
    for (int width : {41, 42, 43}) {
        const Frame f = outtest::MakeFrame(width, 24, 32, static_cast<unsigned>(width));
        JpegEncoder encoder;
        ASSERT_TRUE(encoder.Encode({f.bytes.data(), f.width, f.height, 32}, 100));
        const std::vector<uint8_t> file(encoder.File().begin(), encoder.File().end());
        const outtest::JpegLayout layout = outtest::ParseLayout(file);
        JpegScanStatistics stats;
        JpegCountSymbols(encoder.Planes(), stats);
        EXPECT_EQ(outtest::Unstuff(file, layout.scanStart, layout.scanEnd).size(),
                  JpegEstimateScanBytes(stats, encoder.HuffmanTables()));
        std::vector<uint8_t> tiny(1);  // the same scan into a buffer that starts one byte long
        tiny.resize(JpegEncodeScan(encoder.Planes(), encoder.HuffmanTables(), tiny, 1));
        tiny.erase(tiny.begin());
        EXPECT_EQ(tiny, std::vector<uint8_t>(file.begin() + static_cast<long>(layout.scanStart),
                                             file.begin() + static_cast<long>(layout.scanEnd)));
    }
}

}  // namespace
}  // namespace tessaly
