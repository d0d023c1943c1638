#include "ui/conversion_job.h"

#include <QMetaObject>

namespace tessaly {

ConversionJob::ConversionJob(UserInterface& gui, QObject* parent) : QObject(parent), gui_(gui) {}

ConversionJob::~ConversionJob() { Wait(); }

bool ConversionJob::Start(Work work) {
    if (running_.exchange(1) != 0) return false;
    Wait();  // a worker that ended but was not yet joined
    std::lock_guard lock(threadMutex_);
    worker_ = std::thread([this, work = std::move(work)] {
        ConversionResult result = work(*this);
        {
            std::lock_guard resultLock(resultMutex_);
            result_ = std::move(result);
        }
        // Handled on the GUI thread once this thread has ended.
        QMetaObject::invokeMethod(this, [this] { Finish(); }, Qt::QueuedConnection);
    });
    workerId_ = worker_.get_id();
    return true;
}

void ConversionJob::Wait() {
    std::thread ending;
    {
        std::lock_guard lock(threadMutex_);
        // The worker itself may end the program (Shutdown waits for the
        // threads): it does not wait for itself.
        if (!worker_.joinable() || std::this_thread::get_id() == workerId_) return;
        ending = std::move(worker_);
    }
    ending.join();
}

void ConversionJob::Finish() {
    // The worker has only its return left: this join is immediate.
    Wait();
    emit finished();
    running_ = 0;
}

ConversionResult ConversionJob::Result() const {
    std::lock_guard lock(resultMutex_);
    return result_;
}

void ConversionJob::SetRecording(RecordingLook look) { emit recordingChanged(static_cast<int>(look)); }

void ConversionJob::SetCurrentFrame(int32_t frameNumber) { emit frameConverted(frameNumber); }

void ConversionJob::UpdateExportProgress(const std::string& processingTime) {
    emit exportProgressed(QString::fromStdString(processingTime));
}

}  // namespace tessaly
