#include "tests/video/test_clips.h"

#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <stdexcept>

namespace tessaly::testing {

namespace fs = std::filesystem;

std::string Capture(const std::string& command) {
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return out;
    std::array<char, 4096> buf{};
    size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), pipe)) > 0) out.append(buf.data(), n);
    ::pclose(pipe);
    return out;
}

std::string ShellQuote(const std::string& text) {
    std::string q = "'";
    for (char c : text) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

namespace {

std::string ClipFolder() {
    const fs::path dir = fs::path(TESSALY_BINARY_DIR) / "test-clips";
    fs::create_directories(dir);
    return dir.string();
}

// Makes the clip under a private name and renames it into place, so tests
// running in parallel never see half a file.
std::string MakeOnce(const std::string& name, const std::string& commandForOutput) {
    const std::string path = ClipFolder() + "/" + name;
    if (fs::exists(path)) return path;
    const std::string tmp = ClipFolder() + "/tmp-" + std::to_string(::getpid()) + "-" + name;
    const std::string cmd = commandForOutput + " " + ShellQuote(tmp) + " >/dev/null 2>&1";
    if (std::system(cmd.c_str()) != 0 || !fs::exists(tmp))
        throw std::runtime_error("cannot make test clip: " + cmd);
    fs::rename(tmp, path);
    return path;
}

}  // namespace

std::string FisheyeClip(const std::string& name, const std::string& options) {
    const std::string tool = std::string(TESSALY_SOURCE_DIR) + "/tools/make-fisheye-clip";
    // The tool takes the output first; options follow it.
    const std::string path = ClipFolder() + "/" + name;
    if (fs::exists(path)) return path;
    const std::string tmp = ClipFolder() + "/tmp-" + std::to_string(::getpid()) + "-" + name;
    const std::string cmd = ShellQuote(tool) + " " + ShellQuote(tmp) + " " + options + " >/dev/null 2>&1";
    if (std::system(cmd.c_str()) != 0 || !fs::exists(tmp))
        throw std::runtime_error("cannot make test clip: " + cmd);
    fs::rename(tmp, path);
    return path;
}

std::string FfmpegClip(const std::string& name, const std::string& arguments) {
    return MakeOnce(name, "ffmpeg -hide_banner -loglevel error -y " + arguments);
}

std::string TempFolder(const std::string& tag) {
    std::random_device rd;
    const fs::path dir = fs::temp_directory_path() /
                         ("tessaly-video-" + tag + "-" + std::to_string(::getpid()) + "-" +
                          std::to_string(rd() % 1000000));
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir.string();
}

std::string ProbeVideoEntry(const std::string& path, const std::string& entry) {
    std::string out = Capture("ffprobe -v error -select_streams v:0 -show_entries " + entry +
                              " -of default=nw=1:nk=1 " + ShellQuote(path));
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
}

long CountedFrames(const std::string& path) {
    const std::string n = ProbeVideoEntry(path, "stream=nb_read_frames -count_frames");
    return n.empty() ? -1 : std::atol(n.c_str());
}

}  // namespace tessaly::testing
