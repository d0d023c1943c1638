// Times the fisheye projection on real decoded frames, the way a conversion
// runs it: the remap table is built once (timed apart), each frame is loaded
// and cropped (not timed), then projected from the crop to the output through
// the table (timed), once with the row-split pool and once on one thread; the
// two outputs must be equal.
//
//   remap_frames WIDTH HEIGHT RAW_BGRA_FILE [THREADS]
//
// RAW_BGRA_FILE holds top-down BGRA frames as `ffmpeg -pix_fmt bgra -f
// rawvideo` writes them ("-" reads standard input). The default cut is used.
// Prints a few "key=value" lines for bench/compare-remap.sh.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "transform/frame_steps.h"
#include "transform/row_pool.h"

using namespace tessaly;

namespace {

double Ms(std::chrono::steady_clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

struct Lane {
    Resampler resampler;
    RemapTable table;
    FrameBuffer output;
    double fillMs = 0;
    std::vector<double> frameMs;
};

double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double Mean(const std::vector<double>& v) {
    double s = 0;
    for (double x : v) s += x;
    return v.empty() ? 0 : s / static_cast<double>(v.size());
}

// Projects every frame of `in` through both lanes, timing each; false when
// a projection fails. `identical` tells whether the lanes agreed on all.
bool ProjectFrames(FILE* in, int w, int h, const CutGeometry& g, const ColumnRange& columns, FrameBuffer& input,
                   FrameBuffer& crop, Lane (&lanes)[2], int& frames, bool& identical) {
    const size_t frameBytes = static_cast<size_t>(w) * h * 4;
    std::vector<uint8_t> raw(frameBytes);
    frames = 0;
    identical = true;
    while (std::fread(raw.data(), 1, frameBytes, in) == frameBytes) {
        // Top-down rows to the bottom-up frame.
        for (int y = 0; y < h; ++y) {
            std::memcpy(input.Row(h - 1 - y), raw.data() + static_cast<size_t>(y) * w * 4, static_cast<size_t>(w) * 4);
        }
        CutCrop(input.Data(), w, h, g, false, crop, columns.first);
        for (Lane& lane : lanes) {
            const auto t0 = std::chrono::steady_clock::now();
            if (ProjectToOutput(crop, lane.output.Whole(), lane.resampler, lane.table, g.cropW, columns.first) !=
                TransformStatus::kOk) {
                return false;
            }
            lane.frameMs.push_back(Ms(std::chrono::steady_clock::now() - t0));
        }
        identical = identical && std::memcmp(lanes[0].output.Data(), lanes[1].output.Data(),
                                             lanes[0].output.PictureBytes()) == 0;
        ++frames;
    }
    return true;
}

void PrintReport(int frames, const CutGeometry& g, const RowPool& all, const Lane (&lanes)[2], bool identical) {
    const double px = static_cast<double>(g.outW) * g.outH;
    std::printf("frames=%d\n", frames);
    std::printf("output=%dx%d\n", g.outW, g.outH);
    std::printf("threads=%d\n", all.Threads());
    std::printf("kernel=%s\n", KernelName(lanes[0].resampler.Kernel()));
    std::printf("identical=%d\n", identical ? 1 : 0);
    std::printf("fill_ms_mt=%.3f\n", lanes[0].fillMs);
    std::printf("fill_ms_st=%.3f\n", lanes[1].fillMs);
    std::printf("frame_ms_mt=%.4f\n", Mean(lanes[0].frameMs));
    std::printf("frame_ms_st=%.4f\n", Mean(lanes[1].frameMs));
    std::printf("median_ms_mt=%.4f\n", Median(lanes[0].frameMs));
    std::printf("median_ms_st=%.4f\n", Median(lanes[1].frameMs));
    std::printf("ns_per_px_mt=%.3f\n", Mean(lanes[0].frameMs) * 1e6 / px);
    std::printf("ns_per_px_st=%.3f\n", Mean(lanes[1].frameMs) * 1e6 / px);
    std::printf("table_bytes=%zu\n", lanes[0].table.Bytes());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: remap_frames WIDTH HEIGHT RAW_BGRA_FILE [THREADS]\n");
        return 2;
    }
    const int w = std::atoi(argv[1]);
    const int h = std::atoi(argv[2]);
    const int threads = argc > 4 ? std::atoi(argv[4]) : 0;
    FILE* in = std::strcmp(argv[3], "-") == 0 ? stdin : std::fopen(argv[3], "rb");
    if (in == nullptr || w <= 0 || h <= 0) {
        std::fprintf(stderr, "remap_frames: cannot read %s\n", argv[3]);
        return 2;
    }

    GeometryResult built = BuildCutGeometry(w, h, CutRect{});
    if (!built.Ok()) {
        std::fprintf(stderr, "remap_frames: %s\n", built.Message().c_str());
        return 2;
    }
    CutGeometry g = built.geometry;
    ComputeProjection(g);
    FrameBuffer input, crop;
    input.Allocate(w, h);

    RowPool all(threads > 0 ? threads : static_cast<int>(std::max(1u, std::thread::hardware_concurrency())));
    RowPool* pools[2] = {&all, nullptr};
    Lane lanes[2];  // 0: row-split pool, 1: one thread
    for (int i = 0; i < 2; ++i) {
        lanes[i].resampler.SetPool(pools[i]);
        lanes[i].output.Allocate(g.outW, g.outH);
        const auto t0 = std::chrono::steady_clock::now();
        lanes[i].table.Build(g, pools[i]);
        lanes[i].fillMs = Ms(std::chrono::steady_clock::now() - t0);
    }
    // As the pipeline does: the crop holds only the columns the table reads.
    const ColumnRange columns = ReadColumns(lanes[0].table, g);
    crop.Allocate(columns.count, g.cropH);

    int frames = 0;
    bool identical = true;
    if (!ProjectFrames(in, w, h, g, columns, input, crop, lanes, frames, identical)) return 1;
    if (in != stdin) std::fclose(in);
    if (frames < 2) {
        std::fprintf(stderr, "remap_frames: need at least 2 frames, got %d\n", frames);
        return 2;
    }
    PrintReport(frames, g, all, lanes, identical);
    return identical ? 0 : 1;
}
