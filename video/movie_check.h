// What a movie file holds, read with libavformat before a conversion (is
// it a movie, has it a picture, has it sound) and after it (is the written
// movie complete), so that a failure is named in words and never reported
// as success.
#pragma once

#include <cstdint>
#include <string>

#include "app/result.h"

struct AVFormatContext;

namespace tessaly {

// The video stream a conversion decodes, as ffmpeg picks it
// (av_find_best_stream), passing over cover pictures; -1 when there is none.
// Its rate, duration, size and frames are the movie's.
int DecodedVideoStream(const AVFormatContext* ctx);

struct SourceFacts {
    bool usable = false;  // a readable movie with a decodable picture
    std::string error;    // why not, one line: "not a movie that can be read (...)"
    bool hasAudio = false;  // it carries a sound track whose decoder opens
    std::string soundProblem;  // a sound track that cannot be decoded, in words (it is left out)
    int rateNum = 0;        // the picture's frame rate as a fraction (0/0: unknown)
    int rateDen = 0;
    int videoStream = -1;   // the decoded stream's index (DecodedVideoStream)
};

// Opens the file exactly as named (never as a protocol or an option).
SourceFacts ReadSourceFacts(const std::string& path);

// The top-level boxes of an MP4 or QuickTime file: whether the file is one
// and whether it holds the index (the moov atom) that lists its frames.
struct Mp4Boxes {
    bool isMp4 = false;
    bool hasIndex = false;
};
Mp4Boxes ReadMp4Boxes(const std::string& path);

// Why a movie that libavformat refused (error `code`) cannot be read, in
// words: an MP4 with a missing or damaged index says so.
std::string UnreadableMovieReason(const std::string& path, int code);

// What a finished output must show.
struct OutputExpectation {
    int32_t width = 0;
    int32_t height = 0;
    int32_t frames = 0;       // frames converted
    double frameRate = 30;    // of the converted frames
    double outputRate = 0;    // the encoder's output rate when it differs, else 0
    bool sound = false;       // a sound stream must be there (and none otherwise)
};

struct OutputFacts {
    int32_t width = 0;
    int32_t height = 0;
    int64_t packets = 0;     // video frames stored
    double videoSeconds = 0;  // from the first frame's start to the last frame's end
    bool hasAudio = false;
};

// Reads every packet of the output's video (no decoding); a file that
// cannot be read says why.
Result<OutputFacts> ReadOutputFacts(const std::string& path);

// Whether the movie at `path` meets the expectation; a failure's reason is
// in words ("it holds 1.000 s of video, 2.900 s were converted").
Status VerifyOutputMovie(const std::string& path, const OutputExpectation& want);

}  // namespace tessaly
