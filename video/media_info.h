// Facts of the open movie, in the units the rest of the program works in
// (MediaTime for times, bytes for the delivered sample).
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace tessaly {

// A time in a movie: whole 100-ns units, the unit "param_fisheye.bin", the
// log's "getTimePerFrame" and the position bar were made for.
using MediaTime = std::chrono::duration<int64_t, std::ratio<1, 10'000'000>>;
inline constexpr int64_t kMediaTimePerSecond = MediaTime::period::den;

// The time in seconds, as a double.
inline double SecondsOf(MediaTime t) { return static_cast<double>(t.count()) / 1e7; }

// True when fewer frames were decoded than the file declares: one fewer
// than a count worked out from its length is rounding, not a loss.
inline bool DecodedShort(int64_t decoded, int64_t declared, bool exactly) {
    if (declared <= 0) return false;
    return exactly ? decoded < declared : decoded + 1 < declared;
}

struct MediaInfo {
    std::string videoPath;
    int32_t frameWidth = 0;
    int32_t frameHeight = 0;
    MediaTime timePerFrame{0};    // 0 when the file names no rate
    int32_t sampleSize = 0;       // bytes of one delivered frame: 4 * width * height
    MediaTime duration{0};
    double durationSeconds = 0.0;
    int32_t frameCount = 0;
    bool seekable = false;        // the file can be repositioned
    // Frames the file declares for the decoded stream: the count it stores,
    // else its stream length at its rate; 0 when it says neither.
    int64_t declaredFrames = 0;
    bool declaredExactly = false;  // a stored count, not one worked out from the length
    int32_t streamIndex = -1;     // the decoded video stream's index in the file
    int32_t videoStreams = 0;     // video streams in the file (cover pictures not counted)
};

}  // namespace tessaly
