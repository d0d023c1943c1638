// Short clips made once per build tree by ffmpeg or tools/make-fisheye-clip.
#pragma once

#include <chrono>
#include <string>
#include <thread>

#include "video/video_stream.h"

#include "tests/wait_for.h"

namespace tessaly::testing {

std::string ReadFile(const std::string& path);
// One of the clips made by tools/make-fisheye-clip (see test_clips.cpp):
// fish-h264.mp4, fish-mjpeg.avi, fish-mpeg4.mov, fish-mpeg2.mpg,
// fish-h264.m2ts, fish-wmv2.asf (1 s, 192x144, 25 fps; .mp4, .mov and .m2ts
// with a 440 Hz tone), fish-ntsc.mp4 (29.97 fps), fish-2s.mp4; the queue's
// fish-640x480.mp4, fish-800x450.mp4, fish-960x540.mp4 (1 s, 10 fps) and
// fish-6s.mp4 (320x240, 25 fps).
std::string FisheyeClip(const std::string& name);
// A clip made by ffmpeg with `arguments` (before the output path), cached as `name`.
std::string FfmpegClip(const std::string& name, const std::string& arguments);
std::string TempFolder(const std::string& tag);
// ffprobe's value of one entry (e.g. "stream=width") of the first video stream.
std::string ProbeVideoEntry(const std::string& path, const std::string& entry);
// ffprobe's count of decodable video frames.
long CountedFrames(const std::string& path);


// Waits for the end of the movie.
inline bool WaitForComplete(VideoStream& stream) {
    return WaitFor([&] { return stream.TakeMovieEnd(); });
}

}  // namespace tessaly::testing
