#include "convert/job_run.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "convert/export.h"
#include "convert/job_movie.h"
#include "convert/movie_conversion.h"
#include "transform/frame_pipeline.h"
#include "video/encoder_program.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;

// Folders of this kind inside a temporary folder belong to one job's run.
constexpr const char* kJobFolderPattern = "tessaly-job-XXXXXX";

// A new folder of the run's own inside `base` (made when missing), so that
// no other run's stills and sound meet its own; empty with `error` set.
std::string MakeRunFolder(const std::string& base, std::string& error) {
    std::error_code ec;
    fs::create_directories(base, ec);
    std::string folder = (fs::path(base) / kJobFolderPattern).string();
    if (::mkdtemp(folder.data()) == nullptr) {
        error = "cannot use the temporary folder " + base + ": " + std::strerror(errno);
        return {};
    }
    return folder;
}

// Why a run that converted did not give every output, in one line.
std::string FailureOf(const MovieConversion& conversion, const std::string& moviePath) {
    if (!conversion.opened) return "cannot open " + moviePath + ": " + conversion.openError;
    const ConversionResult& result = conversion.result;
    if (result.status != ConversionStatus::kDone) {
        return result.error.empty() ? "the conversion did not finish" : result.error;
    }
    for (const ExportResult& e : result.exports)
        if (!e.written) return e.error.empty() ? "the movie " + e.outputPath + " was not written" : e.error;
    return result.exports.empty() ? "no movie was written" : std::string();
}

// Why the job cannot start here, or empty.
std::string StartProblem(const MovieJob& job, const FisheyeApp& app) {
    const std::string problem = JobProblem(job);
    if (!problem.empty()) return problem;
    if (ReadJobMovie(job.movie.path) != job.movie) {
        return "the movie " + job.movie.path + " is missing or has changed since the job was made";
    }
    if (job.stereo.IsPair() && ReadJobMovie(job.stereo.right.path) != job.stereo.right) {
        return "the right movie " + job.stereo.right.path + " is missing or has changed since the job was made";
    }
    if (FindEncoderProgram(app.env.programDir).empty()) {
        return EncoderMissing("", app.env.programDir) + ": install ffmpeg";
    }
    return {};
}

}  // namespace

ConversionOptions JobConversionOptions(const MovieJob& job) {
    ConversionOptions run;
    const bool stills = job.outputs.stills.has_value() || job.outputs.keepStills;
    if (!stills) run.streamOutputs = job.outputs.paths;
    run.keepStills = job.outputs.keepStills;
    run.placeTogether = true;
    run.writerThreads = StillWriterThreads();
    run.checkTempSpace = stills;
    run.encoderStallMs = job.run.encoderStallSeconds * 1000;
    run.partIndex = job.run.partIndex;
    run.partCount = job.run.partCount;
    run.stereo = job.stereo.settings;
    run.rightMovie = job.stereo.right.path;
    run.rightOffset = job.stereo.rightOffset;
    return run;
}

JobRunOutcome RunJobAlone(const MovieJob& job, FisheyeApp& app, UserInterface& ui,
                          const std::function<void(const MediaInfo&)>& onOpened) {
    JobRunOutcome outcome;
    outcome.reason = StartProblem(job, app);
    if (!outcome.reason.empty()) return outcome;
    MovieJob own = job;
    const bool stills = job.outputs.stills.has_value() || job.outputs.keepStills;
    if (stills) {
        own.run.tempDir = MakeRunFolder(job.run.tempDir, outcome.reason);
        if (own.run.tempDir.empty()) return outcome;
    }
    ApplyJob(own, app);
    FramePipeline pipeline;
    const MovieConversion conversion =
        ConvertMovieFile(app, ui, pipeline, own.movie.path, own.outputs.paths, JobConversionOptions(own), onOpened);
    // Kept stills stay in their folder, which the log names.
    if (stills && !own.outputs.keepStills) {
        std::error_code ec;
        fs::remove_all(own.run.tempDir, ec);
    }
    outcome.stopped = conversion.result.status == ConversionStatus::kStopped;
    if (!outcome.stopped) outcome.reason = FailureOf(conversion, own.movie.path);
    outcome.done = !outcome.stopped && outcome.reason.empty();
    return outcome;
}

}  // namespace tessaly
