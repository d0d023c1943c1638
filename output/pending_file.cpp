#include "output/pending_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <random>

namespace tessaly {
namespace {

namespace fs = std::filesystem;

constexpr const char* kTagMark = ".tessaly-";
constexpr size_t kTagLength = 6;
// Links followed before giving up (the system's own limit is 40).
constexpr int kMaxLinks = 40;
constexpr int kCreateAttempts = 100;

std::string RandomTag(const char* alphabet, size_t alphabetSize) {
    // One generator per thread, seeded from the system: two runs started
    // in the same microsecond still draw different names.
    thread_local std::mt19937_64 generator{std::random_device{}()};
    std::uniform_int_distribution<size_t> pick(0, alphabetSize - 1);
    std::string tag;
    for (size_t i = 0; i < kTagLength; ++i) tag += alphabet[pick(generator)];
    return tag;
}

std::string MixedTag() {
    static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    return RandomTag(kAlphabet, sizeof kAlphabet - 1);
}

std::string FolderOf(const std::string& path) {
    const fs::path parent = fs::path(path).parent_path();
    return parent.empty() ? std::string(".") : parent.string();
}

std::string NameOf(const std::string& path) { return fs::path(path).filename().string(); }

// The file a chain of links ends at (the path itself when it is no link);
// a dangling link gives the name it points to.
std::string FollowLinks(const std::string& path) {
    fs::path p = path;
    for (int i = 0; i < kMaxLinks; ++i) {
        std::error_code ec;
        if (!fs::is_symlink(fs::symlink_status(p, ec))) break;
        const fs::path target = fs::read_symlink(p, ec);
        if (ec) break;
        p = target.is_absolute() ? target : p.parent_path() / target;
    }
    return p.string();
}

// Creates an empty hidden file for `fileName` in `folder` with O_EXCL; the
// permissions follow the umask, as those of a file the encoder made would.
// Every hidden file this process made and has not yet placed or removed,
// for a process that must end before its run could clean up.
std::mutex gMadeMutex;
std::vector<std::string> gMade;

void Remember(const std::string& path) {
    std::lock_guard lock(gMadeMutex);
    gMade.push_back(path);
}

void Forget(const std::string& path) {
    std::lock_guard lock(gMadeMutex);
    gMade.erase(std::remove(gMade.begin(), gMade.end(), path), gMade.end());
}

Result<std::string> CreateUnique(const std::string& folder, const std::string& fileName) {
    // The folder's own limit: some file systems allow fewer than 255 bytes.
    const long limit = ::pathconf(folder.c_str(), _PC_NAME_MAX);
    const size_t nameMax = limit > 0 ? static_cast<size_t>(limit) : 255;
    int lastError = EEXIST;
    for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
        const std::string candidate = folder + "/" + TemporaryNameFor(fileName, MixedTag(), nameMax);
        const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            ::close(fd);
            Remember(candidate);
            return candidate;
        }
        lastError = errno;
        if (lastError != EEXIST) break;
    }
    return Failure{"cannot create a temporary file in " + folder + ": " + std::strerror(lastError)};
}

bool SyncFile(const std::string& path, int& code) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        code = errno;
        return false;
    }
    const int rc = ::fsync(fd);
    code = errno;
    ::close(fd);
    return rc == 0;
}

struct Identity {
    bool exists = false;       // the file itself
    dev_t dev = 0;
    ino_t ino = 0;
    bool folderKnown = false;  // its folder
    dev_t folderDev = 0;
    ino_t folderIno = 0;
    std::string name;
};

Identity IdentityOf(const std::string& path) {
    Identity id;
    const std::string real = FollowLinks(path);
    struct stat st {};
    if (::stat(real.c_str(), &st) == 0) {
        id.exists = true;
        id.dev = st.st_dev;
        id.ino = st.st_ino;
    }
    const std::string folder = FolderOf(real);
    if (::stat(folder.c_str(), &st) == 0) {
        id.folderKnown = true;
        id.folderDev = st.st_dev;
        id.folderIno = st.st_ino;
    }
    id.name = NameOf(real);
    return id;
}

bool EqualIgnoringAsciiCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

// Whether the folder finds a file under its name in other case: a hidden
// lower-case file is made and looked up in upper case, then removed.
bool FolderIgnoresCase(const std::string& folder) {
    static constexpr char kLower[] = "abcdefghijklmnopqrstuvwxyz";
    for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
        const std::string name = ".tessaly-case-" + RandomTag(kLower, sizeof kLower - 1);
        const std::string path = folder + "/" + name;
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return false;  // a folder we cannot write is refused later anyway
        }
        ::close(fd);
        std::string upper = name;
        for (char& c : upper) {
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        }
        struct stat made {}, found {};
        const bool same = ::stat(path.c_str(), &made) == 0 &&
                          ::stat((folder + "/" + upper).c_str(), &found) == 0 &&
                          made.st_dev == found.st_dev && made.st_ino == found.st_ino;
        ::unlink(path.c_str());
        return same;
    }
    return false;
}

bool SameFile(const Identity& a, const Identity& b, const std::string& pathA) {
    if (a.exists && b.exists) return a.dev == b.dev && a.ino == b.ino;
    if (a.exists != b.exists) return false;  // a folder that ignores case finds both or neither
    if (!a.folderKnown || !b.folderKnown || a.folderDev != b.folderDev || a.folderIno != b.folderIno) {
        return false;
    }
    if (a.name == b.name) return true;
    return EqualIgnoringAsciiCase(a.name, b.name) && FolderIgnoresCase(FolderOf(FollowLinks(pathA)));
}

}  // namespace

std::string TemporaryNameFor(const std::string& fileName, const std::string& tag, size_t nameMax) {
    const size_t dot = fileName.rfind('.');
    const bool hasExt = dot != std::string::npos && dot > 0;
    std::string stem = hasExt ? fileName.substr(0, dot) : fileName;
    std::string ext = hasExt ? fileName.substr(dot) : std::string();
    const std::string middle = std::string(kTagMark) + tag;
    const size_t fixed = 1 + middle.size() + ext.size();
    if (fixed >= nameMax) {
        // Only an absurd extension gets here: the name is cut, whatever it holds.
        return ("." + middle + ext).substr(0, nameMax);
    }
    size_t keep = std::min(stem.size(), nameMax - fixed);
    // Never cut a multi-byte character in two.
    while (keep > 0 && keep < stem.size() && (static_cast<unsigned char>(stem[keep]) & 0xC0) == 0x80) --keep;
    stem.resize(keep);
    return "." + stem + middle + ext;
}

Result<PendingFile> CreatePendingFile(const std::string& finalPath) {
    PendingFile pending;
    pending.finalPath = finalPath;
    pending.placePath = FollowLinks(finalPath);
    Result<std::string> made = CreateUnique(FolderOf(pending.placePath), NameOf(pending.placePath));
    if (!made.ok()) return Failure{made.reason()};
    pending.tempPath = std::move(made).value();
    return pending;
}

Result<std::string> CreateSiblingFile(const PendingFile& pending) {
    return CreateUnique(FolderOf(pending.placePath), NameOf(pending.placePath));
}

Status PlacePendingFile(PendingFile& pending) {
    if (pending.tempPath.empty()) return Failure{"nothing to place at " + pending.finalPath};
    auto fail = [&](int code, const std::string& what) {
        const std::string disk = DiskFullReason(code, pending.finalPath);
        DiscardPendingFile(pending);
        return Failure{disk.empty() ? what + ": " + std::strerror(code) : disk};
    };
    struct stat replaced {};
    if (::stat(pending.placePath.c_str(), &replaced) == 0 && S_ISREG(replaced.st_mode) &&
        ::chmod(pending.tempPath.c_str(), replaced.st_mode & 07777) != 0) {
        return fail(errno, "cannot set the permissions of " + pending.tempPath);
    }
    int code = 0;
    if (!SyncFile(pending.tempPath, code)) return fail(code, "cannot flush " + pending.tempPath + " to disk");
    if (::rename(pending.tempPath.c_str(), pending.placePath.c_str()) != 0) {
        return fail(errno, "cannot replace " + pending.finalPath);
    }
    Forget(pending.tempPath);
    pending.tempPath.clear();
    // The new name itself reaches the disk with its folder.
    const int folder = ::open(FolderOf(pending.placePath).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return {};
}

void DiscardPendingFile(PendingFile& pending) {
    if (!pending.tempPath.empty()) {
        ::unlink(pending.tempPath.c_str());
        Forget(pending.tempPath);
    }
    pending.tempPath.clear();
}

std::vector<std::string> HiddenFilesMade() {
    std::lock_guard lock(gMadeMutex);
    return gMade;
}

std::vector<size_t> SameFilePair(const std::vector<std::string>& paths) {
    std::vector<Identity> ids;
    ids.reserve(paths.size());
    for (const std::string& p : paths) ids.push_back(IdentityOf(p));
    for (size_t i = 0; i < paths.size(); ++i) {
        for (size_t j = i + 1; j < paths.size(); ++j) {
            if (SameFile(ids[i], ids[j], paths[i])) return {i, j};
        }
    }
    return {};
}

std::string DiskFullReason(int code, const std::string& path) {
    switch (code) {
        case ENOSPC: return "no space left on device (" + path + ")";
        case EFBIG: return "file too large (" + path + ")";
        case EDQUOT: return "disk quota exceeded (" + path + ")";
        default: return {};
    }
}

}  // namespace tessaly
