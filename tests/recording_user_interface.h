// A UserInterface that keeps every call, in order, as one text line; the
// tests' window onto what the engine shows.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "app/user_interface.h"
#include "ui/position_bar.h"

namespace tessaly {

class RecordingUserInterface : public UserInterface {
public:
    void ShowMovieFacts(const MovieFacts& f) override {
        Add("facts " + f.path + "|" + f.frameSize + "|" + f.frameRate + "|" + f.frameCount + "|" + f.duration);
    }
    void ClearMovieFacts() override { Add("clear facts"); }
    void ShowOutputSize(const std::string& text) override { Add("output size " + text); }
    void ShowPreviewSwitches(bool input, bool output) override {
        Add(std::string("switches ") + (input ? "1" : "0") + " " + (output ? "1" : "0"));
    }
    // The width the desktop's position bar shows for it.
    void ShowMoviePosition(MoviePosition p) override { Add("bar " + std::to_string(PositionBarWidth(p))); }
    void ShowMessage(const std::string& caption, const std::string& text, MessageIcon, bool) override {
        Add("message " + caption + " | " + text);
    }
    void PaintPlaceholders() override { Add("placeholders"); }
    void SetRecording(RecordingLook look) override {
        Add(std::string("recording ") +
            (look == RecordingLook::kStart ? "start" : look == RecordingLook::kLit ? "lit" : "dimmed"));
    }
    void SetCurrentFrame(int32_t frameNumber) override { Add("frame " + std::to_string(frameNumber)); }
    void BlankOutputPreview() override { Add("blank output"); }
    void OpenExportProgress() override { Add("export open"); }
    void UpdateExportProgress(const std::string& text) override { Add("export " + text); }
    void CloseExportProgress() override { Add("export close"); }
    int32_t CompressionLevel() override { return compressionLevel; }

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
