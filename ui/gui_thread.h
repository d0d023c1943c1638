// Handing work to the GUI thread: widgets and dialogs live there only. A
// worker that needs an answer (a file chooser, a message box) asks and waits;
// the wait gives up when a stop is requested, so a worker never blocks a
// GUI thread that is itself waiting for the worker (Shutdown joining it).
#pragma once

#include <QObject>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "app/run_state.h"

namespace tessaly {

bool OnGuiThread(const QObject* context);

// Runs `fn` on the context's thread later (at once when already there).
void PostToGui(QObject* context, std::function<void()> fn);

// Runs `fn` on the context's thread and waits for its result. Empty when a
// stop was requested first (RunState::RequestStop wakes the wait) or when the
// context's thread dropped the call unrun (its object or event loop went).
// `fn` must capture by value: after an abandoned wait it may still run.
template <class R>
std::optional<R> CallOnGui(QObject* context, std::function<R()> fn, RunState& run) {
    if (OnGuiThread(context)) return fn();
    struct Shared {
        std::mutex mutex;
        std::optional<R> result;
        bool ended = false;
    };
    // Ends the wait when the posted call is destroyed, run or not.
    struct Answer {
        std::shared_ptr<Shared> shared;
        RunEvents* events = nullptr;
        ~Answer() {
            {
                std::lock_guard lock(shared->mutex);
                shared->ended = true;
            }
            events->Wake();
        }
    };
    auto shared = std::make_shared<Shared>();
    auto answer = std::make_shared<Answer>();
    answer->shared = shared;
    answer->events = &run.events;
    QMetaObject::invokeMethod(
        context,
        [answer, fn] {
            R value = fn();
            std::lock_guard lock(answer->shared->mutex);
            answer->shared->result = std::move(value);
        },
        Qt::QueuedConnection);
    answer.reset();
    run.events.WaitUntil([&] {
        std::lock_guard lock(shared->mutex);
        return shared->ended || run.stopRequested.load();
    });
    std::lock_guard lock(shared->mutex);
    return shared->result;
}

}  // namespace tessaly
