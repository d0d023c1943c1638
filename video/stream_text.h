// Small pure helpers behind the stream's position bar, frame count and the
// 16-byte parameter file. (Number formatting lives in app/format.h.)
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "video/media_info.h"

namespace tessaly {

// Frames a second at this time per frame; 0 when it is unknown.
double FrameRateOf(MediaTime timePerFrame);

// floor(duration / timePerFrame), computed in extended precision; 0 when
// the time per frame is unknown.
int32_t FrameCountOf(MediaTime duration, MediaTime timePerFrame);

// "param_fisheye.bin": the time per frame in 100-ns units as a
// little-endian int64, then the duration in seconds as a little-endian
// IEEE-754 double.
std::array<uint8_t, 16> FisheyeParamBytes(MediaTime timePerFrame, double durationSeconds);

// Writes the 16 bytes from offset 0 of the file, created when missing and
// never truncated. Returns false when the file cannot be written.
bool WriteFisheyeParamFile(const std::string& path, MediaTime timePerFrame, double durationSeconds);

// The run log's lines on an opened movie's facts, in their order: "Frame
// Size = ", "getTimePerFrame = ", "FPS = ", "numframes = " and, when the
// file holds more than one video stream, the one decoded.
std::vector<std::string> MovieFactLines(const MediaInfo& info);

// The text without leading and trailing blanks, tabs, line ends and NULs.
std::string TrimBlanks(const std::string& text);

}  // namespace tessaly
