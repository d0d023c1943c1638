// The desktop's conversion as a job: "Save job..." writes it as a file that
// tessaly-convert --job runs with the desktop's very settings, and "Add to
// queue" puts it on the desktop's job queue.
#pragma once

#include <string>

#include "convert/movie_job.h"

namespace tessaly {

class DesktopSession;

// The job of the session's movie into `output` with the settings the next
// Convert would take: cut, lens, filters, aspect, flip, still format, the
// "Output compression" choice, size and marking, and a stereo movie's eyes. No movie loaded: a job
// without a movie path (JobProblem says so).
MovieJob DesktopJob(const DesktopSession& session, const std::string& output);

// Writes DesktopJob into `jobPath`; the reason when it cannot, else empty.
std::string SaveDesktopJob(const DesktopSession& session, const std::string& jobPath, const std::string& output);

}  // namespace tessaly
