// The encoding step of a conversion: the numbered stills and the sound into
// one output movie, behind the "Please wait..." window.
#pragma once

#include <sys/stat.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/user_interface.h"
#include "convert/encoder_command.h"
#include "output/pending_file.h"
#include "video/encoder_program.h"

namespace tessaly {

// An encoding writes its movie under a hidden temporary name beside the
// output (see output/pending_file.h); only a movie that read back as expected
// (and was marked, see convert/vr_marking.h) is renamed over the output's
// name. Whatever fails or is stopped removes the temporary file alone.
struct ExportResult {
    std::string outputPath;
    std::string videoExt;
    bool started = false;   // an encoder process ran
    int exitStatus = -1;    // the encoder's exit status (-1: not started)
    bool verified = false;  // exit status 0 and a movie that reads back as expected
    bool written = false;   // that movie now stands under outputPath
    bool stopped = false;   // a stop request ended the encoder or came before the rename
    std::string error;      // one line for the user when not written
    PendingFile pending;    // the encoder's movie while it waits for the rename
};

// Whether the encoder's report names a full disk or a file-size limit:
// ENOSPC, EFBIG or EDQUOT, else 0. Any line counts, not only the last ones:
// ffmpeg often reports the write that failed long before it ends.
// `line` (optional) gets the report's line that says so.
int DiskErrorInReport(const std::string& reportPath, std::string* line = nullptr);

// The last lines of an encoder's error output (its progress line redraws
// reduced to their last state).
std::deque<std::string> LastReportLines(const std::string& path);

// Why an encoder failed, in the user's words where it is a known reason
// ("the encoder was killed by signal 9", "no space left on device (out.mp4)").
// ffmpeg's closing "Conversion failed!" is no reason: the line before it is
// given with it.
std::string EncoderFailure(const ChildOutcome& outcome, const std::deque<std::string>& errors,
                           const std::string& output);

// The encoder program cannot be started: where it was looked for.
std::string EncoderMissing(const std::string& encoderProgram, const std::string& programDir);

// Builds the command for the job, logs "ConvertRectFFMPEG aVideoEXT " and
// "FFMPEG : " lines, runs the encoder into a hidden temporary file beside
// the output and checks its exit status and that movie (picture size,
// frames, duration, sound). A good movie is left in `pending` (verified);
// PlaceExportedMovie renames it into place. A failure is logged with the
// encoder's last error lines and removes the temporary file only.
// `stop` (optional) ends the encoder early.
ExportResult EncodeOutput(const EncoderJob& job, RunLog& log,
                               const std::atomic<bool>* stop = nullptr);

// Runs EncodeOutput on a thread of its own while the export window is
// shown: encoderBusy is 1 until the encoder has finished, and the window's
// "Processing time: hh:mm:ss" text is refreshed every second turn of 32 ms.
ExportResult ShowExportProgress(FisheyeApp& app, UserInterface& ui, const EncoderJob& job);

}  // namespace tessaly
