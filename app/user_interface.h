// The seam between the engine and whatever shows it: the desktop program
// implements it with Qt widgets, the headless converter with a terminal
// reporter, the tests with a recorder. Core and media code never touch a
// window; everything they show goes through here. Calls may come from any
// thread; implementations marshal to their own GUI thread as needed.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

#include "app/control_ids.h"

namespace tessaly {

enum class MessageIcon { Information, Error, Warning, Question };

// Width of the position bar at the end of the movie (its start is 1).
inline constexpr int32_t kPositionBarMax = 598;

// The control ids (control::kPathLabel ...) live in app/control_ids.h.

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
    // The movie's sound could not be extracted (`reason`): true to export the
    // converted frames without sound, false to end the run. A user is asked;
    // a headless converter keeps the loss of sound a failure.
    virtual bool ExportWithoutSound(const std::string& reason) {
        return AskOkCancel("Error",
                           "The sound could not be extracted: " + reason +
                               ".\nSave the converted movie without sound?",
                           MessageIcon::Warning);
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

}  // namespace tessaly
