#include "convert/frame_callback.h"

#include <algorithm>
#include <new>

#include "app/format.h"
#include "convert/frame_slots.h"

namespace tessaly {

double MonotonicSeconds() {
    using namespace std::chrono;
    // Millisecond resolution, like the clock the figures were designed for.
    auto ms = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    return static_cast<double>(ms) / 1000.0;
}

ProgressTexts ProgressFigures(double interval, double passed, int32_t numFrames) {
    ProgressTexts texts;
    const double perFrame = interval * 0.0333;
    texts.estimatedTime = FormatClock(RoundHalfEvenToInt32(perFrame * numFrames));
    texts.timePassed = FormatClock(RoundHalfEvenToInt32(passed));
    // A zero interval (30 frames within one clock tick) has no finite rate;
    // show the largest the mask can hold rather than "inf".
    texts.fps = perFrame > 0 ? FormatMask(1.0 / perFrame, "00.000") : FormatMask(99.999, "00.000");
    return texts;
}

namespace {

FrameCallback::SinkFn StillSink(StillWriter& writer, bool jpeg) {
    return [&writer, jpeg](int32_t frameNumber, const uint8_t* bgrx, int32_t width, int32_t height) {
        return jpeg ? writer.WriteStillJpeg(frameNumber, bgrx, width, height)
                    : writer.WriteStillBmp(frameNumber, bgrx, width, height);
    };
}

}  // namespace

FrameCallback::FrameCallback(RunState& run, StillWriter& writer, ConvertFn convert,
                             int32_t numFrames, int writerThreads)
    : FrameCallback(run, StillSink(writer, run.tempFormat.load() != StillFormat::Bmp), std::move(convert),
                    numFrames, writerThreads) {}

FrameCallback::FrameCallback(RunState& run, SinkFn sink, ConvertFn convert, int32_t numFrames,
                             int writerThreads)
    : run_(run), sink_(std::move(sink)), convert_(std::move(convert)), numFrames_(numFrames) {
    if (writerThreads > 0) {
        // A frame is handed over only when a writer is free, so the copies
        // held never exceed the writers (each holds one while it encodes);
        // the transform of the next frame overlaps the writing all the same.
        maxFrames_ = static_cast<size_t>(writerThreads);
        try {
            for (int i = 0; i < writerThreads; ++i) writers_.emplace_back([this] { WriterLoop(); });
        } catch (...) {
            // No thread to be had: the ones started end before the failure
            // goes on to the caller.
            StopWriters();
            throw;
        }
    }
}

void FrameCallback::StopWriters() {
    {
        std::lock_guard lock(queueMutex_);
        quit_ = true;
    }
    queueChanged_.notify_all();
    for (std::thread& t : writers_) {
        if (t.joinable()) t.join();
    }
}

FrameCallback::~FrameCallback() { StopWriters(); }

void FrameCallback::StartClock() {
    lastTick_ = MonotonicSeconds();
    convStart_ = lastTick_;
}

std::string FrameCallback::FailureMessage() const {
    std::lock_guard lock(failureMutex_);
    if (failureMessage_.empty() && outOfMemory_.load() != 0) return "out of memory while writing the stills";
    return failureMessage_;
}

void FrameCallback::WriteStill(int32_t frameNumber, const uint8_t* bgrx, int32_t width,
                               int32_t height) {
    StillResult result;
    try {
        result = sink_(frameNumber, bgrx, width, height);
    } catch (const std::bad_alloc&) {
        // Memory ran out while writing or while wording the failure: the
        // still failed, and the run ends with that reason, not with an abort.
        outOfMemory_ = 1;
        failed_ = 1;
        return;
    }
    if (result.ok) return;
    // With several writers a later still can fail first; the message names
    // the earliest still that failed, as one writer would.
    std::lock_guard lock(failureMutex_);
    if (frameNumber < firstFailed_.load()) {
        failureMessage_ = result.message;
        firstFailed_ = frameNumber;
    }
    failed_ = 1;
}

void FrameCallback::WriterLoop() {
    while (true) {
        Pending job;
        {
            std::unique_lock lock(queueMutex_);
            queueChanged_.wait(lock, [this] { return quit_ || !queue_.empty(); });
            if (queue_.empty()) return;
            job = std::move(queue_.front());
            queue_.pop_front();
            ++inFlight_;
        }
        queueChanged_.notify_all();
        // Stills before a failed one are still attempted, so the earliest
        // failure is the one reported.
        if (job.frameNumber < firstFailed_.load()) {
            WriteStill(job.frameNumber, job.pixels.data(), job.width, job.height);
        }
        {
            std::lock_guard lock(queueMutex_);
            --inFlight_;
            spareBuffers_.push_back(std::move(job.pixels));
        }
        queueChanged_.notify_all();
    }
}

void FrameCallback::Flush() {
    std::unique_lock lock(queueMutex_);
    queueChanged_.wait(lock, [this] { return queue_.empty() && inFlight_ == 0; });
}

void FrameCallback::UpdateProgress() {
    ++progressCounter_;
    if (progressCounter_ <= 29) return;
    const double now = MonotonicSeconds();
    run_.progress.Set(ProgressFigures(now - lastTick_, now - convStart_, numFrames_));
    progressCounter_ = 0;
    lastTick_ = MonotonicSeconds();
}

void FrameCallback::KeepFrameTimes(double framesPerSecond, int64_t maxSlots) {
    keepRate_ = framesPerSecond > 0 ? framesPerSecond : 0;
    maxSlots_ = std::max<int64_t>(0, maxSlots);
    nextSlot_ = 0;
    reachedSlots_ = 0;
    lastOut_ = nullptr;
}

void FrameCallback::KeepSlots(SlotWindow window) {
    windowed_ = true;
    window_ = window;
    holding_ = false;
    havePrevious_ = false;
    windowDone_ = nextSlot_ >= window_.end ? 1 : 0;
}

const FrameBuffer* FrameCallback::PreviousOutput() {
    if (holding_) {
        // The frame before the window's first slot shows in it: converted
        // now, exactly as a whole run converts it.
        holding_ = false;
        lastOut_ = convert_(heldTime_, held_.data(), static_cast<int32_t>(held_.size()));
        if (lastOut_ != nullptr && lastOut_->Empty()) lastOut_ = nullptr;
        if (lastOut_ == nullptr) ++refusedFrames;
    }
    return lastOut_;
}

bool FrameCallback::FillSlot(const FrameBuffer* frame) {
    if (window_.Holds(nextSlot_)) {
        // No frame to show (every earlier one was refused): the slot waits
        // for the next frame, as in a whole run.
        if (frame == nullptr) return false;
        Emit(*frame);
    } else {
        ++nextSlot_;
    }
    if (nextSlot_ >= window_.end) windowDone_ = 1;
    return true;
}

void FrameCallback::WindowedFrame(const SlotPlan& plan, double time, const uint8_t* data, int32_t length) {
    int64_t own = nextSlot_ + plan.repeats;
    const FrameBuffer* converted = nullptr;
    bool convertedOwn = false;
    const auto convertOwn = [&] {
        if (!convertedOwn) {
            convertedOwn = true;
            converted = convert_(time, data, length);
            if (converted != nullptr && converted->Empty()) converted = nullptr;
            if (converted == nullptr) ++refusedFrames;
        }
        return converted;
    };
    // The previous frame stays on screen until this one is due; a movie
    // whose first frame comes late shows it from the start.
    while (nextSlot_ < own && windowDone_.load() == 0 && failed_.load() == 0 && !run_.stopRequested.load()) {
        // A later part read from a key frame starts with a frame whose time
        // lies far into the movie: the slots before it are not a frame late.
        if (havePrevious_ || window_.first == 0) repeatedFrames.fetch_add(1);
        if (!window_.Holds(nextSlot_)) {
            ++nextSlot_;
            continue;
        }
        if (!FillSlot(havePrevious_ ? PreviousOutput() : convertOwn())) {
            own = nextSlot_;
            break;
        }
    }
    if (windowDone_.load() != 0 || own >= window_.end) {
        windowDone_ = 1;
        return;
    }
    if (own < window_.first) {
        // Before the window: kept as it came, in case a repeat carries it in.
        held_.assign(data, data + length);
        heldTime_ = time;
        holding_ = true;
        havePrevious_ = true;
        ++nextSlot_;
        return;
    }
    const FrameBuffer* out = convertOwn();
    if (out == nullptr) return;
    holding_ = false;
    havePrevious_ = true;
    FillSlot(out);
    lastOut_ = out;
}

void FrameCallback::FillTo(double seconds) {
    if (keepRate_ <= 0) return;
    if (repeatedFrames.load() == 0 && droppedFrames.load() == 0) return;
    const int64_t slots = SlotsForDuration(seconds, keepRate_);
    if (windowed_) {
        while (nextSlot_ < slots && windowDone_.load() == 0 && havePrevious_ && !run_.stopRequested.load() &&
               failed_.load() == 0) {
            repeatedFrames.fetch_add(1);
            if (!FillSlot(window_.Holds(nextSlot_) ? PreviousOutput() : nullptr)) break;
        }
        return;
    }
    if (lastOut_ == nullptr) return;
    while (nextSlot_ < slots && !run_.stopRequested.load() && failed_.load() == 0) {
        repeatedFrames.fetch_add(1);
        Emit(*lastOut_);
    }
}

void FrameCallback::OnFrame(double sampleTime, const uint8_t* data, int32_t length) {
    if (length <= 0 || data == nullptr) return;
    if (run_.stopRequested.load() || failed_.load() != 0 || windowDone_.load() != 0) return;
    deliveredFrames.fetch_add(1);

    SlotPlan plan;
    if (keepRate_ > 0) plan = PlanFrameSlot(sampleTime, keepRate_, nextSlot_);
    if (maxSlots_ > 0) plan.repeats = std::min(plan.repeats, std::max<int64_t>(0, maxSlots_ - 1 - nextSlot_));
    if (!plan.keep) {
        droppedFrames.fetch_add(1);
        return;
    }
    if (windowed_) {
        WindowedFrame(plan, sampleTime, data, length);
        reachedSlots_ = std::max(reachedSlots_.load(), nextSlot_);
        return;
    }
    // The previous frame stays on screen until this one is due.
    for (int64_t i = 0; i < plan.repeats && lastOut_ != nullptr && failed_.load() == 0; ++i) {
        repeatedFrames.fetch_add(1);
        Emit(*lastOut_);
    }

    // Load, input filters, crop, projection and sharpen. The process keeps
    // its priority: real-time priority needs privileges and can starve the
    // machine, and the writer threads take the still encoding off this one.
    const FrameBuffer* out = convert_(sampleTime, data, length);
    if (out == nullptr || out->Empty()) {
        ++refusedFrames;
        return;
    }
    // A movie whose first frame comes late shows it from the start.
    if (lastOut_ == nullptr) {
        for (int64_t i = 0; i < plan.repeats && failed_.load() == 0; ++i) {
            repeatedFrames.fetch_add(1);
            Emit(*out);
        }
    }
    Emit(*out);
    lastOut_ = out;
    reachedSlots_ = std::max(reachedSlots_.load(), nextSlot_);
}

void FrameCallback::Emit(const FrameBuffer& frame) {
    const FrameBuffer* out = &frame;
    const int32_t number = frameNo.load();
    ++nextSlot_;
    if (writers_.empty()) {
        WriteStill(number, out->Data(), out->Width(), out->Height());
    } else {
        std::unique_lock lock(queueMutex_);
        queueChanged_.wait(lock, [this] { return queue_.size() + static_cast<size_t>(inFlight_) < maxFrames_; });
        std::vector<uint8_t> pixels;
        if (!spareBuffers_.empty()) {
            pixels = std::move(spareBuffers_.back());
            spareBuffers_.pop_back();
        }
        pixels.assign(out->Data(), out->Data() + out->PictureBytes());
        queue_.push_back(Pending{number, std::move(pixels), out->Width(), out->Height()});
        lock.unlock();
        queueChanged_.notify_all();
    }

    UpdateProgress();
    frameNo = number + 1;
}

DecodeReach ReachOfRun(const FrameCallback& callback, int64_t declaredFrames, bool declaredExactly, bool part) {
    DecodeReach reach;
    if (part) {
        // A part read from a key frame decodes only some of the movie's
        // frames: how far into the timeline they reached counts, and a part
        // whose slots all filled is whole whatever the movie's end holds.
        reach.decoded = callback.ReachedSlots();
        reach.declared = callback.WindowDone() ? 0 : declaredFrames;
        reach.exactly = false;
        return reach;
    }
    // Frames that reached the declared end are the whole movie (an AVI's
    // empty chunk is declared and never decoded); else the decoded ones count.
    const int64_t reached = callback.ReachedSlots();
    reach.decoded = declaredFrames > 0 && reached >= declaredFrames ? reached : callback.deliveredFrames.load();
    reach.declared = declaredFrames;
    reach.exactly = declaredExactly;
    return reach;
}

}  // namespace tessaly
