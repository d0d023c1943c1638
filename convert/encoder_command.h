// The external encoder's command line for one output movie: the numbered
// stills of a conversion (and its sound, when there is some) into the
// container that the output file's extension names.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tessaly {

// What one encoding needs to know, gathered by the caller.
struct EncoderJob {
    std::string encoderProgram;  // path of the encoder program
    std::string tempFolder;      // APATH: the stills and temp.wav live here
    std::string outputPath;      // the movie to write
    int32_t tempFormat = 1;      // 1 = BMP stills, anything else = JPEG stills
    int32_t quality = 0;         // q: 0 = the encoder's defaults, 1..21 levels
    int32_t resizeIndex = 0;     // k: 0 = natural size, 1..5 = 90 % .. 50 %
    int32_t outW = 0;
    int32_t outH = 0;
    int64_t avgTimePerFrame = 0;  // 100-ns units; 0 = unknown (30 fps)
    double durationSeconds = 0;
    bool hasAudio = false;       // temp.wav exists and is not empty
};

struct EncoderCommand {
    std::string videoExt;           // aVideoEXT: ".mp4" etc., lower case
    bool known = false;             // the extension names one of the containers
    std::string text;               // the command line as the log shows it
    std::vector<std::string> argv;  // the same command as an argument vector
};

// aVideoEXT: the path's extension (from the last "." after the last "/" or
// ":"), lower case, dot included; empty when there is none or the path is too
// long for the file system.
std::string OutputExtension(const std::string& path);

// The encoded frame size for resize index k (1..5): 16 * trunc(f * size / 16)
// with the single-precision factors 0.9, 0.8, 0.7, 0.6, 0.5. k = 0 gives the
// size unchanged.
int32_t ResizedDimension(int32_t size, int32_t resizeIndex);

// temp.wav inside the temporary folder, and whether it exists and holds data.
std::string TempWavPath(const std::string& tempFolder);
bool HasUsableWav(const std::string& tempFolder);

// The still pattern the encoder reads ("mono%06d.jpg" or "mono%06d.bmp").
std::string StillPattern(const std::string& tempFolder, int32_t tempFormat);

// Builds the command. For an unknown extension `known` is false and the text
// and the argument vector are empty. quality is expected in 0..21 and
// resizeIndex in 0..5 (out-of-range resize indices mean natural size).
EncoderCommand BuildEncoderCommand(const EncoderJob& job);

}  // namespace tessaly
