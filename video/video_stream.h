// The frame source: one movie file decoded by FFmpeg's libraries on a thread
// of its own, delivering bottom-up 32-bit BGRX frames at the file's size.
//
// While previewing it plays at the file's own rate and keeps the newest frame
// for GetCurrentBuffer. With a frame callback installed (a conversion) every
// decoded frame goes to the callback exactly once, in order, as fast as the
// callback returns. Reaching the end of the movie is a pending end
// (TakeMovieEnd), of which listeners are told.
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

    // Frames go on: shown at the file's rate, or handed to the frame
    // callback as fast as it takes them.
    void Play();
    // Frames stop at the current one (the decoder keeps the next one ready).
    void Hold();
    // Back to the first frame; a pending end of the movie is dropped.
    void SeekToStart();
    // As SeekToStart, but the movie is read from its last key frame at or
    // before `time` (from its start), so the frames before it are not
    // decoded; frames keep their own times. A file whose seek fails or lands
    // after that time is read from its start. 0 is SeekToStart.
    void SeekToKeyFrameBefore(MediaTime time);
    // Position of the newest delivered frame from the start; the duration
    // once the end has been reached.
    MediaTime CurrentPosition() const;
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
    // A muted stream decodes no sound (a conversion's: the encoder takes
    // the sound from the file itself).
    void SetSoundMuted(bool muted);
    // The sink for the decoded sound; null drops it. Not owned.
    void SetAudioSink(AudioSink* sink);

    // `listener` (empty: none) is called on the decoding thread, under the
    // stream's lock, whenever the end of the movie is reached; it must not
    // call back into this stream.
    void SetMovieEndListener(std::function<void()> listener);
    // Takes one pending end of the movie without waiting; false when none
    // is pending (each time the end is reached counts once).
    bool TakeMovieEnd();
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
