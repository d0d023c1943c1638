// The open movie as the rest of the program sees it: OpenAndPlay opens a file
// and keeps it playing in the stream loop (which runs the preview pass and
// moves the position bar) until a flag ends it, then tears it down.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "app/app_state.h"
#include "app/user_interface.h"
#include "video/media_info.h"
#include "video/movie_labels.h"
#include "video/open_movie.h"
#include "video/probe_report.h"
#include "video/video_stream.h"

namespace tessaly {

inline constexpr const char* kFisheyeParamFileName = "param_fisheye.bin";

// What the user sees for a failed open.
struct StreamMessage {
    std::string caption;
    std::string text;
    MessageIcon icon = MessageIcon::Error;
    bool ownerIsMainWindow = false;
};
StreamMessage MessageForStreamError(StreamError error);
// The message with the reason the stream gave (the words tessaly-convert
// prints) on a line of its own after its text; unchanged without a reason.
StreamMessage WithReason(StreamMessage message, const std::string& reason);

// Pauses of the open and the stream loop, in milliseconds: the desktop's
// own rhythm (the GUI and the load worker get these turns). A conversion's
// turn ends early at its stop request or its end. Tests shorten them.
struct StreamTimings {
    int stopOlderStream = 100;   // streamState 2 -> 0 in OpenAndPlay: an older loop sees "opening"
    int settleOlderStream = 500; // then "stopped": the older loop ends and tears down
    int afterStream = 100;       // streamState 1 -> 0 at the end of OpenAndPlay
    int connect = 200;           // after the first frame was read
    int beforeLoop = 200;        // the movie's facts are shown before the loop starts
    int previewTurn = 5;         // between preview passes: the GUI's share of the loop
    int convertingTurn = 30;     // at most, while a conversion owns the stream
    int afterStop = 300;         // the held stream before its teardown
};

// What the stream asks of the frame pipeline; any may be empty.
struct StreamHooks {
    // One preview pass: copy the newest frame (Stream().GetCurrentBuffer),
    // remap it and paint the previews.
    std::function<void()> previewPass;
    // The frame size is known: allocate InputFrame and GrabBuffer afresh.
    std::function<void(const MediaInfo&)> allocateFrameBuffers;
    // Make the next preview pass rebuild its cut geometry.
    std::function<void()> invalidateGeometry;
    // The stream is open and its loop about to start (streamState is Running).
    std::function<void()> streamReady;
};

class VideoSource final : public OpenMovie {
public:
    VideoSource(FisheyeApp& app, UserInterface& ui);
    ~VideoSource();

    void SetHooks(StreamHooks hooks);
    void SetTimings(const StreamTimings& timings);
    // Where "param_fisheye.bin" goes: the program folder unless a run that
    // shares the machine with others keeps its files apart.
    void SetParamFileFolder(std::string folder);

    // Opens the path and runs its stream on the calling thread; returns when
    // the stream has ended. An older stream is ended and torn down first.
    int32_t OpenAndPlay(const std::string& path);
    // Opens, runs the stream loop and tears down. Returns 0; returns at once
    // when another stream is active.
    int32_t RunVideoStream(const std::string& path);

    // Lets Shutdown stop the playback (stop hook) and wait for the stream's
    // teardown (join hook, at most `limit`).
    void RegisterShutdownHooks(std::chrono::milliseconds limit = std::chrono::seconds(10));
    // Waits until no stream is active; false when `limit` passed first.
    bool WaitUntilClosed(std::chrono::milliseconds limit);

    // The open stream, for run / pause / seek / callback / mute / events.
    VideoStream& Stream() override { return stream_; }
    // Facts of the last movie that opened; a failed open keeps them.
    MediaInfo Info() const override;
    std::string VideoPath() const override;
    int32_t OpenFlag() const override { return videoOpen.load(); }
    // The position bar's source goes back to the start.
    void RewindPosition() override { position = MediaTime{0}; }

    std::atomic<int32_t> streamActive{0};
    std::atomic<int32_t> videoOpen{0};
    std::atomic<int32_t> pausedTurns{0};
    std::atomic<MediaTime> position{MediaTime{0}};  // of the frame the position bar shows

private:
    void StreamLoop(int64_t ticket);
    void AwaitConversionTurn(int64_t ticket);
    bool Superseded(int64_t ticket) const;
    bool ShuttingDown() const;
    void Teardown();
    void Log(const std::string& line) const;  // one line of the run log
    void Wait(int milliseconds) const;

    FisheyeApp& app_;
    UserInterface& ui_;
    StreamHooks hooks_;
    StreamTimings timings_;
    std::string paramFileFolder_;  // empty: the program folder
    VideoStream stream_;
    std::atomic<int64_t> latestRequest_{0};  // OpenAndPlay calls so far
    std::mutex openMutex_;  // one OpenAndPlay at a time, the older finishing first
    mutable std::mutex infoMutex_;
    MediaInfo info_;
    std::mutex closedMutex_;                // with closed_: Teardown wakes WaitUntilClosed
    std::condition_variable closed_;
    std::string videoPath_;
    MoviePosition lastPosition_{-1, -1};
};

}  // namespace tessaly
