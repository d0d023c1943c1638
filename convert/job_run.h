// One job run to its end in an application of its own (its settings, run
// state and log), so that a program that keeps running (the desktop's job
// queue) can convert job after job, each with its own settings, while its
// own state stays untouched. Nothing is asked: a question a run would ask a
// user is answered no, and a failure comes back as a reason.
#pragma once

#include <functional>
#include <string>

#include "app/app_state.h"
#include "app/user_interface.h"
#include "convert/conversion_driver.h"
#include "convert/movie_job.h"
#include "video/media_info.h"

namespace tessaly {

// How a job runs without a window: streaming unless the job asks for
// stills; its outputs placed together once all are checked.
ConversionOptions JobConversionOptions(const MovieJob& job);

struct JobRunOutcome {
    bool done = false;     // every output written, checked and in place
    bool stopped = false;  // a stop request ended it
    std::string reason;    // why it failed (empty when done or stopped)
};

// Runs `job` in `app`, which the caller made for it: env.programDir (where
// the encoder is found) and env.log set, the settings the base the job's
// values go over. A movie that changed since the job was made, a job that
// cannot run or a missing encoder fail before anything is converted; stills
// are written in a private folder inside the job's temporary folder,
// removed at the end. `onOpened` is told the movie's facts.
JobRunOutcome RunJobAlone(const MovieJob& job, FisheyeApp& app, UserInterface& ui,
                          const std::function<void(const MediaInfo&)>& onOpened = {});

}  // namespace tessaly
