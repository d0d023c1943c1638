// "Save job...": the loaded movie's conversion as a job file that
// tessaly-convert --job runs with the desktop's very settings.
#pragma once

#include <string>

namespace tessaly {

class DesktopSession;

// Writes the job of the session's movie, settings (cut, lens, filters,
// aspect), flip, still format, size and marking into `jobPath`, with
// `output` as its output; the reason when it cannot, else empty.
std::string SaveDesktopJob(const DesktopSession& session, const std::string& jobPath, const std::string& output);

}  // namespace tessaly
