// Whole JPEG files: the segment layout byte for byte, and decoding by
// libjpeg-turbo's djpeg and FFmpeg.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <thread>

#include "output/jpeg_encoder.h"
#include "tests/output/output_test_support.h"

namespace tessaly {
namespace {

using outtest::Frame;

std::vector<uint8_t> Encode(const Frame& f, int quality) {
    JpegEncoder e;
    EXPECT_TRUE(e.Encode({f.bytes.data(), f.width, f.height, f.bitsPerPixel}, quality));
    return std::vector<uint8_t>(e.File().begin(), e.File().end());
}

TEST(JpegFile, SegmentsInOrderWithExactBytes) {
    const Frame f = outtest::NaturalFrame(13, 7, 32, 11);
    JpegEncoder e;
    ASSERT_TRUE(e.Encode({f.bytes.data(), 13, 7, 32}, 98));
    const std::vector<uint8_t> file(e.File().begin(), e.File().end());
    const outtest::JpegLayout l = outtest::ParseLayout(file);

    std::vector<uint8_t> markers;
    for (const auto& s : l.segments) markers.push_back(s.marker);
    EXPECT_EQ(markers, (std::vector<uint8_t>{0xD8, 0xE0, 0xFE, 0xDB, 0xDB, 0xC0, 0xC4, 0xC4, 0xC4, 0xC4, 0xDA, 0xD9}));
    ASSERT_EQ(l.segments.size(), 12u);

    const std::vector<uint8_t> head(file.begin(), file.begin() + 20);
    EXPECT_EQ(head, (std::vector<uint8_t>{0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00, 0x01,
                                          0x01, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00}));

    const auto& com = l.segments[2];
    const size_t textLength = std::strlen(kJpegCreditText);
    EXPECT_EQ(com.length, textLength + 2);
    const std::string text(file.begin() + static_cast<long>(com.offset + 4),
                           file.begin() + static_cast<long>(com.offset + 4 + textLength));
    EXPECT_EQ(text, kJpegCreditText);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1);
    EXPECT_NE(text.find("\r\n"), std::string::npos);

    for (int t = 0; t < 2; ++t) {
        const auto& dqt = l.segments[3 + t];
        EXPECT_EQ(dqt.length, 0x43u);
        EXPECT_EQ(file[dqt.offset + 4], t);
        for (int z = 0; z < 64; ++z) EXPECT_EQ(file[dqt.offset + 5 + z], e.QuantTables().quant[t][z]);
    }

    const auto& sof = l.segments[5];
    const std::vector<uint8_t> sofBytes(file.begin() + static_cast<long>(sof.offset),
                                        file.begin() + static_cast<long>(sof.offset + 19));
    EXPECT_EQ(sofBytes, (std::vector<uint8_t>{0xFF, 0xC0, 0x00, 0x11, 0x08, 0x00, 7, 0x00, 13, 0x03, 1, 0x11, 0,
                                              2, 0x11, 1, 3, 0x11, 1}));

    const uint8_t classes[] = {0x00, 0x10, 0x01, 0x11};
    const HuffmanTable* tables[] = {&e.HuffmanTables().dc[0], &e.HuffmanTables().ac[0],
                                    &e.HuffmanTables().dc[1], &e.HuffmanTables().ac[1]};
    for (int i = 0; i < 4; ++i) {
        const auto& dht = l.segments[6 + i];
        EXPECT_EQ(dht.length, 19 + tables[i]->vals.size());
        EXPECT_EQ(file[dht.offset + 4], classes[i]);
        for (int len = 1; len <= 16; ++len) EXPECT_EQ(file[dht.offset + 4 + len], tables[i]->bits[len]);
    }

    const auto& sos = l.segments[10];
    const std::vector<uint8_t> sosBytes(file.begin() + static_cast<long>(sos.offset),
                                        file.begin() + static_cast<long>(sos.offset + 14));
    EXPECT_EQ(sosBytes, (std::vector<uint8_t>{0xFF, 0xDA, 0x00, 0x0C, 0x03, 1, 0x00, 2, 0x11, 3, 0x11, 0x00,
                                              0x3F, 0x00}));
    EXPECT_EQ(l.scanStart, sos.offset + 14);
    EXPECT_EQ(l.scanEnd + 2, file.size());  // EOI ends the file, nothing after it
    EXPECT_EQ(file[file.size() - 2], 0xFF);
    EXPECT_EQ(file.back(), 0xD9);
    outtest::ScanBits scan(file, l.scanStart, l.scanEnd);
    EXPECT_EQ(e.InitialBufferSize(), static_cast<size_t>(std::nearbyint(1.3 * scan.UnstuffedBytes() + 1000)));
}

TEST(JpegFile, ScanDecodesToTheCoefficientsWithEveryFFStuffedAndOnesPadding) {
    // Random content at quality 100 makes many FF bytes; the sizes vary the
    // number of bits left in the last byte.
    for (unsigned seed = 1; seed <= 24; ++seed) {
        const Frame f = outtest::RandomFrame(static_cast<int>(seed), 9, 32, seed);
        JpegEncoder e;
        ASSERT_TRUE(e.Encode({f.bytes.data(), f.width, f.height, 32}, seed % 2 ? 100 : 98));
        const std::vector<uint8_t> file(e.File().begin(), e.File().end());
        bool paddingIsOnes = false;
        // ScanBits throws on an FF that is not followed by 00.
        const auto planes = outtest::DecodeScan(file, e.Planes().BlockCount(), &paddingIsOnes);
        EXPECT_EQ(planes, e.Planes().plane) << seed;
        EXPECT_TRUE(paddingIsOnes) << seed;
    }
}

struct DecodeCase {
    int width, height, bpp;
    bool natural;
};

class JpegDecodes : public ::testing::TestWithParam<DecodeCase> {};

// Floors measured with this encoder at quality 98 (natural pictures with
// noise 40.5-43 dB, random noise 37-43 dB; the smallest sizes lowest, as
// black padding costs more than cjpeg's edge replication), less a margin.
// Pictures of 1000 pixels and more, where padding hardly counts, must come
// within 0.3 dB of libjpeg-turbo's cjpeg with the same settings (measured:
// within 0.05 dB).
constexpr double kNaturalPsnr = 39.0;
constexpr double kRandomPsnr = 35.0;
constexpr double kCjpegMargin = 0.3;

TEST_P(JpegDecodes, ByDjpegAndFfmpegCloseToTheSource) {
    const DecodeCase c = GetParam();
    outtest::TempFolder dir;
    const unsigned seed = static_cast<unsigned>(c.width * 1000 + c.height);
    const Frame f = c.natural ? outtest::NaturalFrame(c.width, c.height, c.bpp, seed)
                              : outtest::RandomFrame(c.width, c.height, c.bpp, seed);
    const std::string path = dir / "frame.jpg";
    EXPECT_EQ(JPEGMAIN(path.c_str(), f.bytes.data(), c.width, c.height, c.bpp, 98), 0);
    ASSERT_TRUE(std::filesystem::exists(path));

    const double bound = c.natural ? kNaturalPsnr : kRandomPsnr;
    const outtest::Rgb viaDjpeg = outtest::DecodeWithDjpeg(path);
    ASSERT_EQ(viaDjpeg.width, c.width) << "djpeg rejected the file";
    ASSERT_EQ(viaDjpeg.height, c.height);
    const double psnrDjpeg = outtest::Psnr(f, viaDjpeg);
    EXPECT_GE(psnrDjpeg, bound);

    const outtest::Rgb viaFfmpeg = outtest::DecodeWithFfmpeg(path);
    ASSERT_EQ(viaFfmpeg.width, c.width) << "ffmpeg rejected the file";
    ASSERT_EQ(viaFfmpeg.height, c.height);
    EXPECT_GE(outtest::Psnr(f, viaFfmpeg), bound);

    if (c.width * c.height < 1000) return;
    const std::string reference = dir / "cjpeg.jpg";
    ASSERT_TRUE(outtest::EncodeWithCjpeg(f, 98, reference));
    const double psnrCjpeg = outtest::Psnr(f, outtest::DecodeWithDjpeg(reference));
    EXPECT_GE(psnrDjpeg, psnrCjpeg - kCjpegMargin);
    std::printf("%dx%d %s: PSNR %.2f dB (cjpeg %.2f dB), %zu bytes (cjpeg %zu)\n", c.width, c.height,
                c.natural ? "natural" : "random", psnrDjpeg, psnrCjpeg,
                static_cast<size_t>(std::filesystem::file_size(path)),
                static_cast<size_t>(std::filesystem::file_size(reference)));
}

INSTANTIATE_TEST_SUITE_P(Sizes, JpegDecodes,
                         ::testing::Values(DecodeCase{1, 1, 32, false}, DecodeCase{1, 1, 24, true},
                                           DecodeCase{2, 3, 32, false}, DecodeCase{7, 5, 24, false},
                                           DecodeCase{8, 8, 32, true}, DecodeCase{9, 17, 32, false},
                                           DecodeCase{31, 1, 32, true}, DecodeCase{1, 33, 24, true},
                                           DecodeCase{64, 48, 32, true}, DecodeCase{101, 77, 32, true},
                                           DecodeCase{101, 77, 24, false}, DecodeCase{250, 131, 32, true}),
                         [](const auto& info) {
                             const DecodeCase& c = info.param;
                             return std::to_string(c.width) + "x" + std::to_string(c.height) + "_" +
                                    std::to_string(c.bpp) + (c.natural ? "_natural" : "_random");
                         });

TEST(JpegMain, TruncatesAnExistingFileAndWritesWhatWasEncoded) {
    outtest::TempFolder dir;
    const std::string path = dir / "old.jpg";
    outtest::Run("head -c 200000 /dev/zero > " + outtest::Quote(path));
    const Frame f = outtest::NaturalFrame(16, 16, 32, 9);
    EXPECT_EQ(JPEGMAIN(path.c_str(), f.bytes.data(), 16, 16, 32, 98), 0);
    EXPECT_EQ(outtest::ReadBytes(path), Encode(f, 98));
}

TEST(JpegMain, IsExportedFromTheProgramWithCLinkage) {
    using Entry = int32_t (*)(const char*, const uint8_t*, int32_t, int32_t, int32_t, int32_t);
    void* symbol = dlsym(RTLD_DEFAULT, "JPEGMAIN");
    ASSERT_NE(symbol, nullptr);
    outtest::TempFolder dir;
    const Frame f = outtest::NaturalFrame(8, 8, 32, 1);
    EXPECT_EQ(reinterpret_cast<Entry>(symbol)((dir / "x.jpg").c_str(), f.bytes.data(), 8, 8, 32, 98), 0);
    EXPECT_EQ(outtest::ReadBytes(dir / "x.jpg"), Encode(f, 98));
}

TEST(JpegMain, RefusesBadFramesAndWritesNothing) {
    outtest::TempFolder dir;
    const std::string path = dir / "bad.jpg";
    const Frame f = outtest::RandomFrame(8, 8, 32, 1);
    EXPECT_EQ(JPEGMAIN(path.c_str(), nullptr, 8, 8, 32, 98), 0);
    EXPECT_EQ(JPEGMAIN(path.c_str(), f.bytes.data(), 0, 8, 32, 98), 0);
    EXPECT_EQ(JPEGMAIN(path.c_str(), f.bytes.data(), 8, -1, 32, 98), 0);
    EXPECT_EQ(JPEGMAIN(path.c_str(), f.bytes.data(), 70000, 1, 32, 98), 0);
    EXPECT_EQ(JPEGMAIN(path.c_str(), f.bytes.data(), 8, 8, 16, 98), 0);
    EXPECT_EQ(JPEGMAIN(nullptr, f.bytes.data(), 8, 8, 32, 98), 0);
    EXPECT_FALSE(std::filesystem::exists(path));

    JpegEncoder e;
    std::string why;
    EXPECT_FALSE(e.Encode({f.bytes.data(), 8, 8, 8}, 98, &why));
    EXPECT_NE(why.find("bits per pixel"), std::string::npos);
    EXPECT_FALSE(e.EncodeToFile(dir / "missing/x.jpg", {f.bytes.data(), 8, 8, 32}, 98, &why));
    EXPECT_NE(why.find("No such file"), std::string::npos);
}

TEST(JpegEncoder, ReusedAndConcurrentEncodersGiveIdenticalFiles) {
    std::vector<Frame> frames;
    std::vector<std::vector<uint8_t>> expected;
    for (unsigned i = 0; i < 4; ++i) {
        frames.push_back(outtest::NaturalFrame(40 + 8 * static_cast<int>(i), 24 + static_cast<int>(i), 32, i));
        expected.push_back(Encode(frames.back(), 98));
    }
    std::vector<std::thread> threads;
    std::vector<int> mismatches(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            JpegEncoder e;  // reused for frames of different sizes
            for (int round = 0; round < 3; ++round) {
                for (int i = 0; i < 4; ++i) {
                    const Frame& f = frames[static_cast<size_t>((i + t) % 4)];
                    e.Encode({f.bytes.data(), f.width, f.height, 32}, 98);
                    const std::vector<uint8_t> got(e.File().begin(), e.File().end());
                    if (got != expected[static_cast<size_t>((i + t) % 4)]) ++mismatches[static_cast<size_t>(t)];
                }
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(mismatches, std::vector<int>(4, 0));
}

}  // namespace
}  // namespace tessaly
