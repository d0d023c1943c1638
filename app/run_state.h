// The runtime state the threads of the program share while it runs: what the
// stream is doing, the switches of the main window, the flags of a
// conversion and of shutdown, the frame size and the progress texts.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "app/still_format.h"
#include "transform/eye_layout.h"

namespace tessaly {

// The frame size assumed before a movie is open.
inline constexpr int32_t kStartFrameWidth = 400;
inline constexpr int32_t kStartFrameHeight = 300;

// The playback stream of the open movie.
enum class StreamState : int32_t {
    Stopped = 0,  // no stream (none opened, or its loop was told to end)
    Running = 1,  // open, its loop runs
    Opening = 2,  // a movie is being opened
};

// Progress texts shown during a conversion (8-character fixed texts).
struct ProgressTexts {
    std::string estimatedTime = "00.00.00";
    std::string timePassed = "00.00.00";
    std::string fps = "00.000";
};

// The progress texts behind their own lock: the frame thread writes them
// while the preview painter reads them on another.
class SharedProgress {
public:
    void Set(ProgressTexts texts) {
        std::lock_guard lock(mutex_);
        texts_ = std::move(texts);
    }
    ProgressTexts Get() const {
        std::lock_guard lock(mutex_);
        return texts_;
    }

private:
    mutable std::mutex mutex_;
    ProgressTexts texts_;
};

// What Shutdown runs: the stop hooks stop playback (before "EXIT2"), the join
// hooks wait for the worker threads to finish (before "EXIT3"). Later layers
// register what they own; both kinds run in registration order.
class ShutdownHooks {
public:
    void AddStopHook(std::function<void()> hook);
    void AddJoinHook(std::function<void()> hook);
    void RunStopHooks();
    void RunJoinHooks();

private:
    std::mutex mutex_;
    std::vector<std::function<void()>> stopHooks_;
    std::vector<std::function<void()>> joinHooks_;
};

// Wakes the threads that wait for something of a run to happen: a stop
// request, a converted frame, the end of the movie, an ended preview pass or
// encoder. Whoever changes what a waiter looks at calls Wake afterwards, so
// a wait ends when its cause happens instead of at its next turn.
class RunEvents {
public:
    using Duration = std::chrono::steady_clock::duration;
    // Wakes counted so far: taken before a check, it lets WaitAfter miss no
    // wake that came after the check.
    uint64_t Count() const;
    void Wake();
    // Waits until a wake after `seen` (true) or until `limit` passed (false).
    bool WaitAfter(uint64_t seen, Duration limit);
    // Waits until `ready` holds (true) or `limit` passed (false); `ready`
    // is checked after every wake and must not wait for this object.
    bool WaitUntil(const std::function<bool()>& ready, Duration limit = Duration::max());

private:
    mutable std::mutex mutex_;
    std::condition_variable woken_;
    uint64_t count_ = 0;
};

// Each flag is written by one side and read by the other; a change that
// someone waits for is followed by events.Wake().
struct RunState {
    std::atomic<StillFormat> tempFormat{StillFormat::Bmp};
    std::atomic<StreamState> streamState{StreamState::Stopped};
    std::atomic<bool> showInputVideo{true};
    std::atomic<bool> showOutputVideo{true};
    std::atomic<bool> horizontalFlip{false};
    std::atomic<bool> paused{false};
    std::atomic<bool> converting{false};   // the whole of a conversion run
    std::atomic<bool> encoderBusy{false};  // the export's encoder runs
    std::atomic<bool> stopRequested{false};
    std::atomic<bool> shutdownDone{false};
    std::atomic<int32_t> resizeChoice{0};     // resize choice of the output options
    // Every written output in a container that can carry it is marked as
    // 180-degree VR video ("Mark output as 180° VR video", --no-vr-metadata).
    std::atomic<bool> markVrOutput{true};
    std::atomic<bool> vrNoteLogged{false};  // the "cannot carry" note is in the log
    // How the output frames hold the eyes, for the marking (kMono: one picture).
    std::atomic<StereoLayout> vrStereo{StereoLayout::kMono};

    std::atomic<int32_t> frameWidth{kStartFrameWidth};
    std::atomic<int32_t> frameHeight{kStartFrameHeight};

    SharedProgress progress;  // written by the frame thread, read for display only
    std::string fileInfoText;  // the open movie's description (GUI thread)

    ShutdownHooks shutdown;
    RunEvents events;

    // stopRequested set, and every wait of the run woken.
    void RequestStop() {
        stopRequested = true;
        events.Wake();
    }
};

}  // namespace tessaly
