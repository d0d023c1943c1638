// The desktop's job queue: jobs added one by one (each the loaded movie
// with its own cut, lens, filters and output, built as Convert builds its
// run), converted one after another on a worker thread without ending the
// program, and kept on disk (ui/queue_store.h) so the list survives a
// restart. Each job runs in an application of its own (RunJobAlone): the
// live sliders and the open movie are never read by a queued run. The
// queue lives on the GUI thread; the worker reports through queued calls,
// and the GUI thread never waits for it but at the program's end.
#pragma once

#include <QObject>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/app_state.h"
#include "convert/job_run.h"
#include "ui/queue_store.h"

namespace tessaly {

class JobQueue : public QObject {
    Q_OBJECT
public:
    // `app` is the desktop's: its parameter file names the queue's folder,
    // its program folder the encoder, its settings the base of each run.
    explicit JobQueue(FisheyeApp& app, QObject* parent = nullptr);
    ~JobQueue() override;
    JobQueue(const JobQueue&) = delete;
    JobQueue& operator=(const JobQueue&) = delete;

    // Reads the stored queue; Notes() says what was skipped (also logged).
    void Load();
    const std::vector<QueueEntry>& Entries() const { return entries_; }
    const std::vector<std::string>& Notes() const { return notes_; }
    std::string Folder() const { return folder_; }

    // Writes the job's file and the index; false with `error` set (and
    // nothing added).
    bool Add(const MovieJob& job, std::string& error);
    // Removes a job that does not run, with its files; false for the one
    // converting or a row that is not there.
    bool Remove(size_t row);
    // Converts the waiting jobs in order until none waits; false when it
    // runs already or nothing waits.
    bool Run();
    // Ends the job converting now: it is marked cancelled and the queue
    // goes on with the next one.
    void CancelRunning();
    bool Running() const { return worker_.joinable(); }
    // The program ends: the running job is stopped (it waits again after a
    // restart) and its thread joined; nothing more starts.
    void Stop();

signals:
    // Rows were added, removed or changed their state.
    void changed();
    // The row converting shows new progress.
    void progressed(int row);
    // The queue has no more waiting jobs to run.
    void ranOut();

private:
    void StartNext();
    void Ended(const JobRunOutcome& outcome);
    void Progress(int frame, int64_t total, bool encoding);
    int RunningRow() const;
    void Store();
    // A line of the desktop's run log; a problem is also kept in Notes().
    void Log(const std::string& line);
    void Problem(const std::string& line);

    FisheyeApp& app_;
    std::string folder_;
    std::vector<QueueEntry> entries_;
    std::vector<std::string> notes_;
    std::string runningFile_;   // the job converting now, by its file
    std::unique_ptr<FisheyeApp> runApp_;  // its application
    std::atomic<bool> cancelled_{false};
    std::atomic<bool> stopping_{false};
    std::thread worker_;
};

}  // namespace tessaly
