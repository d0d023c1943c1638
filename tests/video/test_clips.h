// Short movies for the video tests, made once per build tree by the system
// ffmpeg (or tools/make-fisheye-clip) and shared by every test process.
#pragma once

#include <chrono>
#include <string>
#include <thread>

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

// Polls `pred` every 2 ms until it holds (true) or `limit` has passed (false).
template <class Pred>
bool WaitFor(Pred pred, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

}  // namespace tessaly::testing
