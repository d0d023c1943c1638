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

void ProbeVideoFile(const std::string& programDir, const std::string& path, ProbeTexts& texts) {
    const std::string video = TrimBlanks(path);
    if (video.empty() || !IsRegularFile(video)) return;

    const std::string reportPath = DecideAppPaths(programDir).reportDir + kProbeReportName;
    const std::string encoder = FindEncoderProgram(programDir);
    if (!encoder.empty()) {
        RunEncoderProgram({encoder, "-i", video}, RunOptions{{}, reportPath});
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
    const std::string video = TrimBlanks(videoPath);
    const std::string wav = TrimBlanks(tempFolder) + "/" + kAudioFileName;
    CommandLine cmd;
    cmd.args = {encoder, "-i", video, "-f", "wav", "-ar", "44100", "-ac", "2",
                "-acodec", "pcm_s16le", "-y", wav};
    cmd.text = encoder + " -i \"" + video + "\" -f wav -ar 44100 -ac 2 -acodec pcm_s16le -y \"" +
               wav + "\"";
    return cmd;
}

AudioExtractionResult ExtractAudioTrack(const std::string& programDir,
                                        const std::string& videoPath,
                                        const std::string& tempFolder, const LogFn& log) {
    std::string encoder = FindEncoderProgram(programDir);
    if (encoder.empty()) {
        // Rendered as the plug-in path so the log still names what was missing.
        std::string dir = programDir;
        while (!dir.empty() && dir.back() == '/') dir.pop_back();
        encoder = dir + "/" + kEncoderRelativePath;
    }
    AudioExtractionResult result;
    result.command = AudioExtractionCommand(encoder, videoPath, tempFolder);
    const std::string& wav = result.command.args.back();
    ::unlink(wav.c_str());
    if (log) log(result.command.text);
    result.exitStatus = RunEncoderProgram(result.command.args);
    struct stat st {};
    result.wavWritten = ::stat(wav.c_str(), &st) == 0 && st.st_size > 44;
    return result;
}

}  // namespace tessaly
