// The encoding step of a conversion: the numbered stills and the sound into
// one output movie, behind the "Please wait..." window.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "app/app_state.h"
#include "app/user_interface.h"
#include "convert/encoder_command.h"

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
