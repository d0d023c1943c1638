#include "tests/video/test_clips.h"

#include "tests/capture_output.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <iterator>
#include <stdexcept>

namespace tessaly::testing {

namespace fs = std::filesystem;

namespace {

// Made under a private name and renamed into place, so parallel tests never
// see half a file.
std::string MakeOnce(const std::string& name, const std::string& before, const std::string& after) {
    const fs::path dir = fs::path(TESSALY_BINARY_DIR) / "test-clips";
    fs::create_directories(dir);
    const std::string path = (dir / name).string();
    if (fs::exists(path)) return path;
    const std::string tmp = (dir / ("tmp-" + std::to_string(::getpid()) + "-" + name)).string();
    const std::string cmd = before + " " + ShellQuote(tmp) + after + " >/dev/null 2>&1";
    if (std::system(cmd.c_str()) != 0 || !fs::exists(tmp))
        throw std::runtime_error("cannot make test clip: " + cmd);
    fs::rename(tmp, path);
    return path;
}

}  // namespace

std::string ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(f)), {});
}

std::string FisheyeClip(const std::string& name) {
    static const std::map<std::string, std::string> options = {
        {"fish-h264.mp4", "--size 192x144 --duration 1 --audio --vcodec libx264"},
        {"fish-mjpeg.avi", "--size 192x144 --duration 1 --vcodec mjpeg"},
        {"fish-mpeg4.mov", "--size 192x144 --duration 1 --audio --vcodec mpeg4"},
        {"fish-mpeg2.mpg", "--size 192x144 --duration 1 --vcodec mpeg2video"},
        {"fish-h264.m2ts", "--size 192x144 --duration 1 --audio --vcodec libx264"},
        {"fish-wmv2.asf", "--size 192x144 --duration 1 --vcodec wmv2"},
        {"fish-ntsc.mp4", "--size 176x144 --fps 30000/1001 --duration 1 --vcodec libx264"},
        {"fish-2s.mp4", "--size 160x120 --duration 2 --vcodec libx264"},
        {"fish-640x480.mp4", "--size 640x480 --fps 10 --duration 1 --vcodec libx264"},
        {"fish-800x450.mp4", "--size 800x450 --fps 10 --duration 1 --vcodec libx264"},
        {"fish-960x540.mp4", "--size 960x540 --fps 10 --duration 1 --vcodec libx264"},
        {"fish-6s.mp4", "--size 320x240 --duration 6 --vcodec libx264"},
    };
    return MakeOnce(name, ShellQuote(std::string(TESSALY_SOURCE_DIR) + "/tools/make-fisheye-clip"),
                    " " + options.at(name));
}

std::string FfmpegClip(const std::string& name, const std::string& arguments) {
    return MakeOnce(name, "ffmpeg -hide_banner -loglevel error -y " + arguments, "");
}

std::string TempFolder(const std::string& tag) {
    std::string dir = (fs::temp_directory_path() / ("tessaly-video-" + tag + "-XXXXXX")).string();
    if (::mkdtemp(dir.data()) == nullptr) throw std::runtime_error("cannot make " + dir);
    return dir;
}

std::string ProbeVideoEntry(const std::string& path, const std::string& entry) {
    const std::string cmd = "ffprobe -v error -select_streams v:0 -show_entries " + entry +
                            " -of default=nw=1:nk=1 " + ShellQuote(path);
    std::string out = CaptureOutput(cmd);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
}

long CountedFrames(const std::string& path) {
    const std::string n = ProbeVideoEntry(path, "stream=nb_read_frames -count_frames");
    return n.empty() ? -1 : std::atol(n.c_str());
}

}  // namespace tessaly::testing
