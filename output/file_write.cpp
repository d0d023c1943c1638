#include "output/file_write.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tessaly {

namespace {

bool WriteAll(int fd, const void* data, size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) {
            errno = EIO;
            return false;
        }
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// The reason in words; a write past the file size limit (`ulimit -f`) says so.
std::string Reason(int error) {
    if (error == EFBIG) return "file too large";
    return std::strerror(error);
}

}  // namespace

Status WriteFileParts(const std::string& path, std::initializer_list<FilePart> parts) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return Failure{Reason(errno)};
    bool ok = true;
    for (const FilePart& part : parts) {
        if (!WriteAll(fd, part.data, part.size)) {
            ok = false;
            break;
        }
    }
    int savedErrno = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        savedErrno = errno;
    }
    if (ok) return {};
    ::unlink(path.c_str());  // a torn still must not be mistaken for a frame
    return Failure{Reason(savedErrno)};
}

}  // namespace tessaly
