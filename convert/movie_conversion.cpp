#include "convert/movie_conversion.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <algorithm>
#include <cmath>
#include <memory>
#include <utility>

#include "app/format.h"
#include "app/startup.h"
#include "convert/stereo_hooks.h"
#include "video/open_movie.h"
#include "video/stream_text.h"
#include "video/video_stream.h"

namespace tessaly {
namespace {

// The movie a headless run opens for itself: no preview, no stream loop.
// The facts are read once, before any other thread looks at them.
class HeadlessMovie final : public OpenMovie {
public:
    explicit HeadlessMovie(std::string path) : path_(std::move(path)) {}

    VideoStream& Stream() override { return stream_; }
    MediaInfo Info() const override { return info_; }
    std::string VideoPath() const override { return path_; }
    int32_t OpenFlag() const override { return stream_.IsOpen() ? 1 : 0; }

    StreamError Open() {
        const StreamError error = stream_.Open(path_);
        if (error == StreamError::kNone) info_ = stream_.Info();
        return error;
    }
    // A pair of movies runs as long as both: the facts say no more.
    void LimitTo(const MediaInfo& limited) { info_ = limited; }
    // Stops the decoding thread and releases the movie; true when it was open.
    bool Close() {
        const bool wasOpen = stream_.IsOpen();
        stream_.Close();
        return wasOpen;
    }

private:
    std::string path_;
    VideoStream stream_;
    MediaInfo info_;
};

double FramesPerSecond(const MediaInfo& info) {
    return info.timePerFrame.count() > 0 ? 1e7 / static_cast<double>(info.timePerFrame.count()) : 0;
}

// Opens the movie, and a pair's right movie; empty, or why not.
std::string OpenMovies(HeadlessMovie& movie, RightEyeFeed& rightEye, const ConversionOptions& options, RunLog& log) {
    if (movie.Open() != StreamError::kNone) {
        const std::string problem = movie.Stream().OpenProblem();
        return problem.empty() ? "the movie could not be opened" : problem;
    }
    if (options.stereo.input != StereoLayout::kPair) return {};
    MediaInfo limited = movie.Info();
    const std::string problem = OpenRightEye(rightEye, options, log, limited);
    if (problem.empty()) movie.LimitTo(limited);
    return problem;
}

// The hooks of a mono run, or of a stereo one with a pipeline per eye
// (made into `eyes`) and, for a pair, the right movie's frames.
ConversionHooks RunHooks(FisheyeApp& app, FramePipeline& pipeline, std::unique_ptr<StereoPipelines>& eyes,
                         RightEyeFeed& rightEye, const MediaInfo& info, const ConversionOptions& options) {
    if (!options.stereo.IsStereo()) return PipelineHooks(pipeline, app);
    eyes = std::make_unique<StereoPipelines>();
    eyes->Allocate(info.frameWidth, info.frameHeight, options.stereo);
    const bool pair = options.stereo.input == StereoLayout::kPair;
    return StereoHooks(*eyes, app, options.stereo, pair ? &rightEye : nullptr, FramesPerSecond(info));
}

}  // namespace

std::string OpenRightEye(RightEyeFeed& feed, const ConversionOptions& options, RunLog& log, MediaInfo& left) {
    log.WriteLogLine("Open right movie: " + options.rightMovie + ", its frame n + " +
                     std::to_string(options.rightOffset) + " with the left's frame n");
    const std::string problem = feed.Open(options.rightMovie, options.rightOffset);
    if (!problem.empty()) return "the right movie " + options.rightMovie + ": " + problem;
    const MediaInfo r = feed.Info();
    if (r.frameWidth != left.frameWidth || r.frameHeight != left.frameHeight) {
        return "the right movie's pictures are " + std::to_string(r.frameWidth) + "x" + std::to_string(r.frameHeight) +
               ", the left's " + std::to_string(left.frameWidth) + "x" + std::to_string(left.frameHeight);
    }
    const double rate = FramesPerSecond(left);
    if (rate <= 0 || std::fabs(FramesPerSecond(r) - rate) > rate * 1e-3) {
        return "the two movies run at different frame rates";
    }
    const double seconds = r.durationSeconds - options.rightOffset / rate;
    const int32_t frames = r.frameCount - options.rightOffset;
    left.durationSeconds = std::min(left.durationSeconds, seconds);
    left.duration = std::min(left.duration, MediaTime{static_cast<int64_t>(seconds * 1e7)});
    left.frameCount = std::min(left.frameCount, frames);
    left.declaredFrames = std::min<int64_t>(left.declaredFrames, frames);
    return {};
}

MovieConversion ConvertMovieFile(FisheyeApp& app, UserInterface& ui, FramePipeline& pipeline,
                                 const std::string& input, const std::vector<std::string>& outputs,
                                 const ConversionOptions& options,
                                 const std::function<void(const MediaInfo&)>& onOpened) {
    MovieConversion conversion;
#if defined(__GLIBC__)
    // Frame-sized blocks, freed by several threads, go straight back to the
    // system instead of staying in the threads' arenas (glibc would raise
    // this threshold after the first such block is freed): some 4 MB less at
    // 1080p.
    mallopt(M_MMAP_THRESHOLD, 256 * 1024);
#endif
    RunLog& log = app.env.log;
    HeadlessMovie movie(input);
    VideoStream& stream = movie.Stream();
    // The transform and the still writers keep the cores busy; decoding
    // ahead on frame threads would only hold more frames.
    stream.SetSliceThreadsOnly(true);
    // Shutdown stops the decoding and then releases the movie.
    app.run.shutdown.AddStopHook([&stream] { stream.Hold(); });
    app.run.shutdown.AddJoinHook([&movie, &log] {
        if (movie.Close()) log.WriteLogLine("File exit Ok");
    });

    // A stereo run converts each eye in a pipeline of its own; they outlive
    // the stream, which the Shutdown below stops.
    std::unique_ptr<StereoPipelines> eyes;
    RightEyeFeed rightEye;
    app.run.shutdown.AddStopHook([&rightEye] { rightEye.Close(); });
    // A failure below (no thread or no memory to be had) ends the stream
    // and its thread before it goes on to the caller.
    try {
        log.WriteLogLine("Open movie: " + input);
        conversion.openError = OpenMovies(movie, rightEye, options, log);
        if (!conversion.openError.empty()) {
            log.WriteLogLine("Open failed: " + conversion.openError);
        } else if (app.run.stopRequested.load()) {
            conversion.openError = "stopped while the movie was opening";
        } else {
            conversion.opened = true;
            conversion.info = movie.Info();
            const MediaInfo& info = conversion.info;
            log.WriteLogLine("Video File Duration = " + FormatNumber(info.durationSeconds));
            for (const std::string& line : MovieFactLines(info)) log.WriteLogLine(line);
            app.run.frameWidth = info.frameWidth;
            app.run.frameHeight = info.frameHeight;
            pipeline.Allocate(info.frameWidth, info.frameHeight);
            pipeline.ForceGeometryRebuild();
            if (onOpened) onOpened(info);
            // The run starts from the first frame, as after the Convert
            // command's stop and rewind.
            stream.Hold();
            stream.SeekToStart();
            app.run.vrStereo = options.stereo.IsStereo() ? options.stereo.output : StereoLayout::kMono;
            const ConversionHooks hooks = RunHooks(app, pipeline, eyes, rightEye, info, options);
            conversion.result = options.streamOutputs.empty()
                                    ? RunConversion(app, ui, movie, hooks, outputs, options)
                                    : RunStreamingConversion(app, ui, movie, hooks, options.streamOutputs, options);
            conversion.unconvertibleFrames = stream.FramesUnconvertible();
        }
    } catch (...) {
        app.run.RequestStop();
        app.run.streamState = StreamState::Stopped;
        if (!app.run.shutdownDone.load()) Shutdown(app);
        rightEye.Close();
        movie.Close();
        throw;
    }
    // A run that ended early (or never began) still shuts down, which
    // releases the movie; after a full run the driver has done so.
    app.run.streamState = StreamState::Stopped;
    if (!app.run.shutdownDone.load()) Shutdown(app);
    return conversion;
}

}  // namespace tessaly
