// The private folder of one tessaly-convert run. Several runs may share a
// machine and a temporary folder (batch use): each one works in a folder of
// its own inside the temporary folder, holds a lock on it while it lives,
// and removes it at the end, so no run and no clean-up ever touches the
// files of another run or of the user.
#pragma once

#include <cstdint>
#include <string>

namespace tessaly {

// Folders of live and crashed runs start with this; kept stills move to a
// folder starting with kKeptStillsPrefix, which no clean-up touches.
inline constexpr const char* kRunFolderPrefix = "tessaly-convert-";
inline constexpr const char* kKeptStillsPrefix = "tessaly-stills-";
inline constexpr const char* kRunLogName = "run.log";

class RunWorkspace {
public:
    RunWorkspace() = default;
    ~RunWorkspace();
    RunWorkspace(const RunWorkspace&) = delete;
    RunWorkspace& operator=(const RunWorkspace&) = delete;

    // Makes the temporary folder `base` when needed, then, under a lock on
    // `base` itself, a new folder of this run inside it (locked until Close)
    // and the removal of the folders of runs that died without cleaning up;
    // their run logs are first appended to `sharedLog`. False with `error`
    // ("cannot use the temporary folder X: permission denied") otherwise.
    bool Open(const std::string& base, const std::string& sharedLog, std::string& error);

    const std::string& Folder() const { return folder_; }
    std::string RunLogPath() const { return folder_ + "/" + kRunLogName; }

    // Appends this run's log to `sharedLog`, removes the run's files and the
    // folder, and releases the lock. With keepStills the stills stay, in a
    // folder renamed to kKeptStillsPrefix + the same suffix, whose path is
    // returned; otherwise the result is empty.
    std::string Close(const std::string& sharedLog, bool keepStills);

private:
    std::string folder_;
    int lockFd_ = -1;
};

// Appends the whole file at `from` to `to` in one locked write, so the
// blocks of runs ending together never mix. A log that the block would take
// past kSharedLogLimit first becomes RotatedLogName(to) (replacing the older
// one there) and the block starts a new log. False when nothing was added.
// The shared log's size limit: 10 MB, and one older file is kept.
inline constexpr uint64_t kSharedLogLimit = 10u * 1000u * 1000u;
bool AppendLogBlock(const std::string& from, const std::string& to, uint64_t limit = kSharedLogLimit);
bool LogNeedsRotation(uint64_t logBytes, uint64_t blockBytes, uint64_t limit = kSharedLogLimit);
// "Tessaly_mono.log" -> "Tessaly_mono.log.1".
std::string RotatedLogName(const std::string& log);

// Removes what a run leaves in its folder (stills, sound, reports, its
// log), and the folder when it is then empty; with keepStills the stills
// stay. Nothing else is touched.
void RemoveRunFiles(const std::string& folder, bool keepStills);

}  // namespace tessaly
