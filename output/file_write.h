// Writing a whole file from a few memory blocks, with every failure reported.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>

namespace tessaly {

struct FilePart {
    const void* data;
    size_t size;
};

// Creates or truncates `path` and writes the parts in order, one write call
// per part (more only if the system writes short). On any failure (open,
// write, close: missing folder, full disk, read-only folder) the partial file
// is removed, `error` gets the reason and the result is false.
bool WriteFileParts(const std::string& path, std::initializer_list<FilePart> parts, std::string* error);

}  // namespace tessaly
