// Running the external encoder (an ffmpeg build) as a child process: an
// argument vector, no shell, output hidden, waited for.
#pragma once

#include <atomic>
#include <cstdint>
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
// A stop flag (optional) ends the child early: once it is set the child
// gets SIGTERM and, when it has not ended after `graceMs`, SIGKILL.
struct RunOptions {
    std::string stdoutPath;
    std::string stderrPath;
    const std::atomic<bool>* stop = nullptr;
    int graceMs = 500;
    // A second flag that ends the child as `stop` does (only with `stop`).
    const std::atomic<bool>* alsoStop = nullptr;
    // A child that makes no progress for this long is ended as a stop
    // request would end it (0: wait for ever). Progress is any change in
    // the size of `stderrPath` (its progress lines), of a `progressFiles`
    // entry (its outputs) or of `progressCount` (bytes it took from a pipe).
    // While `awaited` (optional) reads 0 the child is waiting for this
    // process, not the other way round, and the stall clock stands still.
    int stallLimitMs = 0;
    std::vector<std::string> progressFiles{};
    const std::atomic<int64_t>* progressCount = nullptr;
    const std::atomic<int32_t>* awaited = nullptr;
};

// The encoder's default stall limit: a minute without any sign of progress.
inline constexpr int kDefaultEncoderStallSeconds = 60;

// The encoder's filter that puts a one-channel sound unchanged on both
// channels of a stereo one. Its own "-ac 2" would spread it at -3 dB, as a
// centre speaker's share, which makes the movie's sound quieter.
inline constexpr const char* kMonoOnBothChannels = "pan=stereo|c0=c0|c1=c0";

// Exit status of a finished run: the child's exit code, 128 + signal number
// when it was killed, or kCannotStart when no process could be started.
inline constexpr int kCannotStart = -1;

// Starts args[0] with the argument vector and waits for it to end.
int RunEncoderProgram(const std::vector<std::string>& args, const RunOptions& options = {});

// How a child ended, in full.
struct ChildOutcome {
    int status = kCannotStart;  // as RunEncoderProgram returns it
    int exitCode = -1;          // the child's own exit code, -1 when it did not exit
    int signal = 0;             // the signal that killed it, 0 when none
    bool stopped = false;       // ended by the stop flag
    bool stalled = false;       // ended after stallLimitMs without progress
    int stallLimitMs = 0;       // the limit it passed (with `stalled`)
};
ChildOutcome RunChild(const std::vector<std::string>& args, const RunOptions& options = {});

// A child started with a pipe as its standard input, for feeding it data
// while it runs. `input` is the pipe's writing end (close it to signal the
// end of the data); pid is -1 when nothing could be started.
struct RunningChild {
    int pid = -1;
    int input = -1;
};
RunningChild StartChildWithInput(const std::vector<std::string>& args, const RunOptions& options = {});
// Waits for the child to end (a stop request ends it as in RunChild) without
// touching its input, so another thread may still be writing into it: the
// child's end turns a blocked write into an error.
ChildOutcome WaitForChildExit(const RunningChild& child, const RunOptions& options = {});

// "exit status N" or "killed by signal N" for an outcome, in words.
std::string DescribeOutcome(const ChildOutcome& outcome);

// "the encoder made no progress for N s and was ended" for a stalled child.
std::string StallText(const ChildOutcome& outcome);

// Ends every child still running (SIGKILL) that one of the functions above
// started and has not yet waited for: the last step of a process that must
// end now. Safe from any thread; a child that ended is never confused with
// another process (children stay registered until they are reaped).
void KillRunningChildren();

}  // namespace tessaly
