#include "cli/stop_signals.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "cli/run_workspace.h"
#include "output/pending_file.h"
#include "video/encoder_program.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;

// Lock-free atomics and a pipe: all a signal handler may touch.
std::atomic<int32_t> gSignal{0};
std::atomic<std::atomic<bool>*> gStopFlag{nullptr};
int gWakeRead = -1;
int gWakeWrite = -1;

// What an early end removes, and who ends the process: the run itself
// (finishing) or an early end (ending), never both.
struct EndState {
    std::recursive_mutex mutex;
    bool finishing = false;
    bool ending = false;
    std::string folder, runLog, sharedLog;
    std::vector<std::string> outputs;
};
EndState& State() {
    static EndState* state = new EndState;  // never destroyed: threads may use it at exit
    return *state;
}

extern "C" void OnStopSignal(int signo) {
    const int saved = errno;
    int32_t none = 0;
    gSignal.compare_exchange_strong(none, signo);
    if (std::atomic<bool>* stop = gStopFlag.load()) stop->store(true);
    const char byte = static_cast<char>(signo);
    if (gWakeWrite >= 0) (void)!::write(gWakeWrite, &byte, 1);
    errno = saved;
}

// The thread that began the end exits the process; this one only waits for
// that (pause() returns after each handled signal).
[[noreturn]] void WaitForTheEnd() {
    while (true) ::pause();
}

// A still writer may have opened a file in the run's folder just before it
// was moved away: its write ends within a few milliseconds, after which the
// removal is tried again, at most this often and this long apart.
constexpr int kFolderRemovalTurns = 50;
constexpr std::chrono::milliseconds kFolderRemovalPause{10};

void RemoveEmergencyFiles(const EndState& state) {
    // Each step on its own: memory may run out in any of them (that is often
    // why the process ends here), and the others still go.
    std::error_code ec;
    try {
        for (const std::string& output : state.outputs) fs::remove(output, ec);
    } catch (...) {
    }
    try {
        // Hidden files of unfinished outputs (a placed one is gone already).
        for (const std::string& hidden : HiddenFilesMade()) fs::remove(hidden, ec);
    } catch (...) {
    }
    if (state.folder.empty()) return;
    try {
        if (!state.runLog.empty() && !state.sharedLog.empty()) AppendLogBlock(state.runLog, state.sharedLog);
    } catch (...) {
    }
    try {
        // The run's own threads may still be writing stills into it: moved
        // away first, the folder takes no new file by its name, and what a
        // write in progress adds is removed on the next turn.
        std::string gone = state.folder + ".ending";
        if (::rename(state.folder.c_str(), gone.c_str()) != 0) gone = state.folder;
        for (int turn = 0; turn < kFolderRemovalTurns; ++turn) {
            fs::remove_all(gone, ec);
            if (!fs::exists(gone, ec)) break;
            std::this_thread::sleep_for(kFolderRemovalPause);
        }
    } catch (...) {
        // remove_all itself ran out of memory: the plain removal of the
        // files a run writes there, then the folder.
        for (const char* name : {"run.log", "param_fisheye.bin", "temp.wav", "sound_report.txt", "encoder_report.txt",
                                 "metrixVideoVrel.txt"}) {
            ::unlink((state.folder + "/" + name).c_str());
        }
        ::rmdir(state.folder.c_str());
    }
}

// Ends the process itself once the run had its time after the first stop
// signal, or at once on a second one.
[[noreturn]] void EndEarly(int signo) {
    EndNow(128 + signo, std::string("stopped by ") + SignalName(signo) +
                            "; the partial output and the temporary files were removed");
}

void WatchSignals() {
    char byte = 0;
    while (true) {
        const ssize_t n = ::read(gWakeRead, &byte, 1);
        if (n == 1) break;
        if (n < 0 && errno == EINTR) continue;
        return;  // no pipe: the handler alone has to do
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStopGraceMs);
    while (true) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd wake{gWakeRead, POLLIN, 0};
        const int ready = ::poll(&wake, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready > 0 && ::read(gWakeRead, &byte, 1) == 1) break;  // a second signal
        if (ready == 0) break;
    }
    EndEarly(gSignal.load());
}

[[noreturn]] void OnTerminate() {
    // Memory has often run out when this runs: wording the failure may fail
    // too, and then a fixed text says it.
    try {
        EndNow(kExitUnhandled, UnhandledFailureText());
    } catch (...) {
    }
    EndNow(kExitUnhandled, "the run failed: out of memory");
}

}  // namespace

const char* SignalName(int signo) {
    switch (signo) {
        case SIGINT: return "SIGINT";
        case SIGTERM: return "SIGTERM";
        case SIGHUP: return "SIGHUP";
        default: return "a signal";
    }
}

std::string UnhandledFailureText() {
    const std::exception_ptr current = std::current_exception();
    // No exception at hand: one met a thread that was still running while
    // the stack unwound, which in practice means threads or memory ran out.
    if (!current) return "the run failed: memory or threads ran out";
    try {
        std::rethrow_exception(current);
    } catch (const std::bad_alloc&) {
        return "the run failed: out of memory";
    } catch (const std::system_error& e) {
        // What std::thread throws when the system has no thread to give.
        if (e.code() == std::errc::resource_unavailable_try_again) {
            return std::string("the run failed: no thread could be started (") + e.what() + ")";
        }
        return std::string("the run failed: ") + e.what();
    } catch (const std::exception& e) {
        return std::string("the run failed: ") + e.what();
    } catch (...) {
    }
    return "the run failed: an unknown error ended it";
}

void OpenClosedStandardStreams() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        // open() takes the lowest free number: this one.
        const int opened = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (opened >= 0 && opened != fd) ::close(opened);
    }
}

void InstallStopHandlers() {
    if (gWakeWrite >= 0) return;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) == 0) {
        gWakeRead = fds[0];
        ::fcntl(fds[1], F_SETFL, ::fcntl(fds[1], F_GETFL) | O_NONBLOCK);
        gWakeWrite = fds[1];
    }
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    for (int signo : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction old {};
        // An ignored signal was meant to be ignored (nohup, `cmd &` in a script).
        if (::sigaction(signo, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
        ::sigaction(signo, &action, nullptr);
    }
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
}

void InstallStopSignals() {
    InstallStopHandlers();
    std::set_terminate(OnTerminate);
    if (gWakeRead >= 0) std::thread(WatchSignals).detach();
}

int StopSignal() { return gSignal.load(); }

void SetStopFlag(std::atomic<bool>* flag) {
    gStopFlag.store(flag);
    if (flag != nullptr && gSignal.load() != 0) flag->store(1);
}

void SetEmergencyWorkspace(const std::string& folder, const std::string& runLog,
                           const std::string& sharedLog) {
    EndState& state = State();
    std::lock_guard lock(state.mutex);
    state.folder = folder;
    state.runLog = runLog;
    state.sharedLog = sharedLog;
}

void SetEmergencyOutputs(const std::vector<std::string>& outputs) {
    EndState& state = State();
    std::lock_guard lock(state.mutex);
    state.outputs = outputs;
}

void ClearEmergencyFiles() {
    EndState& state = State();
    std::lock_guard lock(state.mutex);
    state.folder.clear();
    state.outputs.clear();
}

void BeginNormalFinish() {
    EndState& state = State();
    std::unique_lock lock(state.mutex);
    if (state.ending) {
        lock.unlock();
        WaitForTheEnd();
    }
    state.finishing = true;
}

void EndNow(int code, const std::string& message) { EndNow(code, message.c_str()); }

void EndNow(int code, const char* message) {
    EndState& state = State();
    // Set once this thread has begun the end: a second call on it (a
    // failure while ending) goes on instead of waiting for itself.
    static thread_local bool endingHere = false;
    if (!endingHere) {
        std::unique_lock lock(state.mutex);
        // A run finishing normally ends the process itself; a stop signal's
        // watcher leaves it to that. A failure on the finishing thread
        // (the same thread: the mutex is recursive) still ends it here.
        const bool fromWatcher = code > 128;
        if (state.ending || (state.finishing && fromWatcher)) {
            lock.unlock();
            WaitForTheEnd();
        }
        state.ending = true;
        endingHere = true;
    }
    try {
        KillRunningChildren();
    } catch (...) {
        // Out of memory listing them: the children end with their pipes.
    }
    RemoveEmergencyFiles(state);
    std::fprintf(stderr, "tessaly-convert: %s\n", message);
    std::fflush(stderr);
    ::_exit(code);
}

}  // namespace tessaly
