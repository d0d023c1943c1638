#include "ui/desktop_session.h"

#include "app/app_paths.h"
#include "convert/transform_adapters.h"

#include <QDesktopServices>
#include <QWidget>

#include <algorithm>
#include <iterator>
#include <chrono>
#include <filesystem>
#include <thread>

#include "app/format.h"
#include "app/parameter_file.h"
#include "convert/conversion_driver.h"
#include "convert/live_adjustments.h"
#include "convert/movie_conversion.h"
#include "convert/movie_job.h"
#include "transform/lens_profile.h"
#include "ui/guide_viewer.h"
#include "ui/gui_thread.h"
#include "ui/job_saving.h"
#include "ui/lens_rim.h"
#include "ui/preview_audio.h"
#include "ui/preview_panel.h"
#include "video/luma_sampler.h"
#include "video/media_probe.h"
#include "video/stream_text.h"

namespace tessaly {

namespace {

// The CPU-usage pauses of a preview pass; while the movie plays they are cut
// short, so the preview never holds the movie below its rate.
void PreviewCpuPause(int milliseconds, bool paused) {
    constexpr int kPlayingPauseLimitMs = 2;
    const int ms = paused ? milliseconds : std::min(milliseconds, kPlayingPauseLimitMs);
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

QUrl AddressOr(const char* configured, const QUrl& fallback) {
    const QString text = QString::fromUtf8(configured);
    return text.isEmpty() ? fallback : QUrl(text);
}

}  // namespace

DesktopSession::DesktopSession(FisheyeApp& application)
    : app(application), ui(application.run), source(application, ui), job(ui) {
    // The file information goes with the labels, on the GUI thread that reads it.
    ui.onFactsCleared = [this] { app.run.fileInfoText.clear(); };
    QObject::connect(&job, &ConversionJob::frameConverted, &job, [this](int frame) { ui.SetCurrentFrame(frame); });
    QObject::connect(&job, &ConversionJob::recordingChanged, &job,
                     [this](int look) { ui.SetRecording(static_cast<RecordingLook>(look)); });
    QObject::connect(&job, &ConversionJob::exportProgressed, &job,
                     [this](const QString& text) { ui.UpdateExportProgress(text.toStdString()); });
    // Handled once the finished signal is through, when the next job may start.
    QObject::connect(&job, &ConversionJob::finished, this, &DesktopSession::JobReturned, Qt::QueuedConnection);
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
    // A movie gets the cut of its lens circle unless its cut was set for it.
    hooks.streamReady = [this] { SearchOnLoad(); };
    source.SetHooks(hooks);

    // Shutdown stops the playback, then waits for a conversion run to end
    // (its stop request ends it) and for every load flow to leave OpenAndPlay,
    // so "AVIREAD" is logged before "EXIT3".
    app.run.shutdown.AddStopHook([this] { source.Stream().Hold(); });
    app.run.shutdown.AddJoinHook([this] { job.Wait(); });
    app.run.shutdown.AddJoinHook([this] { JoinLoadThreads(); });
    // A queued job cut short by the end waits again at the next start.
    app.run.shutdown.AddJoinHook([this] { queue.Stop(); });
    queue.Load();
}

DesktopSession::~DesktopSession() {
    app.run.streamState = StreamState::Stopped;
    app.run.RequestStop();
    job.Wait();
    JoinLoadThreads();
    source.Stream().SetAudioSink(nullptr);
}

void DesktopSession::AttachWindow(QWidget* window) {
    // A run shows itself in the window: it ends before the window goes.
    if (window == nullptr) job.Wait();
    window_ = window;
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
    ChooseAndOpenMovie(std::move(path));
    --loadsRunning;
}

void DesktopSession::ChooseAndOpenMovie(std::string path) {
    if (chooserBusy == 1) return;
    app.env.log.WriteLogLine("GetMultipleFiles pMediaControl begin");
    if (source.videoOpen == 1) source.Stream().Hold();
    app.env.log.WriteLogLine("GetMultipleFiles pMediaControl Ok");
    chooserBusy = 1;
    QWidget* window = window_;
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
                   app.run);
    if (path.empty()) {
        path = CallOnGui<std::string>(window, std::function<std::string()>([this] {
                                          return questions.chooseMovie ? questions.chooseMovie() : std::string();
                                      }),
                                      app.run)
                   .value_or(std::string());
    }
    chooserBusy = 0;
    ui.PaintPlaceholders();
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
    PostToGui(window, [this] { emit inputPlaceholderWanted("Main Window"); });
}

void DesktopSession::PreviewPass() {
    passSettings_ = app.settings.Copy();
    if (rebuildGeometry_.exchange(0) != 0) pipeline.ForceGeometryRebuild();
    PreviewCallbacks callbacks;
    callbacks.getCurrentBuffer = [this](uint8_t* dst, size_t bytes) {
        return source.Stream().GetCurrentBuffer(dst, static_cast<int32_t>(bytes)) > 0;
    };
    callbacks.paintPreviews = [this] { PaintPreviews(); };
    callbacks.sleep = [this](int milliseconds) { PreviewCpuPause(milliseconds, app.run.paused.load()); };
    callbacks.showOutputSize = [this](const std::string& text) { ui.ShowOutputSize(text); };
    pipeline.PreviewPass(TransformSettingsOf(passSettings_), FrameSwitchesOf(app.run), callbacks);
    ++previewPasses;
    app.run.events.Wake();  // a conversion may wait for this pass to end
}

void DesktopSession::PaintPreviews() {
    const AppSettings s = app.settings.Copy();
    InputOverlay overlay;
    overlay.XL1 = s.XL1;
    overlay.YL1 = s.YL1;
    overlay.XL2 = s.XL2;
    overlay.YL2 = s.YL2;
    overlay.lens = s.lens;
    overlay.circleLine = CircleLine();
    const std::optional<JobStereo> eyes = CurrentEyes();
    const std::shared_ptr<const FrameBuffer> right = eyes ? PairRightFrame() : nullptr;
    if (eyes) {
        overlay.stereo = true;
        overlay.eyeRims = EyeRims(eyes->settings, s.lens);
        if (right) overlay.eyeRims[kRightEye] = LensCircle{};  // the right eye's rim lies in the other movie
    }
    PreviewHeader header;
    {
        std::lock_guard lock(probeMutex_);
        overlay.hasFileInfo = !probe_.fileInfoText.empty();
        overlay.videoNameLine = probe_.videoNameLine;
        overlay.videoStreamLine = probe_.videoStreamLine;
        overlay.secondStreamLine = probe_.secondStreamLine;
        header = header_;
    }
    // The eyes side by side (or as an anaglyph) while the movie plays; a
    // stereo run paints nothing.
    const bool stereo = eyes && !app.run.converting.load() &&
                        stereoPreview_.Convert(pipeline.InputFrame(), header.width, header.height, eyes->settings,
                                               s.lens, anaglyph.load() != 0, right.get());
    const bool drew = painter.Paint(pipeline.InputFrame(), header, overlay,
                                    stereo ? stereoPreview_.Shown() : pipeline.Output(),
                                    app.run.showInputVideo.load(), app.run.showOutputVideo.load(),
                                    app.run.converting.load(), app.run.progress.Get());
    QWidget* window = window_;
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
    if (window_.load() == nullptr) return;
    emit previewsReady(input, output);
}

void DesktopSession::SearchOnLoad() {
    if (findCircleOnLoad.load() == 0 || PairRightFrame()) return;
    const AppSettings s = app.settings.Copy();
    const MediaInfo movie = source.Info();
    if (s.ASPECT != 0) return;
    if (s.STEREO != 0) {
        if (!CurrentEyes()) FindLensCircle(true);
        return;
    }
    if (CutSetFor(s, movie.videoPath, movie.frameWidth, movie.frameHeight)) {
        app.env.log.WriteLogLine("The cut was set for this movie: it stays");
        return;
    }
    app.env.log.WriteLogLine(CutOf(s) == kDefaultCut ? "The cut is the start cut: looking for the lens circle"
                                                     : "The cut was set for another movie: looking for the lens circle");
    FindLensCircle(true);
}

bool DesktopSession::FindLensCircle(bool onLoad) {
    const MediaInfo movie = source.Info();
    if (source.videoOpen.load() == 0 || movie.videoPath.empty() || movie.frameWidth <= 0) return false;
    // A pair's circles were found as it loaded.
    if (PairRightFrame() || circleSearching.exchange(1) != 0) return false;
    if (app.settings.Copy().STEREO != 0) {
        StartEyeSearch(movie, onLoad);
        return true;
    }
    const CutRect before = CutOf(app.settings.Copy());
    // Kept with the load threads: joined when ended or at shutdown.
    std::lock_guard lock(threadsMutex_);
    auto done = std::make_shared<std::atomic<bool>>(false);
    loadThreads_.push_back({std::thread([this, movie, onLoad, before, done] {
                                const CircleSearch search = FindLensCircleInMovie(movie.videoPath, &app.run.stopRequested);
                                QWidget* window = window_;
                                if (window == nullptr || app.run.stopRequested.load()) {
                                    // The program is ending: a Convert that waited starts nothing.
                                    if (convertAfterSearch_.exchange(0) != 0) convertFlow_ = 0;
                                    circleSearching = 0;
                                } else {
                                    PostToGui(window, [this, movie, search, onLoad, before] {
                                        SetFoundCircle(movie, search, onLoad, before);
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

// Why the cut does not follow a search's circle; empty when it does.
std::string DesktopSession::CircleProblem(const MediaInfo& movie, const CircleSearch& search, bool onLoad,
                                          const CutRect& before, CutForCircleResult& fit) const {
    const AppSettings now = app.settings.Copy();
    if (!search.found) return NoCircleMessage(search);
    // The circle is one of the unstretched frames.
    if (now.ASPECT != 0) return "the lens circle is not set while the aspect fix is on";
    fit = CutForCircle(movie.frameWidth, movie.frameHeight, search.circle);
    if (!fit.ok) return "no cut places the lens circle found";
    const bool sameMovie = source.videoOpen.load() == 1 && source.Info().videoPath == movie.videoPath;
    if (!sameMovie || app.run.converting.load() || app.run.encoderBusy.load()) {
        return "the movie changed or a conversion runs";
    }
    if (onLoad && CutOf(now) != before) return "the cut was changed meanwhile";
    return {};
}

void DesktopSession::SetFoundCircle(const MediaInfo& movie, const CircleSearch& search, bool onLoad,
                                    const CutRect& before) {
    CutForCircleResult fit;
    const std::string problem = CircleProblem(movie, search, onLoad, before, fit);
    {
        std::lock_guard lock(circleMutex_);
        lastCircle_ = search;
        lastCircleMovie_ = movie;
        circleLine_ = search.found ? CircleFoundLine(search.circle) : problem;
    }
    const bool shown = window_.load() != nullptr;
    if (!problem.empty()) {
        app.env.log.WriteLogLine("Find lens circle: " + problem);
        circleSearching = 0;
        ++circleSearchesDone;
        if (!onLoad && shown) emit circleSearchRefused(QString::fromStdString(problem));
        SearchEnded();
        return;
    }
    commands.SetMovieCut(fit.cut, movie);
    rebuildGeometry_ = 1;
    app.env.log.WriteLogLine("Find lens circle: " + CircleCutLine(search.circle, fit, "cut"));
    if (shown) emit cutChanged();
    circleSearching = 0;
    ++circleSearchesDone;
    SearchEnded();
}

std::string DesktopSession::CircleLine() const {
    const MediaInfo movie = source.Info();
    std::lock_guard lock(circleMutex_);
    return lastCircleMovie_.videoPath == movie.videoPath ? circleLine_ : std::string();
}

std::string DesktopSession::RimWarning() const {
    const MediaInfo movie = source.Info();
    CircleSearch search;
    {
        std::lock_guard lock(circleMutex_);
        if (lastCircleMovie_.videoPath != movie.videoPath || lastCircleMovie_.frameWidth != movie.frameWidth ||
            lastCircleMovie_.frameHeight != movie.frameHeight)
            return {};
        search = lastCircle_;
    }
    const AppSettings s = app.settings.Copy();
    if (!search.found || source.videoOpen.load() != 1 || s.ASPECT != 0) return {};
    const LensRims rims = LensRimsOf(movie.frameWidth, movie.frameHeight, CutOf(s), s.lens);
    if (rims.valid && !RimMissesCircle(rims.lens, search.circle)) return {};
    const std::string by =
        rims.valid ? "by " + QString::number(RimMiss(rims.lens, search.circle), 'f', 0).toStdString() + " pixels"
                   : "entirely";
    return "The lens rim of the cut misses the lens circle found in this movie " + by + "\n(" +
           CircleFoundLine(search.circle) + ").\nThe panorama would be warped; \"Find lens circle\" (Ctrl+F) "
           "sets the cut that fits.\n\nConvert anyway?";
}

void DesktopSession::StartEyeSearch(const MediaInfo& movie, bool onLoad) {
    const AppSettings made = app.settings.Copy();
    eyesAgain_ = 0;
    std::lock_guard lock(threadsMutex_);
    auto done = std::make_shared<std::atomic<bool>>(false);
    loadThreads_.push_back({std::thread([this, movie, onLoad, made, done] {
                                const FoundEyes found = FindEyes(movie.videoPath, made, &app.run.stopRequested);
                                QWidget* window = window_;
                                if (window == nullptr || app.run.stopRequested.load()) {
                                    if (convertAfterSearch_.exchange(0) != 0) convertFlow_ = 0;
                                    circleSearching = 0;
                                } else {
                                    PostToGui(window, [this, movie, found, made, onLoad] {
                                        SetFoundEyes(movie, found, made, onLoad);
                                    });
                                }
                                done->store(true);
                            }),
                            done});
}

namespace {

// "lens circle found: left eye 480.0, 540.0, r 450.0; right eye ..." ("."
// whatever the locale).
std::string EyesFoundLine(const JobStereo& eyes) {
    std::string line = "lens circle found:";
    for (int eye = 0; eye < 2; ++eye) {
        const LensCircle c = eyes.circles[eye].value_or(LensCircle{});
        const auto tenth = [](double v) { return QString::number(v, 'f', 1).toStdString(); };
        line += std::string(eye == kLeftEye ? " left eye " : "; right eye ") + tenth(c.cx) + ", " + tenth(c.cy) +
                ", r " + tenth(c.r);
    }
    return line;
}

}  // namespace

void DesktopSession::SetFoundEyes(const MediaInfo& movie, const FoundEyes& found, const AppSettings& made,
                                  bool onLoad) {
    {
        std::lock_guard lock(circleMutex_);
        eyes_ = EyesOfMovie{found.ok, movie.videoPath, movie.frameWidth, movie.frameHeight, StereoChoiceOf(made),
                            made.lens, found.eyes};
        lastCircle_ = CircleSearch{};  // the rim warning is a single circle's
        lastCircleMovie_ = movie;
        circleLine_ = found.ok ? EyesFoundLine(found.eyes) : found.problem;
    }
    for (const std::string& line : found.said) app.env.log.WriteLogLine("Find lens circle: " + line);
    if (!found.ok) app.env.log.WriteLogLine("Find lens circle: " + found.problem);
    circleSearching = 0;
    ++circleSearchesDone;
    const bool shown = window_.load() != nullptr;
    if (!found.ok && !onLoad && shown) emit circleSearchRefused(QString::fromStdString(found.problem));
    if (shown) emit cutChanged();
    // A choice made while this search ran is found next; a Convert waits for it.
    const bool stale = eyesAgain_.exchange(0) != 0 && app.settings->STEREO != 0 && !CurrentEyes();
    if (stale && FindLensCircle(true)) return;
    SearchEnded();
}

bool DesktopSession::LoadStereoPair(const std::string& left, const std::string& right) {
    if (window_.load() == nullptr || circleSearching.exchange(1) != 0) return false;
    {
        std::lock_guard lock(circleMutex_);
        pair_ = PairOfMovies{};
    }
    StartLoadWorker(left);
    const AppSettings made = app.settings.Copy();
    std::lock_guard lock(threadsMutex_);
    auto done = std::make_shared<std::atomic<bool>>(false);
    loadThreads_.push_back({std::thread([this, left, right, made, done] {
                                auto found = std::make_shared<FoundPair>(FindPair(left, right, made, &app.run.stopRequested));
                                QWidget* window = window_;
                                if (window == nullptr || app.run.stopRequested.load()) {
                                    if (convertAfterSearch_.exchange(0) != 0) convertFlow_ = 0;
                                    circleSearching = 0;
                                } else {
                                    PostToGui(window, [this, left, found] { SetFoundPair(left, *found); });
                                }
                                done->store(true);
                            }),
                            done});
    return true;
}

void DesktopSession::SetFoundPair(const std::string& left, const FoundPair& found) {
    {
        std::lock_guard lock(circleMutex_);
        pair_ = PairOfMovies{found.ok, left, found.eyes, found.rightFrame};
        lastCircle_ = CircleSearch{};
        lastCircleMovie_ = MediaInfo{};
        lastCircleMovie_.videoPath = left;
        // The info line: the sound's offset and confidence, or the refusal.
        // (the alignment's lines follow the sound's in `said`: they go to the log).
        const auto sync = std::find_if(found.said.begin(), found.said.end(),
                                       [](const std::string& line) { return line.rfind("sound sync:", 0) == 0; });
        circleLine_ = !found.ok ? found.problem : sync != found.said.end() ? *sync : found.said.back();
    }
    for (const std::string& line : found.said) app.env.log.WriteLogLine("Load stereo pair: " + line);
    if (!found.ok) app.env.log.WriteLogLine("Load stereo pair: " + found.problem);
    circleSearching = 0;
    ++circleSearchesDone;
    if (window_.load() == nullptr) return SearchEnded();
    if (!found.ok) emit pairRefused(QString::fromStdString(found.problem));
    emit cutChanged();
    SearchEnded();
}

std::shared_ptr<const FrameBuffer> DesktopSession::PairRightFrame() const {
    const MediaInfo movie = source.Info();
    std::lock_guard lock(circleMutex_);
    return pair_.ok && pair_.left == movie.videoPath ? pair_.rightFrame : nullptr;
}

void DesktopSession::EyesChoiceChanged() {
    if (app.settings->STEREO == 0 || source.videoOpen.load() == 0) return;
    if (circleSearching.load() != 0) {
        eyesAgain_ = 1;
        return;
    }
    if (!CurrentEyes()) FindLensCircle(true);
}

std::optional<JobStereo> DesktopSession::CurrentEyes() const {
    const AppSettings s = app.settings.Copy();
    const MediaInfo movie = source.Info();
    std::lock_guard lock(circleMutex_);
    if (pair_.ok && pair_.left == movie.videoPath) {
        // The cuts are each movie's; the output is the menu's, and so are
        // the angles unless the load aligned the eyes (the angles then hold
        // the correction, as tessaly-convert's job does).
        JobStereo eyes = pair_.eyes;
        const StereoSettings choice = StereoChoiceOf(s);
        eyes.settings.output = choice.output;
        eyes.settings.swapEyes = choice.swapEyes;
        if (!eyes.measured) eyes.settings.angles = choice.angles;
        return eyes;
    }
    if (s.STEREO == 0) return std::nullopt;
    const EyesOfMovie& e = eyes_;
    if (!e.ok || e.movie != movie.videoPath || e.width != movie.frameWidth || e.height != movie.frameHeight ||
        !(e.choice == StereoChoiceOf(s)) || !(e.lens == s.lens)) {
        return std::nullopt;
    }
    return e.eyes;
}

void DesktopSession::SearchEnded() {
    if (convertAfterSearch_.exchange(0) == 0) return;
    if (window_.load() == nullptr) {
        convertFlow_ = 0;
        return;
    }
    BeginConvert();
}

std::string DesktopSession::AddToQueue(const std::string& output) {
    if (source.VideoPath().empty()) return "No movie is loaded.";
    const MovieJob job = DesktopJob(*this, output);
    const std::string problem = JobProblem(job);
    if (!problem.empty()) return "The movie cannot be queued: " + problem + ".";
    std::string error;
    queue.Add(job, error);
    return error;
}

bool DesktopSession::RunQueue() { return !ConversionRunning() && queue.Run(); }

void DesktopSession::ConvertCommand() {
    if (window_.load() == nullptr || app.run.stopRequested.load() || queue.Running()) return;
    if (convertFlow_.exchange(1) != 0) return;
    // A search started by the load finishes first: its cut is the one
    // converted. A stereo movie's eyes are found first when they are not yet.
    if (circleSearching.load() != 0 || (app.settings->STEREO != 0 && !CurrentEyes() && FindLensCircle(true))) {
        convertAfterSearch_ = 1;
        return;
    }
    BeginConvert();
}

namespace {

// The profile a conversion uses and what it corrects, as tessaly-convert says it.
void LogLensProfile(RunLog& log, const LensProfileSettings& profile) {
    if (profile.Empty()) return;
    const LensProfileLookup found = LookUpLensProfile(profile);
    log.WriteLogLine("Convert: " + (found.correction ? ProfileSummary(*found.correction) : found.error));
}

}  // namespace

void DesktopSession::BeginConvert() {
    LogLensProfile(app.env.log, app.settings.Copy().lens.profile);
    if (app.settings->STEREO != 0 && !CurrentEyes() && source.videoOpen.load() == 1) {
        ui.ShowMessage("Convert Fisheye", "The eyes' lens circles were not found in this movie: " + CircleLine(),
                       MessageIcon::Warning, true);
        convertFlow_ = 0;
        return;
    }
    const std::string warning = RimWarning();
    if (!warning.empty()) {
        app.env.log.WriteLogLine("Convert: the cut's lens rim misses the lens circle found");
        const bool anyway = questions.convertDespiteRim && questions.convertDespiteRim(QString::fromStdString(warning));
        if (!anyway || window_.load() == nullptr) {
            convertFlow_ = 0;
            return;
        }
    }
    emit settingsAboutToBeSaved();
    SaveParameters(app.settings.Copy(), app.env.screen, app.env.iniPath);
    if (source.videoOpen != 1) {
        ChooseAndRun();
        return;
    }
    // Stop and the rewind are requests the decoding thread takes in order,
    // under the stream's lock: no settling wait between them.
    source.Stream().Hold();
    RewindAndChoose();
}

void DesktopSession::RewindAndChoose() {
    if (window_.load() == nullptr) {
        convertFlow_ = 0;
        return;
    }
    source.position = MediaTime{0};
    emit positionBarRewound();
    source.Stream().SeekToStart();
    ChooseAndRun();
}

void DesktopSession::ChooseAndRun() {
    emit controlsUnlocked(false);
    const std::string path = questions.chooseOutput ? questions.chooseOutput() : std::string();
    if (TrimBlanksAndNuls(path).empty() || window_.load() == nullptr) {
        ConversionFinished();
        return;
    }
    ConversionOptions options;
    // Stills are encoded beside the transform, and a run whose stills
    // cannot fit the temporary folder is refused before the first frame.
    options.writerThreads = StillWriterThreads();
    options.checkTempSpace = true;
    // The run returns with its stills kept for the questions asked here.
    options.leaveOpen = true;
    // The run converts the job of the loaded movie as it is now, built as
    // "Save job..." and the queue build it (the controls that change its
    // cut and paths stay locked until it ends).
    const MovieJob movieJob = DesktopJob(*this, path);
    if (movieJob.stereo.IsStereo()) {
        const std::string problem = JobProblem(movieJob);
        if (!problem.empty()) {
            ui.ShowMessage("Convert Fisheye", "The movie cannot be converted: " + problem + ".", MessageIcon::Warning,
                           true);
            ConversionFinished();
            return;
        }
    }
    options.settings = JobSettings(movieJob, app.settings.Copy());
    options.stereo = movieJob.stereo.settings;
    options.rightMovie = movieJob.stereo.right.path;
    options.rightOffset = movieJob.stereo.rightOffset;
    const ConversionHooks hooks = RunHooks(options);
    runOptions_ = options;
    runOutput_ = path;
    runEnding_ = false;
    job.Start([this, hooks, path, options](UserInterface& runUi) {
        if (options.stereo.input == StereoLayout::kPair) return RunPair(runUi, hooks, path, options);
        return RunConversion(app, runUi, source, hooks, {path}, options);
    });
}

namespace {

// The left movie of a pair as the run sees it: the open movie, its facts
// limited to the span the right movie runs along with it.
class PairLeftMovie final : public OpenMovie {
public:
    PairLeftMovie(OpenMovie& movie, const MediaInfo& limited) : movie_(movie), info_(limited) {}
    VideoStream& Stream() override { return movie_.Stream(); }
    MediaInfo Info() const override { return info_; }
    std::string VideoPath() const override { return movie_.VideoPath(); }
    int32_t OpenFlag() const override { return movie_.OpenFlag(); }
    void RewindPosition() override { movie_.RewindPosition(); }

private:
    OpenMovie& movie_;
    MediaInfo info_;
};

}  // namespace

ConversionResult DesktopSession::RunPair(UserInterface& runUi, const ConversionHooks& hooks, const std::string& path,
                                         const ConversionOptions& options) {
    MediaInfo limited = source.Info();
    const std::string problem = OpenRightEye(*runRight_, options, app.env.log, limited);
    ConversionResult result;
    if (problem.empty()) {
        PairLeftMovie left(source, limited);
        result = RunConversion(app, runUi, left, hooks, {path}, options);
    } else {
        runUi.ShowMessage("Convert Fisheye", "The movie cannot be converted: " + problem + ".", MessageIcon::Warning,
                          true);
    }
    runRight_->Close();
    return result;
}

void DesktopSession::JobReturned() {
    run_ = job.Result();
    const AfterJob next = runEnding_ ? AfterJob::kEnded : NextAfterJob(run_);
    runEnding_ = false;
    switch (next) {
        case AfterJob::kNothing: ConversionFinished(); return;
        case AfterJob::kEnded:
            emit programEnded();
            ConversionFinished();
            return;
        case AfterJob::kAskWithoutSound:
            if (AskAfterRun(WithoutSoundQuestion(run_.error))) return StartExport(runOutput_);
            break;
        case AfterJob::kAskEncodeAgain: {
            if (!AskAfterRun(EncodeAgainQuestion(run_.exports.back())) || !questions.outputOptions) break;
            // The typed path is trimmed once here; the trimmed text is the
            // one used from now on.
            const auto options = questions.outputOptions;
            const std::string path = TrimBlanks(options(runOutput_));
            if (path.empty() || app.run.stopRequested.load() || window_.load() == nullptr) break;
            runOutput_ = path;
            return StartExport(path);
        }
        case AfterJob::kEnd: break;
    }
    EndRun();
}

bool DesktopSession::AskAfterRun(const RunQuestion& question) {
    if (window_.load() == nullptr || app.run.stopRequested.load() || !questions.afterRun) return false;
    // A copy: the window that answers may go while it asks.
    const auto ask = questions.afterRun;
    return ask(question) && !app.run.stopRequested.load() && window_.load() != nullptr;
}

void DesktopSession::StartExport(const std::string& path) {
    job.Start([this, path, result = run_, options = runOptions_](UserInterface& runUi) mutable {
        ExportKeptStills(app, runUi, result, path, options);
        return result;
    });
}

void DesktopSession::EndRun() {
    runEnding_ = true;
    job.Start([this, result = run_, options = runOptions_](UserInterface& runUi) mutable {
        EndConversion(app, runUi, result, options);
        return result;
    });
}

ConversionHooks DesktopSession::RunHooks(const ConversionOptions& options) {
    app.run.vrStereo = options.stereo.IsStereo() ? options.stereo.output : StereoLayout::kMono;
    if (options.stereo.IsStereo()) {
        // Each eye in a pipeline of its own, as tessaly-convert runs them;
        // the previews rest during the run.
        const MediaInfo movie = source.Info();
        runEyes_ = std::make_unique<StereoPipelines>();
        runEyes_->Allocate(movie.frameWidth, movie.frameHeight, options.stereo);
        if (options.stereo.input != StereoLayout::kPair) return StereoHooks(*runEyes_, app, options.stereo);
        // A pair's right eye comes from its own movie, opened by the run.
        runRight_ = std::make_unique<RightEyeFeed>();
        const double rate = movie.timePerFrame.count() > 0 ? 1e7 / static_cast<double>(movie.timePerFrame.count()) : 0;
        return StereoHooks(*runEyes_, app, options.stereo, runRight_.get(), rate);
    }
    // Filters, flip and aspect stay live during the run: each frame reads
    // them as the controls have them now, and each change is logged as an
    // adjustment of the job at the frame it reaches first.
    return PipelineHooks(pipeline, app, [this] { PaintPreviews(); }, LoggedLiveSettings(app, *options.settings));
}

void DesktopSession::ConversionFinished() {
    if (window_.load() != nullptr) emit controlsUnlocked(true);
    convertFlow_ = 0;
}

}  // namespace tessaly
