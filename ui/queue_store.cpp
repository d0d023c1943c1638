#include "ui/queue_store.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <system_error>

#include "convert/movie_job_file.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;

struct StateName {
    QueueState state;
    const char* name;
};
constexpr StateName kStateNames[] = {
    {QueueState::kWaiting, "waiting"}, {QueueState::kConverting, "converting"}, {QueueState::kDone, "done"},
    {QueueState::kFailed, "failed"},   {QueueState::kCancelled, "cancelled"},
};

const char* NameOf(QueueState state) {
    for (const StateName& s : kStateNames)
        if (s.state == state) return s.name;
    return "waiting";
}

bool StateNamed(const std::string& name, QueueState& state) {
    for (const StateName& s : kStateNames) {
        if (name == s.name) {
            state = s.state;
            return true;
        }
    }
    return false;
}

// A job file name the queue writes itself: no folder, no hidden file.
bool PlainJobName(const std::string& name) {
    if (name.empty() || name.front() == '.' || name.size() < 5 || name.substr(name.size() - 4) != ".job") return false;
    return std::all_of(name.begin(), name.end(),
                       [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == '.'; });
}

// One index line into `entry`; the reason it cannot be used, or empty.
std::string ParseLine(const std::string& line, const std::string& folder, QueueEntry& entry) {
    std::istringstream in(line);
    std::string state, file;
    in >> state >> file;
    if (!StateNamed(state, entry.state)) return "unknown state '" + state + "'";
    if (!PlainJobName(file)) return "no job file name";
    std::string rest;
    std::getline(in, rest);
    if (!rest.empty() && rest.front() == ' ') rest.erase(0, 1);
    if (!UnescapeJobValue(rest, entry.reason)) return "a damaged reason";
    Result<MovieJob> read = ReadJobFile((fs::path(folder) / file).string());
    if (!read.ok()) return read.reason();
    entry.file = file;
    entry.job = std::move(read).value();
    // A run the program's end cut short is not done: it waits again.
    if (entry.state == QueueState::kConverting) entry.state = QueueState::kWaiting;
    if (entry.state == QueueState::kDone) entry.percent = 100;
    return {};
}

std::string LineNote(size_t number, const std::string& index, const std::string& problem) {
    return "line " + std::to_string(number) + " of the queue index " + index + ": " + problem + "; skipped";
}

}  // namespace

std::string QueueFolderFor(const std::string& iniPath) {
    return (fs::path(iniPath).parent_path() / kQueueFolderName).string();
}

std::string QueueStateText(const QueueEntry& entry) {
    const std::string name = NameOf(entry.state);
    return entry.state == QueueState::kFailed ? name + ": " + entry.reason : name;
}

std::string QueueIndexText(const std::vector<QueueEntry>& entries) {
    std::string text = std::string(kQueueIndexHeader) + "\n";
    for (const QueueEntry& e : entries) {
        text += std::string(NameOf(e.state)) + " " + e.file;
        if (!e.reason.empty()) text += " " + EscapeJobValue(e.reason);
        text += "\n";
    }
    return text;
}

QueueRead ReadQueue(const std::string& folder) {
    QueueRead read;
    const std::string index = (fs::path(folder) / kQueueIndexName).string();
    std::ifstream in(index, std::ios::binary);
    if (!in) return read;
    std::string line;
    for (size_t number = 1; std::getline(in, line); ++number) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (number == 1) {
            if (line != kQueueIndexHeader) read.notes.push_back(LineNote(1, index, "not \"" + std::string(kQueueIndexHeader) + "\""));
            if (line.rfind("TESSALY-QUEUE", 0) == 0) continue;
        }
        if (line.empty()) continue;
        QueueEntry entry;
        std::string problem = ParseLine(line, folder, entry);
        const bool twice = std::any_of(read.entries.begin(), read.entries.end(),
                                       [&](const QueueEntry& e) { return e.file == entry.file; });
        if (problem.empty() && twice) problem = entry.file + " is listed twice";
        if (!problem.empty()) {
            read.notes.push_back(LineNote(number, index, problem));
            continue;
        }
        read.entries.push_back(std::move(entry));
    }
    return read;
}

bool WriteQueueIndex(const std::string& folder, const std::vector<QueueEntry>& entries, std::string& error) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    const Status written =
        WriteFileReplacing((fs::path(folder) / kQueueIndexName).string(), QueueIndexText(entries), "the queue index");
    error = written.reason();
    return written.ok();
}

std::string NewJobFileName(const std::string& folder, const std::vector<QueueEntry>& entries) {
    for (int n = 1;; ++n) {
        char name[32];
        std::snprintf(name, sizeof name, "job-%04d.job", n);
        const bool listed = std::any_of(entries.begin(), entries.end(), [&](const QueueEntry& e) { return e.file == name; });
        std::error_code ec;
        if (!listed && !fs::exists(fs::path(folder) / name, ec)) return name;
    }
}

}  // namespace tessaly
