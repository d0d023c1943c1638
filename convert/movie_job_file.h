// The job as a small text file, so that every part of a movie and its join
// (on any machine) run the very same job. The first line names the format
// and its version ("TESSALY-JOB 1"); then one "TAG value" per line (the
// parameter file's tags for the cut, the filters and the lens, plus the
// movie and the outputs), ending with "END". A stereo job is version 2: it
// adds the eyes' lines (STEREO, STEREO_OUT, SWAP_EYES, ALIGN_EYES,
// EYES_MEASURED and per eye LEFT_/RIGHT_ WINDOW, CUT, CIRCLE, YAW, PITCH,
// ROLL); a job without stereo stays version 1, as programs before it read. Numbers are written with "."
// whatever the locale; paths are escaped (backslash, control characters,
// blanks at either end), so any path survives a round trip.
#pragma once

#include <string>

#include "app/result.h"
#include "convert/movie_job.h"

namespace tessaly {

inline constexpr const char* kJobFileHeader = "TESSALY-JOB";
inline constexpr int kJobFileVersion = 2;      // the newest this program reads and writes
inline constexpr int kJobFileMonoVersion = 1;  // a job without stereo

// The file's text (LF line ends).
std::string JobFileText(const MovieJob& job);

// Reads a job file's text; anything damaged, unknown, repeated, missing or
// cut short is refused with the line it was found on ("line 7: QUALITY
// needs a whole number from 0 to 21, got 'x'"). The job's part and join
// stay empty: they are the command line's.
Result<MovieJob> ReadJobText(const std::string& text);

// The file at `path`; a file that cannot be read says why.
Result<MovieJob> ReadJobFile(const std::string& path);

// Writes the file through a temporary file beside it renamed over it, so a
// full disk never leaves half a job.
Status WriteJobFile(const MovieJob& job, const std::string& path);

// Writes `text` to `path` the same way; the error names the file as `what`
// ("the job file").
Status WriteFileReplacing(const std::string& path, const std::string& text, const std::string& what);

// A path as one line's value, and back (false: a damaged escape).
std::string EscapeJobValue(const std::string& text);
bool UnescapeJobValue(const std::string& value, std::string& text);

}  // namespace tessaly
