// Everything of the desktop program that is not a widget: the application
// state, the open movie, the frame pipeline the previews share, the preview
// painter and the load worker threads. The main window drives it through
// its commands and watches it through its signals; the session knows no
// window, only the questions the window answers for it.
#pragma once

#include <QImage>
#include <QObject>
#include <QString>
#include <QUrl>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/app_state.h"
#include "convert/movie_job.h"
#include "convert/right_eye_feed.h"
#include "convert/stereo_hooks.h"
#include "transform/circle_finder.h"
#include "transform/frame_pipeline.h"
#include "ui/desktop_commands.h"
#include "ui/conversion_job.h"
#include "ui/job_queue.h"
#include "ui/preview_painter.h"
#include "ui/qt_user_interface.h"
#include "ui/run_questions.h"
#include "ui/stereo_eyes.h"
#include "video/probe_report.h"
#include "playback/video_source.h"

class QWidget;

namespace tessaly {

class PreviewAudio;

// What the session asks the window that shows it, on the GUI thread.
struct SessionQuestions {
    std::function<std::string()> chooseMovie;   // the movie to load; empty: none
    std::function<std::string()> chooseOutput;  // the output to convert to; empty: none
    // The cut's lens rim misses the circle found (`warning` says how): true
    // converts anyway.
    std::function<bool(const QString& warning)> convertDespiteRim;
    // Once a conversion job has returned: an OK/Cancel question (true: OK),
    // and the output options dialog (the next output; empty: none).
    std::function<bool(const RunQuestion& question)> afterRun;
    std::function<std::string(const std::string& currentPath)> outputOptions;
};

class DesktopSession : public QObject {
    Q_OBJECT
public:
    explicit DesktopSession(FisheyeApp& app);
    ~DesktopSession() override;

    // The window that shows the session (it owns the preview's sound
    // device); null when it goes, which waits for a conversion run first.
    // Until one is attached nothing is shown and nothing asked.
    void AttachWindow(QWidget* window);
    SessionQuestions questions;

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
    // thread. Once it has returned the questions are asked here (a movie
    // without its lost sound, another compression), each OK a further
    // export job over the kept stills, and the run's end is a last job
    // (which ends the program); the controls unlock when it has finished;
    // nothing while the queue converts. Returns at once:
    // the GUI thread stays in its event loop (a circle search that is
    // running finishes first, and the command goes on when it has).
    void ConvertCommand();
    // From the Convert command until its run has finished (or the save
    // chooser was cancelled).
    bool ConversionRunning() const { return convertFlow_.load() != 0; }
    // The desktop's conversion runs; its signals report their progress.
    ConversionJob job;

    // The job queue ("Add to queue", "Run queue"), read from disk at start.
    JobQueue queue{app};
    // "Add to queue": the loaded movie's job into `output`, built as "Save
    // job..." builds it from what the next Convert would take; the reason
    // when it cannot be added, else empty.
    std::string AddToQueue(const std::string& output);
    // "Run queue": false while a Convert runs (the program ends after it)
    // or when nothing waits.
    bool RunQueue();

    ProbeTexts Probe() const;
    PreviewHeader Header() const;

    // Preview passes run so far (each ends in PaintPreviews).
    std::atomic<int64_t> previewPasses{0};

    // The lens circle finder on the open movie, on a thread of its own; the
    // cut that places the circle is set on the GUI thread under the settings
    // lock, as a cut nudge is, and the preview follows; the cut then belongs
    // to that movie (AppSettings::cutMovie). `onLoad`: started by a load of a
    // movie the cut was not set for; it leaves a cut the user changed
    // meanwhile and shows no message. False when there is no movie, a
    // search runs already or the movie is a loaded pair's left one.
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

    // Two eyes in one frame (AppSettings::STEREO): "Find lens circle" and a
    // load find both eyes' circles and align them as tessaly-convert does
    // when it builds a job; a changed stereo choice or lens finds them
    // again. The eyes found in the open movie for the settings as they are
    // now; none when the movie is mono, nothing was found yet or the choice
    // changed since.
    std::optional<JobStereo> CurrentEyes() const;
    // The stereo choice, an eye's angles or the lens changed (DesktopCommands).
    void EyesChoiceChanged();
    // "Load stereo pair...": two movies, one camera per eye. The left one
    // loads as a movie does; both circles and the sound offset are found on
    // a thread of their own (circleSearching is 1 meanwhile), then the
    // eyes are the pair's while the left movie stays open, whatever the
    // Stereo menu's input layout. False when a search runs already.
    bool LoadStereoPair(const std::string& left, const std::string& right);
    // The output preview shows the eyes as one red/cyan anaglyph (1) instead
    // of side by side (0).
    std::atomic<int32_t> anaglyph{0};

    // Opens a document or web address with the desktop's handler; false
    // when none opened it. Tests replace it.
    std::function<bool(const QUrl&)> openUrl;
    QUrl HelpDocument() const;   // Tessaly.pdf beside the program
    QUrl WebPage() const;        // the project's page
    QUrl SupportPage() const;

signals:
    // A settings change went through the commands.
    void settingsChanged();
    // New preview pictures (a null one: that side is unchanged).
    void previewsReady(const QImage& input, const QImage& output);
    // The input preview shows its placeholder with this caption.
    void inputPlaceholderWanted(const QString& caption);
    // The cut changed outside the commands (a circle search set it).
    void cutChanged();
    // A circle search the user asked for left the cut as it was, for this reason.
    void circleSearchRefused(const QString& reason);
    // "Load stereo pair..." found no pair in the two movies, for this reason.
    void pairRefused(const QString& reason);
    // The settings are about to be saved for a run: window positions go in now.
    void settingsAboutToBeSaved();
    // The stream was rewound for a run: the position bar shows its start.
    void positionBarRewound();
    // The controls a conversion changes are locked (false) or free (true).
    void controlsUnlocked(bool unlocked);
    // A conversion run has ended and the program with it (Shutdown ran).
    void programEnded();

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
    void StartEyeSearch(const MediaInfo& movie, bool onLoad);
    void SetFoundEyes(const MediaInfo& movie, const FoundEyes& found, const AppSettings& made, bool onLoad);
    void SetFoundPair(const std::string& left, const FoundPair& found);
    std::shared_ptr<const FrameBuffer> PairRightFrame() const;
    ConversionHooks RunHooks(const ConversionOptions& options);
    ConversionResult RunPair(UserInterface& runUi, const ConversionHooks& hooks, const std::string& path,
                             const ConversionOptions& options);
    void BeginConvert();
    void RewindAndChoose();
    void ChooseAndRun();
    void ConversionFinished();
    void JobReturned();
    bool AskAfterRun(const RunQuestion& question);
    void StartExport(const std::string& path);
    void EndRun();

    std::mutex imagesMutex_;
    QImage pendingInput_, pendingOutput_;
    std::atomic<int32_t> showPosted_{0};

    std::atomic<QWidget*> window_{nullptr};
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
    // The eyes last found (under circleMutex_): the movie, its size, and
    // the stereo choice and lens they were found and aligned for.
    struct EyesOfMovie {
        bool ok = false;
        std::string movie;
        int32_t width = 0, height = 0;
        StereoSettings choice;
        LensSettings lens;
        JobStereo eyes;
    };
    EyesOfMovie eyes_;
    // The pair of movies last loaded (under circleMutex_): its eyes, with
    // the right movie's frame the output preview shows.
    struct PairOfMovies {
        bool ok = false;
        std::string left;
        JobStereo eyes;
        std::shared_ptr<const FrameBuffer> rightFrame;
    };
    PairOfMovies pair_;
    std::unique_ptr<RightEyeFeed> runRight_;  // a pair run's right movie, on the job thread
    std::atomic<int32_t> eyesAgain_{0};  // the choice changed during a search
    StereoPreview stereoPreview_;        // the stream thread's
    std::unique_ptr<StereoPipelines> runEyes_;  // a stereo run's two pipelines
    std::atomic<int32_t> convertFlow_{0};        // see ConversionRunning
    std::atomic<int32_t> convertAfterSearch_{0};  // Convert waits for the circle search
    // The Convert command's run between its jobs, on the GUI thread: what it
    // has done so far, its options, the output last encoded, and whether
    // the job running is its end.
    ConversionResult run_;
    ConversionOptions runOptions_;
    std::string runOutput_;
    bool runEnding_ = false;
};

}  // namespace tessaly
