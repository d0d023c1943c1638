// How far one sound track lies behind another: the lag of the highest peak
// of their cross-correlation, and how clearly that peak stands out. Two
// cameras filming one scene hear the same sounds at the same moments, so
// the lag between their tracks is the lag between their pictures.
#pragma once

#include <cstdint>
#include <vector>

namespace tessaly {

struct SoundOffset {
    // The right track's sample n + lagSamples holds the left's sample n.
    int64_t lagSamples = 0;
    // The peak's height over the highest peak more than one frame away
    // from it: near 1 for tracks that do not share a sound.
    double confidence = 0;
};

// The lag (in samples, may be negative) at which `right`'s sample n + lag
// best matches `left`'s sample n, for two tracks of mono samples at one
// rate; lags are looked for within `maxLag` samples either way, and
// `frameSamples` (samples per picture frame) sets how far from the peak the
// next best one must lie. Silent or empty tracks give confidence 0.
SoundOffset FindSoundOffset(const std::vector<float>& left, const std::vector<float>& right, int64_t maxLag,
                            int64_t frameSamples);

// The lag in whole frames of `framesPerSecond` for `sampleRate` samples a second.
int32_t LagInFrames(int64_t lagSamples, int32_t sampleRate, double framesPerSecond);

}  // namespace tessaly
