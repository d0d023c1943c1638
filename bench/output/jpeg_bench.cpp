// Encoding speed of one converted frame (1104 x 1104, quality 98) and of its
// stages.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "output/jpeg_encoder.h"

namespace {

constexpr int kSize = 1104;

// A smooth picture with detail and mild noise, bottom-up BGRX.
std::vector<uint8_t> MakePicture() {
    std::vector<uint8_t> f(static_cast<size_t>(kSize) * kSize * 4);
    std::mt19937 rng(1);
    std::normal_distribution<double> noise(0.0, 2.0);
    for (int y = 0; y < kSize; ++y) {
        for (int x = 0; x < kSize; ++x) {
            uint8_t* p = &f[(static_cast<size_t>(y) * kSize + x) * 4];
            const double u = x / double(kSize), v = y / double(kSize);
            const double stripes = 40 * std::sin(60 * u * v) + 30 * std::cos(25 * v);
            p[0] = static_cast<uint8_t>(std::clamp(120 + stripes + noise(rng), 0.0, 255.0));
            p[1] = static_cast<uint8_t>(std::clamp(90 + 100 * u + noise(rng), 0.0, 255.0));
            p[2] = static_cast<uint8_t>(std::clamp(60 + 150 * v - stripes / 2 + noise(rng), 0.0, 255.0));
        }
    }
    return f;
}

const std::vector<uint8_t>& Picture() {
    static const std::vector<uint8_t> picture = MakePicture();
    return picture;
}

void BM_JpegEncode(benchmark::State& state) {
    tessaly::JpegEncoder encoder;
    for (auto _ : state) {
        encoder.Encode({Picture().data(), kSize, kSize, 32}, 98);
        benchmark::DoNotOptimize(encoder.File().data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kSize * kSize * 3);
    state.counters["file_bytes"] = static_cast<double>(encoder.File().size());
}
BENCHMARK(BM_JpegEncode)->Unit(benchmark::kMillisecond);

void BM_JpegPrepare(benchmark::State& state) {
    const tessaly::JpegQuantTables tables = tessaly::JpegSetQuality(98);
    tessaly::JpegCoefficientPlanes planes;
    std::vector<uint8_t> scratch;
    for (auto _ : state) {
        tessaly::JpegPrepareImage({Picture().data(), kSize, kSize, 32}, tables, planes, scratch);
        benchmark::DoNotOptimize(planes.plane[0].data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kSize * kSize * 3);
}
BENCHMARK(BM_JpegPrepare)->Unit(benchmark::kMillisecond);

void BM_JpegPreparePlain(benchmark::State& state) {
    const tessaly::JpegQuantTables tables = tessaly::JpegSetQuality(98);
    tessaly::JpegCoefficientPlanes planes;
    for (auto _ : state) {
        tessaly::JpegPrepareImagePlain({Picture().data(), kSize, kSize, 32}, tables, planes);
        benchmark::DoNotOptimize(planes.plane[0].data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kSize * kSize * 3);
}
BENCHMARK(BM_JpegPreparePlain)->Unit(benchmark::kMillisecond);

void BM_JpegEntropy(benchmark::State& state) {
    tessaly::JpegEncoder encoder;
    encoder.Encode({Picture().data(), kSize, kSize, 32}, 98);
    const tessaly::JpegCoefficientPlanes planes = encoder.Planes();
    const tessaly::JpegQuantTables tables = encoder.QuantTables();
    for (auto _ : state) {
        encoder.EncodePlanes(planes, tables, kSize, kSize);
        benchmark::DoNotOptimize(encoder.File().data());
    }
}
BENCHMARK(BM_JpegEntropy)->Unit(benchmark::kMillisecond);

}  // namespace
