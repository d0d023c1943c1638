#include "app/app_state.h"

#include <climits>
#include <unistd.h>

#include "app/format.h"
#include "app/run_state.h"

namespace tessaly {

uint64_t RunEvents::Count() const {
    std::lock_guard lock(mutex_);
    return count_;
}

void RunEvents::Wake() {
    {
        std::lock_guard lock(mutex_);
        ++count_;
    }
    woken_.notify_all();
}

bool RunEvents::WaitAfter(uint64_t seen, Duration limit) {
    std::unique_lock lock(mutex_);
    const auto woken = [this, seen] { return count_ != seen; };
    // A limit past any clock's range waits for the wake alone.
    if (limit >= std::chrono::hours(24 * 365)) {
        woken_.wait(lock, woken);
        return true;
    }
    return woken_.wait_for(lock, limit, woken);
}

bool RunEvents::WaitUntil(const std::function<bool()>& ready, Duration limit) {
    using Clock = std::chrono::steady_clock;
    const bool forever = limit >= std::chrono::hours(24 * 365);
    const Clock::time_point end = forever ? Clock::time_point::max() : Clock::now() + limit;
    for (;;) {
        const uint64_t seen = Count();
        if (ready()) return true;
        const Clock::time_point now = Clock::now();
        if (now >= end) return false;
        WaitAfter(seen, forever ? Duration::max() : end - now);
    }
}

void ShutdownHooks::AddStopHook(std::function<void()> hook) {
    std::lock_guard lock(mutex_);
    stopHooks_.push_back(std::move(hook));
}

void ShutdownHooks::AddJoinHook(std::function<void()> hook) {
    std::lock_guard lock(mutex_);
    joinHooks_.push_back(std::move(hook));
}

void ShutdownHooks::RunStopHooks() {
    std::vector<std::function<void()>> hooks;
    {
        std::lock_guard lock(mutex_);
        hooks = stopHooks_;
    }
    for (auto& h : hooks) h();
}

void ShutdownHooks::RunJoinHooks() {
    std::vector<std::function<void()>> hooks;
    {
        std::lock_guard lock(mutex_);
        hooks = joinHooks_;
    }
    for (auto& h : hooks) h();
}

StillFormat ParseTempFormat(const char* firstArgument) {
    if (!firstArgument) return StillFormat::Bmp;
    const int32_t v = RoundHalfEvenToInt32(ParseLeadingNumber(firstArgument));
    return v == 0 || v == 1 ? StillFormat::Bmp : StillFormat::Jpeg;
}

std::string ProgramFolder(const char* argv0) {
    std::string path;
    char buf[PATH_MAX + 1];
    const ssize_t n = readlink("/proc/self/exe", buf, PATH_MAX);
    if (n > 0) {
        path.assign(buf, static_cast<size_t>(n));
    } else if (argv0) {
        char resolved[PATH_MAX + 1];
        path = realpath(argv0, resolved) ? resolved : argv0;
    }
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return "./";
    return path.substr(0, slash + 1);
}

}  // namespace tessaly
