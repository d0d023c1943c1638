#include "playback/video_source.h"

#include <chrono>
#include <thread>

#include "app/app_paths.h"
#include "app/format.h"
#include "video/stream_text.h"

namespace tessaly {

StreamMessage MessageForStreamError(StreamError error) {
    switch (error) {
        case StreamError::kSourceOpen:
            return {"Error", "AddSourceFilte Error", MessageIcon::Error, false};
        case StreamError::kUnsupported:
            return {"Error", "Unsupported media type!", MessageIcon::Error, false};
        case StreamError::kNoRenderer:
            return {"Error", "AddFilter m_pNullRenderer", MessageIcon::Error, false};
        case StreamError::kRendererThread:
            return {"Error", "Stream Error 010", MessageIcon::Error, false};
        case StreamError::kNoFrameBuffer:
            return {"Error", "Stream Error 011", MessageIcon::Error, false};
        case StreamError::kFormat:
            return {"Error Monitoring",
                    "Format of the file is not support,\r\n"
                    "or the movie can be opened by another app.\r\n ",
                    MessageIcon::Information, true};
        case StreamError::kNone:
            break;
    }
    return {};
}

StreamMessage WithReason(StreamMessage message, const std::string& reason) {
    if (reason.empty()) return message;
    std::string& text = message.text;
    while (!text.empty() && (text.back() == ' ' || text.back() == '\r' || text.back() == '\n')) text.pop_back();
    text += "\r\n" + reason;
    return message;
}

VideoSource::VideoSource(FisheyeApp& app, UserInterface& ui) : app_(app), ui_(ui) {}

VideoSource::~VideoSource() { stream_.Close(); }

void VideoSource::SetHooks(StreamHooks hooks) { hooks_ = std::move(hooks); }

void VideoSource::SetTimings(const StreamTimings& timings) { timings_ = timings; }

void VideoSource::SetParamFileFolder(std::string folder) { paramFileFolder_ = std::move(folder); }

void VideoSource::RegisterShutdownHooks(std::chrono::milliseconds limit) {
    app_.run.shutdown.AddStopHook([this] { stream_.Hold(); });
    app_.run.shutdown.AddJoinHook([this, limit] { WaitUntilClosed(limit); });
}

bool VideoSource::WaitUntilClosed(std::chrono::milliseconds limit) {
    std::unique_lock lock(closedMutex_);
    return closed_.wait_for(lock, limit, [this] { return streamActive.load() == 0; });
}

MediaInfo VideoSource::Info() const {
    std::lock_guard lock(infoMutex_);
    return info_;
}

std::string VideoSource::VideoPath() const {
    std::lock_guard lock(infoMutex_);
    return videoPath_;
}

void VideoSource::Log(const std::string& line) const { app_.env.log.WriteLogLine(line); }

// The pauses the desktop's open and stream loop keep (StreamTimings): time
// given to the GUI and the other threads, not a wait for a cause.
void VideoSource::Wait(int milliseconds) const {
    if (milliseconds > 0) std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

int32_t VideoSource::OpenAndPlay(const std::string& path) {
    // A newer OpenAndPlay supersedes this one, also while this one is still
    // opening: its stream ends at the next check and its file never plays.
    const int64_t ticket = ++latestRequest_;
    ui_.ShowPreviewSwitches(true, true);
    app_.run.showInputVideo = true;
    app_.run.showOutputVideo = true;

    // End a stream loop still running from an earlier file.
    app_.run.streamState = StreamState::Opening;
    Wait(timings_.stopOlderStream);
    app_.run.streamState = StreamState::Stopped;
    Wait(timings_.settleOlderStream);

    // The older OpenAndPlay holds this until it has torn down and finished, so
    // its closing flag changes can never end the new stream.
    std::lock_guard serial(openMutex_);
    if (ticket != latestRequest_.load()) {
        Log("AVIREAD");
        return 0;
    }
    {
        std::lock_guard lock(infoMutex_);
        videoPath_ = path;
    }
    videoOpen = 1;
    RunVideoStream(path);

    app_.run.streamState = StreamState::Running;
    Wait(timings_.afterStream);
    app_.run.streamState = StreamState::Stopped;
    Log("AVIREAD");
    return 0;
}

bool VideoSource::Superseded(int64_t ticket) const { return ticket != latestRequest_.load(); }

int32_t VideoSource::RunVideoStream(const std::string& path) {
    if (streamActive.exchange(1) == 1) return 0;
    const int64_t ticket = latestRequest_.load();
    lastPosition_ = kNoPosition;
    ui_.ShowMoviePosition(kNoPosition);
    if (hooks_.invalidateGeometry) hooks_.invalidateGeometry();

    const StreamError error = stream_.Open(path);
    // The GUI thread may change the settings meanwhile: a copy under their lock.
    const std::string aspectLine = "OS_ASPECT = " + std::to_string(app_.settings.Copy().ASPECT);
    if (error != StreamError::kNone) {
        if (error == StreamError::kFormat) {
            // The format is read after these lines are written.
            Log(aspectLine);
            Log("Render file:" + path);
        }
        const StreamMessage msg = WithReason(MessageForStreamError(error), stream_.OpenProblem());
        ui_.ShowMessage(msg.caption, msg.text, msg.icon, msg.ownerIsMainWindow);
        Teardown();
        return 0;
    }
    Log(aspectLine);
    Log("Render file:" + path);
    Wait(timings_.connect);
    if (Superseded(ticket) || ShuttingDown()) {
        Teardown();
        return 0;
    }

    const MediaInfo info = stream_.Info();
    Log("Video File Duration = " + FormatNumber(info.durationSeconds));
    stream_.Play();
    app_.run.streamState = StreamState::Opening;

    {
        std::lock_guard lock(infoMutex_);
        info_ = info;
    }
    app_.run.frameWidth = info.frameWidth;
    app_.run.frameHeight = info.frameHeight;
    const std::string paramFolder = paramFileFolder_.empty() ? DecideAppPaths(app_.env.programDir).reportDir
                                                             : paramFileFolder_ + "/";
    WriteFisheyeParamFile(paramFolder + kFisheyeParamFileName, info.timePerFrame,
                          info.durationSeconds);

    const double fps = FrameRateOf(info.timePerFrame);
    const std::string size = std::to_string(info.frameWidth) + "x" + std::to_string(info.frameHeight);
    for (const std::string& line : MovieFactLines(info)) Log(line);

    if (hooks_.allocateFrameBuffers) hooks_.allocateFrameBuffers(info);

    MovieFacts facts;
    facts.path = " " + TrimBlanks(path) + " ";
    facts.frameSize = size;
    facts.frameRate = FormatMask(fps, "00.00") + " fps";
    facts.frameCount = std::to_string(info.frameCount);
    facts.duration = FormatDuration(info.durationSeconds);
    ui_.ShowMovieFacts(facts);

    Wait(timings_.beforeLoop);
    if (hooks_.invalidateGeometry) hooks_.invalidateGeometry();
    if (!Superseded(ticket) && !ShuttingDown()) {
        app_.run.streamState = StreamState::Running;
        if (hooks_.streamReady) hooks_.streamReady();
        StreamLoop(ticket);
    }

    stream_.Hold();
    Wait(timings_.afterStop);
    Teardown();
    return 0;
}

// Shutdown may come while the file is still opening: its streamState = StreamState::Stopped
// can be overwritten by the opening's own flag changes, so the stream also
// looks at Shutdown's one-way flag before it plays and on every turn.
bool VideoSource::ShuttingDown() const { return app_.run.shutdownDone.load(); }

void VideoSource::StreamLoop(int64_t ticket) {
    const MediaTime duration = Info().duration;
    while (app_.run.streamState != StreamState::Stopped && !Superseded(ticket) && !ShuttingDown()) {
        if (app_.run.converting.load()) {
            // A conversion owns the stream; only its stop request ends the loop here.
            if (app_.run.stopRequested.load()) break;
            AwaitConversionTurn(ticket);
            continue;
        }
        if (!app_.run.paused.load()) {
            if (hooks_.previewPass) hooks_.previewPass();
        } else if (++pausedTurns > 50) {
            pausedTurns = 0;
            if (hooks_.previewPass) hooks_.previewPass();
        }
        const MediaTime shown = stream_.CurrentPosition();
        position = shown;
        const MoviePosition bar{shown.count(), duration.count()};
        if (bar != lastPosition_) {
            lastPosition_ = bar;
            ui_.ShowMoviePosition(bar);
        }
        Wait(timings_.previewTurn);
    }
}

// A conversion owns the stream: the loop waits for its stop request or its
// end (both wake the run's events), at the latest for one turn.
void VideoSource::AwaitConversionTurn(int64_t ticket) {
    app_.run.events.WaitUntil(
        [this, ticket] {
            return app_.run.stopRequested.load() || !app_.run.converting.load() ||
                   app_.run.streamState == StreamState::Stopped || Superseded(ticket) || ShuttingDown();
        },
        std::chrono::milliseconds(timings_.convertingTurn));
}

void VideoSource::Teardown() {
    stream_.Close();
    {
        std::lock_guard lock(closedMutex_);
        streamActive = 0;
    }
    closed_.notify_all();
    videoOpen = 0;
    ui_.PaintPlaceholders();
    lastPosition_ = kNoPosition;
    ui_.ShowMoviePosition(kNoPosition);
    Log("File exit Ok");
}

}  // namespace tessaly
