// Decodes a movie once in conversion mode (every frame to a callback, as
// fast as it returns) and prints the rate and the memory the open stream
// holds:
//   frames N seconds S fps F
//   memory above base MB M
//   heap growth in steady state bytes B   (in use at the last frame minus at frame 100)
#include <malloc.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>

#include "video/video_stream.h"

namespace {

// Resident set size of this process in kB, from /proc.
long ResidentKb(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::strlen(field));
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s MOVIE\n", argv[0]);
        return 2;
    }
    using Clock = std::chrono::steady_clock;
    tessaly::VideoStream stream;
    const long baseKb = ResidentKb("VmRSS:");

    std::atomic<long> frames{0};
    std::atomic<size_t> heapAt100{0}, heapAtLast{0};
    volatile uint8_t sink = 0;
    const auto start = Clock::now();
    if (stream.Open(argv[1]) != tessaly::StreamError::kNone) {
        std::fprintf(stderr, "cannot open %s\n", argv[1]);
        return 1;
    }
    stream.SetFrameCallback([&](double, const uint8_t* data, int32_t size) {
        sink = data[size / 2];  // the frame is really there
        const long n = ++frames;
        const size_t inUse = mallinfo2().uordblks;
        if (n == 100) heapAt100 = inUse;
        if (std::getenv("DECODE_RATE_TRACE") && n % 25 == 0) std::fprintf(stderr, "frame %ld heap %zu\n", n, inUse);
        heapAtLast = inUse;
    });
    // The stream tells of the movie's end: the listener wakes this thread,
    // which takes it.
    std::mutex eventMutex;
    std::condition_variable eventPosted;
    uint64_t posted = 0;
    stream.SetMovieEndListener([&] {
        std::lock_guard lock(eventMutex);
        ++posted;
        eventPosted.notify_all();
    });
    stream.SetSoundMuted(true);
    stream.Play();
    for (uint64_t seen = 0;;) {
        if (stream.TakeMovieEnd()) break;
        std::unique_lock lock(eventMutex);
        eventPosted.wait(lock, [&] { return posted != seen; });
        seen = posted;
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    // The kernel's own peak of the resident set.
    const long hwmKb = ResidentKb("VmHWM:");
    stream.SetMovieEndListener({});
    stream.Close();

    std::printf("frames %ld seconds %.3f fps %.2f\n", frames.load(), seconds,
                static_cast<double>(frames.load()) / seconds);
    std::printf("memory above base MB %.1f\n", static_cast<double>(hwmKb - baseKb) / 1024.0);
    std::printf("heap growth in steady state bytes %lld\n",
                static_cast<long long>(heapAtLast.load()) - static_cast<long long>(heapAt100.load()));
    return 0;
}
