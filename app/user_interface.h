// The seam between the engine and whatever shows it: the desktop program
// implements it with Qt widgets, the headless converter with a terminal
// reporter, the tests with a recorder. Core and media code never touch a
// window; everything they show goes through here. Calls may come from any
// thread; implementations marshal to their own GUI thread as needed.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace tessaly {

enum class MessageIcon { Information, Error, Warning, Question };

// Control ids of the main window that the engine writes to.
namespace control {
inline constexpr int kPathLabel = 303;
inline constexpr int kFrameSizeLabel = 304;
inline constexpr int kFrameRateLabel = 305;
inline constexpr int kFrameCountLabel = 306;
inline constexpr int kLabel307 = 307;
inline constexpr int kLabel309 = 309;
inline constexpr int kDurationLabel = 409;
inline constexpr int kShowInputCheck = 511;
inline constexpr int kShowOutputCheck = 512;
}  // namespace control

class UserInterface {
public:
    virtual ~UserInterface() = default;

    virtual void SetLabel(int controlId, const std::string& text) = 0;
    virtual void SetCheck(int controlId, int checked) = 0;
    // Width in pixels of the position bar (1 = start, 598 = end).
    virtual void SetPositionBar(int width) = 0;
    // A message box; ownerIsMainWindow mirrors the owner column of the tables.
    virtual void ShowMessage(const std::string& caption, const std::string& text,
                             MessageIcon icon, bool ownerIsMainWindow) = 0;
    // Blank both preview panes.
    virtual void PaintPlaceholders() = 0;
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
