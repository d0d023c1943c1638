// Writing a whole file from a few memory blocks, with every failure reported.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>

#include "app/result.h"

namespace tessaly {

struct FilePart {
    const void* data;
    size_t size;
};

// Creates or truncates `path` and writes the parts in order, one write call
// per part (more only if the system writes short). On any failure (open,
// write, close: missing folder, full disk, read-only folder) the partial file
// is removed and the failure says why.
Status WriteFileParts(const std::string& path, std::initializer_list<FilePart> parts);

}  // namespace tessaly
