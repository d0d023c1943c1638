// The run log: a plain-text trace of one run beside the program.
#pragma once

#include <mutex>
#include <string>

namespace tessaly {

class RunLog {
public:
    void SetPath(std::string path);
    const std::string& Path() const { return path_; }

    // Appends one line and CR LF: open, write, close on every call so the file
    // is complete on disk whenever the process dies. Calls from several threads
    // are serialised; a line that cannot be written is dropped silently.
    void WriteLogLine(const std::string& text);

    // Deletes the old log and writes the two header lines for the given local
    // time (seconds since the epoch).
    void StartNew(long long localTime);

private:
    std::mutex mutex_;
    std::string path_;
};

// "MM-DD-YYYY hh:mm:ss" for a broken-down local time.
std::string FormatLogDate(int year, int month, int day, int hour, int minute, int second);

}  // namespace tessaly
