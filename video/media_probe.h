// Handing a movie to the external encoder: the probe that describes its
// streams and the extraction of its sound into "temp.wav".
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "video/encoder_program.h"
#include "video/probe_report.h"

namespace tessaly {

using LogFn = std::function<void(const std::string&)>;

inline constexpr const char* kProbeReportName = "metrixVideoVrel.txt";
inline constexpr const char* kAudioFileName = "temp.wav";

// Probes the movie: runs "encoder -i path" with its error output in
// programDir + "metrixVideoVrel.txt" (an older report is deleted first),
// then fills the texts from that report and deletes it. The path is used
// exactly as given. A blank path or one that is no regular file leaves the
// texts untouched; a missing encoder or report leaves them at their initial
// values (file name only). A raised `stop` ends the encoder at once (the
// texts then keep what its report holds).
void ProbeVideoFile(const std::string& programDir, const std::string& path, ProbeTexts& texts,
                    const std::atomic<bool>* stop = nullptr);

// The sound extraction command for the given encoder program:
//   <encoder> -i "file:<video>" -f wav -ar 44100 -ac 2 -acodec pcm_s16le -y "file:<APATH>/temp.wav"
// with both paths exactly as given.
CommandLine AudioExtractionCommand(const std::string& encoder, const std::string& videoPath,
                                   const std::string& tempFolder);

// True when the file is a WAV whose data chunk holds at least one sample frame.
bool WavHasSamples(const std::string& path);

struct AudioExtractionResult {
    CommandLine command;
    int exitStatus = kCannotStart;
    ChildOutcome outcome;
    bool wavWritten = false;  // "temp.wav" exists and holds samples
};

// Extracts the sound of the movie into tempFolder + "/temp.wav" (44,100 Hz,
// stereo, 16-bit PCM) and waits for it. An older "temp.wav" is removed first,
// so a movie without sound never picks up the sound of an earlier run. The
// command text is logged when a log function is given; `stop` (optional)
// ends the extraction early.
AudioExtractionResult ExtractAudioTrack(const std::string& programDir,
                                        const std::string& videoPath,
                                        const std::string& tempFolder,
                                        const LogFn& log = {},
                                        const std::atomic<bool>* stop = nullptr);

}  // namespace tessaly
