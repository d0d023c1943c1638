// The output file's extension, which chooses its container.
#pragma once

#include <string>

namespace tessaly {

// aVideoEXT: the path's extension (from the last "." after the last "/" or
// ":"), lower case, dot included; empty when there is none or the path is too
// long for the file system.
std::string OutputExtension(const std::string& path);

}  // namespace tessaly
