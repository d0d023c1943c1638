// What one decoded frame of a conversion sets in motion: the transform into
// the output frame, the numbered still, the progress figures and the frame
// counter that the conversion driver watches.
#pragma once

#include <atomic>
#include <climits>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/run_state.h"
#include "convert/frame_slots.h"
#include "convert/movie_part.h"
#include "output/still_writer.h"
#include "transform/frame_buffer.h"

namespace tessaly {

// Seconds on a monotonic clock; the progress figures use it so that a run
// across midnight or a clock change still shows sensible figures.
double MonotonicSeconds();

// The progress texts after a progress interval of `interval` seconds for 30
// frames, `passed` seconds since the start and a movie of `numFrames` frames.
ProgressTexts ProgressFigures(double interval, double passed, int32_t numFrames);

class FrameCallback {
public:
    // Turns one delivered frame (bottom-up BGRX bytes, due at `time`
    // seconds) into the output frame and returns it, or null when the frame
    // was refused (a wrong size).
    using ConvertFn = std::function<const FrameBuffer*(double time, const uint8_t* data, int32_t size)>;

    // Takes one finished frame (bottom-up BGRX) somewhere: a still, a pipe.
    using SinkFn = std::function<StillResult(int32_t frameNumber, const uint8_t* bgrx,
                                             int32_t width, int32_t height)>;

    // writerThreads = 0 writes every still on the delivering thread; more
    // hands the stills to that many writer threads while the next frame is
    // transformed. Either way every still holds the same bytes.
    FrameCallback(RunState& run, StillWriter& writer, ConvertFn convert, int32_t numFrames,
                  int writerThreads);
    // Frames into any sink; with one writer thread the sink gets them in
    // order, through a queue of two frames (back-pressure, bounded memory).
    FrameCallback(RunState& run, SinkFn sink, ConvertFn convert, int32_t numFrames,
                  int writerThreads);
    ~FrameCallback();
    FrameCallback(const FrameCallback&) = delete;
    FrameCallback& operator=(const FrameCallback&) = delete;

    // Called once per decoded frame, on the decoding thread, one call at a
    // time. An empty buffer, a stop request or an earlier failed still leave
    // everything unchanged.
    void OnFrame(double sampleTime, const uint8_t* data, int32_t length);

    // From now on frames go into slots of a constant `framesPerSecond` by
    // their times (see convert/frame_slots.h): a frame due later than the
    // next slot repeats the previous frame first, one due in a filled slot is
    // dropped. 0 (the start) takes every frame in order. No frame is
    // repeated past `maxSlots` (the movie's length; 0: no bound), so a
    // damaged time far ahead cannot flood the output.
    void KeepFrameTimes(double framesPerSecond, int64_t maxSlots);
    // After the movie's last frame: when frames were repeated or dropped,
    // the last one fills the slots up to `seconds`, so the movie keeps its
    // length. A movie whose frames each took their own slot is left alone.
    void FillTo(double seconds);

    // From now on only the slots in `window` are handed on (one part of a
    // movie): the frames of earlier slots are decoded but not converted,
    // except the one a repeat carries into the window, and once the window
    // is full WindowDone() says the rest of the movie is not needed. Slots
    // are counted over the whole movie exactly as without a window, so the
    // parts of a movie hold every frame of a whole run once.
    void KeepSlots(SlotWindow window);
    bool WindowDone() const { return windowDone_.load() != 0; }
    // One past the last slot a decoded frame of the movie took (the fill at
    // the end not counted): how far into its timeline the movie reached. An
    // AVI's empty chunk (a frame shown again) is a slot without a decoded
    // frame, so this can exceed the decoded frames of an intact movie.
    int64_t ReachedSlots() const { return reachedSlots_.load(); }

    // Starts the clocks of a run: the progress interval and the run's start.
    void StartClock();
    // Waits until every still handed to the writers is on disk.
    void Flush();

    // Frames processed in the run; also the number of the next still.
    std::atomic<int32_t> frameNo{0};
    // Frames the movie delivered to the run (dropped ones included).
    std::atomic<int32_t> deliveredFrames{0};
    // Slots filled again by the previous frame, and frames dropped, to keep
    // the frames' times.
    std::atomic<int32_t> repeatedFrames{0};
    std::atomic<int32_t> droppedFrames{0};
    // Frames refused by the transform (wrong size); they get no still.
    std::atomic<int32_t> refusedFrames{0};

    // The first still that could not be written (a full disk, a folder that
    // vanished); after it no further frame is processed.
    bool Failed() const { return failed_.load() != 0; }
    std::string FailureMessage() const;

private:
    void StopWriters();

    struct Pending {
        int32_t frameNumber = 0;
        std::vector<uint8_t> pixels;
        int32_t width = 0;
        int32_t height = 0;
    };

    void WriteStill(int32_t frameNumber, const uint8_t* bgrx, int32_t width, int32_t height);
    // Hands `out` on as the next still and counts it.
    void Emit(const FrameBuffer& out);
    // OnFrame with a window: the frame fills `plan`'s slots inside it.
    void WindowedFrame(const SlotPlan& plan, double time, const uint8_t* data, int32_t length);
    // The previous frame's output, converted now if it was only held.
    const FrameBuffer* PreviousOutput();
    // One slot of the timeline: handed on when the window holds it, else
    // passed; false (nothing done) for a slot in the window without a frame.
    bool FillSlot(const FrameBuffer* frame);
    void WriterLoop();
    void UpdateProgress();

    RunState& run_;
    SinkFn sink_;
    ConvertFn convert_;
    int32_t numFrames_;

    double keepRate_ = 0;              // frames per second of the slots; 0: in order
    int64_t nextSlot_ = 0;             // the first slot not yet filled
    int64_t maxSlots_ = 0;             // repeats end here (0: no bound)
    const FrameBuffer* lastOut_ = nullptr;  // the last frame handed on (the pipeline keeps it)
    // With a window: the slots handed on, the previous frame's bytes while it
    // is held unconverted (it came before the window), and whether there is one.
    bool windowed_ = false;
    SlotWindow window_;
    std::vector<uint8_t> held_;
    double heldTime_ = 0;
    bool holding_ = false;
    bool havePrevious_ = false;
    std::atomic<int32_t> windowDone_{0};
    std::atomic<int64_t> reachedSlots_{0};

    int32_t progressCounter_ = 0;  // frames since the last progress update
    double lastTick_ = 0;
    double convStart_ = 0;

    std::atomic<int32_t> failed_{0};
    std::atomic<int32_t> outOfMemory_{0};  // a still failed for want of memory
    std::atomic<int32_t> firstFailed_{INT32_MAX};  // number of the earliest failed still
    mutable std::mutex failureMutex_;
    std::string failureMessage_;

    // Writer threads and their bounded queue.
    std::mutex queueMutex_;
    std::condition_variable queueChanged_;
    std::deque<Pending> queue_;
    std::vector<std::vector<uint8_t>> spareBuffers_;
    size_t maxFrames_ = 0;  // frames queued or being written at most
    int32_t inFlight_ = 0;
    bool quit_ = false;
    std::vector<std::thread> writers_;
};

// The counts a run's short-decode check compares (see DecodedShort): the
// frames that reached the movie's timeline against those the file declares.
struct DecodeReach {
    int64_t decoded = 0;
    int64_t declared = 0;  // 0: nothing to compare
    bool exactly = false;
};
DecodeReach ReachOfRun(const FrameCallback& callback, int64_t declaredFrames, bool declaredExactly, bool part);

}  // namespace tessaly
