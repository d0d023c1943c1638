// Waits on a condition other threads make true, with a limit, so a test that
// goes wrong fails instead of hanging.
#pragma once

#include <chrono>
#include <thread>

namespace tessaly::testing {

template <class Pred>
bool WaitFor(Pred pred, std::chrono::milliseconds limit = std::chrono::seconds(30)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

}  // namespace tessaly::testing
