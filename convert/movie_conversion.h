// A conversion without a window: open the movie's stream, rewind it as the
// Convert command does, run the conversion, and shut down. The headless
// converter and the end-to-end tests run this.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/user_interface.h"
#include "convert/conversion_driver.h"
#include "convert/right_eye_feed.h"
#include "transform/frame_pipeline.h"
#include "video/media_info.h"

namespace tessaly {

struct MovieConversion {
    bool opened = false;
    std::string openError;  // why the movie could not be opened
    MediaInfo info;         // facts of the opened movie
    ConversionResult result;
    // Decoded frames whose colour conversion failed: they got no still.
    int64_t unconvertibleFrames = 0;
};

// Opens `input`, converts it into each of `outputs` (the still path encodes
// them in turn, the streaming path all at once) and runs Shutdown. `onOpened` (optional) is told
// the movie's facts before the run starts.
MovieConversion ConvertMovieFile(FisheyeApp& app, UserInterface& ui, FramePipeline& pipeline,
                                 const std::string& input, const std::vector<std::string>& outputs,
                                 const ConversionOptions& options,
                                 const std::function<void(const MediaInfo&)>& onOpened = {});

// Opens a pair's right movie (options.rightMovie, its frame n +
// options.rightOffset with the left's frame n) for a run of the left movie
// whose facts are `left`, and limits those facts to the span both movies
// run together. Empty, or why the two cannot run as a pair.
std::string OpenRightEye(RightEyeFeed& feed, const ConversionOptions& options, RunLog& log, MediaInfo& left);

}  // namespace tessaly
