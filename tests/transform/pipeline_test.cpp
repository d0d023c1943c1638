#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "tests/transform/test_frames.h"
#include "transform/frame_pipeline.h"

namespace tessaly {
namespace {

using testing::Fnv1a64;
using testing::MakePattern;

AppSettings Cut(int xl1, int yl1, int xl2, int yl2) {
    AppSettings s;
    s.XL1 = xl1;
    s.YL1 = yl1;
    s.XL2 = xl2;
    s.YL2 = yl2;
    s.SHARPEN_CH = 0;
    return s;
}

std::vector<uint8_t> OutputBytes(const FramePipeline& p) {
    return std::vector<uint8_t>(p.OutputPixels(), p.OutputPixels() + p.Output().PictureBytes());
}

// Converts frames (seeds) and returns each output.
std::vector<std::vector<uint8_t>> Convert(FramePipeline& p, int w, int h, const AppSettings& s,
                                          const std::vector<uint32_t>& seeds, FrameSwitches sw = {}) {
    std::vector<std::vector<uint8_t>> outs;
    for (uint32_t seed : seeds) {
        const std::vector<uint8_t> frame = MakePattern(w, h, seed);
        EXPECT_EQ(p.ConvertFrame(frame.data(), frame.size(), s, sw, {}), TransformStatus::kOk);
        outs.push_back(OutputBytes(p));
    }
    return outs;
}

// Every pair of the table equals SourceOffset of its pixel.
bool TableHoldsTheGeometry(FramePipeline& p) {
    const CutGeometry& g = p.Geometry();
    const float* pairs = p.Remap().table.Pairs();
    for (int y = 0; y < g.outH; ++y) {
        for (int x = 0; x < g.outW; ++x) {
            const SourcePair sp = SourceOffset(g, x, y);
            const float* q = pairs + 2 * (static_cast<size_t>(y) * g.outW + x);
            if (std::memcmp(q, &sp.u, 4) != 0 || std::memcmp(q + 1, &sp.v, 4) != 0) return false;
        }
    }
    return true;
}

TEST(FramePipeline, ThreadsAndKernelsGiveIdenticalBytes) {
    const int w = 320, h = 240;
    struct Case {
        AppSettings settings;
        FrameSwitches switches;
    };
    std::vector<Case> cases = {
        {Cut(-8, -8, 616, 606), {}},      // the default cut
        {Cut(200, 100, 330, 520), {}},    // narrow: unwritten borders left and right
        {Cut(-200, 300, 500, 700), {1, 0}},  // mostly outside the frame, flipped
        {Cut(3, 7, 61, 75), {}},          // small, odd sizes
    };
    cases[1].settings.ASPECT = 1;
    for (const Case& c : cases) {
        FramePipeline reference(1);
        reference.SetKernel(ResampleKernel::kScalar);
        ASSERT_EQ(reference.Allocate(w, h), TransformStatus::kOk);
        ASSERT_TRUE(reference.BuildGeometry(c.settings).Ok());
        const auto expected = Convert(reference, w, h, c.settings, {1, 2}, c.switches);
        for (ResampleKernel k : {ResampleKernel::kScalar, ResampleKernel::kSse2, ResampleKernel::kAvx2, ResampleKernel::kAvx512}) {
            if (!KernelSupported(k)) continue;
            for (int threads : {1, 2, 3}) {
                FramePipeline p(threads);
                p.SetKernel(k);
                ASSERT_EQ(p.Allocate(w, h), TransformStatus::kOk);
                ASSERT_TRUE(p.BuildGeometry(c.settings).Ok());
                EXPECT_EQ(Convert(p, w, h, c.settings, {1, 2}, c.switches), expected)
                    << KernelName(k) << " threads " << threads << " cut " << c.settings.XL1;
            }
        }
    }
}

TEST(FramePipeline, TableIsFilledByTheFirstProjectionAndOnlyReadAfterwards) {
    for (int aspect : {0, 1}) {
        FramePipeline p;
        AppSettings s = Cut(-8, -8, 616, 606);
        s.ASPECT = aspect;
        ASSERT_EQ(p.Allocate(160, 120), TransformStatus::kOk);
        ASSERT_TRUE(p.BuildGeometry(s).Ok());
        EXPECT_EQ(p.CacheFilled().load(), 0);
        const std::vector<uint8_t> first = Convert(p, 160, 120, s, {3})[0];
        EXPECT_EQ(p.GeomValid().load(), 1);
        EXPECT_EQ(p.CacheFilled().load(), 1);
        EXPECT_TRUE(TableHoldsTheGeometry(p)) << "aspect " << aspect;

        // Point every pair at the crop centre: a read table makes the whole
        // output one colour.
        RemapTable& t = p.Remap().table;
        std::fill(t.Pairs(), t.Pairs() + 2 * t.PairCount(), 0.0f);
        const std::vector<uint8_t> tampered = Convert(p, 160, 120, s, {3})[0];
        for (size_t i = 0; i < tampered.size(); i += 4) {
            ASSERT_EQ(std::memcmp(&tampered[i], &tampered[0], 3), 0) << i;
        }

        // After an invalidation the next frame computes the pairs again.
        InvalidateRemap(p.Remap());
        EXPECT_EQ(Convert(p, 160, 120, s, {3})[0], first);
        EXPECT_TRUE(TableHoldsTheGeometry(p));
    }
}

TEST(FramePipeline, ConversionGeometryWithAnotherCropHeightRefillsTheTable) {
    FramePipeline p;
    AppSettings s = Cut(-8, -8, 616, 606);
    ASSERT_EQ(p.Allocate(160, 120), TransformStatus::kOk);
    ASSERT_TRUE(p.BuildGeometry(s).Ok());
    Convert(p, 160, 120, s, {1});
    s.YL2 = 500;  // only the bottom edge moves: geomValid stays 1
    ASSERT_TRUE(p.BuildGeometry(s).Ok());
    EXPECT_EQ(p.GeomValid().load(), 1);
    Convert(p, 160, 120, s, {1});
    EXPECT_TRUE(TableHoldsTheGeometry(p));
}

TEST(FramePipeline, RefusesWrongSamplesAndCutsWithoutTouchingTheOutput) {
    FramePipeline p;
    AppSettings s = Cut(-8, -8, 616, 606);
    EXPECT_EQ(p.ConvertFrame(nullptr, 0, s, {}, {}), TransformStatus::kNoFrame);
    ASSERT_EQ(p.Allocate(160, 120), TransformStatus::kOk);
    const std::vector<uint8_t> frame = MakePattern(160, 120, 1);
    EXPECT_EQ(p.ConvertFrame(frame.data(), frame.size(), s, {}, {}), TransformStatus::kNoGeometry);
    ASSERT_TRUE(p.BuildGeometry(s).Ok());
    const std::vector<uint8_t> before = Convert(p, 160, 120, s, {1})[0];
    EXPECT_EQ(p.ConvertFrame(frame.data(), frame.size() - 4, s, {}, {}), TransformStatus::kBadSampleSize);
    EXPECT_EQ(p.ConvertFrame(frame.data(), frame.size() + 4, s, {}, {}), TransformStatus::kBadSampleSize);
    EXPECT_EQ(p.ConvertFrame(nullptr, frame.size(), s, {}, {}), TransformStatus::kBadSampleSize);
    EXPECT_EQ(OutputBytes(p), before);

    std::vector<std::string> log;
    const GeometryResult flat = p.BuildGeometry(Cut(0, 0, 600, 1), [&](const std::string& l) { log.push_back(l); });
    EXPECT_EQ(flat.status, TransformStatus::kCropEmpty);
    EXPECT_FALSE(flat.Message().empty());
    EXPECT_EQ(log, std::vector<std::string>{"Checking 16x16"});
    EXPECT_FALSE(p.HasGeometry());
    EXPECT_EQ(p.ConvertFrame(frame.data(), frame.size(), s, {}, {}), TransformStatus::kNoGeometry);
    EXPECT_EQ(p.BuildGeometry(Cut(0, 0, 600, 600000)).status, TransformStatus::kOutputTooLarge);

    log.clear();
    ASSERT_TRUE(p.BuildGeometry(s, [&](const std::string& l) { log.push_back(l); }).Ok());
    EXPECT_EQ(log, (std::vector<std::string>{"Checking 16x16", "Determine CUTOFF", "Determine DMEM, DMEM2, DMEM3, DMEM4",
                                             "Determine DMEM, DMEM2, DMEM3, DMEM4 END"}));
}

TEST(FramePipeline, AnyCutIsEitherRefusedOrConvertedWithinItsBuffers) {
    // Random cuts, sensible and absurd, on a small frame; the sanitizer builds
    // check every access.
    std::mt19937 rng(2024);
    std::uniform_int_distribution<int> small(-700, 1300);
    std::uniform_int_distribution<int> any(std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max());
    const std::vector<uint8_t> frame = MakePattern(64, 48, 3);
    FramePipeline p(2);
    ASSERT_EQ(p.Allocate(64, 48), TransformStatus::kOk);
    int converted = 0, refused = 0;
    for (int i = 0; i < 300; ++i) {
        auto pick = [&] { return (i % 10 == 9) ? any(rng) : small(rng); };
        AppSettings s = Cut(pick(), pick(), pick(), pick());
        s.ASPECT = i & 1;
        s.SHARPEN_CH = 1;
        s.SHARPEN = 2;
        const GeometryResult g = p.BuildGeometry(s);
        const TransformStatus st = p.ConvertFrame(frame.data(), frame.size(), s, {i & 2 ? 1 : 0, 0}, {});
        if (g.Ok()) {
            ++converted;
            EXPECT_EQ(st, TransformStatus::kOk);
            EXPECT_EQ(p.OutputWidth(), g.geometry.outW);
        } else {
            ++refused;
            EXPECT_FALSE(g.Message().empty());
            EXPECT_EQ(st, TransformStatus::kNoGeometry);
        }
    }
    EXPECT_GT(converted, 50);
    EXPECT_GT(refused, 50);
}

TEST(FramePipeline, FlippedOutputIsTheMirrorImage) {
    // Not bit-exact: the taps ix-1 .. ix+2 are not symmetric, so mirrored
    // points interpolate through other neighbours. On a smooth frame the
    // difference stays within a level or two.
    const int w = 200, h = 150;
    std::vector<uint8_t> frame(4 * w * h);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            uint8_t* px = &frame[4 * (y * w + x)];
            px[0] = static_cast<uint8_t>(x);
            px[1] = static_cast<uint8_t>(127 + 120 * std::sin(x * 0.05) * std::cos(y * 0.07));
            px[2] = static_cast<uint8_t>(y);
        }
    }
    const AppSettings s = Cut(30, 40, 560, 580);
    std::vector<uint8_t> out[2];
    for (int flip = 0; flip < 2; ++flip) {
        FramePipeline p;
        ASSERT_EQ(p.Allocate(w, h), TransformStatus::kOk);
        ASSERT_TRUE(p.BuildGeometry(s).Ok());
        ASSERT_EQ(p.ConvertFrame(frame.data(), frame.size(), s, {flip, 0}, {}), TransformStatus::kOk);
        out[flip] = OutputBytes(p);
    }
    FramePipeline p;
    ASSERT_EQ(p.Allocate(w, h), TransformStatus::kOk);
    ASSERT_TRUE(p.BuildGeometry(s).Ok());
    const int ow = p.Geometry().outW, oh = p.Geometry().outH;
    int worst = 0;
    for (int y = 0; y < oh; ++y) {
        for (int x = 0; x < ow; ++x) {
            for (int c = 0; c < 3; ++c) {
                const int a = out[0][4 * (y * ow + x) + c];
                const int b = out[1][4 * (y * ow + (ow - 1 - x)) + c];
                worst = std::max(worst, std::abs(a - b));
            }
        }
    }
    EXPECT_LE(worst, 2);
    EXPECT_NE(out[0], out[1]);
}

struct PreviewRecorder {
    std::vector<std::string> events;
    std::vector<uint8_t> frame;
    FramePipeline* pipeline = nullptr;
    bool haveFrame = true;

    PreviewCallbacks Callbacks() {
        PreviewCallbacks c;
        c.getCurrentBuffer = [this](uint8_t* dst, size_t bytes) {
            events.push_back("grab");
            if (!haveFrame || bytes != frame.size()) return false;
            std::memcpy(dst, frame.data(), bytes);
            return true;
        };
        c.paintPreviews = [this] { events.push_back("paint busy=" + std::to_string(pipeline->PreviewBusy().load())); };
        c.yield = [this](int ms) { events.push_back("yield " + std::to_string(ms)); };
        c.showOutputSize = [this](const std::string& t) { events.push_back("size" + t); };
        return c;
    }
};

TEST(FramePipeline, PreviewPassOrderAndGeometryRebuilds) {
    FramePipeline p;
    PreviewRecorder r;
    r.pipeline = &p;
    r.frame = MakePattern(300, 300, 9);
    ASSERT_EQ(p.Allocate(300, 300), TransformStatus::kOk);
    AppSettings start = Cut(0, 0, 400, 400);  // a corner at 0, 0 still builds on the first pass
    start.CPU_CH = 1;
    start.CPU = 97;
    start.SHARPEN_CH = 1;
    start.SHARPEN = 1;
    AppSettings s = start;

    PreviewResult res = p.PreviewPass(s, FrameSwitches{0, 1}, r.Callbacks());
    EXPECT_EQ(res.status, TransformStatus::kOk);
    EXPECT_TRUE(res.geometryBuilt);
    EXPECT_EQ(r.events, (std::vector<std::string>{"size 200x200", "grab", "yield 30", "yield 10", "yield 30",
                                                  "yield 90", "yield 30", "paint busy=1", "yield 20"}));
    EXPECT_EQ(p.PreviewBusy().load(), 0);
    EXPECT_EQ(p.CacheFilled().load(), 1);
    const std::vector<uint8_t> first = OutputBytes(p);

    // The bottom-right corner alone does not rebuild; the top-left does.
    s.XL2 = 300;
    s.YL2 = 300;
    r.events.clear();
    res = p.PreviewPass(s, FrameSwitches{0, 0}, r.Callbacks());
    EXPECT_FALSE(res.geometryBuilt);
    EXPECT_EQ(p.Geometry().cropH, 200);
    EXPECT_EQ(r.events[4], "yield 1");
    s.XL1 = 2;
    r.events.clear();
    res = p.PreviewPass(s, FrameSwitches{}, r.Callbacks());
    EXPECT_TRUE(res.geometryBuilt);
    EXPECT_EQ(r.events[0], "size 150x150");
    EXPECT_TRUE(TableHoldsTheGeometry(p));

    // A stream start rebuilds whatever the corner.
    s = start;
    p.ForceGeometryRebuild();
    p.PreviewPass(s, FrameSwitches{}, r.Callbacks());
    EXPECT_EQ(OutputBytes(p), first);
}

TEST(FramePipeline, PreviewWithARefusedCutKeepsTheInputSideRunning) {
    FramePipeline p;
    PreviewRecorder r;
    r.pipeline = &p;
    r.frame = MakePattern(300, 300, 2);
    ASSERT_EQ(p.Allocate(300, 300), TransformStatus::kOk);
    AppSettings s = Cut(10, 10, 400, 11);  // one row high
    PreviewResult res = p.PreviewPass(s, {}, r.Callbacks());
    EXPECT_EQ(res.status, TransformStatus::kCropEmpty);
    EXPECT_TRUE(res.geometryBuilt);
    EXPECT_FALSE(res.message.empty());
    EXPECT_EQ(r.events, (std::vector<std::string>{"grab", "yield 10", "yield 1", "paint busy=1", "yield 20"}));
    // The input frame still follows the stream.
    EXPECT_EQ(std::memcmp(p.InputFrame().Data(), r.frame.data(), r.frame.size()), 0);
    res = p.PreviewPass(s, {}, r.Callbacks());
    EXPECT_EQ(res.status, TransformStatus::kCropEmpty);
    EXPECT_FALSE(res.geometryBuilt);  // told once per corner position
    s.YL1 = 0;
    res = p.PreviewPass(s, {}, r.Callbacks());
    EXPECT_EQ(res.status, TransformStatus::kOk);
    EXPECT_TRUE(res.geometryBuilt);
}

// A plain conversion straight from the formulas, one pixel and one channel
// at a time, with no tables, caches, threads or vectors: the reference the
// golden checksums were taken from.
namespace reference {

bool Cubic(const uint8_t* src, int sw, int sh, float sx, float sy, uint8_t out[3]) {
    const float rx = std::nearbyint(sx);
    const float ry = std::nearbyint(sy);
    if (!(rx >= 1 && rx <= sw - 3 && ry >= 1 && ry <= sh - 3)) return false;
    auto weights = [](float t, float w[4]) {
        w[0] = ((-0.16667f * t + 0.5f) * t - 0.33333f) * t;
        w[1] = ((0.5f * t - 1.0f) * t - 0.5f) * t + 1.0f;
        w[2] = ((1.0f - t) * t * 0.5f + 1.0f) * t;
        w[3] = (t * t - 1.0f) * t * 0.16667f;
    };
    float wx[4], wy[4];
    weights(sx - rx, wx);
    weights(sy - ry, wy);
    const int ix = static_cast<int>(rx), iy = static_cast<int>(ry);
    for (int c = 0; c < 3; ++c) {
        float total = 0.0f;
        for (int j = 0; j < 4; ++j) {
            float row = 0.0f;
            for (int i = 0; i < 4; ++i) {
                row += wx[i] * static_cast<float>(src[4 * ((iy - 1 + j) * sw + ix - 1 + i) + c]);
            }
            total += wy[j] * row;
        }
        out[c] = static_cast<uint8_t>(std::clamp(std::nearbyint(total), 0.0f, 255.0f));
    }
    return true;
}

// input: the persistent input frame, w x (h + 1) pixels.
std::vector<uint8_t> Convert(const std::vector<uint8_t>& sample, int w, int h, const AppSettings& s, bool flip,
                             std::vector<uint8_t>& input) {
    if (s.ASPECT) {
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const float u = (static_cast<float>(x) - (0.5f * w - 0.5f)) * 0.7501f;
                const float v = static_cast<float>(y) - (0.5f * h - 0.5f);
                Cubic(sample.data(), w, h, (0.5f * w - 0.5f) + u, (0.5f * h - 0.5f) + v, &input[4 * (y * w + x)]);
            }
        }
    } else {
        std::copy(sample.begin(), sample.end(), input.begin());
    }
    for (int pass = 0; s.NOISE_CH && pass < s.NOISE; ++pass) {
        for (int p = w; p < w * (h - 1); ++p) {
            for (int c = 0; c < 4; ++c) {
                auto at = [&](int q) { return static_cast<int>(input[4 * q + c]); };
                const int sum = at(p) + at(p - 1) + at(p + 1) + at(p + w) + at(p + w - 1) + at(p + w + 1) + at(p - w) +
                                at(p - w + 1);
                input[4 * p + c] = static_cast<uint8_t>(sum / 8);
            }
        }
    }
    for (int i = 0; i < 4 * w * h; ++i) {
        int v = input[i];
        if (s.BRIGHTNESS_CH) v = std::clamp(v + s.BRIGHTNESS - 127, 0, 255);
        if (s.CONTRAST_CH) v = std::clamp(128 + static_cast<int>(std::floor((v - 128) * s.CONTRAST / 128.0)), 0, 255);
        input[i] = static_cast<uint8_t>(v);
    }
    GeometryResult gr = BuildCutGeometry(w, h, CutRect{s.XL1, s.YL1, s.XL2, s.YL2});
    CutGeometry& g = gr.geometry;
    ComputeProjection(g);
    std::vector<uint8_t> crop(4 * g.cropW * g.cropH, 0);
    for (int y = 0; y < g.cropH; ++y) {
        for (int x = 0; x < g.cropW; ++x) {
            const int sx = g.cropLeft + x, sy = g.cropTop + y;
            if (sx < 0 || sx > w - 1 || sy < 0 || sy > h) continue;
            const int col = flip ? g.cropW - 1 - x : x;
            for (int c = 0; c < 4; ++c) crop[4 * ((g.cropH - 1 - y) * g.cropW + col) + c] = input[4 * ((h - sy) * w + sx) + c];
        }
    }
    const int ow = g.outW, oh = g.outH;
    std::vector<uint8_t> out(4 * ow * oh, 0);
    for (int y = 0; y < oh; ++y) {
        for (int x = 0; x < ow; ++x) {
            const SourcePair p = SourceOffset(g, x, y);
            Cubic(crop.data(), g.cropW, g.cropH, (0.5f * g.cropW - 0.5f) + p.u, (0.5f * g.cropH - 0.5f) + p.v,
                  &out[4 * (y * ow + x)]);
        }
    }
    if (s.SHARPEN_CH && s.SHARPEN != 0) {
        const int side = (s.SHARPEN >= 1 && s.SHARPEN <= 5) ? s.SHARPEN : 1;
        const int centre = 4 * side + 1;
        std::vector<uint8_t> sharp = out;
        for (int i = 4 * ow; i < 4 * ow * (oh - 1); ++i) {
            const int p = out[i];
            const int t = std::clamp(centre * p - side * (out[i - 4] + out[i + 4] + out[i - 4 * ow] + out[i + 4 * ow]), 0, 255);
            const int r = std::min(std::max(s.RADIUS, 0), 3);
            sharp[i] = static_cast<uint8_t>((t + ((1 << r) - 1) * p) / (1 << r));
        }
        out = sharp;
    }
    return out;
}

}  // namespace reference

// The full conversion order with every filter on, over two frames (the second
// reads the cached table): every path gives the reference's bytes, whose
// checksums are kept fixed, so any change of a single output byte fails here.
TEST(FramePipeline, GoldenChecksumOfTheFullConversionOrder) {
    const int w = 320, h = 240;
    AppSettings s = Cut(-8, -8, 616, 606);
    s.NOISE_CH = 1;
    s.NOISE = 2;
    s.BRIGHTNESS_CH = 1;
    s.BRIGHTNESS = 140;
    s.CONTRAST_CH = 1;
    s.CONTRAST = 150;
    s.SHARPEN_CH = 1;
    s.SHARPEN = 3;
    s.RADIUS = 1;
    s.CPU_CH = 1;
    s.CPU = 100;
    s.ASPECT = 1;
    const FrameSwitches flip{1, 0};
    const std::vector<uint32_t> seeds = {11, 12};

    std::vector<uint8_t> input(4 * w * (h + 1), 0);
    std::vector<uint64_t> expected;
    for (uint32_t seed : seeds) {
        const std::vector<uint8_t> out = reference::Convert(MakePattern(w, h, seed), w, h, s, true, input);
        expected.push_back(Fnv1a64(out.data(), out.size()));
    }
    EXPECT_EQ(expected, (std::vector<uint64_t>{0xecdc1bde0f1d1248ull, 0xa1eb51abc02390deull})) << std::hex << expected[0] << " " << expected[1];

    for (ResampleKernel k : {ResampleKernel::kScalar, ResampleKernel::kAuto}) {
        for (int threads : {1, 0}) {
            FramePipeline p(threads);
            p.SetKernel(k);
            ASSERT_EQ(p.Allocate(w, h), TransformStatus::kOk);
            ASSERT_TRUE(p.BuildGeometry(s).Ok());
            int paints = 0;
            FrameCallbacks cb;
            cb.paintPreviews = [&] { ++paints; };
            std::vector<uint64_t> sums;
            for (uint32_t seed : seeds) {
                const std::vector<uint8_t> frame = MakePattern(w, h, seed);
                ASSERT_EQ(p.ConvertFrame(frame.data(), frame.size(), s, flip, cb), TransformStatus::kOk);
                sums.push_back(Fnv1a64(p.OutputPixels(), p.Output().PictureBytes()));
            }
            EXPECT_EQ(p.OutputWidth(), 246);
            EXPECT_EQ(p.OutputHeight(), 246);
            EXPECT_EQ(paints, 2);
            EXPECT_EQ(sums, expected) << KernelName(p.Kernel()) << " threads " << threads;
        }
    }
}

}  // namespace
}  // namespace tessaly
