// A movie open for a conversion run: the decoding stream and the facts read
// when it opened. The headless converter opens one itself; the desktop's
// playback controller provides the one it is previewing.
#pragma once

#include <string>

#include "video/media_info.h"
#include "video/video_stream.h"

namespace tessaly {

class OpenMovie {
public:
    virtual ~OpenMovie() = default;

    // The open stream: play, hold, seek, frame callback, muting, its end.
    virtual VideoStream& Stream() = 0;
    // Facts of the movie as it opened.
    virtual MediaInfo Info() const = 0;
    virtual std::string VideoPath() const = 0;
    // 1 while the movie is open (from its open until its teardown).
    virtual int32_t OpenFlag() const = 0;
    // The run starts from the first frame: the shown position goes back.
    virtual void RewindPosition() {}
};

}  // namespace tessaly
