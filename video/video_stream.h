// The frame source: one movie file decoded by FFmpeg's libraries on a thread
// of its own, delivering bottom-up 32-bit BGRX frames at the file's size.
//
// While previewing it plays at the file's own rate and keeps the newest frame
// for GetCurrentBuffer. With a frame callback installed (a conversion) every
// decoded frame goes to the callback exactly once, in order, as fast as the
// callback returns. The end of the movie posts the event kEventComplete.
// Every public call is safe from any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "video/audio_sink.h"
#include "video/media_info.h"

namespace tessaly {

// Why an open failed, in the order the opening steps run.
enum class StreamError {
    kNone = 0,
    kSourceOpen,      // the file cannot be opened or read as a container
    kUnsupported,     // no decodable video stream
    kNoRenderer,      // packet or frame objects cannot be created
    kRendererThread,  // the decoding thread cannot be started
    kNoFrameBuffer,   // the frame buffer cannot be allocated
    kFormat,          // no frame could be decoded, or its size is unusable
};

inline constexpr int32_t kEventComplete = 1;
inline constexpr int32_t kVolumeSilence = -10000;

class VideoStream {
public:
    // Called with the sample time in seconds, the frame's bytes and their
    // count (always frameWidth * frameHeight * 4). Runs on the decoding
    // thread; it must not call SetFrameCallback or Close of this stream.
    using FrameCallback = std::function<void(double sampleTime, const uint8_t* data, int32_t size)>;

    VideoStream();
    ~VideoStream();
    VideoStream(const VideoStream&) = delete;
    VideoStream& operator=(const VideoStream&) = delete;

    // Opens the file and decodes its first frame; the stream is then paused
    // on that frame. Closes a stream that is still open first.
    StreamError Open(const std::string& path);
    // Stops the decoding thread and releases everything; safe when closed.
    void Close();
    bool IsOpen() const;
    MediaInfo Info() const;
    // Why the last Open failed, in words for a user (empty after a good
    // one): "the movie's index is damaged (moov atom: ...)".
    std::string OpenProblem() const;

    void Run();
    void Pause();
    void Stop();
    // Back to the first frame; pending end-of-stream events are dropped.
    void SeekToStart();
    // As SeekToStart, but the movie is read from its last key frame at or
    // before `ticks` (100-ns units from its start), so the frames before it
    // are not decoded; frames keep their own times. A file whose seek fails
    // or lands after that time is read from its start. 0 is SeekToStart.
    void SeekToKeyFrameBefore(int64_t ticks);
    // Position of the newest delivered frame in 100-ns units from the start;
    // the duration once the end has been reached.
    int64_t CurrentPosition() const;
    // Copies the newest frame into dst when size is at least sampleSize.
    // Returns the bytes copied (0 when closed or dst is too small).
    int32_t GetCurrentBuffer(uint8_t* dst, int32_t size) const;

    // Installs (or with an empty function removes) the per-frame callback.
    // Waits for a call in progress to return.
    void SetFrameCallback(FrameCallback callback);
    // From the next Open on, decode with slice threads only: no frame
    // threads, each of which holds decoded frames of its own (some 35 MB at
    // 1080p, 100 MB at 4K with three). For runs whose other work keeps the
    // cores busy anyway.
    void SetSliceThreadsOnly(bool only);
    // Volume in hundredths of a decibel, 0 = full, kVolumeSilence = muted.
    void SetVolume(int32_t volume);
    // The sink for the decoded sound; null drops it. Not owned.
    void SetAudioSink(AudioSink* sink);

    // `listener` (empty: none) is called on the decoding thread, under the
    // stream's lock, whenever an event is posted; it must not call back into
    // this stream.
    void SetEventListener(std::function<void()> listener);
    // Takes the oldest pending event without waiting; false when none.
    bool GetEvent(int32_t& code);
    // Frames handed out since the open or the last seek.
    int64_t FramesDelivered() const;
    // Decoded frames since the open or the last seek whose colour conversion
    // failed: neither shown nor given to the callback (never replaced by the
    // previous frame).
    int64_t FramesUnconvertible() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tessaly
