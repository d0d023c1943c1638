#include "output/output_extension.h"

#include <cstddef>

namespace tessaly {
namespace {

// Longest path the file system takes; a longer output path cannot be written.
constexpr size_t kMaxPathLength = 4096;

}  // namespace

std::string OutputExtension(const std::string& path) {
    if (path.size() > kMaxPathLength) return {};
    size_t dot = path.rfind('.');
    if (dot == std::string::npos) return {};
    size_t separator = path.find_last_of("/:");
    if (separator != std::string::npos && separator > dot) return {};
    std::string ext = path.substr(dot);
    for (char& c : ext) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return ext;
}

}  // namespace tessaly
