#include "ui/desktop_session.h"

#include "app/app_paths.h"
#include "convert/transform_adapters.h"

#include <QDesktopServices>
#include <QMessageBox>
#include <QTimer>

#include <algorithm>
#include <iterator>
#include <chrono>
#include <filesystem>
#include <thread>

#include "app/format.h"
#include "app/parameter_file.h"
#include "convert/conversion_driver.h"
#include "ui/guide_viewer.h"
#include "ui/gui_thread.h"
#include "ui/main_window.h"
#include "ui/preview_audio.h"
#include "ui/preview_panel.h"
#include "video/luma_sampler.h"
#include "video/media_probe.h"

namespace tessaly {

namespace {

void SleepMs(int milliseconds) {
    if (milliseconds > 0) std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

QUrl AddressOr(const char* configured, const QUrl& fallback) {
    const QString text = QString::fromUtf8(configured);
    return text.isEmpty() ? fallback : QUrl(text);
}

}  // namespace

DesktopSession::DesktopSession(FisheyeApp& application)
    : app(application), ui(&application.run.stopRequested), source(application, ui), job(ui) {
    // The file information goes with the labels, on the GUI thread that reads it.
    ui.onFactsCleared = [this] { app.run.fileInfoText.clear(); };
    QObject::connect(&job, &ConversionJob::frameConverted, &job, [this](int frame) { ui.SetCurrentFrame(frame); });
    QObject::connect(&job, &ConversionJob::recordingChanged, &job,
                     [this](int look) { ui.SetRecording(static_cast<RecordingLook>(look)); });
    QObject::connect(&job, &ConversionJob::exportProgressed, &job,
                     [this](const QString& text) { ui.UpdateExportProgress(text.toStdString()); });
    QObject::connect(&job, &ConversionJob::finished, &job, [this] { ConversionFinished(); });
    openUrl = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
    // The frame arrays and their header before any movie: 400 x 300.
    pipeline.Allocate(app.run.frameWidth, app.run.frameHeight);
    header_ = MakePreviewHeader(app.run.frameWidth, app.run.frameHeight);

    StreamHooks hooks;
    hooks.previewPass = [this] { PreviewPass(); };
    hooks.allocateFrameBuffers = [this](const MediaInfo& info) {
        pipeline.Allocate(info.frameWidth, info.frameHeight);
        std::lock_guard lock(probeMutex_);
        header_ = MakePreviewHeader(info.frameWidth, info.frameHeight);
    };
    hooks.invalidateGeometry = [this] { pipeline.ForceGeometryRebuild(); };
    // A movie loaded while the cut is the start cut gets the cut of its lens circle.
    hooks.streamReady = [this] {
        if (findCircleOnLoad.load() == 0) return;
        const AppSettings s = app.settings.Copy();
        if (CutRect{s.XL1, s.YL1, s.XL2, s.YL2} != kDefaultCut || s.ASPECT != 0) return;
        app.env.log.WriteLogLine("The cut is the start cut: looking for the lens circle");
        FindLensCircle(true);
    };
    source.SetHooks(hooks);

    // Shutdown stops the playback, then waits for a conversion run to end
    // (its stop request ends it) and for every load flow to leave OpenAndPlay,
    // so "AVIREAD" is logged before "EXIT3".
    app.run.shutdown.AddStopHook([this] { source.Stream().Stop(); });
    app.run.shutdown.AddJoinHook([this] { job.Wait(); });
    app.run.shutdown.AddJoinHook([this] { JoinLoadThreads(); });
}

DesktopSession::~DesktopSession() {
    app.run.streamState = StreamState::Stopped;
    app.run.stopRequested = true;
    job.Wait();
    JoinLoadThreads();
    source.Stream().SetAudioSink(nullptr);
}

void DesktopSession::AttachWindow(MainWindow* window) {
    // A run shows itself in the window: it ends before the window goes.
    if (window == nullptr) job.Wait();
    window_ = window;
    ui.SetWindow(window);
    if (window != nullptr) {
        audio_ = new PreviewAudio(window);
        if (audio_->HasDevice()) source.Stream().SetAudioSink(audio_);
        painter.SetSinks({[this](const QImage& image) {
                              std::lock_guard lock(imagesMutex_);
                              pendingInput_ = image;
                          },
                          [this](const QImage& image) {
                              std::lock_guard lock(imagesMutex_);
                              pendingOutput_ = image;
                          }});
    }
}

ProbeTexts DesktopSession::Probe() const {
    std::lock_guard lock(probeMutex_);
    return probe_;
}

PreviewHeader DesktopSession::Header() const {
    std::lock_guard lock(probeMutex_);
    return header_;
}

namespace {

// The guide's files: beside a portable program, in the documentation folder
// of an installed one.
QUrl GuideFile(const std::string& programDir, const char* name) {
    const std::filesystem::path pdf = DecideAppPaths(programDir).guidePdf;
    return QUrl::fromLocalFile(QString::fromStdString((pdf.parent_path() / name).string()));
}

}  // namespace

QUrl DesktopSession::HelpDocument() const { return GuideFile(app.env.programDir, "Tessaly.pdf"); }

QUrl DesktopSession::WebPage() const {
    return AddressOr(TESSALY_WEB_ADDRESS, GuideFile(app.env.programDir, "Tessaly.html"));
}

QUrl DesktopSession::SupportPage() const {
    QUrl guide = GuideFile(app.env.programDir, "Tessaly.html");
    guide.setFragment("troubleshooting");
    const QUrl configured = SupportLink(QString::fromUtf8(TESSALY_SUPPORT_ADDRESS));
    return configured.isEmpty() ? guide : configured;
}

void DesktopSession::StartLoadWorker(const std::string& path) {
    std::vector<LoadThread> ended;
    {
        std::lock_guard lock(threadsMutex_);
        // Flows that have ended leave only their threads to join.
        auto first = std::partition(loadThreads_.begin(), loadThreads_.end(),
                                    [](const LoadThread& t) { return !t.ended->load(); });
        std::move(first, loadThreads_.end(), std::back_inserter(ended));
        loadThreads_.erase(first, loadThreads_.end());
        ++loadsRunning;
        auto done = std::make_shared<std::atomic<bool>>(false);
        loadThreads_.push_back({std::thread([this, path, done] {
                                    LoadWorker(path);
                                    done->store(true);
                                }),
                                done});
    }
    for (LoadThread& t : ended)
        if (t.thread.joinable()) t.thread.join();
}

size_t DesktopSession::LoadThreadsKept() {
    std::lock_guard lock(threadsMutex_);
    return loadThreads_.size();
}

void DesktopSession::JoinLoadThreads() {
    for (;;) {
        std::vector<LoadThread> threads;
        {
            std::lock_guard lock(threadsMutex_);
            threads.swap(loadThreads_);
        }
        if (threads.empty()) return;
        for (LoadThread& t : threads)
            if (t.thread.joinable()) t.thread.join();
    }
}

void DesktopSession::LoadWorker(std::string path) {
    app.run.streamState = StreamState::Running;
    SleepMs(100);
    ChooseAndOpenMovie(std::move(path));
    --loadsRunning;
}

void DesktopSession::ChooseAndOpenMovie(std::string path) {
    if (chooserBusy == 1) return;
    app.env.log.WriteLogLine("GetMultipleFiles pMediaControl begin");
    if (source.videoOpen == 1) {
        source.Stream().Stop();
        SleepMs(100);
    }
    app.env.log.WriteLogLine("GetMultipleFiles pMediaControl Ok");
    chooserBusy = 1;
    MainWindow* window = window_;
    if (window == nullptr) {
        chooserBusy = 0;
        return;
    }
    CallOnGui<int>(window, std::function<int()>([this] {
                       ClearVideoInfo(ui);
                       std::lock_guard lock(probeMutex_);
                       probe_ = ProbeTexts{};
                       return 0;
                   }),
                   &app.run.stopRequested);
    if (path.empty()) {
        path = CallOnGui<std::string>(window, std::function<std::string()>([window] {
                                          return window->ChooseMovie();
                                      }),
                                      &app.run.stopRequested)
                   .value_or(std::string());
    }
    chooserBusy = 0;
    ui.PaintPlaceholders();
    SleepMs(1);
    const int64_t generation = ++loadGeneration_;

    if (!TrimBlanksAndNuls(path).empty() && !app.run.stopRequested.load()) {
        ProbeTexts texts;
        ProbeVideoFile(app.env.programDir, path, texts, &app.run.stopRequested);
        {
            std::lock_guard lock(probeMutex_);
            probe_ = texts;
        }
        PostToGui(window, [this, texts] { app.run.fileInfoText = texts.fileInfoText; });
        // A program that began to end during the probe opens nothing more.
        if (!app.run.stopRequested.load()) source.OpenAndPlay(path);
    }

    // A newer flow that chose a file owns the stream and the previews now.
    if (generation != loadGeneration_.load()) return;
    app.run.streamState = StreamState::Stopped;
    // An older stream may still be inside a preview pass: the frame arrays
    // are emptied only once it has closed.
    if (source.WaitUntilClosed(std::chrono::seconds(10))) {
        const PreviewHeader header = Header();
        pipeline.Allocate(header.width, header.height);
    }
    PostToGui(window, [window] { window->InputPanel()->PaintPlaceholder("Main Window"); });
}

void DesktopSession::PreviewPass() {
    passSettings_ = app.settings.Copy();
    if (rebuildGeometry_.exchange(0) != 0) pipeline.ForceGeometryRebuild();
    PreviewCallbacks callbacks;
    callbacks.getCurrentBuffer = [this](uint8_t* dst, size_t bytes) {
        return source.Stream().GetCurrentBuffer(dst, static_cast<int32_t>(bytes)) > 0;
    };
    callbacks.paintPreviews = [this] { PaintPreviews(); };
    // The yields of a pass let a window thread handle its messages; this
    // thread has none and the window runs on its own thread, so while playing
    // a short sleep gives the other threads their turn without holding the
    // movie below its rate. Paused, the long waits stay (little work, little CPU).
    callbacks.yield = [this](int milliseconds) {
        SleepMs(!app.run.paused.load() ? std::min(milliseconds, 2) : milliseconds);
    };
    callbacks.showOutputSize = [this](const std::string& text) { ui.ShowOutputSize(text); };
    pipeline.PreviewPass(TransformSettingsOf(passSettings_), FrameSwitchesOf(app.run), callbacks);
    ++previewPasses;
}

void DesktopSession::PaintPreviews() {
    const AppSettings s = app.settings.Copy();
    InputOverlay overlay;
    overlay.XL1 = s.XL1;
    overlay.YL1 = s.YL1;
    overlay.XL2 = s.XL2;
    overlay.YL2 = s.YL2;
    overlay.lens = s.lens;
    PreviewHeader header;
    {
        std::lock_guard lock(probeMutex_);
        overlay.hasFileInfo = !probe_.fileInfoText.empty();
        overlay.videoNameLine = probe_.videoNameLine;
        overlay.videoStreamLine = probe_.videoStreamLine;
        overlay.secondStreamLine = probe_.secondStreamLine;
        header = header_;
    }
    const bool drew = painter.Paint(pipeline.InputFrame(), header, overlay, pipeline.Output(),
                                    app.run.showInputVideo.load(), app.run.showOutputVideo.load(),
                                    app.run.converting.load(), app.run.progress.Get());
    MainWindow* window = window_;
    if (drew && window != nullptr && showPosted_.exchange(1) == 0) {
        // One pending hand-over at a time: the GUI shows the newest pictures.
        QMetaObject::invokeMethod(window, [this] { ShowPending(); }, Qt::QueuedConnection);
    }
}

void DesktopSession::ShowPending() {
    QImage input, output;
    {
        std::lock_guard lock(imagesMutex_);
        input.swap(pendingInput_);
        output.swap(pendingOutput_);
    }
    showPosted_ = 0;
    MainWindow* window = window_;
    if (window == nullptr) return;
    if (!output.isNull()) window->OutputPanel()->SetImage(output);
    if (!input.isNull()) window->InputPanel()->SetImage(input);
}

bool DesktopSession::FindLensCircle(bool onLoad) {
    const MediaInfo movie = source.Info();
    if (source.videoOpen.load() == 0 || movie.videoPath.empty() || movie.frameWidth <= 0) return false;
    if (circleSearching.exchange(1) != 0) return false;
    // Kept with the load threads: joined when ended or at shutdown.
    std::lock_guard lock(threadsMutex_);
    auto done = std::make_shared<std::atomic<bool>>(false);
    loadThreads_.push_back({std::thread([this, movie, onLoad, done] {
                                const CircleSearch search = FindLensCircleInMovie(movie.videoPath, &app.run.stopRequested);
                                MainWindow* window = window_;
                                if (window == nullptr || app.run.stopRequested.load()) {
                                    // The program is ending: a Convert that waited starts nothing.
                                    if (convertAfterSearch_.exchange(0) != 0) convertFlow_ = 0;
                                    circleSearching = 0;
                                } else {
                                    PostToGui(window, [this, movie, search, onLoad] {
                                        SetFoundCircle(movie, search, onLoad);
                                    });
                                }
                                done->store(true);
                            }),
                            done});
    return true;
}

CircleSearch DesktopSession::LastCircleSearch() const {
    std::lock_guard lock(circleMutex_);
    return lastCircle_;
}

void DesktopSession::SetFoundCircle(const MediaInfo& movie, const CircleSearch& search, bool onLoad) {
    {
        std::lock_guard lock(circleMutex_);
        lastCircle_ = search;
    }
    MainWindow* window = window_;
    std::string problem;
    CutForCircleResult fit;
    if (!search.found) {
        problem = NoCircleMessage(search);
    } else if (app.settings.Copy().ASPECT != 0) {
        // The circle is one of the unstretched frames.
        problem = "the lens circle is not set while the aspect fix is on";
    } else {
        fit = CutForCircle(movie.frameWidth, movie.frameHeight, search.circle);
        if (!fit.ok) problem = "no cut places the lens circle found";
    }
    const AppSettings now = app.settings.Copy();
    const bool sameMovie = source.videoOpen.load() == 1 && source.Info().videoPath == movie.videoPath;
    if (problem.empty() && (!sameMovie || app.run.converting.load() || app.run.encoderBusy.load())) {
        problem = "the movie changed or a conversion runs";
    }
    if (problem.empty() && onLoad && CutRect{now.XL1, now.YL1, now.XL2, now.YL2} != kDefaultCut) {
        problem = "the cut was changed meanwhile";
    }
    if (!problem.empty()) {
        app.env.log.WriteLogLine("Find lens circle: " + problem);
        circleSearching = 0;
        ++circleSearchesDone;
        if (!onLoad && window != nullptr) {
            window->Message("Find lens circle", problem + "\nThe cut stays as it was.", QMessageBox::Information,
                            true);
        }
        return;
    }
    app.settings.Change([&fit](AppSettings& s) {
        s.XL1 = fit.cut.XL1;
        s.YL1 = fit.cut.YL1;
        s.XL2 = fit.cut.XL2;
        s.YL2 = fit.cut.YL2;
    });
    rebuildGeometry_ = 1;
    app.env.log.WriteLogLine("Find lens circle: " + CircleCutLine(search.circle, fit, "cut"));
    if (window != nullptr) window->ShowCutValues();
    circleSearching = 0;
    ++circleSearchesDone;
    SearchEnded();
}

void DesktopSession::SearchEnded() {
    if (convertAfterSearch_.exchange(0) == 0) return;
    if (window_.load() == nullptr) {
        convertFlow_ = 0;
        return;
    }
    BeginConvert();
}

void DesktopSession::ConvertCommand() {
    if (window_.load() == nullptr || app.run.stopRequested.load() || convertFlow_.exchange(1) != 0) return;
    // A search started by the load finishes first: its cut is the one converted.
    if (circleSearching.load() != 0) {
        convertAfterSearch_ = 1;
        return;
    }
    BeginConvert();
}

void DesktopSession::BeginConvert() {
    MainWindow* window = window_;
    window->RememberPositions();
    SaveParameters(app.settings.Copy(), app.env.screen, app.env.iniPath);
    if (source.videoOpen != 1) {
        ChooseAndRun();
        return;
    }
    source.Stream().Stop();
    // The stopped stream settles before it is rewound; the GUI thread goes
    // on handling its events meanwhile.
    QTimer::singleShot(100, window, [this] { RewindAndChoose(); });
}

void DesktopSession::RewindAndChoose() {
    MainWindow* window = window_;
    if (window == nullptr) {
        convertFlow_ = 0;
        return;
    }
    source.positionTicks = 0;
    window->SetPositionBarWidth(window->PositionBarWidth());
    source.Stream().SeekToStart();
    ChooseAndRun();
}

void DesktopSession::ChooseAndRun() {
    MainWindow* window = window_;
    window->SetConversionLock(0);
    const std::string path = window->ChooseOutput();
    if (TrimBlanksAndNuls(path).empty() || window_.load() == nullptr) {
        ConversionFinished();
        return;
    }
    ConversionOptions options;
    // Stills are encoded beside the transform, and a run whose stills
    // cannot fit the temporary folder is refused before the first frame.
    options.writerThreads = StillWriterThreads();
    options.checkTempSpace = true;
    // The run's paths and cut as they are now (the controls that change
    // them stay locked until it ends).
    options.settings = app.settings.Copy();
    // Filters, flip and aspect stay live during the run: each frame reads
    // them as the controls have them now.
    const ConversionHooks hooks = PipelineHooks(
        pipeline, app, [this] { PaintPreviews(); }, [this] { return TransformSettingsOf(app.settings.Copy()); });
    job.Start([this, hooks, path, options](UserInterface& runUi) {
        return RunConversion(app, runUi, source, hooks, path, options);
    });
}

void DesktopSession::ConversionFinished() {
    if (MainWindow* window = window_) window->SetConversionLock(1);
    convertFlow_ = 0;
}

}  // namespace tessaly
