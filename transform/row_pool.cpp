#include "transform/row_pool.h"

namespace tessaly {

RowPool::RowPool(int threads) : threads_(threads < 1 ? 1 : threads) {
    workers_.reserve(static_cast<size_t>(threads_ - 1));
    try {
        for (int part = 1; part < threads_; ++part) {
            workers_.emplace_back([this, part] { Worker(part); });
        }
    } catch (...) {
        // No thread to be had: the started ones end before the failure
        // goes on to the caller.
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        for (std::thread& t : workers_) t.join();
        throw;
    }
}

RowPool::~RowPool() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    for (std::thread& t : workers_) t.join();
}

void RowPool::Run(Task task, void* context) {
    if (threads_ == 1) {
        task(context, 0, 1);
        return;
    }
    std::lock_guard runLock(runMutex_);
    {
        std::lock_guard lock(mutex_);
        task_ = task;
        context_ = context;
        pending_ = threads_ - 1;
        ++generation_;
    }
    wake_.notify_all();
    task(context, 0, threads_);
    std::unique_lock lock(mutex_);
    done_.wait(lock, [this] { return pending_ == 0; });
}

void RowPool::Worker(int part) {
    uint64_t seen = 0;
    for (;;) {
        Task task;
        void* context;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [&] { return stop_ || generation_ != seen; });
            if (stop_) return;
            seen = generation_;
            task = task_;
            context = context_;
        }
        task(context, part, threads_);
        std::lock_guard lock(mutex_);
        if (--pending_ == 0) done_.notify_one();
    }
}

}  // namespace tessaly
