#include "video/media_probe.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>

extern "C" {
#include <libavformat/avformat.h>
}

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
                    const std::atomic<bool>* stop, int stallLimitMs) {
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
        options.stallLimitMs = stallLimitMs;
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
                                   const std::string& tempFolder, bool mono) {
    // Both are files, whatever their text ("-", "pipe:x"), used exactly as given.
    const std::string video = "file:" + videoPath;
    const std::string wav = "file:" + tempFolder + "/" + kAudioFileName;
    CommandLine cmd;
    cmd.args = {encoder, "-i", video, "-f", "wav"};
    if (mono) cmd.args.insert(cmd.args.end(), {"-af", kMonoOnBothChannels});
    cmd.args.insert(cmd.args.end(), {"-ar", "44100", "-ac", "2", "-acodec", "pcm_s16le", "-y", wav});
    cmd.text = encoder + " -i \"" + video + "\" -f wav " + (mono ? std::string("-af ") + kMonoOnBothChannels + " " : "") +
               "-ar 44100 -ac 2 -acodec pcm_s16le -y \"" + wav + "\"";
    return cmd;
}

SoundChannels ReadSoundChannels(const std::string& path) {
    SoundChannels channels;
    AVFormatContext* ctx = nullptr;
    // The file exactly as named, never a protocol.
    if (avformat_open_input(&ctx, ("file:" + path).c_str(), nullptr, nullptr) != 0) return channels;
    if (avformat_find_stream_info(ctx, nullptr) >= 0) {
        bool first = true;
        for (unsigned i = 0; i < ctx->nb_streams; ++i) {
            const AVCodecParameters* par = ctx->streams[i]->codecpar;
            if (par->codec_type != AVMEDIA_TYPE_AUDIO) continue;
            const int n = par->ch_layout.nb_channels;
            if (first) channels.first = n;
            first = false;
            channels.most = std::max(channels.most, n);
        }
    }
    avformat_close_input(&ctx);
    return channels;
}

AudioExtractionResult ExtractAudioTrack(const std::string& programDir,
                                        const std::string& videoPath,
                                        const std::string& tempFolder, const LogFn& log,
                                        const std::atomic<bool>* stop, int stallLimitMs) {
    std::string encoder = FindEncoderProgram(programDir);
    if (encoder.empty()) {
        // Rendered as the plug-in path so the log still names what was missing.
        std::string dir = programDir;
        while (!dir.empty() && dir.back() == '/') dir.pop_back();
        encoder = dir + "/" + kEncoderRelativePath;
    }
    AudioExtractionResult result;
    // The encoder takes the track with the most channels by itself: one
    // channel there means every track has one.
    const bool mono = ReadSoundChannels(videoPath).most == 1;
    result.command = AudioExtractionCommand(encoder, videoPath, tempFolder, mono);
    const std::string wav = tempFolder + "/" + kAudioFileName;
    ::unlink(wav.c_str());
    if (log) log(result.command.text);
    RunOptions options;
    options.stop = stop;
    options.stderrPath = tempFolder + "/" + kSoundReportName;
    options.stallLimitMs = stallLimitMs;
    options.progressFiles = {wav};
    result.outcome = RunChild(result.command.args, options);
    ::unlink(options.stderrPath.c_str());
    result.exitStatus = result.outcome.status;
    result.wavWritten = WavHasSamples(wav);
    return result;
}

}  // namespace tessaly
