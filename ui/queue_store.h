// The desktop's job queue on disk, so that it survives a restart: one job
// file per job (the job file writer's own format) and a small index, both
// in a folder beside the parameter file. The index is one line per job in
// the queue's order: its state, its job file's name and, for a failed job,
// the reason:
//
//   TESSALY-QUEUE 1
//   waiting job-0001.job
//   failed job-0002.job cannot open /films/a.mp4: no such file
//
// It is written whole through a temporary file renamed over it; reading
// skips (and says) a damaged line or a job file that is missing or damaged,
// and keeps every other job.
#pragma once

#include <string>
#include <vector>

#include "convert/movie_job.h"

namespace tessaly {

inline constexpr const char* kQueueFolderName = "Tessaly_queue";
inline constexpr const char* kQueueIndexName = "queue.index";
inline constexpr const char* kQueueIndexHeader = "TESSALY-QUEUE 1";

enum class QueueState { kWaiting, kConverting, kDone, kFailed, kCancelled };

struct QueueEntry {
    std::string file;  // the job file's name inside the queue folder
    MovieJob job;
    QueueState state = QueueState::kWaiting;
    std::string reason;  // why a failed job failed
    int percent = 0;     // of the frames converted (not stored)
    bool encoding = false;  // the frames are done, the encoder runs (not stored)
};

// The queue's folder for the parameter file at `iniPath`: beside it.
std::string QueueFolderFor(const std::string& iniPath);

// "waiting", "converting", "done", "failed: REASON", "cancelled".
std::string QueueStateText(const QueueEntry& entry);

// The index's text for `entries`.
std::string QueueIndexText(const std::vector<QueueEntry>& entries);

struct QueueRead {
    std::vector<QueueEntry> entries;
    // What was skipped, one sentence each ("line 3 of the queue index
    // /x/queue.index: unknown state 'w'; skipped").
    std::vector<std::string> notes;
};

// The queue stored in `folder` (none there: an empty queue). A job that was
// converting when the program ended waits again.
QueueRead ReadQueue(const std::string& folder);

// Writes the index of `entries` into `folder`; false with `error` set.
bool WriteQueueIndex(const std::string& folder, const std::vector<QueueEntry>& entries, std::string& error);

// A job file name not used by `entries` nor present in `folder`: job-0001.job, ...
std::string NewJobFileName(const std::string& folder, const std::vector<QueueEntry>& entries);

}  // namespace tessaly
