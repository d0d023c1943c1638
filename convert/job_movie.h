// The facts of a movie that a job keeps, read the same way wherever the job
// is made or run, so that a run can tell the job's movie from another.
#pragma once

#include <string>

#include "convert/movie_job.h"

namespace tessaly {

// The decoded stream, its rate, the upright picture's size (one frame
// decoded; 0 x 0 when none can be) and the file's size.
JobMovie ReadJobMovie(const std::string& path);

}  // namespace tessaly
