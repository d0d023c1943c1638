#include "convert/movie_job.h"

#include <utility>

#include "app/parameter_table.h"

namespace tessaly {

MovieJob JobFromSettings(const AppSettings& s) {
    MovieJob job;
    job.geometry.cut = CutRect{s.XL1, s.YL1, s.XL2, s.YL2};
    job.lens = s.lens;
    for (const JobFilterField& f : kJobFilterFields) job.filters.*f.field = s.*f.setting;
    job.aspect = s.ASPECT != 0;
    job.run.tempDir = s.APATH;
    return job;
}

MovieJob JobFromState(const AppSettings& settings, const RunState& run, const std::string& moviePath,
                      std::vector<std::string> outputs) {
    MovieJob job = JobFromSettings(settings);
    job.movie.path = job.geometry.moviePath = moviePath;
    job.flip = run.horizontalFlip.load();
    job.outputs.paths = std::move(outputs);
    job.outputs.resize = run.resizeChoice.load();
    job.outputs.vrMetadata = run.markVrOutput.load();
    return job;
}

AppSettings JobSettings(const MovieJob& job, AppSettings s) {
    s.XL1 = job.geometry.cut.XL1;
    s.YL1 = job.geometry.cut.YL1;
    s.XL2 = job.geometry.cut.XL2;
    s.YL2 = job.geometry.cut.YL2;
    s.lens = job.lens;
    for (const JobFilterField& f : kJobFilterFields) s.*f.setting = job.filters.*f.field;
    s.ASPECT = job.aspect ? 1 : 0;
    if (!job.run.tempDir.empty()) s.APATH = job.run.tempDir;
    return s;
}

void ApplyJob(const MovieJob& job, FisheyeApp& app) {
    app.settings.Set(JobSettings(job, *app.settings));
    app.run.horizontalFlip = job.flip;
    if (job.outputs.stills) app.run.tempFormat = *job.outputs.stills;
    app.run.resizeChoice = job.outputs.resize;
    app.run.markVrOutput = job.outputs.vrMetadata;
}

namespace {

// Why a stereo job's eyes cannot be converted as they stand, or empty.
std::string StereoProblem(const MovieJob& job) {
    const StereoSettings& s = job.stereo.settings;
    if (s.output == StereoLayout::kMono) return "a stereo job needs an output layout (sbs or tb)";
    if (job.flip) return "flipping would swap the eyes' sides: a stereo job cannot flip";
    if (job.stereo.IsPair() && job.stereo.right.path.empty()) return "a pair of movies needs the right movie";
    const FrameRegion& left = s.windows[kLeftEye];
    const FrameRegion& right = s.windows[kRightEye];
    if (left.w < 1 || left.h < 1 || left.w != right.w || left.h != right.h) {
        return "the eyes' windows need one size, " + std::to_string(left.w) + "x" + std::to_string(left.h) +
               " and " + std::to_string(right.w) + "x" + std::to_string(right.h) + " are given";
    }
    for (int eye = 0; eye < 2; ++eye) {
        const std::string lens = LensProblem(EyeLens(job.lens, s.angles[eye]));
        if (!lens.empty()) {
            return std::string(eye == kLeftEye ? "the left" : "the right") + " eye's lens cannot be used: " + lens;
        }
    }
    return {};
}

}  // namespace

std::string JobProblem(const MovieJob& job) {
    if (job.movie.path.empty()) return "no movie";
    if (job.geometry.moviePath != job.movie.path) {
        return "the cut was made for " + job.geometry.moviePath + ", not for " + job.movie.path;
    }
    if (job.geometry.frameW != job.movie.width || job.geometry.frameH != job.movie.height) {
        return "the cut was made for a " + std::to_string(job.geometry.frameW) + "x" +
               std::to_string(job.geometry.frameH) + " picture, the movie's is " + std::to_string(job.movie.width) +
               "x" + std::to_string(job.movie.height);
    }
    for (const JobFilterField& f : kJobFilterFields) {
        const ParameterDescriptor& d = *ParameterOf(f.setting);
        const std::string problem = RangeProblem(d, job.filters.*f.field);
        if (!problem.empty()) return std::string(d.tag) + " " + problem;
    }
    const std::string lens = LensProblem(job.lens);
    if (!lens.empty()) return "the lens cannot be used: " + lens;
    if (job.stereo.IsStereo()) {
        const std::string stereo = StereoProblem(job);
        if (!stereo.empty()) return stereo;
    }
    if (job.outputs.paths.empty()) return "no output";
    if (job.outputs.quality < 0 || job.outputs.quality > 21) return "the quality lies outside 0..21";
    if (job.outputs.resize < 0 || job.outputs.resize > 5) return "the size choice lies outside 0..5";
    return {};
}

}  // namespace tessaly
