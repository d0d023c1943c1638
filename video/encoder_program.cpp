#include "video/encoder_program.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <thread>
#include <filesystem>
#include <mutex>
#include <string_view>

#include "app/app_paths.h"

extern char** environ;

namespace tessaly {

namespace {

bool IsExecutableFile(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

std::string FindOnPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    if (path == nullptr) return {};
    std::string dirs = path;
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        // An empty PATH entry means the current folder.
        std::string candidate(end > start ? std::string_view(dirs).substr(start, end - start)
                                          : std::string_view("."));
        candidate += '/';
        candidate += name;
        if (IsExecutableFile(candidate)) return candidate;
        start = end + 1;
    }
    return {};
}

// Redirects fd to the file (created or truncated) or to /dev/null.
int AddRedirect(posix_spawn_file_actions_t* actions, int fd, const std::string& path,
                int flags) {
    const std::string target = path.empty() ? "/dev/null" : path;
    return posix_spawn_file_actions_addopen(actions, fd, target.c_str(), flags, 0644);
}

}  // namespace

std::string FindEncoderProgram(const std::string& programDir) {
    std::string dir = programDir;
    if (!dir.empty() && dir.back() != '/') dir += '/';
    // A portable folder's own encoder, then the link an installed program
    // has, then the one on PATH.
    for (const std::string& candidate :
         {dir + kEncoderRelativePath, dir + kInstalledDataRelative + kEncoderRelativePath}) {
        if (IsExecutableFile(candidate)) {
            return std::filesystem::path(candidate).lexically_normal().string();
        }
    }
    return FindOnPath("ffmpeg");
}

namespace {

// Children started and not yet reaped. A pid stays here until waitpid has
// collected it, under the same lock, so KillRunningChildren can never hit a
// process that merely reuses an old pid.
std::mutex& ChildrenMutex() {
    static std::mutex mutex;
    return mutex;
}
std::vector<pid_t>& Children() {
    static std::vector<pid_t> children;
    return children;
}

// Spawns args[0]; stdin is `inputFd` when given, else /dev/null.
int Spawn(const std::vector<std::string>& args, const RunOptions& options, int inputFd) {
    if (args.empty() || args[0].empty()) return -1;
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0) return -1;
    const int outFlags = O_WRONLY | O_CREAT | O_TRUNC;
    int rc = inputFd >= 0 ? posix_spawn_file_actions_adddup2(&actions, inputFd, 0)
                          : posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (rc == 0) rc = AddRedirect(&actions, 1, options.stdoutPath, outFlags);
    if (rc == 0) rc = AddRedirect(&actions, 2, options.stderrPath, outFlags);

    // The child starts with default signal handling and nothing blocked,
    // whatever this process set up for itself.
    // Only a file size limit stays ignored (as this process ignores it):
    // a write past `ulimit -f` is then an error the child reports ("File
    // too large") instead of a silent death.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    sigdelset(&all, SIGXFSZ);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    pid_t pid = -1;
    if (rc == 0) {
        std::lock_guard lock(ChildrenMutex());
        rc = posix_spawn(&pid, argv[0], &actions, &attr, argv.data(), environ);
        if (rc == 0) Children().push_back(pid);
    }
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    return rc == 0 ? pid : -1;
}

// Reaps the child when it has ended: its pid, 0 while it runs, -1 on error.
pid_t ReapIfEnded(pid_t pid, int& status) {
    std::lock_guard lock(ChildrenMutex());
    pid_t done;
    do {
        done = ::waitpid(pid, &status, WNOHANG);
    } while (done < 0 && errno == EINTR);
    if (done != 0) {
        std::vector<pid_t>& children = Children();
        children.erase(std::remove(children.begin(), children.end(), pid), children.end());
    }
    return done;
}

// What counts as the child's progress: the sizes of its report and output
// files and the bytes it took from its pipe.
int64_t ProgressMark(const RunOptions& options) {
    // Unsigned: the mark is a hash of the sizes, and wraps around freely.
    uint64_t mark = options.progressCount != nullptr ? static_cast<uint64_t>(options.progressCount->load()) : 0;
    struct stat st {};
    if (!options.stderrPath.empty() && ::stat(options.stderrPath.c_str(), &st) == 0) {
        mark += static_cast<uint64_t>(st.st_size);
    }
    for (const std::string& path : options.progressFiles) {
        // Each file its own weight, so that one shrinking while another grows
        // is still a change.
        if (::stat(path.c_str(), &st) == 0) mark = mark * 31 + static_cast<uint64_t>(st.st_size) + 1;
    }
    return static_cast<int64_t>(mark);
}

// A stop flag is a plain atomic no one signals, and a child's progress is
// the growth of files it writes: both are looked at this often. The child's
// own end wakes the wait at once.
constexpr std::chrono::milliseconds kChildCheckInterval{50};

// A descriptor that turns readable when the child ends, -1 where the kernel
// has none (before Linux 5.3): then the check interval alone wakes the wait.
int OpenChildEndEvent(pid_t pid) { return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)); }

// Sleeps until the child ends or `limit` has passed.
void AwaitChildEnd(int endEvent, std::chrono::steady_clock::duration limit) {
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(limit).count();
    pollfd ended{endEvent, POLLIN, 0};
    const int timeout = static_cast<int>(std::clamp<int64_t>(ms, 0, kChildCheckInterval.count()));
    (void)::poll(endEvent >= 0 ? &ended : nullptr, endEvent >= 0 ? 1 : 0, timeout);
}

// The stall clock: the last moment progress was seen, or the child was
// waiting for this process rather than the other way round.
struct StallWatch {
    int64_t lastMark = 0;
    std::chrono::steady_clock::time_point lastProgress = std::chrono::steady_clock::now();

    // True once the child has shown no progress for the options' limit.
    bool Stalled(const RunOptions& options) {
        const int64_t mark = ProgressMark(options);
        const bool idle = options.awaited != nullptr && options.awaited->load() == 0;
        const auto now = std::chrono::steady_clock::now();
        if (mark != lastMark || idle) {
            lastMark = mark;
            lastProgress = now;
            return false;
        }
        return now - lastProgress > std::chrono::milliseconds(options.stallLimitMs);
    }
};

bool StopAsked(const RunOptions& options) {
    return options.stop != nullptr &&
           (options.stop->load() || (options.alsoStop != nullptr && options.alsoStop->load()));
}

// The child's end in the outcome's terms.
void RecordExit(int status, ChildOutcome& outcome) {
    if (WIFEXITED(status)) {
        // glibc reports a failed exec of the child as exit code 127.
        outcome.exitCode = WEXITSTATUS(status);
        outcome.status = outcome.exitCode;
    } else if (WIFSIGNALED(status)) {
        outcome.signal = WTERMSIG(status);
        outcome.status = 128 + outcome.signal;
    }
}

ChildOutcome Wait(pid_t pid, const RunOptions& options) {
    using Clock = std::chrono::steady_clock;
    ChildOutcome outcome;
    const int endEvent = OpenChildEndEvent(pid);
    StallWatch stall;
    if (options.stallLimitMs > 0) stall.lastMark = ProgressMark(options);
    Clock::time_point killAt = Clock::time_point::max();  // SIGKILL once SIGTERM had its grace
    bool termed = false, killed = false;
    int status = 0;
    pid_t done = 0;
    while (true) {
        done = ReapIfEnded(pid, status);
        if (done != 0) break;
        const bool stopAsked = StopAsked(options);
        if (options.stallLimitMs > 0 && !outcome.stalled && stall.Stalled(options)) {
            outcome.stalled = true;
            outcome.stallLimitMs = options.stallLimitMs;
        }
        // Still running: a stop request or a stall ends it, politely first.
        if ((stopAsked || outcome.stalled) && !termed) {
            ::kill(pid, SIGTERM);
            termed = true;
            killAt = Clock::now() + std::chrono::milliseconds(options.graceMs);
            outcome.stopped = stopAsked;
        } else if (termed && !killed && Clock::now() > killAt) {
            ::kill(pid, SIGKILL);
            killed = true;
        }
        AwaitChildEnd(endEvent, killed || !termed ? Clock::duration(kChildCheckInterval) : killAt - Clock::now());
    }
    if (endEvent >= 0) ::close(endEvent);
    if (done == pid) RecordExit(status, outcome);
    return outcome;
}

}  // namespace

ChildOutcome RunChild(const std::vector<std::string>& args, const RunOptions& options) {
    const int pid = Spawn(args, options, -1);
    if (pid < 0) return ChildOutcome{};
    return Wait(pid, options);
}

RunningChild StartChildWithInput(const std::vector<std::string>& args, const RunOptions& options) {
    RunningChild child;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return child;
    child.pid = Spawn(args, options, fds[0]);
    ::close(fds[0]);
    if (child.pid < 0) {
        ::close(fds[1]);
        return child;
    }
    child.input = fds[1];
    return child;
}

ChildOutcome WaitForChildExit(const RunningChild& child, const RunOptions& options) {
    if (child.pid < 0) return ChildOutcome{};
    return Wait(child.pid, options);
}

int RunEncoderProgram(const std::vector<std::string>& args, const RunOptions& options) {
    return RunChild(args, options).status;
}

std::string StallText(const ChildOutcome& outcome) {
    const int seconds = (outcome.stallLimitMs + 999) / 1000;
    return "the encoder made no progress for " + std::to_string(seconds) +
           " s (no output, no progress line) and was ended";
}

void KillRunningChildren() {
    // The caller may be a thread that failed while holding the lock; after
    // a short wait the children are ended without it.
    // (A timed mutex would say it in one call, but ThreadSanitizer does not
    // see its timed lock and then calls the unlock wrong.)
    constexpr int kLockTries = 40;
    constexpr std::chrono::milliseconds kLockRetryPause{5};
    std::unique_lock lock(ChildrenMutex(), std::defer_lock);
    for (int turn = 0; turn < kLockTries && !lock.try_lock(); ++turn) std::this_thread::sleep_for(kLockRetryPause);
    for (pid_t pid : Children()) ::kill(pid, SIGKILL);
}

std::string DescribeOutcome(const ChildOutcome& outcome) {
    if (outcome.signal != 0) return "killed by signal " + std::to_string(outcome.signal);
    if (outcome.exitCode >= 0) return "exit status " + std::to_string(outcome.exitCode);
    return "could not be started";
}

}  // namespace tessaly
