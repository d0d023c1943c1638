#include "convert/movie_conversion.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "app/startup.h"

namespace tessaly {

MovieConversion ConvertMovieFile(FisheyeApp& app, UserInterface& ui, FramePipeline& pipeline,
                                 const std::string& input, const std::string& output,
                                 const ConversionOptions& options,
                                 const StreamTimings& streamTimings,
                                 const std::function<void(const MediaInfo&)>& onOpened) {
    MovieConversion conversion;
#if defined(__GLIBC__)
    // Frame-sized blocks, freed by several threads, go straight back to the
    // system instead of staying in the threads' arenas (glibc would raise
    // this threshold after the first such block is freed): some 4 MB less at
    // 1080p.
    mallopt(M_MMAP_THRESHOLD, 256 * 1024);
#endif

    // The stream's last message is the reason when the open fails.
    struct MessageTap : UserInterface {
        UserInterface& inner;
        std::mutex mutex;
        std::string last;
        explicit MessageTap(UserInterface& ui) : inner(ui) {}
        void ShowMovieFacts(const MovieFacts& facts) override { inner.ShowMovieFacts(facts); }
        void ClearMovieFacts() override { inner.ClearMovieFacts(); }
        void ShowOutputSize(const std::string& text) override { inner.ShowOutputSize(text); }
        void ShowPreviewSwitches(bool input, bool output) override { inner.ShowPreviewSwitches(input, output); }
        void SetPositionBar(int width) override { inner.SetPositionBar(width); }
        void ShowMessage(const std::string& caption, const std::string& text, MessageIcon icon,
                         bool owner) override {
            {
                std::lock_guard lock(mutex);
                last = text;
            }
            inner.ShowMessage(caption, text, icon, owner);
        }
        void PaintPlaceholders() override { inner.PaintPlaceholders(); }
        std::string Last() {
            std::lock_guard lock(mutex);
            return last;
        }
    } tap(ui);

    VideoSource source(app, tap);
    StreamHooks hooks;
    hooks.allocateFrameBuffers = [&pipeline](const MediaInfo& info) {
        pipeline.Allocate(info.frameWidth, info.frameHeight);
    };
    hooks.invalidateGeometry = [&pipeline] { pipeline.ForceGeometryRebuild(); };
    // The open stream and the loader's end wake the wait below at once.
    std::mutex wakeMutex;
    std::condition_variable wake;
    auto notify = [&] {
        std::lock_guard lock(wakeMutex);
        wake.notify_all();
    };
    hooks.streamReady = notify;
    source.SetHooks(hooks);  // no preview pass: nothing is shown
    // The transform and the still writers keep the cores busy; decoding
    // ahead on frame threads would only hold more frames.
    source.Stream().SetSliceThreadsOnly(true);
    source.SetTimings(streamTimings);
    // A headless run keeps every file of its own in its temporary folder.
    source.SetParamFileFolder(app.settings.APATH);

    app.log.WriteLogLine("GetMultipleFiles pMediaControl begin");
    app.log.WriteLogLine("GetMultipleFiles pMediaControl Ok");
    std::atomic<bool> streamEnded{false};
    std::thread loader([&] {
        source.AVIREAD(input);
        streamEnded = true;
        notify();
    });
    // Shutdown stops playback and waits for the stream's thread to finish.
    app.AddStopHook([&source] { source.Stream().Stop(); });
    app.AddJoinHook([&loader] {
        if (loader.joinable()) loader.join();
    });

    // A failure below (no thread or no memory to be had) ends the stream
    // and its thread before it goes on to the caller.
    try {
        {
            // A stop request may come from a signal handler, which cannot notify:
            // the flag is looked at every 20 ms besides.
            std::unique_lock lock(wakeMutex);
            while (!(app.streamState.load() == 1 && source.videoOpen.load() == 1) && !streamEnded.load() &&
                   app.stopRequested.load() == 0) {
                wake.wait_for(lock, std::chrono::milliseconds(20));
            }
        }

        if (streamEnded.load() || app.stopRequested.load() == 1) {
            // The stream's own reason names what is wrong with the file; the
            // message box keeps its caption and text for the desktop program.
            conversion.openError = source.Stream().OpenProblem();
            if (conversion.openError.empty()) conversion.openError = tap.Last();
            if (conversion.openError.empty()) conversion.openError = "the movie could not be opened";
        } else {
            conversion.opened = true;
            conversion.info = source.Info();
            if (onOpened) onOpened(conversion.info);
            // What the Convert command does before the run: stop and rewind.
            VideoStream& stream = source.Stream();
            stream.Stop();
            source.positionTicks = 0;
            stream.SeekToStart();
            conversion.result =
                options.streamOutputs.empty()
                    ? RunConversion(app, ui, source, PipelineHooks(pipeline, app), output, options)
                    : RunStreamingConversion(app, ui, source, PipelineHooks(pipeline, app),
                                             options.streamOutputs, options);
            conversion.unconvertibleFrames = stream.FramesUnconvertible();
        }
    } catch (...) {
        app.stopRequested = 1;
        app.streamState = 0;
        if (app.shutdownDone.load() == 0) Shutdown(app);
        if (loader.joinable()) loader.join();
        throw;
    }
    // A run that ended early (or never began) still ends the stream and shuts
    // down; after a full run the driver has done both.
    app.streamState = 0;
    if (app.shutdownDone.load() == 0) Shutdown(app);
    if (loader.joinable()) loader.join();
    return conversion;
}

}  // namespace tessaly
