// Micro benchmarks of the transform on a synthetic 1920 x 1080 frame with the
// default cut (output 1104 x 1104).
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "transform/frame_pipeline.h"
#include "transform/frame_steps.h"

using namespace tessaly;

namespace {

constexpr int kW = 1920;
constexpr int kH = 1080;

std::vector<uint8_t> Frame() {
    std::vector<uint8_t> f(static_cast<size_t>(kW) * kH * 4);
    for (size_t i = 0; i < f.size(); ++i) f[i] = static_cast<uint8_t>((i * 2654435761u) >> 13);
    return f;
}

// The projection through a filled table. Args: kernel, threads.
void BM_ProjectCached(benchmark::State& state) {
    const auto kernel = static_cast<ResampleKernel>(state.range(0));
    if (!KernelSupported(kernel)) {
        state.SkipWithError("kernel not supported here");
        return;
    }
    FramePipeline p(static_cast<int>(state.range(1)));
    p.SetKernel(kernel);
    p.Allocate(kW, kH);
    TransformSettings s;
    s.sharpenOn = 0;
    p.BuildGeometry(s.cut);
    const std::vector<uint8_t> frame = Frame();
    p.ConvertFrame(frame.data(), frame.size(), s, {}, {});
    const CutGeometry g = p.Geometry();
    FrameBuffer out;
    out.Allocate(g.outW, g.outH);
    Resampler r;
    r.SetKernel(kernel);
    RowPool pool(static_cast<int>(state.range(1)));
    r.SetPool(&pool);
    for (auto _ : state) {
        ProjectToOutput(p.Crop(), out.Whole(), r, p.Table(), g.cropW, p.Columns().first);
        benchmark::DoNotOptimize(out.Data());
    }
    state.counters["ns/px"] = benchmark::Counter(static_cast<double>(g.OutputPixels()),
                                                 benchmark::Counter::kIsIterationInvariantRate |
                                                     benchmark::Counter::kInvert);
}
BENCHMARK(BM_ProjectCached)
    ->ArgsProduct({{static_cast<int>(ResampleKernel::kScalar), static_cast<int>(ResampleKernel::kSse2),
                    static_cast<int>(ResampleKernel::kAvx2), static_cast<int>(ResampleKernel::kAvx512)},
                   {1, 2}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The table build of a geometry change.
void BM_BuildTable(benchmark::State& state) {
    RowPool pool(static_cast<int>(state.range(0)));
    CutGeometry g = BuildCutGeometry(kW, kH, CutRect{}).geometry;
    ComputeProjection(g);
    for (auto _ : state) {
        RemapTable table;
        table.Build(g, &pool);
        benchmark::DoNotOptimize(table.Pairs());
    }
}
BENCHMARK(BM_BuildTable)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

// The table build through each lens, on one thread, against the default
// lens's own path (which must stay within 2x of them). Args: model, field of
// view, turned (yaw 12, pitch -7, roll 5) or not.
void BM_BuildLensTable(benchmark::State& state) {
    CutGeometry g = BuildCutGeometry(kW, kH, CutRect{}).geometry;
    ComputeProjection(g);
    LensSettings lens;
    lens.model = static_cast<LensModel>(state.range(0));
    lens.fov = static_cast<double>(state.range(1));
    if (state.range(2) != 0) {
        lens.yaw = 12;
        lens.pitch = -7;
        lens.roll = 5;
    }
    state.SetLabel(std::string(LensModelName(lens.model)) + " " + std::to_string(state.range(1)) +
                   (state.range(2) != 0 ? " turned" : "") + (lens.IsDefault() ? " (default path)" : ""));
    for (auto _ : state) {
        RemapTable table;
        table.Build(g, lens, nullptr);
        benchmark::DoNotOptimize(table.Pairs());
    }
}
BENCHMARK(BM_BuildLensTable)
    ->Args({0, 180, 0})
    ->Args({0, 200, 0})
    ->Args({1, 200, 0})
    ->Args({2, 200, 0})
    ->Args({3, 160, 0})
    ->Args({0, 180, 1})
    ->Args({1, 200, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// A whole conversion frame with the start-up settings (sharpen 0: off in effect).
void BM_ConvertFrame(benchmark::State& state) {
    FramePipeline p;
    p.Allocate(kW, kH);
    TransformSettings s;
    s.sharpen = static_cast<int32_t>(state.range(0));
    s.noiseOn = static_cast<int32_t>(state.range(1));
    s.noise = 1;
    s.aspect = static_cast<int32_t>(state.range(2));
    p.BuildGeometry(s.cut);
    const std::vector<uint8_t> frame = Frame();
    p.ConvertFrame(frame.data(), frame.size(), s, {}, {});
    for (auto _ : state) p.ConvertFrame(frame.data(), frame.size(), s, {}, {});
}
BENCHMARK(BM_ConvertFrame)
    ->Args({0, 0, 0})
    ->Args({1, 0, 0})
    ->Args({1, 1, 0})
    ->Args({1, 0, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// A whole conversion frame (sharpen off) through the default lens and through
// a turned equisolid 200-degree lens: the same table format, the same cost.
void BM_ConvertFrameLens(benchmark::State& state) {
    FramePipeline p;
    p.Allocate(kW, kH);
    TransformSettings s;
    s.sharpenOn = 0;
    if (state.range(0) != 0) {
        s.lens.model = LensModel::kEquisolid;
        s.lens.fov = 200;
        s.lens.yaw = 12;
        s.lens.pitch = -7;
        s.lens.roll = 5;
    }
    state.SetLabel(s.lens.IsDefault() ? "default lens" : "equisolid 200 turned");
    p.BuildGeometry(s.cut, s.lens);
    const std::vector<uint8_t> frame = Frame();
    p.ConvertFrame(frame.data(), frame.size(), s, {}, {});
    for (auto _ : state) p.ConvertFrame(frame.data(), frame.size(), s, {}, {});
}
BENCHMARK(BM_ConvertFrameLens)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Sharpen(benchmark::State& state) {
    std::vector<uint8_t> a = Frame(), b(a.size());
    for (auto _ : state) Sharpen(1104, 1104, a.data(), b.data(), 3, static_cast<int>(state.range(0)));
}
BENCHMARK(BM_Sharpen)->Arg(0)->Arg(3)->Unit(benchmark::kMillisecond);

void BM_NoisePass(benchmark::State& state) {
    std::vector<uint8_t> a = Frame();
    a.resize(a.size() + kW * 4);
    for (auto _ : state) NoisePass(a.data(), kW, kH);
}
BENCHMARK(BM_NoisePass)->Unit(benchmark::kMillisecond);

void BM_BrightnessContrast(benchmark::State& state) {
    std::vector<uint8_t> a = Frame();
    TransformSettings s;
    s.brightnessOn = s.contrastOn = 1;
    s.brightness = 140;
    s.contrast = 150;
    for (auto _ : state) BrightnessContrast(a.data(), static_cast<int64_t>(kW) * kH, s);
}
BENCHMARK(BM_BrightnessContrast)->Unit(benchmark::kMillisecond);

void BM_CutCrop(benchmark::State& state) {
    FrameBuffer in, crop;
    in.Allocate(kW, kH);
    const CutGeometry g = BuildCutGeometry(kW, kH, CutRect{}).geometry;
    crop.Allocate(g.cropW, g.cropH);
    for (auto _ : state) CutCrop(in, g, state.range(0) != 0, crop);
}
BENCHMARK(BM_CutCrop)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
