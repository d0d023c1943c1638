// Frames per second through the frame callback for a 1920x1080 frame with the
// default cut (1104x1104 output): the transform, then the still written on the
// frame thread (0 writer threads) or handed to writer threads.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <vector>

#include "convert/conversion_driver.h"
#include "convert/frame_callback.h"
#include "convert/transform_adapters.h"
#include "output/still_writer.h"
#include "transform/frame_pipeline.h"

namespace {

using namespace tessaly;
namespace fs = std::filesystem;

void BM_FrameCallback(benchmark::State& state) {
    const int writerThreads = static_cast<int>(state.range(0));
    const bool jpeg = state.range(1) != 0;
    const fs::path dir = fs::temp_directory_path() / ("tessaly_fcb_" + std::to_string(::getpid()));
    fs::create_directories(dir);

    FisheyeApp app;
    app.run.tempFormat = jpeg ? StillFormat::Jpeg : StillFormat::Bmp;
    FramePipeline pipeline;
    pipeline.Allocate(1920, 1080);
    pipeline.BuildGeometry(CutOf(*app.settings));
    ConversionHooks hooks = PipelineHooks(pipeline, app);

    std::vector<uint8_t> frame(1920u * 1080u * 4u);
    for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<uint8_t>((i * 2654435761u) >> 24);

    StillWriter writer(dir.string());
    FrameCallback callback(app.run, writer, hooks.convertFrame, 1000, writerThreads);
    callback.StartClock();
    for (auto _ : state) {
        callback.OnFrame(0, frame.data(), static_cast<int32_t>(frame.size()));
        // Keep the folder small: every 32 frames, wait for and drop the stills.
        if (callback.frameNo.load() % 32 == 0) {
            state.PauseTiming();
            callback.Flush();
            writer.DeleteTemporaryFiles();
            state.ResumeTiming();
        }
    }
    callback.Flush();
    state.SetItemsProcessed(state.iterations());
    writer.DeleteTemporaryFiles();
    fs::remove_all(dir);
}
BENCHMARK(BM_FrameCallback)
    ->ArgNames({"writers", "jpeg"})
    ->Args({0, 0})
    ->Args({2, 0})
    ->Args({0, 1})
    ->Args({2, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
