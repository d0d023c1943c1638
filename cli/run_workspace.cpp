#include "cli/run_workspace.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "app/still_names.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;

// The files a run writes into its folder besides the stills.
constexpr const char* kRunFileNames[] = {"temp.wav", "encoder_report.txt", "sound_report.txt", "param_fisheye.bin",
                                         "metrixVideoVrel.txt", kRunLogName};

std::string Reason(int error) {
    switch (error) {
        case EACCES:
        case EPERM: return "permission denied";
        case ENOSPC: return "no space left on device";
        case ENAMETOOLONG: return "file name too long";
        case ENOTDIR: return "not a folder";
        case EROFS: return "read-only file system";
        default: return std::strerror(error);
    }
}

// A lock held by one file descriptor until it is closed (or the process ends).
// A run folder is never followed through a link; the user's temporary
// folder may well be one.
int LockFolder(const std::string& folder, bool wait, bool followLink = false) {
    const int fd = ::open(folder.c_str(),
                          O_RDONLY | O_DIRECTORY | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW));
    if (fd < 0) return -1;
    if (::flock(fd, LOCK_EX | (wait ? 0 : LOCK_NB)) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool IsRunFile(const std::string& name, bool keepStills) {
    if (IsStillFileName(name, ".bmp") || IsStillFileName(name, ".jpg")) return !keepStills;
    for (const char* known : kRunFileNames) {
        if (name == known) return true;
    }
    return false;
}

// The folders of runs that ended without cleaning up: unlocked run folders.
void RemoveDeadRuns(const std::string& base, const std::string& own, const std::string& sharedLog) {
    std::error_code ec;
    for (fs::directory_iterator it(base, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.rfind(kRunFolderPrefix, 0) != 0 || it->path().string() == own) continue;
        std::error_code typeEc;
        if (!it->is_directory(typeEc) || it->is_symlink(typeEc)) continue;
        const int fd = LockFolder(it->path().string(), false);
        if (fd < 0) continue;  // a live run, or not ours to open
        AppendLogBlock(it->path().string() + "/" + kRunLogName, sharedLog);
        RemoveRunFiles(it->path().string(), false);
        ::close(fd);
    }
}

}  // namespace

bool AppendLogBlock(const std::string& from, const std::string& to, uint64_t limit) {
    std::ifstream in(from, std::ios::binary);
    if (!in) return false;
    const std::string block{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (block.empty()) return false;
    // The lock is taken on the file the name holds; another run may rotate
    // it away meanwhile, and then the new file under the name is the one.
    int fd = -1;
    for (int attempt = 0; attempt < 10; ++attempt) {
        fd = ::open(to.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (fd < 0) return false;
        ::flock(fd, LOCK_EX);
        struct stat held {}, named {};
        if (::fstat(fd, &held) == 0 && ::stat(to.c_str(), &named) == 0 && held.st_ino == named.st_ino &&
            held.st_dev == named.st_dev) {
            if (LogNeedsRotation(static_cast<uint64_t>(held.st_size), block.size(), limit)) {
                // The older file makes way; this block starts the new one.
                if (::rename(to.c_str(), RotatedLogName(to).c_str()) == 0) {
                    ::close(fd);
                    fd = -1;
                    continue;
                }
            }
            break;
        }
        ::close(fd);
        fd = -1;
    }
    if (fd < 0) return false;
    size_t done = 0;
    while (done < block.size()) {
        const ssize_t n = ::write(fd, block.data() + done, block.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    ::close(fd);  // releases the lock
    return done == block.size();
}

bool LogNeedsRotation(uint64_t logBytes, uint64_t blockBytes, uint64_t limit) {
    // A log that is empty takes any block, however large.
    return logBytes > 0 && logBytes + blockBytes > limit;
}

std::string RotatedLogName(const std::string& log) { return log + ".1"; }

void RemoveRunFiles(const std::string& folder, bool keepStills) {
    std::vector<fs::path> doomed;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code typeEc;
        if (!it->is_regular_file(typeEc) && !it->is_symlink(typeEc)) continue;
        if (IsRunFile(it->path().filename().string(), keepStills)) doomed.push_back(it->path());
    }
    for (const fs::path& p : doomed) fs::remove(p, ec);
    if (!keepStills) ::rmdir(folder.c_str());  // stays when something unknown is left inside
}

RunWorkspace::~RunWorkspace() {
    if (lockFd_ >= 0) ::close(lockFd_);
}

bool RunWorkspace::Open(const std::string& base, const std::string& sharedLog, std::string& error) {
    const std::string what = "cannot use the temporary folder " + base + ": ";
    std::error_code ec;
    if (!fs::is_directory(base, ec)) {
        if (fs::exists(base, ec)) {
            error = what + "not a folder";
            return false;
        }
        fs::create_directories(base, ec);
        if (ec) {
            error = what + Reason(ec.value());
            return false;
        }
    }
    // The gate: one run at a time makes its folder and removes dead ones, so
    // a folder is never taken for dead between its making and its locking.
    const int gate = LockFolder(base, true, true);
    if (gate < 0) {
        error = what + Reason(errno);
        return false;
    }
    std::string pattern = base + "/" + kRunFolderPrefix + "XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (::mkdtemp(name.data()) == nullptr) {
        error = what + Reason(errno);
        ::close(gate);
        return false;
    }
    folder_ = name.data();
    lockFd_ = LockFolder(folder_, false);
    if (lockFd_ < 0) {
        error = what + Reason(errno);
        ::rmdir(folder_.c_str());
        folder_.clear();
        ::close(gate);
        return false;
    }
    RemoveDeadRuns(base, folder_, sharedLog);
    ::close(gate);
    return true;
}

std::string RunWorkspace::Close(const std::string& sharedLog, bool keepStills) {
    if (folder_.empty()) return {};
    AppendLogBlock(RunLogPath(), sharedLog);
    RemoveRunFiles(folder_, keepStills);
    std::string kept;
    if (keepStills) {
        const fs::path path(folder_);
        const std::string suffix = path.filename().string().substr(std::strlen(kRunFolderPrefix));
        const fs::path renamed = path.parent_path() / (kKeptStillsPrefix + suffix);
        std::error_code ec;
        fs::rename(path, renamed, ec);
        kept = ec ? folder_ : renamed.string();
    }
    if (lockFd_ >= 0) ::close(lockFd_);
    lockFd_ = -1;
    folder_.clear();
    return kept;
}

}  // namespace tessaly
