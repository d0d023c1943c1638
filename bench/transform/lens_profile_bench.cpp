// Costs of a calibrated lens profile on a 1920 x 1080 frame with the default
// cut (output 1104 x 1104), one thread: the remap table's build and one
// frame's projection for the ideal equisolid lens (the peer) and for the
// Sigma 8mm circular fisheye's full-frame calibration with each correction
// alone and all three. The corrections are separated by a lens file of our
// own (the database's XML format) that holds one lens per case, each with
// the Sigma's numbers for that correction only.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "transform/frame_pipeline.h"

using namespace tessaly;

namespace {

constexpr int kW = 1920;
constexpr int kH = 1080;

// The Sigma 8mm f/3.5 EX DG Circular on a full-frame camera (Canon 5D Mark
// III), vignetting at f/3.5 focused far.
constexpr const char* kDistortion = R"(<distortion model="ptlens" focal="8" a="-0.08165" b="-0.09515" c="0.28621"/>)";
constexpr const char* kVignetting =
    R"(<vignetting model="pa" focal="8" aperture="3.5" distance="1000" k1="-2.55411" k2="9.10148" k3="-23.34727"/>)";
constexpr const char* kColour = R"(<tca model="poly3" focal="8" br="-0.0000252" vr="1.0005234" bb="0.0003099" vb="1.0001467"/>)";

struct Case {
    const char* model;  // empty: the ideal lens
    bool distortion, vignetting, colour;
};
constexpr Case kCases[] = {{"", false, false, false},
                           {"Bench distortion", true, false, false},
                           {"Bench vignetting", false, true, false},
                           {"Bench lateral colour", false, false, true},
                           {"Bench all three", true, true, true}};

// The lens file, written once into the temporary folder.
const std::string& LensFile() {
    static const std::string path = [] {
        const char* tmp = std::getenv("TMPDIR");
        std::string p = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/tessaly-lens-bench.xml";
        std::string xml = "<lensdatabase version=\"1\">\n";
        for (const Case& c : kCases) {
            if (*c.model == '\0') continue;
            xml += std::string("<lens><maker>Tessaly</maker><model>") + c.model +
                   "</model><mount>Canon EF</mount><type>equisolid</type><cropfactor>1</cropfactor><calibration>" +
                   (c.distortion ? kDistortion : "") + (c.vignetting ? kVignetting : "") + (c.colour ? kColour : "") +
                   "</calibration></lens>\n";
        }
        xml += "</lensdatabase>\n";
        if (FILE* f = std::fopen(p.c_str(), "w")) {
            std::fputs(xml.c_str(), f);
            std::fclose(f);
        }
        return p;
    }();
    return path;
}

TransformSettings Settings(int64_t which) {
    TransformSettings s;
    s.sharpenOn = 0;
    s.lens.model = LensModel::kEquisolid;
    const Case& c = kCases[which];
    if (*c.model != '\0') {
        s.lens.profile.lens = std::string("Tessaly ") + c.model;
        s.lens.profile.cropFactor = 1.0;
        s.lens.profile.aperture = 3.5;
        s.lens.profile.lensFile = LensFile();
    }
    return s;
}

void Label(benchmark::State& state) {
    const Case& c = kCases[state.range(0)];
    state.SetLabel(*c.model == '\0' ? "ideal equisolid" : c.model);
}

void BM_TableBuild(benchmark::State& state) {
    Label(state);
    FramePipeline p(1);
    p.Allocate(kW, kH);
    const TransformSettings s = Settings(state.range(0));
    RemapTable table;
    CutGeometry g = p.BuildGeometry(s.cut, s.lens).geometry;
    ComputeProjection(g);
    for (auto _ : state) {
        table.Clear();
        if (!table.Build(g, s.lens, nullptr)) {
            state.SkipWithError(table.Problem().c_str());
            return;
        }
    }
    state.counters["MB"] = static_cast<double>(table.Bytes()) / 1e6;
}
BENCHMARK(BM_TableBuild)->DenseRange(0, 4)->Unit(benchmark::kMillisecond);

void BM_Frame(benchmark::State& state) {
    Label(state);
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
BENCHMARK(BM_Frame)->DenseRange(0, 4)->Unit(benchmark::kMillisecond);

}  // namespace
