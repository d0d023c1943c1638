// The headless converter's face: a progress bar on a terminal and messages
// kept for the one-line error.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "app/user_interface.h"

namespace tessaly {

// One line of the progress bar: frames done of the total, rate, elapsed time
// and the estimate of the time left.
std::string ProgressLine(int32_t done, int32_t total, double elapsedSeconds);

// What a stop by `signalName` left, in one line: outputs are renamed into
// place only when complete and checked, so each is there in full (`written`)
// or not at all, and a file that had its name keeps its bytes.
std::string StopReport(const std::string& signalName, const std::vector<std::string>& written);

class TerminalUserInterface : public UserInterface {
public:
    // `out` receives the progress display when `interactive` is true. The
    // still path encodes `outputs` in their order: each encoding the
    // display opens names the next.
    TerminalUserInterface(std::FILE* out, bool interactive, int32_t compressionLevel,
                          std::vector<std::string> outputs);

    void SetTotalFrames(int32_t total);

    void ShowMovieFacts(const MovieFacts&) override {}
    void ClearMovieFacts() override {}
    void ShowOutputSize(const std::string&) override {}
    void ShowPreviewSwitches(bool, bool) override {}
    void ShowMoviePosition(MoviePosition) override {}
    void ShowMessage(const std::string& caption, const std::string& text, MessageIcon icon,
                     bool ownerIsMainWindow) override;
    void PaintPlaceholders() override {}

    void SetRecording(RecordingLook look) override;
    void SetCurrentFrame(int32_t frameNumber) override;
    void OpenExportProgress() override;
    void UpdateExportProgress(const std::string& processingTime) override;
    void CloseExportProgress() override;
    int32_t CompressionLevel() override { return compressionLevel_; }

    // The last message box, its lines joined by blanks; empty when none.
    std::string LastMessage() const;
    // Seconds from the start of the frame conversion to its last frame.
    double ConversionSeconds() const;

private:
    using Clock = std::chrono::steady_clock;

    void Redraw(const std::string& line);
    void EndLine();

    std::FILE* out_;
    bool interactive_;
    int32_t compressionLevel_;
    std::vector<std::string> outputs_;
    size_t nextOutput_ = 0;
    std::string currentOutput_;

    mutable std::mutex mutex_;
    std::string lastMessage_;
    std::string lastExportText_;
    int32_t total_ = 0;
    bool started_ = false;
    bool lineOpen_ = false;
    Clock::time_point start_;
    Clock::time_point lastFrameTime_;
};

}  // namespace tessaly
