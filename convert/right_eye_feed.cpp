#include "convert/right_eye_feed.h"

#include <cmath>

namespace tessaly {

RightEyeFeed::~RightEyeFeed() { Close(); }

std::string RightEyeFeed::Open(const std::string& path, int32_t offset) {
    offset_ = offset;
    stream_.SetSliceThreadsOnly(true);
    stream_.SetSoundMuted(true);
    if (stream_.Open(path) != StreamError::kNone) {
        const std::string why = stream_.OpenProblem();
        return why.empty() ? "the movie could not be opened" : why;
    }
    info_ = stream_.Info();
    stream_.Hold();
    stream_.SetFrameCallback([this](double time, const uint8_t* data, int32_t size) { Take(time, data, size); });
    stream_.SetMovieEndListener([this] {
        std::lock_guard lock(m_);
        ended_ = true;
        cv_.notify_all();
    });
    return {};
}

void RightEyeFeed::Take(double time, const uint8_t* data, int32_t size) {
    std::unique_lock lock(m_);
    cv_.wait(lock, [this] { return !full_ || closing_; });
    if (closing_) return;
    slot_.assign(data, data + size);
    slotTime_ = time;
    full_ = true;
    cv_.notify_all();
}

void RightEyeFeed::Start(int64_t firstFrame, double framesPerSecond) {
    started_ = true;
    // Two frames early, so that the frame due first is decoded too.
    if (firstFrame > 2 && framesPerSecond > 0) {
        const double seconds = static_cast<double>(firstFrame - 2) / framesPerSecond;
        stream_.SeekToKeyFrameBefore(MediaTime{static_cast<int64_t>(seconds * 1e7)});
    } else {
        stream_.SeekToStart();
    }
    stream_.Play();
}

const uint8_t* RightEyeFeed::FrameFor(double leftTime, double framesPerSecond) {
    const int64_t wanted = std::llround(leftTime * framesPerSecond) + offset_;
    if (!started_) Start(wanted, framesPerSecond);
    std::unique_lock lock(m_);
    while (true) {
        cv_.wait(lock, [this] { return full_ || ended_ || closing_; });
        if (!full_) return nullptr;
        // A frame due at or after the one wanted goes with it (a right
        // movie that skips a frame shows the next one).
        if (std::llround(slotTime_ * framesPerSecond) >= wanted) return slot_.data();
        full_ = false;
        cv_.notify_all();
    }
}

void RightEyeFeed::Close() {
    {
        std::lock_guard lock(m_);
        closing_ = true;
        cv_.notify_all();
    }
    stream_.SetMovieEndListener({});
    stream_.Close();
}

}  // namespace tessaly
