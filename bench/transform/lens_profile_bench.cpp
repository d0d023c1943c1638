// Costs of a calibrated lens profile on a 1920 x 1080 frame with the default
// cut (output 1104 x 1104), one thread: the remap table's build and one
// frame's projection, for the ideal lens (the peer) and for profiles that add
// distortion alone, distortion and vignetting, and all three corrections.
#include <benchmark/benchmark.h>

#include <vector>

#include "transform/frame_pipeline.h"

using namespace tessaly;

namespace {

constexpr int kW = 1920;
constexpr int kH = 1080;

// Arg 0: the ideal equisolid lens; 1: a profile with distortion alone
// (Olympus 9mm body cap); 2: distortion and vignetting (Samyang 12mm, no
// lateral colour data); 3: distortion, vignetting and lateral colour
// (Sigma 8mm on a full-frame camera).
LensSettings Lens(int64_t which) {
    LensSettings lens;
    lens.model = LensModel::kEquisolid;
    const char* names[] = {"", "Olympus 9mm Body Cap Lens Fisheye", "Samyang 12mm f/2.8 Fish-Eye ED AS NCS",
                           "Sigma 8mm f/3.5 EX DG Circular"};
    const double crops[] = {0, 2.0, 1.0, 1.0};
    lens.profile.lens = names[which];
    lens.profile.cropFactor = crops[which];
    return lens;
}

TransformSettings Settings(int64_t which) {
    TransformSettings s;
    s.sharpenOn = 0;
    s.lens = Lens(which);
    return s;
}

void BM_TableBuild(benchmark::State& state) {
    FramePipeline p(1);
    p.Allocate(kW, kH);
    const TransformSettings s = Settings(state.range(0));
    RemapTable table;
    CutGeometry g = p.BuildGeometry(s.cut, s.lens).geometry;
    ComputeProjection(g);
    for (auto _ : state) {
        table.Clear();
        benchmark::DoNotOptimize(table.Build(g, s.lens, nullptr));
    }
    state.counters["MB"] = static_cast<double>(table.Bytes()) / 1e6;
}
BENCHMARK(BM_TableBuild)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

void BM_Frame(benchmark::State& state) {
    FramePipeline p(1);
    p.Allocate(kW, kH);
    const TransformSettings s = Settings(state.range(0));
    if (!p.BuildGeometry(s.cut, s.lens).Ok()) {
        state.SkipWithError("the profile cannot be read");
        return;
    }
    std::vector<uint8_t> frame(static_cast<size_t>(kW) * kH * 4);
    for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<uint8_t>((i * 2654435761u) >> 13);
    for (auto _ : state) {
        p.ConvertFrame(frame.data(), frame.size(), s, {}, {});
        benchmark::DoNotOptimize(p.OutputPixels());
    }
}
BENCHMARK(BM_Frame)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

}  // namespace
