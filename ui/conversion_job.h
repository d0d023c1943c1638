// A conversion job of the desktop program (a run's frames and first export,
// a further export of its stills, or its end) on a worker thread of its
// own, so the GUI thread stays in its event loop: dialogs opened meanwhile
// (About, a message box) never pause it. Its progress arrives as signals on
// the GUI thread; everything else it shows goes to the desktop's own
// UserInterface, which posts to the GUI thread. A job asks nothing: its
// result comes back through the queued finished signal, and the desktop
// asks its questions then.
#pragma once

#include <QObject>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "app/user_interface.h"
#include "convert/conversion_driver.h"

namespace tessaly {

class ConversionJob : public QObject, public UserInterface {
    Q_OBJECT
public:
    // `gui` shows the run. The job lives on the
    // GUI thread; its signals are queued there.
    explicit ConversionJob(UserInterface& gui, QObject* parent = nullptr);
    ~ConversionJob() override;
    ConversionJob(const ConversionJob&) = delete;
    ConversionJob& operator=(const ConversionJob&) = delete;

    // The run: given the job as its UserInterface, on the worker.
    using Work = std::function<ConversionResult(UserInterface& ui)>;
    // Starts `work` on a new worker thread; false while one runs already.
    bool Start(Work work);
    // From Start until the finished signal has been handled.
    bool Running() const { return running_.load() != 0; }
    // Waits for the worker to end; at once on the worker itself or when
    // none runs.
    void Wait();
    // The last run's result (valid once finished was emitted).
    ConversionResult Result() const;

    // --- UserInterface, called on the worker ---
    void ShowMovieFacts(const MovieFacts& facts) override { gui_.ShowMovieFacts(facts); }
    void ClearMovieFacts() override { gui_.ClearMovieFacts(); }
    void ShowOutputSize(const std::string& text) override { gui_.ShowOutputSize(text); }
    void ShowPreviewSwitches(bool input, bool output) override { gui_.ShowPreviewSwitches(input, output); }
    void ShowMoviePosition(MoviePosition position) override { gui_.ShowMoviePosition(position); }
    void ShowMessage(const std::string& caption, const std::string& text, MessageIcon icon,
                     bool ownerIsMainWindow) override {
        gui_.ShowMessage(caption, text, icon, ownerIsMainWindow);
    }
    void PaintPlaceholders() override { gui_.PaintPlaceholders(); }
    void SetRecording(RecordingLook look) override;
    void SetCurrentFrame(int32_t frameNumber) override;
    void BlankOutputPreview() override { gui_.BlankOutputPreview(); }
    void OpenExportProgress() override { gui_.OpenExportProgress(); }
    void UpdateExportProgress(const std::string& processingTime) override;
    void CloseExportProgress() override { gui_.CloseExportProgress(); }
    int32_t CompressionLevel() override { return gui_.CompressionLevel(); }

signals:
    // The frame being converted, as the run's watch reads it.
    void frameConverted(int frameNumber);
    // The "     RECORD" status changed its look (a RecordingLook).
    void recordingChanged(int look);
    // "Processing time: hh:mm:ss" while the encoder runs.
    void exportProgressed(const QString& processingTime);
    // The run has ended; Result() holds what it ended with. The worker is
    // joined before the job's own handlers see it.
    void finished();

private:
    void Finish();

    UserInterface& gui_;
    std::atomic<int32_t> running_{0};
    std::mutex threadMutex_;
    std::thread worker_;
    std::thread::id workerId_;
    mutable std::mutex resultMutex_;
    ConversionResult result_;
};

}  // namespace tessaly
