// A stereo panorama from two movies, one camera per eye: each movie's lens
// circle found in its own frames, and the two synchronised by their sound.
// The job builders of every front end (the command line, the desktop) call
// ResolveStereoPair to fill a pair job's eyes.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/result.h"
#include "convert/movie_job.h"

namespace tessaly {

// The sound compared: the first minute, mono, at 8 kHz.
inline constexpr int32_t kSyncSampleRate = 8000;
inline constexpr double kSyncSeconds = 60.0;
// How much higher the correlation's peak must stand than the next best one
// more than a frame away: two unrelated tracks come out near 1.
inline constexpr double kSyncMinConfidence = 2.0;

struct SoundSync {
    int32_t frames = 0;      // the right movie's frame n + frames holds the left's frame n
    double confidence = 0;   // the peak over the next best (SoundOffset)
};

// The offset of the right movie's pictures against the left's, from their
// sound, at `framesPerSecond`. Fails, saying which movie, when one has no
// sound, and when the sound does not agree (too low a confidence).
Result<SoundSync> SyncBySound(const std::string& left, const std::string& right, double framesPerSecond);

// "sound sync: the right movie's frame n + 7 goes with the left's frame n
// (confidence 41.2)".
std::string SoundSyncLine(const SoundSync& sync);

// Fills a pair job's eyes (`stereo.settings` holds the layouts and angles
// asked for, input kPair): each movie's circle found, and one cut of the
// circles' mean radius for both (each eye's window is its movie's whole
// frame moved by whole pixels over its circle, the rest its centre shift,
// so the eyes come out at one size), the right movie's facts, and its offset:
// `offset` when given, else found from the sound. The lines for the
// terminal and the log go into `said`. Fails with the reason (a movie that
// cannot be read, pictures of other sizes or rates, no circle, sound that
// does not agree, or a negative offset).
Status ResolveStereoPair(const std::string& left, const std::string& right, std::optional<int32_t> offset,
                         JobStereo& stereo, std::vector<std::string>& said, const std::atomic<bool>* stop = nullptr);

}  // namespace tessaly
