// The seam between the engine and whatever shows it: the desktop program
// implements it with Qt widgets, the headless converter with a terminal
// reporter, the tests with a recorder. Core and media code never touch a
// window; everything they show goes through here, and nothing here asks:
// the questions of a run are the desktop's, asked once the engine has
// returned. Calls may come from any thread; implementations marshal to
// their own GUI thread as needed.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

namespace tessaly {

enum class MessageIcon { Information, Error, Warning, Question };

// Where the movie stands: `done` of `total`, in the engine's own units
// (frames while a run converts, 100-ns ticks while the movie plays). A
// total of 0 or less: no place is known (no movie, or no length).
struct MoviePosition {
    int64_t done = 0;
    int64_t total = 0;

    bool operator==(const MoviePosition&) const = default;
};
inline constexpr MoviePosition kNoPosition{};      // no movie playing, or its length unknown
inline constexpr MoviePosition kMovieStart{0, 1};  // before the first frame

// What the main window's information labels show about the open movie.
struct MovieFacts {
    std::string path;       // empty: the path shown stays as it is
    std::string frameSize;  // "1920x1080"
    std::string frameRate;  // "25.00 fps"
    std::string frameCount;
    std::string duration;   // "00:01:05"
};

// The look of the "     RECORD" status while frames are converted: as the
// run starts, then blinking between lit and dimmed.
enum class RecordingLook { kStart, kLit, kDimmed };

class UserInterface {
public:
    virtual ~UserInterface() = default;

    // The facts of the movie just opened (or of the one a run converts).
    virtual void ShowMovieFacts(const MovieFacts& facts) = 0;
    // Empties every information label and the status, before a new movie is
    // chosen and after a conversion.
    virtual void ClearMovieFacts() = 0;
    // The output size text (" 1200x1200") of the preview or the run.
    virtual void ShowOutputSize(const std::string& text) = 0;
    // The "Show input" and "Show output" switches as a new movie shows them.
    virtual void ShowPreviewSwitches(bool input, bool output) = 0;
    // Where the shown picture stands in the movie (the position bar).
    virtual void ShowMoviePosition(MoviePosition position) = 0;
    // A message box; ownerIsMainWindow mirrors the owner column of the tables.
    virtual void ShowMessage(const std::string& caption, const std::string& text,
                             MessageIcon icon, bool ownerIsMainWindow) = 0;
    // Blank both preview panes.
    virtual void PaintPlaceholders() = 0;

    // --- Conversion run ---
    // The "     RECORD" status of a run, in one of its looks.
    virtual void SetRecording(RecordingLook /*look*/) {}
    // The frame number shown while frames are converted.
    virtual void SetCurrentFrame(int32_t /*frameNumber*/) {}
    // The output preview goes dark grey as the frames start.
    virtual void BlankOutputPreview() {}
    // The "Please wait..." window while the encoder runs; the update carries
    // the "Processing time: hh:mm:ss" text and comes every second turn.
    virtual void OpenExportProgress() {}
    virtual void UpdateExportProgress(const std::string& /*processingTime*/) {}
    virtual void CloseExportProgress() {}
    // The level chosen in the "Output compression" list: 0 for "Default",
    // n for "n:...", read at every encoding.
    virtual int32_t CompressionLevel() { return 0; }
};

}  // namespace tessaly
