// Reading the encoder's description of a movie ("ffmpeg -i" error output)
// into the texts shown by "File Information" and the preview overlay.
#pragma once

#include <string>
#include <vector>

namespace tessaly {

struct ProbeTexts {
    std::string fileInfoText;      // " Video file: name" CR LF, then CR LF + each stream description
    std::string videoNameLine;     // " Video file: name "
    std::string videoStreamLine;   // " " + last stream #0.0 description + " ", or empty
    std::string secondStreamLine;  // " " + last stream #0.1 description + " ", or empty

    bool operator==(const ProbeTexts&) const = default;
};

// The file name with extension: what follows the last "/" of the path.
std::string ProbeFileName(const std::string& path);

// Texts before any report line is read.
ProbeTexts InitialProbeTexts(const std::string& path);

// Adds one report line. A line counts when, trimmed and lower-cased, its first
// 11 characters are "stream #0.0" / "stream #0.1" (the older form) or
// "stream #0:0" / "stream #0:1" (current ffmpeg); so "#0.10" counts as "#0.1".
// The description is what follows the first ":" after those 11 characters.
void AddProbeReportLine(ProbeTexts& texts, const std::string& line);

// Splits a whole report into lines (LF or CR LF) and adds each.
void AddProbeReport(ProbeTexts& texts, const std::string& report);

}  // namespace tessaly
