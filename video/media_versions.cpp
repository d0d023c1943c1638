#include "video/media_versions.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include "video/encoder_program.h"

namespace tessaly {
namespace {

std::string Version(const char* name, unsigned v) {
    return std::string(name) + " " + std::to_string(AV_VERSION_MAJOR(v)) + "." +
           std::to_string(AV_VERSION_MINOR(v)) + "." + std::to_string(AV_VERSION_MICRO(v));
}

// The first line the encoder prints for -version ("ffmpeg version ...").
std::string EncoderVersionLine(const std::string& encoder) {
    const char* tmp = std::getenv("TMPDIR");
    std::string name = std::string(tmp && *tmp ? tmp : "/tmp") + "/tessaly-version-XXXXXX";
    const int fd = ::mkstemp(name.data());
    if (fd < 0) return {};
    ::close(fd);
    RunOptions options;
    options.stdoutPath = name;
    options.stallLimitMs = kDefaultEncoderStallSeconds * 1000;
    std::string line;
    if (RunEncoderProgram({encoder, "-version"}, options) == 0) {
        std::ifstream in(name);
        std::getline(in, line);
    }
    ::unlink(name.c_str());
    return line;
}

}  // namespace

std::string FfmpegLibraryVersions() {
    return Version("libavformat", avformat_version()) + ", " +
           Version("libavcodec", avcodec_version()) + ", " + Version("libavutil", avutil_version()) +
           ", " + Version("libswscale", swscale_version()) + ", " +
           Version("libswresample", swresample_version());
}

std::string VersionReport(const std::string& programLine, const std::string& programDir) {
    std::string text = programLine + "\n";
    text += "FFmpeg libraries: " + FfmpegLibraryVersions() + "\n";
    const std::string encoder = FindEncoderProgram(programDir);
    if (encoder.empty()) {
        text += "Encoder program: none found (install ffmpeg)\n";
    } else {
        const std::string version = EncoderVersionLine(encoder);
        text += "Encoder program: " + encoder + (version.empty() ? "" : " (" + version + ")") + "\n";
    }
    return text;
}

}  // namespace tessaly
