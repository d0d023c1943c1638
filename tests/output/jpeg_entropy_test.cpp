// Huffman tables, the bit writer and block coding.
#include <gtest/gtest.h>

#include <random>

#include "output/jpeg_encoder.h"
#include "output/jpeg_huffman.h"
#include "output/jpeg_scan.h"
#include "tests/output/output_test_support.h"

namespace tessaly {
namespace {

HuffmanTable Build(const JpegFrequencies& f) {
    HuffmanTable t;
    JpegBuildHuffmanTable(f, t);
    JpegAssignCodes(t);
    return t;
}

// Sum of 2^-length over all codes, times 2^16.
uint64_t KraftSum(const HuffmanTable& t) {
    uint64_t sum = 0;
    for (int len = 1; len <= 16; ++len) sum += static_cast<uint64_t>(t.bits[len]) << (16 - len);
    return sum;
}

TEST(JpegHuffman, OneSymbolGetsTheOneBitCodeZero) {
    JpegFrequencies f{};
    f[0x37] = 12345;
    const HuffmanTable t = Build(f);
    EXPECT_EQ(t.bits[1], 1);
    for (int len = 2; len <= 16; ++len) EXPECT_EQ(t.bits[len], 0);
    ASSERT_EQ(t.vals, std::vector<uint8_t>{0x37});
    EXPECT_EQ(t.code[0x37], 0);
    EXPECT_EQ(t.length[0x37], 1);
    EXPECT_EQ(t.LengthMask(0x37), 1u);
    EXPECT_EQ(t.LengthMask(0x36), 0u);
    EXPECT_EQ(t.code[0x36], -1);
}

TEST(JpegHuffman, EqualFrequenciesFavourTheHigherSymbol) {
    // Symbols 0..3 once each (and the reserved 256 once): worked by hand with
    // ties going to the higher symbol: lengths 2, 2, 2, 3 (+ reserved 3).
    JpegFrequencies f{};
    for (int s = 0; s < 4; ++s) f[s] = 1;
    const HuffmanTable t = Build(f);
    EXPECT_EQ(t.bits[2], 3);
    EXPECT_EQ(t.bits[3], 1);
    EXPECT_EQ(t.vals, (std::vector<uint8_t>{0, 1, 2, 3}));
    EXPECT_EQ(t.code[0], 0b00);
    EXPECT_EQ(t.code[1], 0b01);
    EXPECT_EQ(t.code[2], 0b10);
    EXPECT_EQ(t.code[3], 0b110);
    EXPECT_EQ(t.length[3], 3);
}

TEST(JpegHuffman, LengthsAreLimitedTo16Bits) {
    // Fibonacci counts make the optimal tree as deep as the symbol count.
    JpegFrequencies f{};
    uint64_t a = 1, b = 1;
    for (int s = 0; s < 40; ++s) {
        f[s] = a;
        const uint64_t next = a + b;
        a = b;
        b = next;
    }
    const HuffmanTable t = Build(f);
    EXPECT_EQ(t.vals.size(), 40u);
    int total = 0;
    for (int len = 1; len <= 16; ++len) total += t.bits[len];
    EXPECT_EQ(total, 40);
    EXPECT_LT(KraftSum(t), 1u << 16);
    for (int s = 0; s < 40; ++s) {
        EXPECT_GE(t.length[s], 1);
        EXPECT_LE(t.length[s], 16);
        EXPECT_NE(t.code[s], (1 << t.length[s]) - 1) << "all-ones code";
    }
    // Frequent symbols keep short codes.
    EXPECT_LE(t.length[39], 2);
    EXPECT_LE(t.length[38], 2);
    EXPECT_EQ(t.length[0], 16);
}

TEST(JpegHuffman, AllByteSymbolsFit) {
    JpegFrequencies f{};
    for (int s = 0; s < 256; ++s) f[s] = 1 + static_cast<uint64_t>(s % 7);
    const HuffmanTable t = Build(f);
    EXPECT_EQ(t.vals.size(), 256u);
    EXPECT_LT(KraftSum(t), 1u << 16);
}

std::vector<uint8_t> Bytes(JpegBitWriter& w, std::vector<uint8_t>& buffer) {
    const size_t end = w.Finish();
    return std::vector<uint8_t>(buffer.begin(), buffer.begin() + static_cast<long>(end));
}

TEST(JpegBitWriter, StuffsEveryFFIncludingThePaddedLastByte) {
    {
        std::vector<uint8_t> buf;
        JpegBitWriter w(buf, 0);
        w.PutBits(0x80, 0xFF);
        w.PutBits(0x80, 0x12);
        EXPECT_EQ(Bytes(w, buf), (std::vector<uint8_t>{0xFF, 0x00, 0x12}));
    }
    {
        std::vector<uint8_t> buf;
        JpegBitWriter w(buf, 0);
        w.PutBits(0x40, 0x7F);  // seven 1-bits; padding makes the byte 0xFF
        EXPECT_EQ(Bytes(w, buf), (std::vector<uint8_t>{0xFF, 0x00}));
    }
    {
        std::vector<uint8_t> buf;
        JpegBitWriter w(buf, 0);
        w.PutBits(0x4, 0x2);  // 010, padded with ones
        w.PutBits(0, 0x7);    // mask 0 writes nothing
        EXPECT_EQ(Bytes(w, buf), (std::vector<uint8_t>{0x5F}));
    }
    {
        std::vector<uint8_t> buf;
        JpegBitWriter w(buf, 0);
        w.PutBits(0x80, 0x00);  // a whole byte: no padding byte follows
        EXPECT_EQ(Bytes(w, buf), (std::vector<uint8_t>{0x00}));
    }
    {
        // Long runs through the 32-bit fast path: FF bytes inside words.
        std::vector<uint8_t> buf(3, 0xAA);
        JpegBitWriter w(buf, 3);
        for (int i = 0; i < 100; ++i) w.PutBits(0x8000, i % 3 == 0 ? 0xFFFF : 0x12FF);
        const std::vector<uint8_t> out = Bytes(w, buf);
        std::vector<uint8_t> expected = {0xAA, 0xAA, 0xAA};
        for (int i = 0; i < 100; ++i) {
            if (i % 3 == 0) {
                expected.insert(expected.end(), {0xFF, 0x00, 0xFF, 0x00});
            } else {
                expected.insert(expected.end(), {0x12, 0xFF, 0x00});
            }
        }
        EXPECT_EQ(out, expected);
    }
}

// One block of Y (and flat Cb, Cr) coded as a whole scan; returns the Y
// block's symbols as a decoder reads them from the bytes.
std::vector<int> YSymbols(const std::array<int32_t, 64>& y) {
    JpegCoefficientPlanes planes;
    planes.blockCols = planes.blockRows = 1;
    planes.plane[0].assign(y.begin(), y.end());
    planes.plane[1].assign(64, 0);
    planes.plane[2].assign(64, 0);
    JpegEncoder encoder;
    encoder.EncodePlanes(planes, JpegSetQuality(98), 8, 8);
    const std::vector<uint8_t> file(encoder.File().begin(), encoder.File().end());
    const outtest::JpegLayout layout = outtest::ParseLayout(file);
    std::vector<size_t> dht;
    for (const auto& s : layout.segments) {
        if (s.marker == 0xC4) dht.push_back(s.offset);
    }
    EXPECT_EQ(dht.size(), 4u);
    const outtest::DecodeTable dc = outtest::ReadDht(file, dht[0]);
    const outtest::DecodeTable ac = outtest::ReadDht(file, dht[1]);
    outtest::ScanBits bits(file, layout.scanStart, layout.scanEnd);
    std::vector<int> symbols;
    const int dcSize = bits.Symbol(dc);
    symbols.push_back(dcSize);
    bits.Bits(dcSize);
    for (int k = 1; k < 64;) {
        const int s = bits.Symbol(ac);
        symbols.push_back(s);
        if (s == 0x00) break;
        bits.Bits(s & 15);
        k += (s >> 4) + 1;
    }
    return symbols;
}

TEST(JpegScan, RunsOfSixteenZerosAndTheEndOfBlockRule) {
    // 16 zeros then a value: one ZRL (0xF0) and a run of 0.
    std::array<int32_t, 64> a{};
    a[0] = 5;
    a[17] = 1;
    EXPECT_EQ(YSymbols(a), (std::vector<int>{3, 0xF0, 0x01, 0x00}));

    // 19 zeros, a value, 42 zeros, a value in the last position: no EOB.
    std::array<int32_t, 64> b{};
    b[20] = -1;
    b[63] = 3;
    EXPECT_EQ(YSymbols(b), (std::vector<int>{0, 0xF0, 0x31, 0xF0, 0xF0, 0xA2}));

    // Only DC: EOB at once. Trailing zeros after a value: only EOB, no ZRL.
    std::array<int32_t, 64> c{};
    c[0] = -1024;
    EXPECT_EQ(YSymbols(c), (std::vector<int>{11, 0x00}));
    std::array<int32_t, 64> d{};
    d[1] = 700;
    EXPECT_EQ(YSymbols(d), (std::vector<int>{0, 0x0A, 0x00}));

    // Every coefficient non-zero: 63 run-0 symbols and no EOB.
    std::array<int32_t, 64> e{};
    e.fill(-2);
    const std::vector<int> s = YSymbols(e);
    ASSERT_EQ(s.size(), 64u);
    EXPECT_EQ(s.back(), 0x02);
}

TEST(JpegScan, StatisticsCountExactlyWhatIsCoded) {
    JpegCoefficientPlanes planes;
    planes.blockCols = 2;
    planes.blockRows = 1;
    for (auto& p : planes.plane) p.assign(128, 0);
    planes.plane[0][17] = 1;        // ZRL + 0x01 + EOB
    planes.plane[0][64 + 63] = 3;   // 3 ZRL + 0xE2, no EOB
    planes.plane[1][0] = 4;         // DC diff 4 then -4 in the shared table
    planes.plane[2][64] = -4;
    JpegScanStatistics stats;
    JpegCountSymbols(planes, stats);
    EXPECT_EQ(stats.ac[0][0xF0], 4u);
    EXPECT_EQ(stats.ac[0][0x01], 1u);
    EXPECT_EQ(stats.ac[0][0xE2], 1u);
    EXPECT_EQ(stats.ac[0][0x00], 1u);
    EXPECT_EQ(stats.dc[0][0], 2u);
    EXPECT_EQ(stats.dc[1][3], 3u);  // Cb: +4, -4; Cr: 0, -4
    EXPECT_EQ(stats.dc[1][0], 1u);
    EXPECT_EQ(stats.ac[1][0x00], 4u);
}

TEST(JpegScan, EstimateIsTheUnstuffedScanSizeAndTheBufferGrowsWhenShort) {
    for (unsigned seed : {1u, 2u, 3u}) {
        const outtest::Frame f = outtest::RandomFrame(40 + static_cast<int>(seed), 24, 32, seed);
        JpegEncoder encoder;
        ASSERT_TRUE(encoder.Encode({f.bytes.data(), f.width, f.height, 32}, 100));
        const std::vector<uint8_t> file(encoder.File().begin(), encoder.File().end());
        const outtest::JpegLayout layout = outtest::ParseLayout(file);
        outtest::ScanBits bits(file, layout.scanStart, layout.scanEnd);

        JpegScanStatistics stats;
        JpegCountSymbols(encoder.Planes(), stats);
        EXPECT_EQ(bits.UnstuffedBytes(), JpegEstimateScanBytes(stats, encoder.HuffmanTables()));

        // The same scan into a buffer that starts one byte long.
        std::vector<uint8_t> tiny(1);
        const size_t end = JpegEncodeScan(encoder.Planes(), encoder.HuffmanTables(), tiny, 1);
        EXPECT_EQ(std::vector<uint8_t>(tiny.begin() + 1, tiny.begin() + static_cast<long>(end)),
                  std::vector<uint8_t>(file.begin() + static_cast<long>(layout.scanStart),
                                       file.begin() + static_cast<long>(layout.scanEnd)));
    }
}

}  // namespace
}  // namespace tessaly
