// What a program runs with, for --version: the FFmpeg libraries loaded now
// and the encoder program it would start.
#pragma once

#include <string>

namespace tessaly {

// "libavformat 59.27.100, libavcodec ..." of the libraries loaded at run time.
std::string FfmpegLibraryVersions();

// Lines for --version: `programLine`, the library versions, and the encoder
// program found for `programDir` with the first line of its -version output.
std::string VersionReport(const std::string& programLine, const std::string& programDir);

}  // namespace tessaly
