// The application as one object: its settings (one owner, one lock), the
// runtime state the threads share, and its environment (paths, run log).
// Code that needs all three takes FisheyeApp; the rest takes the part it uses.
#pragma once

#include <cstdint>
#include <string>

#include "app/app_environment.h"
#include "app/app_settings.h"
#include "app/run_state.h"

namespace tessaly {

struct FisheyeApp {
    SharedSettings settings;
    RunState run;
    AppEnvironment env;
};

// The still format from the first command-line argument read as a number:
// 2 (or any value but 1) gives JPEG; 1, 0, a missing or non-numeric argument BMP.
StillFormat ParseTempFormat(const char* firstArgument);

// The folder of the running executable with a trailing "/", derived from
// /proc/self/exe (falls back to the folder of argv0).
std::string ProgramFolder(const char* argv0);

}  // namespace tessaly
