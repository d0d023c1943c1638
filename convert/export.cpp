#include "convert/export.h"

#include <chrono>
#include <cmath>
#include <deque>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <thread>

#include "app/format.h"
#include "video/encoder_program.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;

// How many of the encoder's last error lines go into the run log.
constexpr size_t kErrorLinesKept = 5;

std::deque<std::string> LastLines(const std::string& path, size_t count) {
    std::deque<std::string> lines;
    std::ifstream in(path, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        // ffmpeg redraws its status line with CR; keep the last part.
        while (!line.empty() && line.back() == '\r') line.pop_back();
        size_t cr = line.find_last_of('\r');
        if (cr != std::string::npos) line = line.substr(cr + 1);
        if (line.empty()) continue;
        lines.push_back(line);
        if (lines.size() > count) lines.pop_front();
    }
    return lines;
}

bool NonEmptyFile(const std::string& path) {
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) return false;
    auto size = fs::file_size(path, ec);
    return !ec && size > 0;
}

}  // namespace

ExportResult ConvertRectFFMPEG(const EncoderJob& job, RunLog& log) {
    ExportResult result;
    result.outputPath = job.outputPath;
    EncoderCommand command = BuildEncoderCommand(job);
    result.videoExt = command.videoExt;
    log.WriteLogLine("ConvertRectFFMPEG aVideoEXT " + command.videoExt);
    log.WriteLogLine("FFMPEG : " + command.text);
    if (!command.known) {
        result.error = "cannot write " + job.outputPath + ": unsupported extension '" +
                       command.videoExt +
                       "' (use .flv, .mov, .avi, .mp4, .m4v, .ogg, .ogv or .webm)";
        return result;
    }

    // The encoder's error output goes into the temporary folder, read back
    // for the log when it fails, and removed.
    RunOptions options;
    options.stderrPath = job.tempFolder + "/encoder_report.txt";
    result.exitStatus = RunEncoderProgram(command.argv, options);
    result.started = result.exitStatus != kCannotStart;
    std::deque<std::string> errors = LastLines(options.stderrPath, kErrorLinesKept);
    std::error_code ec;
    fs::remove(options.stderrPath, ec);

    const std::string output = command.argv.back();
    result.written = result.exitStatus == 0 && NonEmptyFile(output);
    if (result.written) return result;

    if (!result.started) {
        result.error = "cannot write " + output + ": the encoder program " + job.encoderProgram +
                       " could not be started";
    } else {
        result.error = "cannot write " + output + ": the encoder failed (exit status " +
                       std::to_string(result.exitStatus) + ")";
        if (!errors.empty()) result.error += ": " + errors.back();
    }
    log.WriteLogLine("FFMPEG failed: " + result.error);
    for (const std::string& line : errors) log.WriteLogLine("FFMPEG error: " + line);
    return result;
}

ExportResult ShowExportProgress(FisheyeApp& app, UserInterface& ui, const EncoderJob& job) {
    using Clock = std::chrono::steady_clock;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ui.OpenExportProgress();
    const Clock::time_point start = Clock::now();

    ExportResult result;
    app.encoderBusy = 1;
    std::thread exporter([&] {
        result = ConvertRectFFMPEG(job, app.log);
        app.encoderBusy = 0;
    });
    int turn = 0;
    while (app.encoderBusy.load() == 1) {
        if (++turn % 2 == 0) {
            double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
            ui.UpdateExportProgress("Processing time: " +
                                    FormatClock(RoundHalfEvenToInt32(std::floor(elapsed))));
        }
        ui.YieldStep(32);
    }
    exporter.join();
    ui.CloseExportProgress();
    return result;
}

}  // namespace tessaly
