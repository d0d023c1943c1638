// Where the decoded sound of a previewed movie goes. The desktop program
// plays it; without a sink the sound is dropped.
#pragma once

#include <cstdint>

namespace tessaly {

inline constexpr int kSinkSampleRate = 44100;
inline constexpr int kSinkChannels = 2;

class AudioSink {
public:
    virtual ~AudioSink() = default;
    // Interleaved stereo 16-bit samples at 44,100 Hz; called on the decoding
    // thread, so an implementation must not block for long.
    virtual void WriteSamples(const int16_t* interleaved, int frames) = 0;
};

}  // namespace tessaly
