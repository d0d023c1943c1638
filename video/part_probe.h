// What a part of a movie holds, read with libavformat without decoding:
// its picture's codec, size and rate, its frames, whether it starts with a
// key frame, and the comment its maker wrote into it.
#pragma once

#include <cstdint>
#include <string>

#include "app/result.h"

namespace tessaly {

struct PartFileFacts {
    std::string codec;  // the decoder's name: "h264", "vp9", ...
    int32_t width = 0;
    int32_t height = 0;
    int32_t rateNum = 0;  // the picture's frame rate (0/0: unknown)
    int32_t rateDen = 0;
    int64_t packets = 0;           // video frames stored
    bool startsWithKey = false;    // the first video packet is a key frame
    bool hasAudio = false;
    std::string comment;  // the container's "comment" tag (empty: none)
    // SHA-256 (hex) of the video packets as libavformat reads them: each
    // one's presentation time, key flag, size and bytes, in file order.
    std::string packetDigest;
};

// The facts of the file, or why it cannot be read, in words ("no such
// file", "it cannot be read (Invalid data found ...)").
Result<PartFileFacts> ReadPartFileFacts(const std::string& path);

// SHA-256 of `text`, as 64 lower-case hex digits.
std::string TextDigest(const std::string& text);

// How CopyMovie copies: the file's "comment" tag to set (empty: kept as
// it is), and a frame rate (0/0: none) onto whose exact frame times the
// first video stream's packets are moved, to the nearest frame, in a time
// base of one frame (a container that stores times in milliseconds, as
// Matroska does, gives a picture 33 and 34 ms apart at 30 fps).
struct MovieCopy {
    std::string comment;
    int32_t rateNum = 0;
    int32_t rateDen = 0;
};

// Stream-copies every packet of the movie at `source` into `target` (an
// existing file, overwritten; the container follows its extension) as
// `how` says; a failure says why not.
Status CopyMovie(const std::string& source, const std::string& target, const MovieCopy& how);

}  // namespace tessaly
