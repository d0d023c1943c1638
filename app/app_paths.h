// Where the program keeps its files. A portable folder (the build folder, an
// unpacked archive) keeps the parameter file, the run log, the reports and
// the temporary folder beside the program. An installed program, or one whose
// folder the user cannot write, keeps them in the user's XDG folders instead;
// otherwise they would be lost without a word.
#pragma once

#include <functional>
#include <vector>
#include <string>

namespace tessaly {

// An installed program finds its own files here, relative to its folder:
// the encoder link PLUG-IN/ffmpeg_III lives in it.
inline constexpr const char* kInstalledDataRelative = "../lib/tessaly/";

struct AppPaths {
    bool beside = true;      // true: everything beside the program
    std::string programDir;  // folder of the program, with a trailing "/"
    std::string iniPath;     // "Tessaly.ini"
    std::string logPath;     // "Tessaly_mono.log"
    std::string reportDir;   // "param_fisheye.bin", the probe report; trailing "/"
    std::string tempDir;     // default temporary folder, no trailing "/"
    std::string configDir;   // the folders themselves, trailing "/"
    std::string stateDir;
    std::string cacheDir;
    std::string guidePdf;    // the user guide: beside the program, or the installed one
};

// Reads one environment variable; empty when unset.
using EnvFn = std::function<std::string(const char* name)>;
std::string SystemEnv(const char* name);

// True when `programDir` is an installed program's folder (it has
// kInstalledDataRelative beside it).
bool IsInstalledProgramFolder(const std::string& programDir);

// Decides the paths for a program in `programDir`. Installed or not
// writable: $XDG_CONFIG_HOME/tessaly/ (default ~/.config/tessaly/) holds the
// parameter file, $XDG_STATE_HOME/tessaly/ (~/.local/state/tessaly/) the log
// and the reports, $XDG_CACHE_HOME/tessaly/TEMP (~/.cache/tessaly/TEMP) is
// the temporary folder. Relative XDG values are ignored, as the XDG rules
// say. Creates nothing.
AppPaths DecideAppPaths(const std::string& programDir, const EnvFn& env = SystemEnv);

// Creates the XDG folders the paths name (no-op beside the program); false
// when one cannot be made.
bool CreateAppFolders(const AppPaths& paths);

// The lines the run log gets after its header when the XDG folders are used
// (none beside the program).
std::vector<std::string> AppPathsLogLines(const AppPaths& paths);

// A paragraph for --help: where the files are, and which ones this program
// uses now.
std::string AppPathsHelp(const AppPaths& paths);

}  // namespace tessaly
