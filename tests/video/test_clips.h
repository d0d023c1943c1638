// Short movies for the video tests, made once per build tree by the system
// ffmpeg (or tools/make-fisheye-clip) and shared by every test process.
#pragma once

#include <string>

namespace tessaly::testing {

// Runs a shell command and returns its standard output ("" on failure).
std::string Capture(const std::string& command);

// Quotes a text for the shell.
std::string ShellQuote(const std::string& text);

// A fisheye clip made by tools/make-fisheye-clip with the given options,
// cached under the build tree as `name`.
std::string FisheyeClip(const std::string& name, const std::string& options);

// A clip made by ffmpeg with the given arguments (between "-y" and the
// output path), cached as `name`.
std::string FfmpegClip(const std::string& name, const std::string& arguments);

// A fresh empty folder for one test.
std::string TempFolder(const std::string& tag);

// ffprobe's value of one entry (e.g. "stream=width") of the first video stream.
std::string ProbeVideoEntry(const std::string& path, const std::string& entry);
// ffprobe's count of decodable video frames.
long CountedFrames(const std::string& path);

}  // namespace tessaly::testing
