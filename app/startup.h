// Start-up and shutdown steps that need no window; the desktop program and
// the headless converter both run them.
#pragma once

#include <ctime>
#include <string>

#include "app/app_paths.h"
#include "app/app_state.h"

namespace tessaly {

struct StartUpOptions {
    std::string programDir;            // with a trailing "/"
    const char* firstArgument = nullptr;  // selects the still format
    std::time_t now = 0;               // time for the log header; 0 = current time
    std::string iniPathOverride;       // read the parameters from here instead
    // A headless run shares the machine with other runs: it starts no shared
    // run log and removes no stills, since its own files live in a private
    // folder it makes later (the caller logs that folder with
    // LogTemporaryFolder).
    bool privateRun = false;
};

// Prepares the application: still format, temporary folder, fresh run log,
// parameter file, removal of stale stills and the four log lines about the
// temporary folder. Leaves the window work to the caller.
void StartUpCore(FisheyeApp& app, const StartUpOptions& options);

// The temporary folder taken when none is named (an empty APATH, a cancelled
// folder chooser): the program's folder when everything lives beside it,
// else the user's cache folder, never a folder the user cannot write.
std::string FallbackTempFolder(const AppPaths& paths);

// Deletes the stills ("mono" + digits + ".bmp", then ".jpg") an earlier run
// left in `folder`; nothing else there is touched. Returns how many were removed.
int RemoveStaleStills(const std::string& folder);

// Free space of the file system holding `folder` (of its nearest existing
// parent when it does not exist yet), as the log line shows it.
std::string FormatFreeSpace(const std::string& folder);

// The four lines about the temporary folder in use ("Temp file:", the
// folder, "Temp Folder Free Space:", its free space).
void LogTemporaryFolder(RunLog& log, const std::string& folder);

// The one exit procedure: stops playback through the stop hooks, waits for
// the registered threads, and logs "EXIT11" (every call), "EXIT2" and "EXIT3"
// (the first call only).
void Shutdown(FisheyeApp& app);

}  // namespace tessaly
