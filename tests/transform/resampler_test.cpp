#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "tests/transform/test_frames.h"
#include "transform/resample_kernels.h"
#include "transform/resampler.h"

namespace tessaly {
namespace {

std::vector<ResampleKernel> SupportedKernels() {
    std::vector<ResampleKernel> out;
    for (ResampleKernel k : {ResampleKernel::kScalar, ResampleKernel::kSse2, ResampleKernel::kAvx2, ResampleKernel::kAvx512}) {
        if (KernelSupported(k)) out.push_back(k);
    }
    return out;
}

void ExpectWeights(float t, float w0, float w1, float w2, float w3, float tolerance) {
    const CubicWeights c = CubicLagrangeWeights(t);
    EXPECT_NEAR(c.w[0], w0, tolerance) << "t=" << t;
    EXPECT_NEAR(c.w[1], w1, tolerance) << "t=" << t;
    EXPECT_NEAR(c.w[2], w2, tolerance) << "t=" << t;
    EXPECT_NEAR(c.w[3], w3, tolerance) << "t=" << t;
    EXPECT_NEAR(c.w[0] + c.w[1] + c.w[2] + c.w[3], 1.0f, 2e-6f) << "t=" << t;
}

TEST(Resampler, CubicWeightSets) {
    const CubicWeights zero = CubicLagrangeWeights(0.0f);
    EXPECT_EQ(zero.w[0], 0.0f);
    EXPECT_EQ(zero.w[1], 1.0f);
    EXPECT_EQ(zero.w[2], 0.0f);
    EXPECT_EQ(zero.w[3], 0.0f);
    ExpectWeights(0.5f, -0.0625f, 0.5625f, 0.5625f, -0.0625f, 5e-6f);
    // The taps stay at ix-1 .. ix+2 for negative fractions.
    ExpectWeights(-0.5f, 0.3125f, 0.9375f, -0.3125f, 0.0625f, 5e-6f);
    ExpectWeights(0.25f, -0.0547f, 0.8203f, 0.2734f, -0.0391f, 5e-5f);
}

TEST(Resampler, TablesConvertAndClampRoundedValues) {
    ResamplerTables t;
    BuildResamplerTables(t);
    for (int i = 0; i < 256; ++i) EXPECT_EQ(t.byteToFloat[i], static_cast<float>(i));
    EXPECT_EQ(t.saturation[0], 0);
    for (int v = 1; v <= 255; ++v) EXPECT_EQ(t.saturation[16 * v - 1], v) << v;
    EXPECT_EQ(t.saturation[4095], 255);  // 256 and above
    EXPECT_EQ(t.saturation[4081], 255);  // i / 16 > 255
}

// Runs a span through one kernel (vector prefix, scalar rest).
void RunSpan(ResampleKernel k, const kernels::SpanSource& s, const ResamplerTables& t, const float* uv, int n,
             uint8_t* dst) {
    int done = 0;
    if (k == ResampleKernel::kSse2) done = kernels::SpanSse2(s, uv, n, dst);
    if (k == ResampleKernel::kAvx2) done = kernels::SpanAvx2(s, uv, n, dst);
    if (k == ResampleKernel::kAvx512) done = kernels::SpanAvx512(s, uv, n, dst);
    kernels::SpanScalar(s, t.byteToFloat, t.saturation, uv + 2 * done, n - done, dst + 4 * done);
}

TEST(Resampler, EveryKernelGivesTheScalarBytes) {
    const int w = 67, h = 53;
    const std::vector<uint8_t> src = testing::MakePattern(w, h, 7);
    const kernels::SpanSource s{src.data(), 4 * w, w, h, 0.5f * w - 0.5f, 0.5f * h - 0.5f};
    ResamplerTables t;
    BuildResamplerTables(t);
    std::mt19937 rng(12345);
    std::uniform_real_distribution<float> spread(-0.6f * w, 0.6f * w);
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    std::vector<float> uv;
    for (int i = 0; i < 4000; ++i) uv.push_back(spread(rng));
    // Exact halves (ties to even), edges of the valid range, and nonsense.
    for (float d : {-32.5f, -31.5f, -30.5f, 0.5f, 1.5f, 30.5f, -33.0f, 31.0f, 1e20f, -1e20f, inf, -inf, nan}) {
        uv.push_back(d);
        uv.push_back(0.25f);
        uv.push_back(0.25f);
        uv.push_back(d * 0.8f);
    }
    const int n = static_cast<int>(uv.size() / 2);
    std::vector<uint8_t> expected(4 * static_cast<size_t>(n), 0xA5);
    RunSpan(ResampleKernel::kScalar, s, t, uv.data(), n, expected.data());
    for (ResampleKernel k : SupportedKernels()) {
        std::vector<uint8_t> got(expected.size(), 0xA5);
        RunSpan(k, s, t, uv.data(), n, got.data());
        EXPECT_EQ(got, expected) << KernelName(k);
    }
}

TEST(Resampler, PixelsWhoseNeighbourhoodLeavesTheSourceAreNotWritten) {
    // A 10 x 10 source: rounded columns and rows 1 .. 7 are written.
    const int w = 10, h = 10;
    std::vector<uint8_t> src(4 * w * h);
    for (size_t i = 0; i < src.size(); i += 4) {
        src[i] = 10;
        src[i + 1] = 20;
        src[i + 2] = 30;
        src[i + 3] = 40;
    }
    const kernels::SpanSource s{src.data(), 4 * w, w, h, 4.5f, 4.5f};
    ResamplerTables t;
    BuildResamplerTables(t);
    // Source columns (centre 4.5 + u) and whether they are written.
    const std::vector<std::pair<float, bool>> columns = {
        {0.49f, false}, {0.5f, false}, {0.51f, true}, {1.5f, true},   {2.5f, true},
        {6.5f, true},   {7.49f, true}, {7.5f, false}, {7.51f, false}, {-3.0f, false}};
    for (ResampleKernel k : SupportedKernels()) {
        for (int axis = 0; axis < 2; ++axis) {
            std::vector<float> uv;
            for (int rep = 0; rep < 8; ++rep) {  // enough for a full vector step
                for (const auto& c : columns) {
                    uv.push_back(axis == 0 ? c.first - 4.5f : 0.0f);
                    uv.push_back(axis == 0 ? 0.0f : c.first - 4.5f);
                }
            }
            const int n = static_cast<int>(uv.size() / 2);
            std::vector<uint8_t> dst(4 * static_cast<size_t>(n), 0xAB);
            RunSpan(k, s, t, uv.data(), n, dst.data());
            for (int i = 0; i < n; ++i) {
                const bool written = columns[i % columns.size()].second;
                const uint8_t* p = &dst[4 * i];
                if (written) {
                    EXPECT_EQ(p[0], 10) << KernelName(k) << " axis " << axis << " pixel " << i;
                    EXPECT_EQ(p[1], 20);
                    EXPECT_EQ(p[2], 30);
                } else {
                    EXPECT_EQ(p[0], 0xAB) << KernelName(k) << " axis " << axis << " pixel " << i;
                    EXPECT_EQ(p[2], 0xAB);
                }
                EXPECT_EQ(p[3], 0xAB) << "the fourth byte is never written";
            }
        }
    }
}

TEST(Resampler, StretchByOneCopiesTheInteriorExactly) {
    const int w = 41, h = 23;
    const std::vector<uint8_t> src = testing::MakePattern(w, h, 3);
    for (ResampleKernel k : SupportedKernels()) {
        Resampler r;
        r.SetKernel(k);
        RemapState remap;
        std::vector<uint8_t> dst(4 * w * h, 0x5C);
        ResampleJob job{w, h, 4 * w, dst.data(), w, h, 4 * w, src.data(), 1.0f, ResampleMode::kAspectStretch};
        r.Resample(job, remap, CutGeometry{});
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const size_t i = 4 * (static_cast<size_t>(y) * w + x);
                const bool inside = x >= 1 && x <= w - 3 && y >= 1 && y <= h - 3;
                for (int c = 0; c < 3; ++c) {
                    ASSERT_EQ(dst[i + c], inside ? src[i + c] : 0x5C) << KernelName(k) << " " << x << "," << y;
                }
                ASSERT_EQ(dst[i + 3], 0x5C);
            }
        }
        // An aspect stretch validates the tables but fills no pairs.
        EXPECT_EQ(remap.geomValid.load(), 1);
        EXPECT_EQ(remap.cacheFilled.load(), 0);
    }
}

TEST(Resampler, AspectStretchWidensTheMiddleOfTheFrame) {
    // Factor 0.75: destination column x samples source column
    // cx + (x - cx) * 0.75; a vertical edge at the source's quarter width
    // moves to the destination's left edge region.
    const int w = 64, h = 8;
    std::vector<uint8_t> src(4 * w * h, 0);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) src[4 * (y * w + x) + 1] = static_cast<uint8_t>(4 * x);  // green ramp
    }
    Resampler r;
    RemapState remap;
    std::vector<uint8_t> dst(4 * w * h, 0);
    ResampleJob job{w, h, 4 * w, dst.data(), w, h, 4 * w, src.data(), 0.75f, ResampleMode::kAspectStretch};
    r.Resample(job, remap, CutGeometry{});
    const float c = 0.5f * w - 0.5f;
    for (int x = 0; x < w; ++x) {
        const float sx = c + (static_cast<float>(x) - c) * 0.75f;
        // Cubic interpolation reproduces a linear ramp.
        EXPECT_NEAR(dst[4 * (3 * w + x) + 1], 4.0f * sx, 0.51f) << x;
    }
}

}  // namespace
}  // namespace tessaly
