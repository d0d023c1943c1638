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
#include "video/encoder_program.h"

namespace tessaly {

struct ExportResult {
    std::string outputPath;
    std::string videoExt;
    bool started = false;  // an encoder process ran
    int exitStatus = -1;   // the encoder's exit status (-1: not started)
    bool written = false;  // exit status 0 and an output that reads back as expected
    bool stopped = false;  // a stop request ended the encoder
    std::string error;     // one line for the user when not written
};

// What a path was before an encoder ran, to tell whether the run wrote it:
// a failed run removes what it wrote and never a file it did not touch.
struct FileStamp {
    bool exists = false;
    struct stat st {};
};
FileStamp StampOf(const std::string& path);
bool ChangedSince(const FileStamp& before, const std::string& path);

// The last lines of an encoder's error output (its progress line redraws
// reduced to their last state).
std::deque<std::string> LastReportLines(const std::string& path);

// Why an encoder failed, in the user's words where it is a known reason
// ("the encoder was killed by signal 9", "no space left on device (out.mp4)").
std::string EncoderFailure(const ChildOutcome& outcome, const std::deque<std::string>& errors,
                           const std::string& output);

// A write failure the encoder's report (its error output) holds even when
// it exited with 0 (ffmpeg does after "Error writing trailer of o.mp4: File
// too large"): "file too large (o.mp4)" for the output the line names;
// empty when there is none.
std::string KnownWriteFailure(const std::string& reportPath, const std::vector<std::string>& outputs);

// Builds the command for the job, logs "ConvertRectFFMPEG aVideoEXT " and
// "FFMPEG : " lines, runs the encoder and checks its exit status and the
// output movie (picture size, frames, duration, sound). A failure is logged
// with the encoder's last error lines, and an output the run wrote or
// changed is removed. `stop` (optional) ends the encoder early.
ExportResult ConvertRectFFMPEG(const EncoderJob& job, RunLog& log,
                               const std::atomic<int32_t>* stop = nullptr);

// Runs ConvertRectFFMPEG on a thread of its own while the export window is
// shown: encoderBusy is 1 until the encoder has finished, and the window's
// "Processing time: hh:mm:ss" text is refreshed every second turn of 32 ms.
ExportResult ShowExportProgress(FisheyeApp& app, UserInterface& ui, const EncoderJob& job);

}  // namespace tessaly
