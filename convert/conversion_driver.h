// One conversion run: from the Convert command to the finished output
// movies. It plays the open movie once through the frame callback, which
// turns every frame into a numbered still, watches the progress, encodes the
// stills and the sound into each output movie in turn, and cleans up. The
// desktop program and the headless converter both run it; everything they
// show goes through the UserInterface, and it asks nothing: a run left open
// returns what the user may be asked next, and the caller's answers become
// export jobs over the kept stills (ExportKeptStills) and the run's end
// (EndConversion).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/still_format.h"
#include "app/user_interface.h"
#include "convert/export.h"
#include "transform/cut_geometry.h"
#include "transform/frame_buffer.h"
#include "transform/frame_pipeline.h"
#include "transform/stereo_layout.h"
#include "transform/transform_settings.h"
#include "video/media_info.h"
#include "video/open_movie.h"

namespace tessaly {

// What the driver asks of the frame pipeline that the preview shares.
struct ConversionHooks {
    // 1 while a preview pass runs.
    std::function<int32_t()> previewBusy;
    // The run's geometry from all four cut values, with the crop and output
    // buffers allocated; the build logs its lines through `log`.
    std::function<GeometryResult(const AppSettings& settings, const LogFn& log)> buildGeometry;
    // One delivered frame, due at `time` seconds, into the output frame
    // (null: frame refused).
    std::function<const FrameBuffer*(double time, const uint8_t* data, int32_t size)> convertFrame;
    // Release the output frame after the run; may be empty.
    std::function<void()> releaseOutput;
};

// Where each frame of a run reads its filter settings. A desktop session
// hands a reader that copies them under the settings lock (SharedSettings::Copy), so a slider
// moved during a run changes the next frame.
using SettingsReader = std::function<TransformSettings()>;

// The hooks onto the frame pipeline the preview shares. Every frame reads
// the settings through `readSettings` and the flip switch from the
// application as they are at that moment; without a reader the settings are
// those of the run's start (nothing changes them in a headless run). `paint`
// ends the input filters and may be empty. A refused frame is logged.
ConversionHooks PipelineHooks(FramePipeline& pipeline, FisheyeApp& app, PaintFn paint = {},
                              SettingsReader readSettings = {});

// The recording light's blink: it changes, and the frame counter and the
// position bar are updated, about every two thirds of a second.
inline constexpr std::chrono::milliseconds kRecordingBlink{660};
// A movie that delivers no new frame for this long has ended where it stopped
// (a damaged tail): the run goes on with the frames it has.
inline constexpr std::chrono::seconds kFrameStallLimit{8};
// How long a preview pass that runs when Convert is pressed may take to end
// before the run starts anyway.
inline constexpr std::chrono::seconds kPreviewFinishLimit{50};

// The clock-time limits of a run; tests shorten them. Every wait of a run
// ends early when what it waits for happens (RunEvents).
struct ConversionTimings {
    std::chrono::milliseconds blink = kRecordingBlink;
    std::chrono::milliseconds stallLimit = kFrameStallLimit;
    std::chrono::milliseconds previewLimit = kPreviewFinishLimit;
};

// The quality of each encoding is the user interface's CompressionLevel and
// its size the application's resizeChoice, both read when it starts.
struct ConversionOptions {
    bool keepStills = false;   // after a fully written run, leave the stills in the temporary folder
    int writerThreads = 0;     // threads that encode the stills beside the transform
    bool shutdownAtEnd = true;  // run Shutdown at the end of the run
    // A run that may go on returns after its frames and exports without
    // ending (ConversionResult::leftOpen): the stills, the sound and the
    // run's flags stay for export jobs until EndConversion. A lost sound
    // then ends the frame phase without an export (kSoundFailed), the frames
    // kept for a movie without sound. A stopped or failed run ends at once.
    bool leaveOpen = false;
    // The still path's outputs go into place together once every one is
    // verified (a stopped or failed run places none), not each as it is
    // done. The streaming path always places them so.
    bool placeTogether = false;
    // Refuse a run whose stills cannot fit the temporary folder's free space.
    bool checkTempSpace = false;
    // Non-empty: stream the frames into the encoder for these outputs
    // (RunStreamingConversion) instead of writing stills.
    std::vector<std::string> streamOutputs;
    // An encoder without progress for this long is ended and its output
    // fails (0: wait for ever). A slow encoder that progresses is waited for.
    int32_t encoderStallMs = kDefaultEncoderStallSeconds * 1000;
    // Non-zero: convert only part partIndex (1..partCount) of the movie (see
    // convert/movie_part.h) into the one stream output, without sound, tagged
    // with the slots it holds and `partSettings` for the join.
    int32_t partIndex = 0;
    int32_t partCount = 0;
    std::string partSettings;
    ConversionTimings timings;
    // Two eyes in each frame (input not kMono): each eye is converted with
    // its own cut and the two are joined into one frame
    // (convert/stereo_hooks.h). A job's run takes its MovieJob::stereo.
    StereoSettings stereo;
    // A pair of movies (stereo.input kPair): the right eye's movie, and the
    // right frame that goes with the left's first (left frame n shows with
    // right frame n + rightOffset). The run ends with the shorter of the two.
    std::string rightMovie;
    int32_t rightOffset = 0;
    // The settings the run converts with, copied by a caller whose other
    // threads change them; empty: a copy of the application's as the run starts.
    std::optional<AppSettings> settings;
};

// Threads that write stills beside the transform: one per core, 1 to 8.
int StillWriterThreads();

enum class ConversionStatus {
    kDone,          // frames converted and every export attempted
    kVideoMissing,  // the movie file no longer exists
    kNoStream,      // no movie open
    kBadCut,        // the cut gives no usable output
    kStillsFailed,  // a still could not be written (a full disk)
    kStopped,       // a stop request ended the run
    kBadRate,       // a frame rate the encoder refuses
    kNoSpace,       // the stills cannot fit the temporary folder
    kSoundFailed,   // the movie has sound but it could not be extracted
    kCannotSplit,   // the movie cannot be split into the parts asked for
};

// The stills a run wrote and what an encoding of them needs.
struct KeptStills {
    std::string folder;  // the temporary folder (empty: a streaming run, or one refused before its frames)
    StillFormat format = StillFormat::Bmp;
    MediaTime timePerFrame{0};
    double durationSeconds = 0;
    int32_t encoderStallMs = 0;
    bool placeTogether = false;
};

struct ConversionResult {
    ConversionStatus status = ConversionStatus::kNoStream;
    std::string error;      // one line for the user when the run itself failed
    int32_t frames = 0;     // stills written
    // Frames the movie delivered, and how many it declares (0: unknown);
    // see ShortDecodeText.
    int64_t decodedFrames = 0;
    int64_t declaredFrames = 0;
    bool declaredExactly = false;
    int32_t outW = 0;
    int32_t outH = 0;
    bool hadSound = false;  // the sound extraction left a temp.wav with samples
    std::string soundLeftOut;  // why the movie's sound track was left out (empty: it was not)
    std::vector<ExportResult> exports;  // one per encoding, in order
    KeptStills stills;
    // The run awaits export jobs or EndConversion (ConversionOptions::leaveOpen).
    bool leftOpen = false;

    // True when the run converted its frames and every export wrote its movie.
    bool AllWritten() const;
    // "converted 8 of the 50 frames the file declares" when the movie
    // decoded short (a damaged file), else empty.
    std::string ShortDecodeText() const;
};

// The whole run for the open `movie`: its frames once, then the stills
// encoded into each of `outputs` in turn (a stop ends the list).
ConversionResult RunConversion(FisheyeApp& app, UserInterface& ui, OpenMovie& movie,
                               const ConversionHooks& hooks, const std::vector<std::string>& outputs,
                               const ConversionOptions& options);

// An export job over the stills of a run left open: encoded into
// `outputPath` with the quality and size chosen now, the export added to
// `result`. A run whose sound was lost (kSoundFailed) goes on without it:
// the user took the movie without sound. A stop ends the run.
void ExportKeptStills(FisheyeApp& app, UserInterface& ui, ConversionResult& result, const std::string& outputPath,
                      const ConversionOptions& options);

// The end of a run left open, once nothing more is to be encoded: the
// temporary files go (the stills stay after a good run when asked to), the
// stream loop ends, the flags return to rest, and Shutdown runs when asked.
void EndConversion(FisheyeApp& app, UserInterface& ui, ConversionResult& result, const ConversionOptions& options,
                   const std::function<void()>& releaseOutput = {});

// The headless converter's default: the open movie converted once, every
// frame piped into one encoder that writes all `outputs` at once and takes
// the sound from the movie itself; no still and no WAV on disk. One export
// result per output, each read back and checked.
ConversionResult RunStreamingConversion(FisheyeApp& app, UserInterface& ui, OpenMovie& movie,
                                        const ConversionHooks& hooks,
                                        const std::vector<std::string>& outputs,
                                        const ConversionOptions& options);

// Current local time of day as "hh:mm:ss".
std::string TimeOfDayText();

// Where a run stands: the frame shown of the movie's count (more frames
// than announced stand past the end); the start without a frame count.
MoviePosition ConversionPosition(int32_t shownFrame, int32_t frameCount);

}  // namespace tessaly
