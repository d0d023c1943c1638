#include "convert/export.h"

#include <sys/stat.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <cmath>
#include <deque>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <thread>

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

FileStamp StampOf(const std::string& path) {
    FileStamp stamp;
    stamp.exists = ::stat(path.c_str(), &stamp.st) == 0;
    return stamp;
}

bool ChangedSince(const FileStamp& before, const std::string& path) {
    const FileStamp now = StampOf(path);
    if (!now.exists) return false;
    if (!before.exists) return true;
    return now.st.st_ino != before.st.st_ino || now.st.st_size != before.st.st_size ||
           now.st.st_mtim.tv_sec != before.st.st_mtim.tv_sec ||
           now.st.st_mtim.tv_nsec != before.st.st_mtim.tv_nsec;
}

namespace {

bool Contains(const std::string& text, const char* piece) {
    return text.find(piece) != std::string::npos;
}

}  // namespace

std::string KnownWriteFailure(const std::string& reportPath, const std::vector<std::string>& outputs) {
    // Anywhere in the report: the encoder's closing statistics follow it.
    for (const std::string& line : LastLines(reportPath, 10000)) {
        const char* reason = Contains(line, "File too large") ? "file too large" : nullptr;
        if (reason == nullptr) continue;
        // The output the line names, else the first.
        std::string output = outputs.empty() ? std::string() : outputs.front();
        for (const std::string& candidate : outputs) {
            if (Contains(line, candidate.c_str())) output = candidate;
        }
        return std::string(reason) + " (" + output + ")";
    }
    return {};
}

std::deque<std::string> LastReportLines(const std::string& path) {
    return LastLines(path, kErrorLinesKept);
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
    }
    std::string reason = "the encoder failed (" + DescribeOutcome(outcome) + ")";
    if (!errors.empty()) reason += ": " + errors.back();
    return reason;
}

ExportResult ConvertRectFFMPEG(const EncoderJob& job, RunLog& log,
                               const std::atomic<int32_t>* stop) {
    ExportResult result;
    result.outputPath = job.outputPath;
    EncoderCommand command = BuildEncoderCommand(job);
    result.videoExt = command.videoExt;
    log.WriteLogLine("ConvertRectFFMPEG aVideoEXT " + command.videoExt);
    log.WriteLogLine("FFMPEG : " + command.text);
    if (!command.known) {
        result.error = "cannot write " + job.outputPath + ": unsupported extension '" +
                       command.videoExt + "' (use " + KnownExtensionList() + ")";
        return result;
    }
    if (!command.problem.empty()) {
        result.error = "cannot write " + job.outputPath + ": " + command.problem;
        log.WriteLogLine("FFMPEG failed: " + result.error);
        return result;
    }

    // The encoder's error output goes into the temporary folder, read back
    // for the log when it fails, and removed.
    const std::string& output = job.outputPath;
    const FileStamp before = StampOf(output);
    RunOptions options;
    options.stderrPath = job.tempFolder + "/encoder_report.txt";
    options.stop = stop;
    // Its progress lines (the report) and its growing output are signs of life.
    options.stallLimitMs = job.encoderStallMs;
    options.progressFiles = {output};
    const ChildOutcome outcome = RunChild(command.argv, options);
    result.exitStatus = outcome.status;
    result.started = outcome.status != kCannotStart;
    result.stopped = outcome.stopped;
    std::deque<std::string> errors = LastLines(options.stderrPath, kErrorLinesKept);
    const std::string writeFailure = KnownWriteFailure(options.stderrPath, {output});
    std::error_code ec;
    fs::remove(options.stderrPath, ec);

    std::string problem;
    if (!result.started) {
        problem = "the encoder program " + job.encoderProgram + " could not be started";
    } else if (outcome.stopped) {
        problem = "stopped";
    } else if (outcome.status != 0) {
        problem = EncoderFailure(outcome, errors, output);
    } else if (!writeFailure.empty()) {
        // ffmpeg may end with status 0 although its last writes failed.
        problem = writeFailure;
    } else {
        // An exit status of 0 is not proof: read the movie back.
        OutputExpectation want;
        want.width = ResizedDimension(job.outW, job.resizeIndex);
        want.height = ResizedDimension(job.outH, job.resizeIndex);
        want.frames = job.frameCount;
        want.frameRate = job.avgTimePerFrame > 0 ? 1.0e7 / static_cast<double>(job.avgTimePerFrame) : 30.0;
        want.outputRate = EncoderOutputRate(command.videoExt, StillInputRate(job.avgTimePerFrame));
        if (want.outputRate == want.frameRate) want.outputRate = 0;
        want.sound = job.hasAudio;
        problem = VerifyOutputMovie(output, want);
        if (!problem.empty()) problem = "the encoded movie is not right: " + problem;
    }
    result.written = problem.empty();
    if (result.written) return result;

    result.error = "cannot write " + output + ": " + problem;
    // A broken or partial movie must not pass for a good one; a file the
    // encoder never touched stays.
    if (ChangedSince(before, output)) fs::remove(output, ec);
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
        result = ConvertRectFFMPEG(job, app.log, &app.stopRequested);
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
