#include "ui/job_queue.h"

#include <QMetaObject>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <functional>
#include <system_error>
#include <utility>

#include "convert/movie_job_file.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;

// What a queued run shows: its progress, through `report` (the frame
// converted, or that the encoder runs); its messages go to its log. The
// quality is the job's.
class QueueRunUi final : public UserInterface {
public:
    using Report = std::function<void(int32_t frame, bool encoding)>;
    QueueRunUi(RunLog& log, int32_t quality, Report report)
        : log_(log), quality_(quality), report_(std::move(report)) {}

    void ShowMovieFacts(const MovieFacts&) override {}
    void ClearMovieFacts() override {}
    void ShowOutputSize(const std::string&) override {}
    void ShowPreviewSwitches(bool, bool) override {}
    void ShowMoviePosition(MoviePosition) override {}
    void ShowMessage(const std::string& caption, const std::string& text, MessageIcon, bool) override {
        log_.WriteLogLine("Message: " + caption + ": " + text);
    }
    void PaintPlaceholders() override {}
    void SetCurrentFrame(int32_t frame) override {
        frame_ = frame;
        report_(frame, false);
    }
    void OpenExportProgress() override { report_(frame_, true); }
    int32_t CompressionLevel() override { return quality_; }

private:
    RunLog& log_;
    int32_t quality_;
    Report report_;
    int32_t frame_ = 0;
};

std::string LogNameOf(const std::string& jobFile) { return fs::path(jobFile).stem().string() + ".log"; }

}  // namespace

JobQueue::JobQueue(FisheyeApp& app, QObject* parent) : QObject(parent), app_(app) {}

JobQueue::~JobQueue() { Stop(); }

void JobQueue::Load() {
    folder_ = QueueFolderFor(app_.env.iniPath);
    QueueRead read = ReadQueue(folder_);
    entries_ = std::move(read.entries);
    notes_.clear();
    for (const std::string& note : read.notes) Problem(note);
    emit changed();
}

bool JobQueue::Add(const MovieJob& job, std::string& error) {
    QueueEntry entry;
    entry.file = NewJobFileName(folder_, entries_);
    entry.job = job;
    std::error_code ec;
    fs::create_directories(folder_, ec);
    const std::string path = (fs::path(folder_) / entry.file).string();
    if (const Status written = WriteJobFile(job, path); !written.ok()) {
        error = written.reason();
        return false;
    }
    entries_.push_back(entry);
    if (!WriteQueueIndex(folder_, entries_, error)) {
        entries_.pop_back();
        fs::remove(path, ec);
        return false;
    }
    Log(entry.file + " added: " + job.movie.path + " into " + job.outputs.paths.front());
    emit changed();
    return true;
}

bool JobQueue::Remove(size_t row) {
    if (row >= entries_.size() || entries_[row].file == runningFile_) return false;
    const std::string file = entries_[row].file;
    entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(row));
    std::error_code ec;
    fs::remove(fs::path(folder_) / file, ec);
    fs::remove(fs::path(folder_) / LogNameOf(file), ec);
    Log(file + " removed");
    Store();
    emit changed();
    return true;
}

bool JobQueue::Run() {
    const bool waiting = std::any_of(entries_.begin(), entries_.end(),
                                     [](const QueueEntry& e) { return e.state == QueueState::kWaiting; });
    if (Running() || !waiting || stopping_.load()) return false;
    StartNext();
    return true;
}

void JobQueue::CancelRunning() {
    if (runApp_ == nullptr) return;
    cancelled_ = true;
    runApp_->run.RequestStop();
}

void JobQueue::Stop() {
    stopping_ = true;
    CancelRunning();
    if (worker_.joinable()) worker_.join();
}

int JobQueue::RunningRow() const {
    for (size_t i = 0; i < entries_.size(); ++i)
        if (!runningFile_.empty() && entries_[i].file == runningFile_) return static_cast<int>(i);
    return -1;
}

void JobQueue::StartNext() {
    auto next = std::find_if(entries_.begin(), entries_.end(),
                             [](const QueueEntry& e) { return e.state == QueueState::kWaiting; });
    if (next == entries_.end() || stopping_.load()) {
        emit ranOut();
        return;
    }
    next->state = QueueState::kConverting;
    next->percent = 0;
    runningFile_ = next->file;
    // The run's own application: this program's folder and settings as the
    // base the job's values go over, a log of its own beside the job.
    runApp_ = std::make_unique<FisheyeApp>();
    runApp_->env.programDir = app_.env.programDir;
    runApp_->env.logPath = (fs::path(folder_) / LogNameOf(next->file)).string();
    runApp_->env.log.SetPath(runApp_->env.logPath);
    runApp_->env.log.StartNew(std::time(nullptr));
    runApp_->settings.Set(app_.settings.Copy());
    cancelled_ = false;
    Log(next->file + " converting " + next->job.movie.path + "; its log: " + runApp_->env.logPath);
    Store();
    worker_ = std::thread([this, job = next->job, runApp = runApp_.get()] {
        std::atomic<int64_t> total{0};
        QueueRunUi ui(runApp->env.log, job.outputs.quality, [this, &total](int32_t frame, bool encoding) {
            const int64_t count = total.load();
            QMetaObject::invokeMethod(
                this, [this, frame, count, encoding] { Progress(frame, count, encoding); }, Qt::QueuedConnection);
        });
        const JobRunOutcome outcome = RunJobAlone(job, *runApp, ui, [&total](const MediaInfo& info) {
            total = info.frameCount;
        });
        QMetaObject::invokeMethod(this, [this, outcome] { Ended(outcome); }, Qt::QueuedConnection);
    });
    emit changed();
}

void JobQueue::Progress(int frame, int64_t total, bool encoding) {
    const int row = RunningRow();
    if (row < 0) return;
    QueueEntry& e = entries_[static_cast<size_t>(row)];
    e.encoding = encoding;
    e.percent = encoding ? 100 : total > 0 ? static_cast<int>(std::min<int64_t>(100, frame * int64_t{100} / total)) : 0;
    emit progressed(row);
}

void JobQueue::Ended(const JobRunOutcome& outcome) {
    // The worker has only its return left: this join is immediate.
    if (worker_.joinable()) worker_.join();
    runApp_.reset();
    if (stopping_.load()) return;
    const int row = RunningRow();
    runningFile_.clear();
    if (row >= 0) {
        QueueEntry& e = entries_[static_cast<size_t>(row)];
        e.encoding = false;
        e.reason.clear();
        if (cancelled_.load() || outcome.stopped) {
            e.state = QueueState::kCancelled;
        } else if (outcome.done) {
            e.state = QueueState::kDone;
            e.percent = 100;
        } else {
            e.state = QueueState::kFailed;
            e.reason = outcome.reason;
        }
        Log(e.file + " " + QueueStateText(e));
        Store();
        emit changed();
    }
    StartNext();
}

void JobQueue::Store() {
    std::string error;
    if (!WriteQueueIndex(folder_, entries_, error)) Problem(error);
}

void JobQueue::Log(const std::string& line) { app_.env.log.WriteLogLine("Queue: " + line); }

void JobQueue::Problem(const std::string& line) {
    Log(line);
    notes_.push_back(line);
}

}  // namespace tessaly
