// Runs shell commands for the tests: what a command printed on standard
// output (ffprobe's and ffmpeg's answers), or how a program run as a user
// runs it ended and what it said.
#pragma once

#include <sys/wait.h>

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

// `text` in single quotes for the shell (a quote inside as '\\'').
inline std::string ShellQuote(const std::string& text) {
    std::string q = "'";
    for (char c : text) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

struct ShellOutcome {
    int status = -1;          // exit status
    bool signalled = false;   // killed by a signal (or a status above 127: a crash inside the shell's child)
    std::string output;       // stdout and stderr together
};

inline ShellOutcome RunShellCommand(const std::string& command) {
    ShellOutcome outcome;
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return outcome;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) outcome.output += buffer;
    const int raw = ::pclose(pipe);
    if (WIFEXITED(raw)) {
        outcome.status = WEXITSTATUS(raw);
        outcome.signalled = outcome.status >= 128;
    } else {
        outcome.status = 256;
        outcome.signalled = true;
    }
    return outcome;
}

}  // namespace tessaly::testing
