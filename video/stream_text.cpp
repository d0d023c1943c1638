#include "video/stream_text.h"

#include <fcntl.h>
#include <unistd.h>

#include <bit>
#include <cmath>
#include <cstring>

#include "app/format.h"

namespace tessaly {

double FrameRateOf(MediaTime timePerFrame) {
    if (timePerFrame.count() <= 0) return 0.0;
    return 10'000'000.0 / static_cast<double>(timePerFrame.count());
}

int32_t FrameCountOf(MediaTime duration, MediaTime timePerFrame) {
    if (timePerFrame.count() <= 0 || duration.count() <= 0) return 0;
    const long double q = static_cast<long double>(duration.count()) /
                          static_cast<long double>(timePerFrame.count());
    const long double f = std::floor(q);
    return f > 2147483647.0L ? 2147483647 : static_cast<int32_t>(f);
}

std::array<uint8_t, 16> FisheyeParamBytes(MediaTime timePerFrame, double durationSeconds) {
    std::array<uint8_t, 16> bytes{};
    const auto t = static_cast<uint64_t>(timePerFrame.count());
    const auto d = std::bit_cast<uint64_t>(durationSeconds);
    for (int i = 0; i < 8; ++i) {
        bytes[i] = static_cast<uint8_t>(t >> (8 * i));
        bytes[8 + i] = static_cast<uint8_t>(d >> (8 * i));
    }
    return bytes;
}

bool WriteFisheyeParamFile(const std::string& path, MediaTime timePerFrame, double durationSeconds) {
    const auto bytes = FisheyeParamBytes(timePerFrame, durationSeconds);
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    const ssize_t written = ::pwrite(fd, bytes.data(), bytes.size(), 0);
    const bool closed = ::close(fd) == 0;
    return written == static_cast<ssize_t>(bytes.size()) && closed;
}

std::string TrimBlanks(const std::string& text) {
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\0'; };
    size_t begin = 0, end = text.size();
    while (begin < end && blank(text[begin])) ++begin;
    while (end > begin && blank(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

std::vector<std::string> MovieFactLines(const MediaInfo& info) {
    std::vector<std::string> lines = {
        "Frame Size = " + std::to_string(info.frameWidth) + "x" + std::to_string(info.frameHeight),
        "getTimePerFrame = " + FormatNumber(SecondsOf(info.timePerFrame)),
        "FPS = " + FormatMask(FrameRateOf(info.timePerFrame), "00.00"),
        "numframes = " + std::to_string(info.frameCount)};
    if (info.videoStreams > 1) {
        // Rate, size, duration and frames above are this stream's alone.
        lines.push_back("Video stream = #" + std::to_string(info.streamIndex) + " of " +
                        std::to_string(info.videoStreams) + " video streams");
    }
    return lines;
}

}  // namespace tessaly
