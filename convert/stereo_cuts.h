// The eyes' cuts of a stereo run: both lens circles found in frames sampled
// across the movie, each placed by a cut of its own.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "convert/movie_job.h"

namespace tessaly {

// Fills each eye's window and cut and `stereo.circles` from the circles
// found in `input`. Lines for the terminal and the log go into `said` (one
// per eye). False with `problem` when the movie cannot be read or an eye's
// circle cannot be found or cut.
bool ChooseStereoCuts(const std::string& input, JobStereo& stereo, const std::atomic<bool>* stop,
                      std::vector<std::string>& said, std::string& problem);

// Measures the eyes' vertical disagreement on one converted frame of
// `input` and moves each eye's pitch and roll by half of it (`stereo`'s
// windows and cuts already chosen); the measure and the measure after go
// into `said`, the measure into `stereo.measured`. A frame with too little
// detail along the horizon to measure leaves the angles as they are, and
// says so. False with `problem` when no frame can be read.
bool AlignStereoEyes(const std::string& input, const LensSettings& shared, JobStereo& stereo,
                     std::vector<std::string>& said, std::string& problem);

// The same for a pair of movies (`stereo`'s cuts, right movie and offset
// resolved): measured on the left movie's first frame and the right movie's
// frame that goes with it.
bool AlignPairEyes(const std::string& left, const LensSettings& shared, JobStereo& stereo,
                   std::vector<std::string>& said, std::string& problem);

}  // namespace tessaly
