#include "app/app_paths.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace tessaly {
namespace {

namespace fs = std::filesystem;

std::string WithSlash(std::string dir) {
    if (dir.empty() || dir.back() != '/') dir += '/';
    return dir;
}

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The folder an XDG variable names, or HOME + `fallback`.
std::string XdgFolder(const EnvFn& env, const char* variable, const char* fallback) {
    const std::string value = env(variable);
    if (!value.empty() && value.front() == '/') return WithSlash(value) + "tessaly/";
    std::string home = env("HOME");
    if (home.empty()) {
        if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) home = pw->pw_dir;
    }
    if (home.empty()) home = "/tmp";
    return WithSlash(home) + fallback + "tessaly/";
}

}  // namespace

std::string SystemEnv(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

bool IsInstalledProgramFolder(const std::string& programDir) {
    return IsDirectory(WithSlash(programDir) + kInstalledDataRelative);
}

AppPaths DecideAppPaths(const std::string& programDir, const EnvFn& env) {
    AppPaths p;
    p.programDir = WithSlash(programDir);
    // Root may write anywhere, so an installed program is told by its layout,
    // a portable one by whether its folder takes files.
    p.beside = !IsInstalledProgramFolder(p.programDir) &&
               ::access(p.programDir.c_str(), W_OK | X_OK) == 0;
    if (p.beside) {
        p.configDir = p.stateDir = p.cacheDir = p.reportDir = p.programDir;
        p.tempDir = p.programDir + "TEMP";
    } else {
        p.configDir = XdgFolder(env, "XDG_CONFIG_HOME", ".config/");
        p.stateDir = XdgFolder(env, "XDG_STATE_HOME", ".local/state/");
        p.cacheDir = XdgFolder(env, "XDG_CACHE_HOME", ".cache/");
        p.reportDir = p.stateDir;
        p.tempDir = p.cacheDir + "TEMP";
    }
    p.guidePdf = IsInstalledProgramFolder(p.programDir)
                     ? fs::path(p.programDir + "../share/doc/tessaly/Tessaly.pdf")
                           .lexically_normal()
                           .string()
                     : p.programDir + "Tessaly.pdf";
    p.iniPath = p.configDir + "Tessaly.ini";
    p.logPath = p.stateDir + "Tessaly_mono.log";
    return p;
}

bool CreateAppFolders(const AppPaths& paths) {
    if (paths.beside) return true;
    bool ok = true;
    for (const std::string& dir : {paths.configDir, paths.stateDir, paths.cacheDir}) {
        std::error_code ec;
        // Folders made here are the user's own (0700, as the XDG rules ask).
        if (!IsDirectory(dir) && fs::create_directories(dir, ec)) {
            fs::permissions(dir, fs::perms::owner_all, fs::perm_options::replace, ec);
        }
        ok = ok && IsDirectory(dir);
    }
    return ok;
}

std::vector<std::string> AppPathsLogLines(const AppPaths& paths) {
    if (paths.beside) return {};
    return {"Settings, log and temporary files are kept in the user's folders:",
            "Parameter file: " + paths.iniPath, "Run log: " + paths.logPath,
            "Reports: " + paths.reportDir, "Default temporary folder: " + paths.tempDir};
}

std::string AppPathsHelp(const AppPaths& paths) {
    std::string text =
        "Files: the parameter file Tessaly.ini, the run log Tessaly_mono.log and the\n"
        "temporary folder TEMP are kept beside the program when its folder is writable\n"
        "(a portable folder). An installed program keeps them in\n"
        "$XDG_CONFIG_HOME/tessaly/ (default ~/.config/tessaly/), $XDG_STATE_HOME/tessaly/\n"
        "(~/.local/state/tessaly/) and $XDG_CACHE_HOME/tessaly/TEMP (~/.cache/tessaly/TEMP).\n";
    text += "This program uses: " + paths.iniPath + ", " + paths.logPath + ", " + paths.tempDir +
            "\n";
    return text;
}

}  // namespace tessaly
