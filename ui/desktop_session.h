// Everything of the desktop program that is not a widget: the application
// state, the open movie, the frame pipeline the previews share, the preview
// painter and the load worker threads. The main window drives it.
#pragma once

#include <QImage>
#include <QUrl>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/app_state.h"
#include "transform/circle_finder.h"
#include "transform/frame_pipeline.h"
#include "ui/desktop_commands.h"
#include "ui/conversion_job.h"
#include "ui/preview_painter.h"
#include "ui/qt_user_interface.h"
#include "video/probe_report.h"
#include "playback/video_source.h"

namespace tessaly {

class MainWindow;
class PreviewAudio;

class DesktopSession {
public:
    explicit DesktopSession(FisheyeApp& app);
    ~DesktopSession();
    DesktopSession(const DesktopSession&) = delete;
    DesktopSession& operator=(const DesktopSession&) = delete;

    void AttachWindow(MainWindow* window);

    FisheyeApp& app;
    QtUserInterface ui;
    FramePipeline pipeline;
    VideoSource source;
    PreviewPainter painter;
    // The commands the main window forwards (no widgets; tests call them).
    DesktopCommands commands{*this};

    // The settings are app.settings: changed here on the GUI thread through
    // Change, copied (Copy) by the load, stream and conversion threads.

    // The load flow. StartLoadWorker runs LoadWorker on a new thread:
    // streamState Running, then ChooseAndOpenMovie with the chooser. `path`
    // given: no chooser, that file (the screenshot tool and the benchmark).
    void StartLoadWorker(const std::string& path = {});
    std::atomic<int32_t> chooserBusy{0};
    // Load flows started and not yet ended.
    std::atomic<int32_t> loadsRunning{0};
    // Load-flow threads not yet joined (an ended flow's thread is joined
    // when the next one starts).
    size_t LoadThreadsKept();

    // The Convert command after its pressed sequence: save, stop, rewind,
    // lock, the save chooser, then the conversion run as a job on its own
    // thread; the controls unlock when it has finished. Returns at once:
    // the GUI thread stays in its event loop (a circle search that is
    // running finishes first, and the command goes on when it has).
    void ConvertCommand();
    // From the Convert command until its run has finished (or the save
    // chooser was cancelled).
    bool ConversionRunning() const { return convertFlow_.load() != 0; }
    // The desktop's conversion runs; its signals report their progress.
    ConversionJob job;

    ProbeTexts Probe() const;
    PreviewHeader Header() const;

    // Preview passes run so far (each ends in PaintPreviews).
    std::atomic<int64_t> previewPasses{0};

    // The lens circle finder on the open movie, on a thread of its own; the
    // cut that places the circle is set on the GUI thread under the settings
    // lock, as a cut nudge is, and the preview follows; the cut then belongs
    // to that movie (AppSettings::cutMovie). `onLoad`: started by a load of a
    // movie the cut was not set for; it leaves a cut the user changed
    // meanwhile and shows no message. False when there is no movie or a
    // search runs already.
    bool FindLensCircle(bool onLoad);
    // 1 while a search runs (until its cut is set on the GUI thread).
    std::atomic<int32_t> circleSearching{0};
    std::atomic<int64_t> circleSearchesDone{0};
    // A load of a movie the cut was not set for looks for the circle (1) or not (0).
    std::atomic<int32_t> findCircleOnLoad{1};
    // What the last search ended with, on the GUI thread.
    CircleSearch LastCircleSearch() const;
    // What the last search on the open movie found, for the input preview's
    // info lines ("lens circle found: centre …, radius …"); empty when none.
    std::string CircleLine() const;
    // The question Convert asks first when the cut's lens rim clearly misses
    // the circle found in the open movie; empty when it fits or none was found.
    std::string RimWarning() const;

    // Opens a document or web address with the desktop's handler; false
    // when none opened it. Tests replace it.
    std::function<bool(const QUrl&)> openUrl;
    QUrl HelpDocument() const;   // Tessaly.pdf beside the program
    QUrl WebPage() const;        // the project's page
    QUrl SupportPage() const;

private:
    void LoadWorker(std::string path);
    void ChooseAndOpenMovie(std::string presetPath);
    void PreviewPass();
    void PaintPreviews();
    void JoinLoadThreads();
    void ShowPending();
    void SearchOnLoad();
    std::string CircleProblem(const MediaInfo& movie, const CircleSearch& search, bool onLoad, const CutRect& before,
                              CutForCircleResult& fit) const;
    void SetFoundCircle(const MediaInfo& movie, const CircleSearch& search, bool onLoad, const CutRect& before);
    void SearchEnded();
    void BeginConvert();
    void RewindAndChoose();
    void ChooseAndRun();
    void ConversionFinished();

    std::mutex imagesMutex_;
    QImage pendingInput_, pendingOutput_;
    std::atomic<int32_t> showPosted_{0};

    std::atomic<MainWindow*> window_{nullptr};
    mutable std::mutex probeMutex_;
    ProbeTexts probe_;
    PreviewHeader header_;
    std::atomic<int64_t> loadGeneration_{0};
    std::mutex threadsMutex_;
    // Each load flow's thread and whether its work has ended; ended ones are
    // joined when the next flow starts, the rest at shutdown.
    struct LoadThread {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> ended;
    };
    std::vector<LoadThread> loadThreads_;
    PreviewAudio* audio_ = nullptr;
    AppSettings passSettings_;  // the stream thread's copy for one pass
    // The GUI thread set a cut whose corner may equal the last one: the next
    // preview pass rebuilds its geometry anyway.
    std::atomic<int32_t> rebuildGeometry_{0};
    mutable std::mutex circleMutex_;
    CircleSearch lastCircle_;
    MediaInfo lastCircleMovie_;  // the movie lastCircle_ was found in
    std::string circleLine_;
    std::atomic<int32_t> convertFlow_{0};        // see ConversionRunning
    std::atomic<int32_t> convertAfterSearch_{0};  // Convert waits for the circle search
};

}  // namespace tessaly
