// How tessaly-convert ends when it is told to stop or cannot go on.
//
// SIGINT, SIGTERM and SIGHUP raise the run's stop flag, and every phase ends
// its child process and cleans up on its own. A watcher thread makes sure of
// the end: when the run has not finished kStopGraceMs after the first
// signal, or a second signal arrives, it ends the process itself: the child
// processes are killed, the run's folder and the outputs the run created are
// removed, and the exit status is 128 + the first signal. A failure that no
// code handles (an exception leaving a thread or `main`, a thread that cannot
// be started, memory running out) ends the process the same way with exit
// status 1 and one line saying why.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace tessaly {

// How long the run has to end by itself after the first stop signal.
inline constexpr int kStopGraceMs = 1500;

// Exit status of a run ended by a failure nothing handled.
inline constexpr int kExitUnhandled = 1;

// Opens /dev/null on each of the standard descriptors 0, 1 and 2 that is
// closed (`prog >&- 2>&-`), so that no file or pipe the run opens later
// takes their place and gets the run's messages.
void OpenClosedStandardStreams();

// Installs the handlers for SIGINT, SIGTERM and SIGHUP, except for a signal
// that is ignored at start (nohup, a background job of a script): that one
// stays ignored. SIGPIPE and SIGXFSZ are ignored, so a dead pipe and a write
// past `ulimit -f` are errors of that write. Needs nothing but the system
// calls, so the program runs it (after OpenClosedStandardStreams) before any
// library starts: a signal in those first moments is a stop like any other.
// Safe to call again.
void InstallStopHandlers();

// InstallStopHandlers when not yet done, then starts the watcher thread
// (which also sees a signal that came before it) and makes a failure that
// would end the process (std::terminate) end it cleanly.
void InstallStopSignals();

// The first stop signal received, 0 while none came.
int StopSignal();

// The run's stop flag: the handler raises it at once. Null: no run.
void SetStopFlag(std::atomic<bool>* flag);

// What an early end removes: the run's private folder (after appending its
// run log to the shared log) and outputs that did not exist before the run.
void SetEmergencyWorkspace(const std::string& folder, const std::string& runLog,
                           const std::string& sharedLog);
void SetEmergencyOutputs(const std::vector<std::string>& outputs);
void ClearEmergencyFiles();

// The run is finishing normally (cleaning up, reporting): from now on the
// watcher leaves the end to it. When an early end has already begun, this
// waits for it (the process ends there).
void BeginNormalFinish();

// "stopped by SIGTERM" and the like.
const char* SignalName(int signo);

// Ends the process now: children killed, the files above removed, `message`
// as one line on standard error, exit status `code`.
[[noreturn]] void EndNow(int code, const std::string& message);
// The same without building a string (memory may have run out).
[[noreturn]] void EndNow(int code, const char* message);

// The text of a failure nothing handled, for the exception being handled.
std::string UnhandledFailureText();

}  // namespace tessaly
