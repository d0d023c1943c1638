#include "video/media_probe.h"

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "app/app_paths.h"
#include "video/stream_text.h"

namespace tessaly {

namespace {

bool IsRegularFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

bool WavHasSamples(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    char riff[12];
    if (!in.read(riff, sizeof riff) || std::string(riff, 4) != "RIFF" ||
        std::string(riff + 8, 4) != "WAVE") {
        return false;
    }
    // Walk the chunks to "data"; a header alone (an extractor that died or a
    // movie whose sound decoded to nothing) has no byte after it.
    char header[8];
    while (in.read(header, sizeof header)) {
        const uint32_t size = static_cast<uint8_t>(header[4]) | static_cast<uint8_t>(header[5]) << 8 |
                              static_cast<uint8_t>(header[6]) << 16 |
                              static_cast<uint32_t>(static_cast<uint8_t>(header[7])) << 24;
        if (std::string(header, 4) == "data") {
            char sample[4];
            return static_cast<bool>(in.read(sample, sizeof sample));
        }
        in.seekg(size + (size & 1), std::ios::cur);
    }
    return false;
}

void ProbeVideoFile(const std::string& programDir, const std::string& path, ProbeTexts& texts,
                    const std::atomic<bool>* stop) {
    // The path is the file's name exactly; a blank one names nothing.
    const std::string& video = path;
    if (TrimBlanks(video).empty() || !IsRegularFile(video)) return;

    const std::string reportPath = DecideAppPaths(programDir).reportDir + kProbeReportName;
    // A report left by an earlier probe must never describe this file.
    ::unlink(reportPath.c_str());
    const std::string encoder = FindEncoderProgram(programDir);
    if (!encoder.empty()) {
        RunOptions options;
        options.stderrPath = reportPath;
        options.stop = stop;
        RunEncoderProgram({encoder, "-i", "file:" + video}, options);
    }

    texts = InitialProbeTexts(video);
    std::ifstream report(reportPath, std::ios::binary);
    if (report) {
        std::string line;
        while (std::getline(report, line)) AddProbeReportLine(texts, line);
        report.close();
    }
    ::unlink(reportPath.c_str());
}

CommandLine AudioExtractionCommand(const std::string& encoder, const std::string& videoPath,
                                   const std::string& tempFolder) {
    // Both are files, whatever their text ("-", "pipe:x"), used exactly as given.
    const std::string video = "file:" + videoPath;
    const std::string wav = "file:" + tempFolder + "/" + kAudioFileName;
    CommandLine cmd;
    cmd.args = {encoder, "-i", video, "-f", "wav", "-ar", "44100", "-ac", "2",
                "-acodec", "pcm_s16le", "-y", wav};
    cmd.text = encoder + " -i \"" + video + "\" -f wav -ar 44100 -ac 2 -acodec pcm_s16le -y \"" +
               wav + "\"";
    return cmd;
}

AudioExtractionResult ExtractAudioTrack(const std::string& programDir,
                                        const std::string& videoPath,
                                        const std::string& tempFolder, const LogFn& log,
                                        const std::atomic<bool>* stop) {
    std::string encoder = FindEncoderProgram(programDir);
    if (encoder.empty()) {
        // Rendered as the plug-in path so the log still names what was missing.
        std::string dir = programDir;
        while (!dir.empty() && dir.back() == '/') dir.pop_back();
        encoder = dir + "/" + kEncoderRelativePath;
    }
    AudioExtractionResult result;
    result.command = AudioExtractionCommand(encoder, videoPath, tempFolder);
    const std::string wav = tempFolder + "/" + kAudioFileName;
    ::unlink(wav.c_str());
    if (log) log(result.command.text);
    RunOptions options;
    options.stop = stop;
    result.outcome = RunChild(result.command.args, options);
    result.exitStatus = result.outcome.status;
    result.wavWritten = WavHasSamples(wav);
    return result;
}

}  // namespace tessaly
