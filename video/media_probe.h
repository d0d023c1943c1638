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
// An encoder that writes no line for `stallLimitMs` is ended the same way.
void ProbeVideoFile(const std::string& programDir, const std::string& path, ProbeTexts& texts,
                    const std::atomic<bool>* stop = nullptr,
                    int stallLimitMs = kDefaultEncoderStallSeconds * 1000);

// The sound extraction command for the given encoder program:
//   <encoder> -i "file:<video>" -f wav -ar 44100 -ac 2 -acodec pcm_s16le -y "file:<APATH>/temp.wav"
// with both paths exactly as given. A one-channel sound (`mono`) gets
// " -af " + kMonoOnBothChannels after "-f wav", so it keeps its level.
CommandLine AudioExtractionCommand(const std::string& encoder, const std::string& videoPath,
                                   const std::string& tempFolder, bool mono = false);

// The channels of a movie's sound as the encoder takes it: of its first
// sound track ("-map N:a:0") and the most that any of its tracks has (the
// one the encoder picks by itself). 0 without sound or a readable file.
struct SoundChannels {
    int first = 0;
    int most = 0;
};
SoundChannels ReadSoundChannels(const std::string& path);

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
// ends the extraction early, and so does a stall: no growth of temp.wav
// and no progress line of the extractor for `stallLimitMs` (0: wait for
// ever). Its progress lines go to kSoundReportName there, removed after.
inline constexpr const char* kSoundReportName = "sound_report.txt";
AudioExtractionResult ExtractAudioTrack(const std::string& programDir,
                                        const std::string& videoPath,
                                        const std::string& tempFolder,
                                        const LogFn& log = {},
                                        const std::atomic<bool>* stop = nullptr,
                                        int stallLimitMs = kDefaultEncoderStallSeconds * 1000);

}  // namespace tessaly
