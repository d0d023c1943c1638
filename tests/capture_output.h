// Runs a shell command and returns what it printed on standard output; the
// tests use it to read ffprobe's and ffmpeg's answers.
#pragma once

#include <cstdio>
#include <string>

namespace tessaly::testing {

inline std::string CaptureOutput(const std::string& command) {
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return out;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    ::pclose(pipe);
    return out;
}

}  // namespace tessaly::testing
