#include "convert/export.h"

#include <sys/stat.h>

#include <chrono>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <cmath>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <thread>

#include "app/app_paths.h"
#include "app/format.h"
#include "video/encoder_program.h"
#include "video/movie_check.h"

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

}  // namespace

namespace {

bool Contains(const std::string& text, const char* piece) {
    return text.find(piece) != std::string::npos;
}

}  // namespace

std::deque<std::string> LastReportLines(const std::string& path) {
    return LastLines(path, kErrorLinesKept);
}

int DiskErrorInReport(const std::string& reportPath, std::string* found) {
    std::ifstream in(reportPath, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        // ffmpeg ends such a line with the system's text; a file name that
        // merely contains the words ends in a quote.
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
        int code = 0;
        if (line.ends_with("No space left on device")) code = ENOSPC;
        else if (line.ends_with("File too large")) code = EFBIG;
        else if (line.ends_with("Disk quota exceeded")) code = EDQUOT;
        if (code == 0) continue;
        if (found != nullptr) *found = line;
        return code;
    }
    return 0;
}

std::string EncoderFailure(const ChildOutcome& outcome, const std::deque<std::string>& errors,
                           const std::string& output) {
    if (outcome.stalled) return StallText(outcome);
    // A write past the file size limit (`ulimit -f`).
    if (outcome.signal == SIGXFSZ) return "file too large (" + output + ")";
    if (outcome.signal != 0) {
        return "the encoder was killed by signal " + std::to_string(outcome.signal) + " (" +
               strsignal(outcome.signal) + ")";
    }
    for (const std::string& line : errors) {
        if (Contains(line, "No space left on device")) return "no space left on device (" + output + ")";
        if (Contains(line, "File too large")) return "file too large (" + output + ")";
        if (Contains(line, "Permission denied")) return "permission denied (" + output + ")";
        if (Contains(line, "Cannot allocate memory") || (Contains(line, "malloc") && Contains(line, "failed"))) {
            return "the encoder ran out of memory (" + line + ")";
        }
    }
    std::string reason = "the encoder failed (" + DescribeOutcome(outcome) + ")";
    // "Conversion failed!" closes every failed ffmpeg run; the reason is
    // the line before it.
    std::string last, cause;
    for (const std::string& line : errors) {
        if (line == "Conversion failed!") continue;
        cause = line;
    }
    if (!errors.empty()) last = errors.back();
    if (!cause.empty() && cause != last) {
        reason += ": " + cause + " (" + last + ")";
    } else if (!last.empty()) {
        reason += ": " + last;
        if (last == "Conversion failed!") reason += " (the encoder gave no reason)";
    }
    return reason;
}

std::string EncoderMissing(const std::string& encoderProgram, const std::string& programDir) {
    std::string dir = programDir;
    if (!dir.empty() && dir.back() != '/') dir += '/';
    const std::string places = "looked for " + dir + kEncoderRelativePath + ", " + dir +
                               kInstalledDataRelative + kEncoderRelativePath + " and ffmpeg on PATH";
    if (encoderProgram.empty()) return "the encoder program is missing (" + places + ")";
    return "the encoder program " + encoderProgram + " cannot be started (" + places + ")";
}

namespace {

// What the encoded movie of `job` must hold when read back.
OutputExpectation ExpectedMovie(const EncoderJob& job, const std::string& videoExt) {
    OutputExpectation want;
    want.width = ResizedDimension(job.outW, job.resizeIndex);
    want.height = ResizedDimension(job.outH, job.resizeIndex);
    want.frames = job.frameCount;
    want.frameRate = job.timePerFrame.count() > 0 ? 1.0e7 / static_cast<double>(job.timePerFrame.count()) : 30.0;
    want.outputRate = EncoderOutputRate(videoExt, StillInputRate(job.timePerFrame));
    if (want.outputRate == want.frameRate) want.outputRate = 0;
    want.sound = job.hasAudio;
    return want;
}

}  // namespace

ExportResult EncodeOutput(const EncoderJob& job, RunLog& log,
                               const std::atomic<bool>* stop) {
    ExportResult result;
    result.outputPath = job.outputPath;
    EncoderCommand command = BuildEncoderCommand(job);
    result.videoExt = command.videoExt;
    log.WriteLogLine("ConvertRectFFMPEG aVideoEXT " + command.videoExt);
    std::string pendingError;
    if (command.known && command.problem.empty()) {
        Result<PendingFile> pending = CreatePendingFile(job.outputPath);
        if (pending.ok()) result.pending = std::move(pending).value();
        pendingError = pending.reason();
    }
    if (!result.pending.tempPath.empty()) {
        // The encoder writes the hidden file; the output's own name is
        // touched only by the rename of a good movie.
        EncoderJob hidden = job;
        hidden.writePath = result.pending.tempPath;
        command = BuildEncoderCommand(hidden);
    }
    log.WriteLogLine("FFMPEG : " + command.text);
    if (!command.known) {
        result.error = "cannot write " + job.outputPath + ": unsupported extension '" +
                       command.videoExt + "' (use " + KnownExtensionList() + ")";
        return result;
    }
    if (!command.problem.empty() || !pendingError.empty()) {
        result.error = "cannot write " + job.outputPath + ": " +
                       (command.problem.empty() ? pendingError : command.problem);
        log.WriteLogLine("FFMPEG failed: " + result.error);
        return result;
    }

    // The encoder's error output goes into the temporary folder, read back
    // for the log when it fails, and removed.
    const std::string& output = job.outputPath;
    RunOptions options;
    options.stderrPath = job.tempFolder + "/encoder_report.txt";
    options.stop = stop;
    // Its progress lines (the report) and its growing output are signs of life.
    options.stallLimitMs = job.encoderStallMs;
    options.progressFiles = {result.pending.tempPath};  // the file it writes
    const ChildOutcome outcome = RunChild(command.argv, options);
    result.exitStatus = outcome.status;
    result.started = outcome.status != kCannotStart;
    result.stopped = outcome.stopped;
    std::deque<std::string> errors = LastLines(options.stderrPath, kErrorLinesKept);
    const int diskError = DiskErrorInReport(options.stderrPath);
    std::error_code ec;
    fs::remove(options.stderrPath, ec);

    std::string problem;
    if (!result.started) {
        problem = EncoderMissing(job.encoderProgram, job.programDir);
    } else if (outcome.stopped) {
        problem = "stopped";
    } else if (outcome.status != 0) {
        problem = EncoderFailure(outcome, errors, output);
    } else if (diskError != 0) {
        // ffmpeg may end with status 0 although its last writes failed.
        problem = DiskFullReason(diskError, output);
    } else {
        // An exit status of 0 is not proof: read the movie back.
        const Status verified = VerifyOutputMovie(result.pending.tempPath, ExpectedMovie(job, command.videoExt));
        if (!verified.ok()) problem = "the encoded movie is not right: " + verified.reason();
    }
    // A write that failed for want of room is the reason, whatever followed.
    if (!problem.empty() && !outcome.stopped && diskError != 0) problem = DiskFullReason(diskError, output);
    result.verified = problem.empty();
    if (result.verified) return result;

    result.error = "cannot write " + output + ": " + problem;
    // A broken or partial movie must not pass for a good one; the file of
    // the output's name was never touched.
    DiscardPendingFile(result.pending);
    log.WriteLogLine("FFMPEG failed: " + result.error);
    for (const std::string& line : errors) log.WriteLogLine("FFMPEG error: " + line);
    return result;
}

// How often the "Please wait" window's processing time is brought up to date.
constexpr std::chrono::milliseconds kProcessingClockTurn{250};

ExportResult ShowExportProgress(FisheyeApp& app, UserInterface& ui, const EncoderJob& job) {
    using Clock = std::chrono::steady_clock;
    ui.OpenExportProgress();
    const Clock::time_point start = Clock::now();

    ExportResult result;
    app.run.encoderBusy = true;
    std::thread exporter([&] {
        result = EncodeOutput(job, app.env.log, &app.run.stopRequested);
        app.run.encoderBusy = false;
        app.run.events.Wake();
    });
    // The window's clock goes on each second; the encoder's end wakes the wait.
    while (!app.run.events.WaitUntil([&app] { return !app.run.encoderBusy.load(); }, kProcessingClockTurn)) {
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        ui.UpdateExportProgress("Processing time: " + FormatClock(RoundHalfEvenToInt32(std::floor(elapsed))));
    }
    exporter.join();
    ui.CloseExportProgress();
    return result;
}

}  // namespace tessaly
