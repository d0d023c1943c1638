// The right eye of a stereo pair of movies: the right movie decoded on its
// own stream beside the left one, handed out frame by frame as the left
// movie's frames ask for it. Left frame n shows with right frame n + offset
// (the cameras started at different moments); a part of a run starts at the
// key frame before its first right frame.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "video/media_info.h"
#include "video/video_stream.h"

namespace tessaly {

class RightEyeFeed {
public:
    RightEyeFeed() = default;
    ~RightEyeFeed();
    RightEyeFeed(const RightEyeFeed&) = delete;
    RightEyeFeed& operator=(const RightEyeFeed&) = delete;

    // Opens the right movie; its frame n + `offset` goes with left frame n.
    // Empty, or why it cannot be opened.
    std::string Open(const std::string& path, int32_t offset);
    MediaInfo Info() const { return info_; }

    // The right frame (bottom-up BGRX at the right movie's size) that goes
    // with the left frame due at `leftTime` seconds of a movie of
    // `framesPerSecond`; null once the right movie has ended before it.
    // Valid until the next call. Called from one thread at a time, in the
    // left movie's order.
    const uint8_t* FrameFor(double leftTime, double framesPerSecond);

    // Ends the decoding; safe to call twice.
    void Close();

private:
    // On the right stream's decoding thread: waits for the slot to be free.
    void Take(double time, const uint8_t* data, int32_t size);
    void Start(int64_t firstFrame, double framesPerSecond);

    VideoStream stream_;
    MediaInfo info_;
    int32_t offset_ = 0;
    bool started_ = false;

    std::mutex m_;
    std::condition_variable cv_;
    bool full_ = false;     // the slot holds a frame not yet passed
    bool ended_ = false;    // the right movie reached its end
    bool closing_ = false;  // the feed is being closed: the decoder stops waiting
    double slotTime_ = 0;
    std::vector<uint8_t> slot_;
};

}  // namespace tessaly
