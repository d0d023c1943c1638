// Handing work to the GUI thread: widgets and dialogs live there only. A
// worker that needs an answer (a file chooser, a message box) asks and waits;
// the wait gives up when `abandon` is set, so a worker never blocks a
// GUI thread that is itself waiting for the worker (Shutdown joining it).
#pragma once

#include <QObject>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace tessaly {

bool OnGuiThread(const QObject* context);

// Runs `fn` on the context's thread later (at once when already there).
void PostToGui(QObject* context, std::function<void()> fn);

// Runs `fn` on the context's thread and waits for its result. Empty when
// `abandon` was set first. `fn` must capture by value: after an abandoned
// wait it may still run.
template <class R>
std::optional<R> CallOnGui(QObject* context, std::function<R()> fn,
                           const std::atomic<bool>* abandon) {
    if (OnGuiThread(context)) return fn();
    struct Shared {
        std::mutex mutex;
        std::condition_variable done;
        std::optional<R> result;
    };
    auto shared = std::make_shared<Shared>();
    QMetaObject::invokeMethod(
        context,
        [shared, fn] {
            R value = fn();
            std::lock_guard lock(shared->mutex);
            shared->result = std::move(value);
            shared->done.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock lock(shared->mutex);
    while (!shared->result) {
        if (abandon != nullptr && abandon->load()) return std::nullopt;
        shared->done.wait_for(lock, std::chrono::milliseconds(20));
    }
    return shared->result;
}

}  // namespace tessaly
