// The desktop program from start to end: the screen check, the start-up
// steps, the splash window, the main window and its event loop.
#pragma once

#include <functional>
#include <string>

namespace tessaly {

class DesktopSession;
class MainWindow;

// The "Warning !" text for a desktop lower than 768 pixels; empty when it passes.
std::string ScreenCheckMessage(int width, int height);

struct DesktopOptions {
    std::string programDir;                // empty: the executable's folder
    const char* firstArgument = nullptr;   // "2" makes JPEG stills
    const char* argv0 = nullptr;
    // A movie named on the command line (a file manager's "Open with"):
    // loaded as the Load command would, without its chooser.
    std::string openMovie;
    // Called once the main window is up (tests, screenshots, benchmark).
    std::function<void(MainWindow&, DesktopSession&)> onMainWindow;
};

// Runs the program; returns the exit code (0) after the main window ended.
int RunDesktop(const DesktopOptions& options);

}  // namespace tessaly
