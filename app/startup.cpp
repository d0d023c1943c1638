#include "app/startup.h"

#include <filesystem>
#include <system_error>

#include "app/app_paths.h"
#include "app/format.h"
#include "app/parameter_file.h"
#include "app/still_names.h"

namespace tessaly {
namespace fs = std::filesystem;

namespace {

std::string WithoutTrailingSlash(const std::string& dir) {
    if (dir.size() > 1 && dir.back() == '/') return dir.substr(0, dir.size() - 1);
    return dir;
}


}  // namespace

int RemoveStaleStills(const std::string& folder) {
    int removed = 0;
    for (const char* ext : {".bmp", ".jpg"}) {
        std::error_code ec;
        fs::directory_iterator it(folder, ec);
        if (ec) return removed;
        for (; it != fs::directory_iterator(); it.increment(ec)) {
            if (ec) break;
            std::error_code typeEc;
            if (!it->is_regular_file(typeEc)) continue;
            if (!IsStillFileName(it->path().filename().string(), ext)) continue;
            std::error_code rmEc;
            if (fs::remove(it->path(), rmEc)) ++removed;
        }
    }
    return removed;
}

std::string FormatFreeSpace(const std::string& folder) {
    std::error_code ec;
    // A folder not made yet will live on its nearest existing parent's disk.
    fs::path existing = fs::absolute(folder.empty() ? fs::path(".") : fs::path(folder), ec);
    while (!ec && !fs::exists(existing, ec) && existing.has_relative_path()) {
        existing = existing.parent_path();
    }
    const fs::space_info info = fs::space(existing, ec);
    const double available =
        ec || info.available == static_cast<std::uintmax_t>(-1) ? 0.0
                                                                : static_cast<double>(info.available);
    return FormatMask(available / 1000000000.0, "####.###.###.###") + " bytes";
}

std::string FallbackTempFolder(const AppPaths& paths) {
    return paths.beside ? WithoutTrailingSlash(paths.programDir) : WithoutTrailingSlash(paths.cacheDir);
}

void StartUpCore(FisheyeApp& app, const StartUpOptions& options) {
    std::string programDir = options.programDir;
    if (programDir.empty() || programDir.back() != '/') programDir += '/';
    app.env.programDir = programDir;
    const std::string programFolder = WithoutTrailingSlash(programDir);

    app.run.tempFormat = ParseTempFormat(options.firstArgument);
    app.settings.Change([](AppSettings& s) { s.FPS = 1; });

    const AppPaths paths = DecideAppPaths(programDir);
    CreateAppFolders(paths);
    std::error_code ec;
    // A failure shows later, not here; a private run makes its own folder.
    if (!options.privateRun) fs::create_directory(paths.tempDir, ec);

    app.env.logPath = paths.logPath;
    if (!options.privateRun) {
        app.env.log.SetPath(app.env.logPath);
        app.env.log.StartNew(options.now ? options.now : std::time(nullptr));
        for (const std::string& line : AppPathsLogLines(paths)) app.env.log.WriteLogLine(line);
    }

    const fs::path cwd = fs::current_path(ec);
    app.env.iniPath = options.iniPathOverride.empty() ? paths.iniPath : options.iniPathOverride;
    app.run.progress.Set(ProgressTexts{});
    app.run.showInputVideo = true;
    app.run.showOutputVideo = true;
    app.run.resizeChoice = 0;
    app.run.frameWidth = kStartFrameWidth;
    app.run.frameHeight = kStartFrameHeight;
    app.settings.Change([&](AppSettings& s) {
        s.OPATH = ec ? std::string() : cwd.string();
        s.APATH = paths.tempDir;
        s.ASPECT = 0;
        s.SHARPEN_CH = 1;
        s.CONTRAST_CH = 0;
        s.BRIGHTNESS_CH = 0;
        s.NOISE_CH = 0;
        s.AUTOSAVE = 1;
        s.DSSETUP = 0;
        s.BITRATE = 0;
        s.CODECMODE = 0;
        ResetCut(s);
    });

    if (fs::exists(app.env.iniPath, ec)) {
        LoadParameters(app);
        app.settings.Change([&paths](AppSettings& s) {
            s.APATH = TrimBlanksAndNuls(s.APATH);
            if (s.APATH.empty()) s.APATH = FallbackTempFolder(paths);
        });
    }

    if (options.privateRun) return;
    RemoveStaleStills(app.settings->APATH);
    LogTemporaryFolder(app.env.log, app.settings->APATH);
}

void LogTemporaryFolder(RunLog& log, const std::string& folder) {
    log.WriteLogLine("Temp file:");
    log.WriteLogLine(folder);
    log.WriteLogLine("Temp Folder Free Space:");
    log.WriteLogLine(FormatFreeSpace(folder));
}

void Shutdown(FisheyeApp& app) {
    app.env.log.WriteLogLine("EXIT11");
    if (app.run.shutdownDone.exchange(true)) return;
    app.run.streamState = StreamState::Stopped;
    app.run.RequestStop();
    // Instead of fixed waits, stop playback and then wait for the threads
    // that saw the flags to finish.
    app.run.shutdown.RunStopHooks();
    app.env.log.WriteLogLine("EXIT2");
    app.run.shutdown.RunJoinHooks();
    app.run.streamState = StreamState::Stopped;
    app.env.log.WriteLogLine("EXIT3");
}

}  // namespace tessaly
