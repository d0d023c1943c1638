#include <gtest/gtest.h>

#include <limits>
#include <random>
#include <vector>

#include "tests/transform/test_frames.h"
#include "transform/resample_kernels.h"
#include "transform/resampler.h"

namespace tessaly {
namespace {

const std::vector<ResampleKernel> kKernels = {ResampleKernel::kScalar, ResampleKernel::kSse2, ResampleKernel::kAvx2,
                                              ResampleKernel::kAvx512};

TEST(Resampler, CubicWeightSets) {
    // The taps stay at ix-1 .. ix+2 for negative fractions.
    const struct { float t, w[4], tolerance; } sets[] = {
        {0.0f, {0.0f, 1.0f, 0.0f, 0.0f}, 0.0f},
        {0.5f, {-0.0625f, 0.5625f, 0.5625f, -0.0625f}, 5e-6f},
        {-0.5f, {0.3125f, 0.9375f, -0.3125f, 0.0625f}, 5e-6f},
        {0.25f, {-0.0547f, 0.8203f, 0.2734f, -0.0391f}, 5e-5f}};
    for (const auto& s : sets) {
        const CubicWeights c = CubicLagrangeWeights(s.t);
        for (int i = 0; i < 4; ++i) EXPECT_NEAR(c.w[i], s.w[i], s.tolerance) << "t=" << s.t << " w" << i;
        EXPECT_NEAR(c.w[0] + c.w[1] + c.w[2] + c.w[3], 1.0f, 2e-6f) << "t=" << s.t;
    }
}

// Runs a span through one kernel (vector prefix, scalar rest).
void RunSpan(ResampleKernel k, const kernels::SpanSource& s, const float* uv, int n, uint8_t* dst) {
    static ResamplerTables t = [] { ResamplerTables x; BuildResamplerTables(x); return x; }();
    int done = 0;
    if (k == ResampleKernel::kSse2) done = kernels::SpanSse2(s, uv, n, dst);
    if (k == ResampleKernel::kAvx2) done = kernels::SpanAvx2(s, uv, n, dst);
    if (k == ResampleKernel::kAvx512) done = kernels::SpanAvx512(s, uv, n, dst);
    kernels::SpanScalar(s, t.byteToFloat, t.saturation, uv + 2 * done, n - done, dst + 4 * done);
}

TEST(Resampler, EveryKernelGivesTheScalarBytes) {
    const int w = 67, h = 53;
    const std::vector<uint8_t> src = testing::MakePattern(w, h, 7);
    const kernels::SpanSource s{src.data(), 4 * w, w, h, 0.5f * w - 0.5f, 0.5f * h - 0.5f, 0};
    std::mt19937 rng(12345);
    std::uniform_real_distribution<float> spread(-0.6f * w, 0.6f * w);
    const float inf = std::numeric_limits<float>::infinity();
    std::vector<float> uv;
    for (int i = 0; i < 4000; ++i) uv.push_back(spread(rng));
    // Exact halves (ties to even), edges of the valid range, and nonsense.
    for (float d : {-32.5f, -31.5f, -30.5f, 0.5f, 1.5f, 30.5f, -33.0f, 31.0f, 1e20f, -1e20f, inf, -inf,
                    std::numeric_limits<float>::quiet_NaN()}) {
        uv.insert(uv.end(), {d, 0.25f, 0.25f, d * 0.8f});
    }
    const int n = static_cast<int>(uv.size() / 2);
    std::vector<uint8_t> expected(4 * static_cast<size_t>(n), 0xA5);
    RunSpan(ResampleKernel::kScalar, s, uv.data(), n, expected.data());
    for (ResampleKernel k : kKernels) {
        if (!KernelSupported(k)) continue;
        std::vector<uint8_t> got(expected.size(), 0xA5);
        RunSpan(k, s, uv.data(), n, got.data());
        EXPECT_EQ(got, expected) << KernelName(k);
    }
}

TEST(Resampler, PixelsWhoseNeighbourhoodLeavesTheSourceAreNotWritten) {
    // A flat 10 x 10 source: rounded columns and rows 1 .. 7 are written.
    const int w = 10, h = 10;
    std::vector<uint8_t> src(4 * w * h);
    for (size_t i = 0; i < src.size(); ++i) src[i] = static_cast<uint8_t>(10 * (i % 4 + 1));
    const kernels::SpanSource s{src.data(), 4 * w, w, h, 4.5f, 4.5f, 0};
    // Source columns (centre 4.5 + u) and whether they are written.
    const std::vector<std::pair<float, bool>> columns = {
        {0.49f, false}, {0.5f, false}, {0.51f, true}, {1.5f, true},   {2.5f, true},
        {6.5f, true},   {7.49f, true}, {7.5f, false}, {7.51f, false}, {-3.0f, false}};
    for (ResampleKernel k : kKernels) {
        for (int axis = 0; axis < 2 && KernelSupported(k); ++axis) {
            std::vector<float> uv;
            for (int rep = 0; rep < 8; ++rep) {  // enough for a full vector step
                for (const auto& c : columns) {
                    uv.push_back(axis == 0 ? c.first - 4.5f : 0.0f);
                    uv.push_back(axis == 0 ? 0.0f : c.first - 4.5f);
                }
            }
            const int n = static_cast<int>(uv.size() / 2);
            std::vector<uint8_t> dst(4 * static_cast<size_t>(n), 0xAB);
            RunSpan(k, s, uv.data(), n, dst.data());
            for (int i = 0; i < n; ++i) {
                const bool written = columns[i % columns.size()].second;
                for (int c = 0; c < 4; ++c) {  // the fourth byte is never written
                    EXPECT_EQ(dst[4 * i + c], written && c < 3 ? 10 * (c + 1) : 0xAB)
                        << KernelName(k) << " axis " << axis << " pixel " << i << " byte " << c;
                }
            }
        }
    }
}

}  // namespace
}  // namespace tessaly
