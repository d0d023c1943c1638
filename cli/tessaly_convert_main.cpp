// tessaly-convert: the whole conversion of the desktop program, without a
// window, for scripts and servers.
//
// Exit status: 0 every output movie was written; 1 the conversion or an
// encoding failed; 2 a bad option; 3 the input movie cannot be used.

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "app/app_paths.h"
#include "app/app_state.h"
#include "app/format.h"
#include "app/startup.h"
#include "cli/convert_options.h"
#include "cli/terminal_ui.h"
#include "convert/conversion_driver.h"
#include "convert/encoder_command.h"
#include "output/still_writer.h"
#include "transform/frame_pipeline.h"
#include "video/encoder_program.h"
#include "video/media_versions.h"
#include "convert/movie_conversion.h"

#ifndef TESSALY_VERSION
#define TESSALY_VERSION "unknown"
#endif

namespace tessaly {
namespace {

namespace fs = std::filesystem;

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInput = 3;

// Set by SIGINT / SIGTERM; a watcher thread turns it into a stop request so
// that the stills and the sound are still removed.
std::atomic<int32_t> gSignalled{0};

extern "C" void OnSignal(int) { gSignalled = 1; }

int Fail(int code, const std::string& message) {
    std::fprintf(stderr, "tessaly-convert: %s\n", message.c_str());
    return code;
}

bool FolderWritable(const std::string& folder) {
    return ::access(folder.c_str(), W_OK | X_OK) == 0;
}

std::string ParentFolder(const std::string& path) {
    fs::path parent = fs::path(path).parent_path();
    return parent.empty() ? std::string(".") : parent.string();
}

// Checks an output before any frame is converted, so that a typing error
// costs no conversion time.
std::string CheckOutput(const std::string& output, const std::string& input) {
    const std::string ext = OutputExtension(output);
    EncoderJob probe;
    probe.outputPath = output;
    if (!BuildEncoderCommand(probe).known) {
        return "cannot write " + output + ": unsupported extension '" + ext +
               "' (use .flv, .mov, .avi, .mp4, .m4v, .ogg, .ogv or .webm)";
    }
    const std::string folder = ParentFolder(output);
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) return "cannot write " + output + ": no folder " + folder;
    if (!FolderWritable(folder)) return "cannot write " + output + ": folder " + folder + " is not writable";
    if (fs::equivalent(output, input, ec)) return "the output movie " + output + " is the input movie";
    return {};
}

int WriterThreads() {
    const unsigned cores = std::thread::hardware_concurrency();
    return static_cast<int>(std::clamp(cores == 0 ? 1u : cores, 1u, 8u));
}

int Run(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    const ParsedOptions parsed = ParseConvertOptions(args);
    if (!parsed.ok) {
        std::fprintf(stderr, "tessaly-convert: %s\nTry 'tessaly-convert --help'.\n",
                     parsed.error.c_str());
        return kExitUsage;
    }
    const ConvertOptions& options = parsed.options;
    if (options.help) {
        std::fputs(ConvertUsage().c_str(), stdout);
        std::fputs("\nExit status: 0 every output movie written, 1 conversion or encoding failed,\n"
                   "2 bad option, 3 the input movie cannot be used.\n",
                   stdout);
        std::fputs(("\n" + AppPathsHelp(DecideAppPaths(ProgramFolder(argv[0])))).c_str(), stdout);
        return 0;
    }
    if (options.version) {
        std::fputs(VersionReport("tessaly-convert " TESSALY_VERSION, ProgramFolder(argv[0])).c_str(),
                   stdout);
        return 0;
    }
    if (!options.paramsFile.empty()) {
        std::error_code ec;
        if (!fs::is_regular_file(options.paramsFile, ec)) {
            return Fail(kExitUsage, "cannot read the parameter file " + options.paramsFile);
        }
    }
    for (const std::string& output : options.outputs) {
        std::string problem = CheckOutput(output, options.input);
        if (!problem.empty()) return Fail(kExitUsage, problem);
    }

    FisheyeApp app;
    StartUpOptions startUp;
    startUp.programDir = ProgramFolder(argv[0]);
    startUp.iniPathOverride = options.paramsFile;
    StartUpCore(app, startUp);
    ApplyConvertOptions(options, app);

    const std::string& temp = app.settings.APATH;
    std::error_code ec;
    fs::create_directories(temp, ec);
    if (!fs::is_directory(temp, ec) || !FolderWritable(temp)) {
        return Fail(kExitFailed, "cannot use the temporary folder " + temp);
    }
    // One conversion per temporary folder: a second one would delete and
    // overwrite this one's stills. The lock ends with the process.
    const int lock = ::open((temp + "/.tessaly-convert.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (lock < 0 || ::flock(lock, LOCK_EX | LOCK_NB) != 0) {
        return Fail(kExitFailed, "the temporary folder " + temp +
                                     " is in use by another conversion; choose another with --temp");
    }
    // Stills of an earlier run there would be encoded into this movie.
    RemoveStaleStills(temp);

    std::error_code inputEc;
    if (!fs::is_regular_file(options.input, inputEc)) {
        return Fail(kExitInput, "input movie not found: " + options.input);
    }
    if (FindEncoderProgram(app.programDir).empty()) {
        return Fail(kExitFailed, "no encoder program: install ffmpeg or put it at " +
                                     app.programDir + kEncoderRelativePath);
    }

    const bool interactive = ::isatty(STDERR_FILENO) == 1;
    TerminalUserInterface ui(stderr, interactive, options.quality, options.outputs);
    FramePipeline pipeline;

    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    std::atomic<bool> finished{false};
    std::thread watcher([&] {
        while (!finished.load()) {
            if (gSignalled.load() == 1) {
                app.stopRequested = 1;
                gSignalled = 2;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });

    ConversionOptions run;
    run.keepStills = options.keepStills;
    run.writerThreads = WriterThreads();
    // Without a window there is no preview pass to wait for and no window
    // that must see a flag change: the settling waits shrink to what the
    // threads need.
    run.timings.afterPreview = 0;
    run.timings.afterPause = 10;
    run.timings.afterRewind = 0;
    run.timings.cleanupTurn = 0;
    StreamTimings timings;
    timings.stopOlderStream = 0;  // no older stream to end
    timings.settleOlderStream = 0;
    timings.afterStream = 0;
    timings.connect = 0;
    timings.beforeLoop = 0;
    timings.afterStop = 0;
    const MovieConversion conversion = ConvertMovieFile(
        app, ui, pipeline, options.input, options.outputs.front(), run, timings,
        [&ui](const MediaInfo& info) { ui.SetTotalFrames(info.frameCount); });
    const ConversionResult& result = conversion.result;

    int code = 0;
    if (gSignalled.load() != 0) {
        code = Fail(kExitFailed, "stopped");
    } else if (!conversion.opened) {
        code = Fail(kExitInput, "cannot open " + options.input + ": " + conversion.openError);
    } else if (result.status != ConversionStatus::kDone) {
        code = Fail(result.status == ConversionStatus::kVideoMissing ? kExitInput : kExitFailed,
                    result.error);
    } else {
        for (const ExportResult& e : result.exports) {
            if (!e.written) code = Fail(kExitFailed, e.error);
        }
        if (result.frames == 0) code = Fail(kExitFailed, "the movie delivered no frame");
        if (code == 0) {
            const double seconds = ui.ConversionSeconds();
            std::string written;
            for (const ExportResult& e : result.exports) {
                written += (written.empty() ? "" : ", ") + e.outputPath;
            }
            char rate[32];
            std::snprintf(rate, sizeof rate, "%.1f", seconds > 0 ? result.frames / seconds : 0.0);
            std::fprintf(stderr,
                         "tessaly-convert: %d frames converted to %dx%d in %s (%s fps), %s; "
                         "wrote %s\n",
                         result.frames, result.outW, result.outH, FormatDuration(seconds).c_str(),
                         rate, result.hadSound ? "with sound" : "no sound", written.c_str());
            if (options.keepStills) {
                std::fprintf(stderr, "tessaly-convert: stills kept in %s\n", temp.c_str());
            }
        }
    }
    finished = true;
    watcher.join();
    return code;
}

}  // namespace
}  // namespace tessaly

int main(int argc, char** argv) { return tessaly::Run(argc, argv); }
