// The desktop program's side of the user-interface seam: every call may come
// from any thread and reaches the main window on the GUI thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "app/user_interface.h"

namespace tessaly {

class MainWindow;

class QtUserInterface : public UserInterface {
public:
    // `abandon` ends waits for the GUI thread (Shutdown has begun).
    explicit QtUserInterface(const std::atomic<bool>* abandon) : abandon_(abandon) {}
    void SetWindow(MainWindow* window) { window_ = window; }

    void SetLabel(int controlId, const std::string& text) override;
    void SetCheck(int controlId, int checked) override;
    void SetPositionBar(int width) override;
    void ShowMessage(const std::string& caption, const std::string& text, MessageIcon icon,
                     bool ownerIsMainWindow) override;
    void PaintPlaceholders() override;
    void SetStatusLabel(const std::string& text, uint32_t background, uint32_t foreground) override;
    void SetCurrentFrame(int32_t frameNumber) override;
    void ClearOutputPreview(uint32_t colour) override;
    void OpenExportProgress() override;
    void UpdateExportProgress(const std::string& processingTime) override;
    void CloseExportProgress() override;
    bool AskOkCancel(const std::string& caption, const std::string& text, MessageIcon icon) override;
    std::string OutputOptionsDialog(const std::string& currentPath) override;
    void CloseMainWindow() override;
    int32_t CompressionLevel() override { return compressionLevel.load(); }
    void YieldStep(int milliseconds) override;

    std::atomic<int32_t> compressionLevel{0};

private:
    std::atomic<MainWindow*> window_{nullptr};
    const std::atomic<bool>* abandon_;
};

}  // namespace tessaly
