// A small reusable pool for splitting one job into bands of rows: its threads
// are created once and wait between jobs, so a frame costs one wake-up, not a
// thread start.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace tessaly {

class RowPool {
public:
    // threads = total parallelism including the calling thread; 1 (or less)
    // starts no thread and Run calls the task on the caller.
    explicit RowPool(int threads);
    ~RowPool();
    RowPool(const RowPool&) = delete;
    RowPool& operator=(const RowPool&) = delete;

    int Threads() const { return threads_; }

    // Calls task(context, part, Threads()) once for every part
    // 0 .. Threads()-1, part 0 on the caller, and returns when all are done.
    using Task = void (*)(void* context, int part, int parts);
    void Run(Task task, void* context);

private:
    void Worker(int part);

    int threads_;
    std::vector<std::thread> workers_;
    std::mutex runMutex_;  // one job at a time
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    Task task_ = nullptr;
    void* context_ = nullptr;
    uint64_t generation_ = 0;
    int pending_ = 0;
    bool stop_ = false;
};

}  // namespace tessaly
