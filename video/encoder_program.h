// Running the external encoder (an ffmpeg build) as a child process: an
// argument vector, no shell, output hidden, waited for.
#pragma once

#include <string>
#include <vector>

namespace tessaly {

// One command: the argument vector that is run (args[0] is the program) and
// the text the run log shows for it.
struct CommandLine {
    std::vector<std::string> args;
    std::string text;
};

// Relative location of the encoder inside the program folder.
inline constexpr const char* kEncoderRelativePath = "PLUG-IN/ffmpeg_III";

// The encoder to run: programDir + "PLUG-IN/ffmpeg_III" when that is an
// executable file, else the installed program's link in
// programDir + "../lib/tessaly/PLUG-IN/ffmpeg_III", else "ffmpeg" found on
// PATH or in /usr/bin, else an empty text.
std::string FindEncoderProgram(const std::string& programDir);

// Where the child's standard output and error go; empty means /dev/null.
// Standard input is always /dev/null so the child never waits for a key.
struct RunOptions {
    std::string stdoutPath;
    std::string stderrPath;
};

// Exit status of a finished run: the child's exit code, 128 + signal number
// when it was killed, or kCannotStart when no process could be started.
inline constexpr int kCannotStart = -1;

// Starts args[0] with the argument vector and waits for it to end.
int RunEncoderProgram(const std::vector<std::string>& args, const RunOptions& options = {});

}  // namespace tessaly
