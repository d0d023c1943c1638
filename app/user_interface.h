// The seam between the engine and whatever shows it: the desktop program
// implements it with Qt widgets, the headless converter with a terminal
// reporter, the tests with a recorder. Core and media code never touch a
// window; everything they show goes through here. Calls may come from any
// thread; implementations marshal to their own GUI thread as needed.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tessaly {

enum class MessageIcon { Information, Error, Warning, Question };

// Width of the position bar at the end of the movie (its start is 1).
inline constexpr int32_t kPositionBarMax = 598;

// Control ids of the main window that the engine writes to.
namespace control {
inline constexpr int kPathLabel = 303;
inline constexpr int kFrameSizeLabel = 304;
inline constexpr int kFrameRateLabel = 305;
inline constexpr int kFrameCountLabel = 306;
inline constexpr int kOperationLabel = 307;
inline constexpr int kOutputSizeLabel = 309;
inline constexpr int kDurationLabel = 409;
inline constexpr int kShowInputCheck = 511;
inline constexpr int kShowOutputCheck = 512;
}  // namespace control

class UserInterface {
public:
    virtual ~UserInterface() = default;

    virtual void SetLabel(int controlId, const std::string& text) = 0;
    virtual void SetCheck(int controlId, int checked) = 0;
    // Width in pixels of the position bar (1 = start, kPositionBarMax = end).
    virtual void SetPositionBar(int width) = 0;
    // A message box; ownerIsMainWindow mirrors the owner column of the tables.
    virtual void ShowMessage(const std::string& caption, const std::string& text,
                             MessageIcon icon, bool ownerIsMainWindow) = 0;
    // Blank both preview panes.
    virtual void PaintPlaceholders() = 0;

    // --- Conversion run (colours are 0x00BBGGRR) ---
    // The status label ("     RECORD" during a run) and its colours.
    virtual void SetStatusLabel(const std::string& /*text*/, uint32_t /*background*/,
                                uint32_t /*foreground*/) {}
    // The frame number shown while frames are converted.
    virtual void SetCurrentFrame(int32_t /*frameNumber*/) {}
    // Fill the output preview with one colour.
    virtual void ClearOutputPreview(uint32_t /*colour*/) {}
    // The "Please wait..." window while the encoder runs; the update carries
    // the "Processing time: hh:mm:ss" text and comes every second turn.
    virtual void OpenExportProgress() {}
    virtual void UpdateExportProgress(const std::string& /*processingTime*/) {}
    virtual void CloseExportProgress() {}
    // An OK/Cancel message box; true for OK. Without a user: Cancel.
    virtual bool AskOkCancel(const std::string& /*caption*/, const std::string& /*text*/,
                             MessageIcon /*icon*/) {
        return false;
    }
    // The output options dialog: the next output path, empty for cancel.
    virtual std::string OutputOptionsDialog(const std::string& /*currentPath*/) { return {}; }
    // The end of a conversion run closes the main window.
    virtual void CloseMainWindow() {}
    // The level chosen in the "Output compression" list: 0 for "Default",
    // n for "n:...", read at every encoding.
    virtual int32_t CompressionLevel() { return 0; }
    // One yield step of the calling thread: handle one pending window event
    // if there is one, else sleep.
    virtual void YieldStep(int milliseconds) {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }
};

// Keeps every call, in order, as one text line; for tests.
class RecordingUserInterface : public UserInterface {
public:
    void SetLabel(int controlId, const std::string& text) override {
        Add("label " + std::to_string(controlId) + " " + text);
    }
    void SetCheck(int controlId, int checked) override {
        Add("check " + std::to_string(controlId) + " " + std::to_string(checked));
    }
    void SetPositionBar(int width) override { Add("bar " + std::to_string(width)); }
    void ShowMessage(const std::string& caption, const std::string& text, MessageIcon,
                     bool) override {
        Add("message " + caption + " | " + text);
    }
    void PaintPlaceholders() override { Add("placeholders"); }
    void SetStatusLabel(const std::string& text, uint32_t background,
                        uint32_t foreground) override {
        Add("status " + text + " " + std::to_string(background) + " " +
            std::to_string(foreground));
    }
    void SetCurrentFrame(int32_t frameNumber) override {
        Add("frame " + std::to_string(frameNumber));
    }
    void ClearOutputPreview(uint32_t colour) override {
        Add("clear output " + std::to_string(colour));
    }
    void OpenExportProgress() override { Add("export open"); }
    void UpdateExportProgress(const std::string& text) override { Add("export " + text); }
    void CloseExportProgress() override { Add("export close"); }
    bool AskOkCancel(const std::string& caption, const std::string& text, MessageIcon) override {
        Add("ask " + caption + " | " + text);
        std::lock_guard lock(mutex_);
        if (okCancelAnswers.empty()) return false;
        bool answer = okCancelAnswers.front();
        okCancelAnswers.pop_front();
        return answer;
    }
    std::string OutputOptionsDialog(const std::string& currentPath) override {
        Add("options dialog " + currentPath);
        std::lock_guard lock(mutex_);
        if (dialogPaths.empty()) return {};
        std::string path = dialogPaths.front();
        dialogPaths.pop_front();
        return path;
    }
    void CloseMainWindow() override { Add("close main window"); }
    int32_t CompressionLevel() override { return compressionLevel; }

    // Scripted answers for AskOkCancel and OutputOptionsDialog, taken in
    // order; when they run out the answer is Cancel.
    std::deque<bool> okCancelAnswers;
    std::deque<std::string> dialogPaths;
    std::atomic<int32_t> compressionLevel{0};

    std::vector<std::string> Calls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }

protected:
    void Add(std::string line) {
        std::lock_guard lock(mutex_);
        calls_.push_back(std::move(line));
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> calls_;
};

}  // namespace tessaly
