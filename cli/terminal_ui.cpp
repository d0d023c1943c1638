#include "cli/terminal_ui.h"

#include <algorithm>
#include <cmath>

#include "app/format.h"

namespace tessaly {
namespace {

constexpr int kBarCells = 24;

std::string FlattenLines(const std::string& text) {
    std::string flat;
    for (char c : text) {
        if (c == '\r') continue;
        if (c == '\n') {
            if (!flat.empty() && flat.back() != ' ') flat += ' ';
            continue;
        }
        flat += c;
    }
    while (!flat.empty() && flat.back() == ' ') flat.pop_back();
    return flat;
}

std::string Clock(double seconds) {
    return FormatDuration(seconds > 0 ? seconds : 0);
}

}  // namespace

std::string ProgressLine(int32_t done, int32_t total, double elapsedSeconds) {
    std::string bar = "[";
    int filled = 0;
    if (total > 0) filled = static_cast<int>(std::min<int64_t>(kBarCells, int64_t{done} * kBarCells / total));
    bar += std::string(static_cast<size_t>(filled), '#');
    bar += std::string(static_cast<size_t>(kBarCells - filled), '.');
    bar += "] ";
    std::string line = bar + std::to_string(done) + "/" + std::to_string(total) + " frames";
    const double fps = elapsedSeconds > 0 ? done / elapsedSeconds : 0;
    char rate[32];
    std::snprintf(rate, sizeof rate, "  %.1f fps", fps);
    line += rate;
    line += "  elapsed " + Clock(elapsedSeconds);
    if (fps > 0 && total >= done) {
        line += "  left " + Clock(std::ceil((total - done) / fps));
    } else {
        line += "  left --:--:--";
    }
    return line;
}

std::string StopReport(const std::string& signalName, const std::vector<std::string>& written) {
    const std::string stopped = "stopped by " + signalName;
    if (written.empty()) return stopped + "; the partial output and the temporary files were removed";
    std::string names;
    for (const std::string& name : written) names += (names.empty() ? "" : ", ") + name;
    return stopped + " after " + names + (written.size() == 1 ? " was" : " were") +
           " written in full and checked; the temporary files and any unfinished output were removed";
}

TerminalUserInterface::TerminalUserInterface(std::FILE* out, bool interactive,
                                             int32_t compressionLevel,
                                             std::vector<std::string> outputs)
    : out_(out),
      interactive_(interactive),
      compressionLevel_(compressionLevel),
      outputs_(std::move(outputs)) {
    if (!outputs_.empty()) currentOutput_ = outputs_[0];
}

void TerminalUserInterface::SetTotalFrames(int32_t total) {
    std::lock_guard lock(mutex_);
    total_ = total;
}

void TerminalUserInterface::Redraw(const std::string& line) {
    if (!interactive_) return;
    std::fprintf(out_, "\r%s\033[K", line.c_str());
    std::fflush(out_);
    lineOpen_ = true;
}

void TerminalUserInterface::EndLine() {
    if (interactive_ && lineOpen_) {
        std::fputc('\n', out_);
        std::fflush(out_);
    }
    lineOpen_ = false;
}

void TerminalUserInterface::ShowMessage(const std::string& caption, const std::string& text,
                                        MessageIcon icon, bool) {
    std::lock_guard lock(mutex_);
    if (icon == MessageIcon::Warning) {
        // A warning does not end the run: it is shown at once and is not
        // the run's error.
        EndLine();
        std::fprintf(stderr, "tessaly-convert: warning: %s\n", FlattenLines(text).c_str());
        return;
    }
    lastMessage_ = FlattenLines(text);
    if (lastMessage_.empty()) lastMessage_ = caption;
}

void TerminalUserInterface::SetRecording(RecordingLook) {
    std::lock_guard lock(mutex_);
    if (started_) return;
    // The first recording look of a run marks the start of the frame conversion.
    started_ = true;
    start_ = Clock::now();
    lastFrameTime_ = start_;
    Redraw(ProgressLine(0, total_, 0));
}

void TerminalUserInterface::SetCurrentFrame(int32_t frameNumber) {
    std::lock_guard lock(mutex_);
    if (!started_) return;
    const Clock::time_point now = Clock::now();
    lastFrameTime_ = now;
    Redraw(ProgressLine(frameNumber, std::max(total_, frameNumber),
                        std::chrono::duration<double>(now - start_).count()));
}

double TerminalUserInterface::ConversionSeconds() const {
    std::lock_guard lock(mutex_);
    if (!started_) return 0;
    return std::chrono::duration<double>(lastFrameTime_ - start_).count();
}

void TerminalUserInterface::OpenExportProgress() {
    std::lock_guard lock(mutex_);
    EndLine();
    lastExportText_.clear();
    if (nextOutput_ < outputs_.size()) currentOutput_ = outputs_[nextOutput_++];
    Redraw("Encoding " + currentOutput_ + " ...");
}

void TerminalUserInterface::UpdateExportProgress(const std::string& processingTime) {
    std::lock_guard lock(mutex_);
    if (processingTime == lastExportText_) return;  // redraw only when the time moves
    lastExportText_ = processingTime;
    Redraw("Encoding " + currentOutput_ + " ...  " + processingTime);
}

void TerminalUserInterface::CloseExportProgress() {
    std::lock_guard lock(mutex_);
    EndLine();
}

std::string TerminalUserInterface::LastMessage() const {
    std::lock_guard lock(mutex_);
    return lastMessage_;
}

}  // namespace tessaly
