// Where the program lives and what it runs on: its folder, the parameter
// file and run log paths, the run log itself and the desktop's size. Set at
// start-up; afterwards only the log is written (it has its own lock).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/run_log.h"

namespace tessaly {

// Size of the desktop the windows live on; used to clamp saved window
// positions. The desktop program sets it from the primary screen.
struct ScreenSize {
    int32_t width = 1920;
    int32_t height = 1080;
};

struct AppEnvironment {
    std::string programDir;  // folder of the executable, with a trailing "/"
    std::string iniPath;     // the parameter file (programDir + "Tessaly.ini" beside the program)
    std::string logPath;     // the run log (programDir + "Tessaly_mono.log" beside the program)
    RunLog log;
    ScreenSize screen;
    // What the parameter file last loaded could not use, one line each (a
    // damaged lens value and the default taken instead). A front end whose
    // run log starts later writes them there and shows them.
    std::vector<std::string> parameterNotes;
};

}  // namespace tessaly
