// The external encoder's command line for one output movie: the numbered
// stills of a conversion (and its sound, when there is some) into the
// container that the output file's extension names.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/still_format.h"
#include "output/output_extension.h"
#include "video/media_info.h"

namespace tessaly {

// What one encoding needs to know, gathered by the caller.
struct EncoderJob {
    std::string encoderProgram;  // path of the encoder program
    std::string tempFolder;      // APATH: the stills and temp.wav live here
    std::string outputPath;      // the movie to write
    std::string writePath;       // where the encoder writes it (empty: outputPath)
    std::string programDir;      // where the encoder was looked for, for messages
    StillFormat tempFormat = StillFormat::Bmp;
    int32_t quality = 0;         // q: 0 = the encoder's defaults, 1..21 levels
    int32_t resizeIndex = 0;     // k: 0 = natural size, 1..5 = 90 % .. 50 %
    int32_t outW = 0;
    int32_t outH = 0;
    MediaTime timePerFrame{0};   // 0 = unknown (30 fps)
    double durationSeconds = 0;
    bool hasAudio = false;       // temp.wav exists and is not empty
    int32_t frameCount = 0;      // stills of the run, for the check of the output
    // The encoder is ended after this long without progress (0: never);
    // a minute by default.
    int32_t encoderStallMs = 60000;
};

struct EncoderCommand {
    std::string videoExt;           // aVideoEXT: ".mp4" etc., lower case
    bool known = false;             // the extension names one of the containers
    std::string problem;            // why the container cannot take this movie
                                    // (text and argv are then empty)
    std::string text;               // the command line as the log shows it
    std::vector<std::string> argv;  // the same command as an argument vector
};

// The encoded frame size for resize index k (1..5): 16 * trunc(f * size / 16)
// with the single-precision factors 0.9, 0.8, 0.7, 0.6, 0.5. k = 0 gives the
// size unchanged.
int32_t ResizedDimension(int32_t size, int32_t resizeIndex);

// The "-r" value for a time per frame: the rate with the mask "00.00", or
// "30" when the time per frame is 0.
std::string EncoderRate(MediaTime timePerFrame);
// False when that text says 0 fps (slower than one frame in 200 seconds),
// a rate the encoder refuses.
bool EncoderRateUsable(MediaTime timePerFrame);
// The "-t" value: "hh:mm:ss.mmm", 65.9 s gives "00:01:05.900";
// "hh:mm:ss.uuuuuu" with `microseconds`.
std::string EncoderDuration(double seconds, bool microseconds = false);

// temp.wav inside the temporary folder, and whether it exists and holds data.
std::string TempWavPath(const std::string& tempFolder);
bool HasUsableWav(const std::string& tempFolder);

// The still pattern the encoder reads ("mono%06d.jpg" or "mono%06d.bmp"),
// with every "%" of the folder doubled.
std::string StillPattern(const std::string& tempFolder, StillFormat tempFormat);

// Builds the command. For an unknown extension `known` is false and the text
// and the argument vector are empty; so are they when `problem` says why the
// container cannot take the movie. quality is expected in 0..21 and
// resizeIndex in 0..5 (out-of-range resize indices mean natural size).
// Paths go to the encoder as "file:" + path, exactly as given.
EncoderCommand BuildEncoderCommand(const EncoderJob& job);

// One encoder process that takes the converted frames through its standard
// input as raw top-down BGRX rows ("bgr0"), takes the sound straight
// from the source movie, and writes every output at once.
struct StreamJob {
    std::string encoderProgram;
    std::string sourcePath;      // read for its sound
    bool sound = false;          // the source has sound
    bool monoSound = false;      // of one channel: put on both unchanged
    int32_t width = 0;           // of the frames in the pipe
    int32_t height = 0;
    int32_t rateNum = 30;        // the source's exact frame rate
    int32_t rateDen = 1;
    double durationSeconds = 0;
    int32_t quality = 0;
    int32_t resizeIndex = 0;
    std::vector<std::string> outputs;
    std::vector<std::string> writePaths;  // where each output is written (empty: outputs)
    // Non-empty: the outputs are parts of a movie (convert/movie_part.h),
    // tagged with this comment; ".mkv" then names Matroska with the .mp4
    // row's video.
    std::string partTag;
};

// The command for a stream job: the same rows, levels and sizes as the still
// path (every frame once, at the source's rate).
// `known` is false when any output has an unknown extension.
EncoderCommand BuildStreamCommand(const StreamJob& job);

// The decoder's name of the video a row (or a ".mkv" part) writes: "h264",
// "vp9", "theora"; empty for an unknown extension and for MPEG-2, whose
// program streams are not joined.
std::string JoinableVideoCodec(const std::string& videoExt);

// Parts of a movie (concat list `listPath`, each part's video already in
// the output's codec) and the source's sound into one output, the picture
// copied packet for packet: the row of the output's extension for the
// sound, its quality text and container. `known` is false for an unknown
// extension, `problem` says why a row cannot take joined parts (MPEG-2).
struct JoinJob {
    std::string encoderProgram;
    std::string listPath;    // the concat demuxer's list of the parts
    std::string sourcePath;  // read for its sound
    bool sound = false;
    bool monoSound = false;  // of one channel: put on both unchanged
    double durationSeconds = 0;  // the limit of the whole movie (0: none)
    int32_t quality = 0;
    std::string outputPath;  // names the row
    std::string writePath;   // where the output is written (empty: outputPath)
};
EncoderCommand BuildJoinCommand(const JoinJob& job);

// The frame rate a row asks the encoder to write when it can differ from
// `sourceRate` (the chosen MPEG rate for .mpg), else 0: every other row keeps
// the source's own rate.
double EncoderOutputRate(const std::string& videoExt, double sourceRate);

// The source rate the still path gives the encoder: the "-r" text's value.
double StillInputRate(MediaTime timePerFrame);

// MPEG-2 video is written at one of its standard rates. A source at another
// rate gets the lowest standard rate that shows each frame a whole number of
// times (15 fps -> 30, 12.5 -> 25, 10 -> 30, 20 -> 60), else the lowest one
// above it (each frame at least once, a few twice); above 60 fps it cannot be
// carried without dropping frames and `usable` is false.
struct MpegRate {
    bool usable = false;
    std::string text;    // the "-r" value: "25", "30000/1001", ...
    double value = 0;
    std::string problem;  // when not usable, why, in one line
};
MpegRate ChooseMpegRate(double sourceRate);

// Whether the extension names an MPEG program stream row (".mpg", ".mpeg").
bool IsMpegExtension(const std::string& videoExt);

// The extensions of every row, for messages: ".flv, .mov, ... or .webm".
std::string KnownExtensionList();

// Why the output's container cannot take a movie at `sourceRate` frames per
// second; empty when it can (and for every row but MPEG).
std::string OutputRateProblem(const std::string& outputPath, double sourceRate);

}  // namespace tessaly
