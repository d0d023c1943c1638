// The desktop program's side of the user-interface seam: every call may come
// from any thread and reaches the main window on the GUI thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "app/run_state.h"
#include "app/user_interface.h"

namespace tessaly {

class MainWindow;

// The QMessageBox::Icon that shows `icon`.
int MessageBoxIcon(MessageIcon icon);

class QtUserInterface : public UserInterface {
public:
    // A stop requested in `run` ends waits for the GUI thread (Shutdown has begun).
    explicit QtUserInterface(RunState& run) : run_(run) {}
    void SetWindow(MainWindow* window) { window_ = window; }

    void ShowMovieFacts(const MovieFacts& facts) override;
    void ClearMovieFacts() override;
    void ShowOutputSize(const std::string& text) override;
    void ShowPreviewSwitches(bool input, bool output) override;
    void ShowMoviePosition(MoviePosition position) override;
    void ShowMessage(const std::string& caption, const std::string& text, MessageIcon icon,
                     bool ownerIsMainWindow) override;
    void PaintPlaceholders() override;
    void SetRecording(RecordingLook look) override;
    void SetCurrentFrame(int32_t frameNumber) override;
    void BlankOutputPreview() override;
    void OpenExportProgress() override;
    void UpdateExportProgress(const std::string& processingTime) override;
    void CloseExportProgress() override;
    int32_t CompressionLevel() override { return compressionLevel.load(); }

    std::atomic<int32_t> compressionLevel{0};
    // Runs on the GUI thread with ClearMovieFacts (the session empties the
    // file information it keeps there). Set before any thread starts.
    std::function<void()> onFactsCleared;

private:
    std::atomic<MainWindow*> window_{nullptr};
    RunState& run_;
};

}  // namespace tessaly
