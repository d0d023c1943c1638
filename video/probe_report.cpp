#include "video/probe_report.h"

#include <cctype>

#include "video/stream_text.h"

namespace tessaly {

namespace {

constexpr const char* kCrLf = "\r\n";

std::string ToLower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// 0 for a first-stream line, 1 for a second-stream line, -1 otherwise.
int StreamNumberOf(const std::string& lowered) {
    if (lowered.size() < 11) return -1;
    if (lowered.compare(0, 9, "stream #0") != 0) return -1;
    if (lowered[9] != '.' && lowered[9] != ':') return -1;
    if (lowered[10] == '0') return 0;
    if (lowered[10] == '1') return 1;
    return -1;
}

}  // namespace

std::string ProbeFileName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

ProbeTexts InitialProbeTexts(const std::string& path) {
    const std::string name = ProbeFileName(TrimBlanks(path));
    ProbeTexts texts;
    texts.fileInfoText = " Video file: " + name + kCrLf;
    texts.videoNameLine = " Video file: " + name + " ";
    return texts;
}

void AddProbeReportLine(ProbeTexts& texts, const std::string& line) {
    const std::string lowered = ToLower(TrimBlanks(line));
    const int number = StreamNumberOf(lowered);
    if (number < 0) return;
    const size_t colon = lowered.find(':', 11);
    const std::string description =
        colon == std::string::npos ? std::string() : TrimBlanks(lowered.substr(colon + 1));
    texts.fileInfoText += kCrLf + description;
    (number == 0 ? texts.videoStreamLine : texts.secondStreamLine) = " " + description + " ";
}

void AddProbeReport(ProbeTexts& texts, const std::string& report) {
    size_t start = 0;
    while (start < report.size()) {
        size_t end = report.find('\n', start);
        if (end == std::string::npos) end = report.size();
        AddProbeReportLine(texts, report.substr(start, end - start));
        start = end + 1;
    }
}

}  // namespace tessaly
