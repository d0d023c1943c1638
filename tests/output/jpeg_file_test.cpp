// Whole JPEG files: the segment layout byte for byte, and decoding by
// libjpeg-turbo's djpeg and FFmpeg.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <random>
#include <span>

#include "output/jpeg_encoder.h"
#include "output/still_writer.h"
#include "tests/output/output_test_support.h"

namespace tessaly {
namespace {

using outtest::Frame;

uint64_t Fnv1a64(std::span<const uint8_t> bytes) {
    uint64_t h = 1469598103934665603ull;
    for (uint8_t b : bytes) h = (h ^ b) * 1099511628211ull;
    return h;
}

// The encoder's files, byte for byte: checksums of files taken before the
// coefficient planes went from 32 to 16 bits (any change of a byte fails:
// the segments, their order and their tables included).
TEST(JpegFile, GoldenChecksums) {
    struct Case { int w, h, quality; uint64_t sum; };
    for (const Case c : {Case{246, 246, 98, 0xfd00435999436999ull}, Case{246, 246, 50, 0x6966d53a6892781full},
                         Case{37, 19, 100, 0x1b9741223915a7ecull}, Case{640, 480, 75, 0x7a5d8a4b4766e490ull}}) {
        std::vector<uint8_t> px(static_cast<size_t>(c.w) * c.h * 4);
        std::mt19937 rng(c.w == 640 ? 4u : c.w == 37 ? 3u : 1u);
        for (int y = 0; y < c.h; ++y) {
            for (int x = 0; x < c.w; ++x) {
                uint8_t* p = &px[(static_cast<size_t>(y) * c.w + x) * 4];
                p[0] = static_cast<uint8_t>(x * 3 + y);
                p[1] = static_cast<uint8_t>((y * 2) ^ x);
                p[2] = static_cast<uint8_t>((x * y) >> 3);
                if (c.w != 640) {
                    p[0] ^= rng() & 63;
                    p[2] ^= rng() & 255;
                }
                p[3] = 0;
            }
        }
        JpegEncoder e;
        ASSERT_TRUE(e.Encode({px.data(), c.w, c.h, 32}, c.quality));
        EXPECT_EQ(Fnv1a64(e.File()), c.sum) << c.w << "x" << c.h << " q" << c.quality;
    }
}

TEST(JpegFile, ScanDecodesToTheCoefficientsWithEveryFFStuffedAndOnesPadding) {
    // Random content at quality 100 makes many FF bytes; the widths vary the
    // number of bits left in the last byte. DecodeScan throws on an unstuffed FF.
    for (unsigned seed = 1; seed <= 24; ++seed) {
        const Frame f = outtest::MakeFrame(static_cast<int>(seed), 9, 32, seed);
        JpegEncoder e;
        ASSERT_TRUE(e.Encode({f.bytes.data(), f.width, f.height, 32}, seed % 2 ? 100 : 98));
        bool paddingIsOnes = false;
        EXPECT_EQ(outtest::DecodeScan({e.File().begin(), e.File().end()}, e.Planes().BlockCount(), &paddingIsOnes),
                  e.Planes().plane) << seed;
        EXPECT_TRUE(paddingIsOnes) << seed;
    }
}

// Floors measured with this encoder at quality 98 (natural 40.5-43 dB, random
// noise 37-43 dB; the smallest sizes lowest, as black padding costs more than
// cjpeg's edge replication), less a margin. From 1000 pixels on, within 0.3 dB
// of libjpeg-turbo's cjpeg with the same settings (measured: within 0.05 dB).
TEST(JpegFile, DecodedByDjpegAndFfmpegCloseToTheSource) {
    using Entry = int32_t (*)(const char*, const uint8_t*, int32_t, int32_t, int32_t, int32_t);
    const auto jpegMain = reinterpret_cast<Entry>(dlsym(RTLD_DEFAULT, "JPEGMAIN"));  // exported, C linkage
    ASSERT_NE(jpegMain, nullptr);
    const int cases[][4] = {{1, 1, 32, 0},  {1, 1, 24, 1},  {2, 3, 32, 0},    {7, 5, 24, 0},    {8, 8, 32, 1},
                            {9, 17, 32, 0}, {31, 1, 32, 1}, {1, 33, 24, 1},   {101, 77, 32, 1}, {101, 77, 24, 0},
                            {250, 131, 32, 1}};  // width, height, bits per pixel, natural (else random)
    for (const auto [width, height, bpp, natural] : cases) {
        SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height) + " bpp " + std::to_string(bpp) +
                     (natural ? " natural" : " random"));
        outtest::TempFolder dir;
        const unsigned seed = static_cast<unsigned>(width * 1000 + height);
        const Frame f = natural ? outtest::NaturalFrame(width, height, bpp, seed)
                                : outtest::MakeFrame(width, height, bpp, seed);
        const std::string path = dir / "frame.jpg";
        outtest::Run("head -c 200000 /dev/zero > '" + path + "'");  // an older, longer file is truncated
        EXPECT_EQ(jpegMain(path.c_str(), f.bytes.data(), width, height, bpp, 98), 0);
        const outtest::Rgb viaDjpeg = outtest::DecodeWithDjpeg(path), viaFfmpeg = outtest::DecodeWithFfmpeg(path);
        for (const outtest::Rgb* d : {&viaDjpeg, &viaFfmpeg}) {
            ASSERT_EQ(d->width, width) << (d == &viaDjpeg ? "djpeg" : "ffmpeg") << " rejected the file";
            ASSERT_EQ(d->height, height);
            EXPECT_GE(outtest::Psnr(f, *d), natural ? 39.0 : 35.0) << (d == &viaDjpeg ? "djpeg" : "ffmpeg");
        }
        if (width * height < 1000 || bpp != 32) continue;
        // The same frame as a BMP still through cjpeg with our settings (4:4:4, optimal tables, float DCT).
        ASSERT_TRUE(StillWriter(dir.str()).WriteStillBmp(0, f.bytes.data(), width, height));
        ASSERT_EQ(outtest::Run("cjpeg -quality 98 -sample 1x1 -optimize -dct float -outfile '" + (dir / "c.jpg") +
                               "' '" + (dir / "mono000000.bmp") + "'"), 0);
        EXPECT_GE(outtest::Psnr(f, viaDjpeg), outtest::Psnr(f, outtest::DecodeWithDjpeg(dir / "c.jpg")) - 0.3);
    }
}

}  // namespace
}  // namespace tessaly
