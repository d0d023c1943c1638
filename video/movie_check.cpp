#include "video/movie_check.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
}

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <cstdlib>
#include <cmath>
#include <cstdio>
#include <limits>

namespace tessaly {
namespace {

std::string ErrorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

// The open failure in a user's words.
std::string OpenFailure(const std::string& path, int code) {
    if (code == AVERROR(EACCES) || code == AVERROR(EPERM)) return "permission denied";
    if (code == AVERROR(ENOENT)) return "no such file";
    if (code == AVERROR(EISDIR)) return "is a directory";
    if (code == AVERROR(ENAMETOOLONG)) return "file name too long";
    return UnreadableMovieReason(path, code);
}

// Box types that open an MP4 or QuickTime file.
bool IsMp4TopBox(const char* type) {
    for (const char* known : {"ftyp", "moov", "mdat", "free", "skip", "wide", "pnot", "uuid"})
        if (std::memcmp(type, known, 4) == 0) return true;
    return false;
}

struct FormatContext {
    AVFormatContext* ctx = nullptr;
    ~FormatContext() {
        if (ctx != nullptr) avformat_close_input(&ctx);
    }
    // The file by its name alone: "file:" keeps "pipe:x" or "-" a file.
    int Open(const std::string& path) {
        // The reason goes into one line of ours, not the library's own.
        av_log_set_level(AV_LOG_FATAL);
        const std::string url = "file:" + path;
        return avformat_open_input(&ctx, url.c_str(), nullptr, nullptr);
    }
};

bool IsPicture(const AVStream* s) {
    return s->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
           (s->disposition & AV_DISPOSITION_ATTACHED_PIC) == 0;
}

std::string Seconds(double s) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f s", s);
    return text;
}

// Why the stream's decoder cannot be opened with its parameters; empty
// when it can.
std::string DecoderOpenFailure(const AVCodecParameters* par) {
    const AVCodec* codec = avcodec_find_decoder(par->codec_id);
    if (codec == nullptr) return "no decoder";
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    if (ctx == nullptr) return ErrorText(AVERROR(ENOMEM));
    int rc = avcodec_parameters_to_context(ctx, par);
    if (rc >= 0) rc = avcodec_open2(ctx, codec, nullptr);
    avcodec_free_context(&ctx);
    return rc < 0 ? ErrorText(rc) : std::string();
}

// The first audio stream in file order: the one the encoder takes (a:0).
int FirstAudioStream(const AVFormatContext* ctx) {
    for (unsigned i = 0; i < ctx->nb_streams; ++i) {
        if (ctx->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) return static_cast<int>(i);
    }
    return -1;
}

// Whether the file holds a packet of `stream`: read (not decoded) up to the
// first one, at once for any whole movie. A file cut short before its
// sound's first page (Ogg writes it after a run of pictures) has a sound
// track and no sound, which the encoder would leave out of the output.
bool HoldsPacketOf(AVFormatContext* ctx, int stream) {
    AVPacket* packet = av_packet_alloc();
    if (packet == nullptr) return true;  // not known: as declared
    bool found = false;
    while (!found && av_read_frame(ctx, packet) >= 0) {
        found = packet->stream_index == stream;
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    return found;
}

}  // namespace

int DecodedVideoStream(const AVFormatContext* ctx) {
    if (ctx == nullptr) return -1;
    const int best =
        av_find_best_stream(const_cast<AVFormatContext*>(ctx), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (best >= 0 && IsPicture(ctx->streams[best])) return best;
    for (unsigned i = 0; i < ctx->nb_streams; ++i)
        if (IsPicture(ctx->streams[i])) return static_cast<int>(i);
    return -1;
}

SourceFacts ReadSourceFacts(const std::string& path) {
    SourceFacts facts;
    FormatContext f;
    int rc = f.Open(path);
    if (rc < 0) {
        facts.error = OpenFailure(path, rc);
        return facts;
    }
    rc = avformat_find_stream_info(f.ctx, nullptr);
    if (rc < 0) {
        facts.error = UnreadableMovieReason(path, rc);
        return facts;
    }
    facts.videoStream = DecodedVideoStream(f.ctx);
    const AVStream* picture = facts.videoStream >= 0 ? f.ctx->streams[facts.videoStream] : nullptr;
    for (unsigned i = 0; i < f.ctx->nb_streams; ++i) {
        const AVStream* s = f.ctx->streams[i];
        const bool decodable = avcodec_find_decoder(s->codecpar->codec_id) != nullptr;
        if (s->codecpar->codec_type == AVMEDIA_TYPE_AUDIO && decodable &&
            s->codecpar->ch_layout.nb_channels > 0) {
            // A track whose decoder refuses to open would fail the encoder
            // late: it counts as no sound, and the reason is kept.
            const std::string broken = DecoderOpenFailure(s->codecpar);
            if (broken.empty()) {
                facts.hasAudio = true;
            } else if (facts.soundProblem.empty()) {
                facts.soundProblem = "its sound track (stream #0:" + std::to_string(i) +
                                     ") cannot be decoded (" + broken + ")";
            }
        }
    }
    const int sound = FirstAudioStream(f.ctx);
    if (facts.hasAudio && picture != nullptr && !HoldsPacketOf(f.ctx, sound)) {
        facts.hasAudio = false;
        facts.soundProblem = "its sound track (stream #0:" + std::to_string(sound) +
                             ") holds no sound: the file ends before its first sound";
    }
    if (picture == nullptr) {
        facts.error = facts.hasAudio ? "no video stream (audio only)" : "no video stream";
        return facts;
    }
    if (avcodec_find_decoder(picture->codecpar->codec_id) == nullptr) {
        facts.error = std::string("no decoder for its video (") +
                      avcodec_get_name(picture->codecpar->codec_id) + ")";
        return facts;
    }
    const AVRational rate = picture->avg_frame_rate.num > 0 && picture->avg_frame_rate.den > 0
                                ? picture->avg_frame_rate
                                : picture->r_frame_rate;
    if (rate.num > 0 && rate.den > 0) {
        facts.rateNum = rate.num;
        facts.rateDen = rate.den;
    }
    facts.usable = true;
    return facts;
}

Mp4Boxes ReadMp4Boxes(const std::string& path) {
    Mp4Boxes boxes;
    std::ifstream in(path, std::ios::binary);
    if (!in) return boxes;
    in.seekg(0, std::ios::end);
    const auto fileSize = static_cast<uint64_t>(std::max<std::streamoff>(0, in.tellg()));
    uint64_t at = 0;
    // Top-level boxes only: a size and a type each, 64-bit sizes included.
    for (int count = 0; count < 4096 && at + 8 <= fileSize; ++count) {
        std::array<unsigned char, 16> head{};
        in.seekg(static_cast<std::streamoff>(at));
        if (!in.read(reinterpret_cast<char*>(head.data()), 8)) break;
        const char* type = reinterpret_cast<const char*>(head.data() + 4);
        if (count == 0) {
            if (!IsMp4TopBox(type)) return boxes;
            boxes.isMp4 = true;
        }
        if (std::memcmp(type, "moov", 4) == 0) boxes.hasIndex = true;
        uint64_t size = (uint64_t{head[0]} << 24) | (uint64_t{head[1]} << 16) | (uint64_t{head[2]} << 8) | head[3];
        if (size == 1) {
            if (!in.read(reinterpret_cast<char*>(head.data() + 8), 8)) break;
            size = 0;
            for (int i = 8; i < 16; ++i) size = (size << 8) | head[static_cast<size_t>(i)];
        } else if (size == 0) {
            break;  // to the end of the file
        }
        if (size < 8) break;
        at += size;
    }
    return boxes;
}

std::string UnreadableMovieReason(const std::string& path, int code) {
    const Mp4Boxes boxes = ReadMp4Boxes(path);
    if (boxes.isMp4 && !boxes.hasIndex) {
        return "the movie's index is missing (no moov atom): the recording was probably not finished";
    }
    if (boxes.isMp4 && code != AVERROR_EXIT) {
        // Libavformat refuses an MP4 whose sample tables are out of range
        // with "out of memory" or "invalid data": the tables are at fault.
        if (code == AVERROR(ENOMEM)) {
            return "the movie's index is damaged (moov atom: its tables claim more entries than can be loaded)";
        }
        return "the movie's index is damaged (moov atom: " + ErrorText(code) + ")";
    }
    return "not a movie that can be read (" + ErrorText(code) + ")";
}

Result<OutputFacts> ReadOutputFacts(const std::string& path) {
    OutputFacts facts;
    FormatContext f;
    int rc = f.Open(path);
    if (rc >= 0) rc = avformat_find_stream_info(f.ctx, nullptr);
    if (rc < 0) return Failure{"it cannot be read back (" + ErrorText(rc) + ")"};
    int video = -1;
    for (unsigned i = 0; i < f.ctx->nb_streams; ++i) {
        const AVStream* s = f.ctx->streams[i];
        if (IsPicture(s) && video < 0) video = static_cast<int>(i);
        if (s->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) facts.hasAudio = true;
    }
    if (video < 0) return Failure{"it has no video stream"};
    const AVStream* vs = f.ctx->streams[video];
    facts.width = vs->codecpar->width;
    facts.height = vs->codecpar->height;
    const double tb = av_q2d(vs->time_base);
    const AVRational rate = vs->avg_frame_rate.num > 0 ? vs->avg_frame_rate : vs->r_frame_rate;
    const double frameSeconds = rate.num > 0 ? 1.0 / av_q2d(rate) : 0;

    AVPacket* packet = av_packet_alloc();
    int64_t first = std::numeric_limits<int64_t>::max();
    double end = 0;
    while (av_read_frame(f.ctx, packet) >= 0) {
        if (packet->stream_index == video) {
            ++facts.packets;
            const int64_t pts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
            if (pts != AV_NOPTS_VALUE) {
                if (pts < first) first = pts;
                // Containers that store no frame duration get one frame.
                const double length = packet->duration > 0 ? packet->duration * tb : frameSeconds;
                end = std::max(end, pts * tb + length);
            }
        }
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    if (first != std::numeric_limits<int64_t>::max()) facts.videoSeconds = end - first * tb;
    return facts;
}

Status VerifyOutputMovie(const std::string& path, const OutputExpectation& want) {
    const Result<OutputFacts> read = ReadOutputFacts(path);
    if (!read.ok()) return Failure{read.reason()};
    const OutputFacts& got = read.value();
    if (got.width != want.width || got.height != want.height) {
        return Failure{"its picture is " + std::to_string(got.width) + "x" + std::to_string(got.height) +
               ", not " + std::to_string(want.width) + "x" + std::to_string(want.height)};
    }
    if (got.packets == 0) return Failure{"it holds no video frame"};
    const double expected = want.frameRate > 0 ? want.frames / want.frameRate : 0;
    // One frame either way, at the converted rate and at the output rate.
    double slack = want.frameRate > 0 ? 1.0 / want.frameRate : 0;
    if (want.outputRate > 0) slack += 1.0 / want.outputRate;
    if (std::fabs(got.videoSeconds - expected) > slack + 0.002) {
        return Failure{"it holds " + Seconds(got.videoSeconds) + " of video, " + Seconds(expected) +
               " were converted"};
    }
    if (want.outputRate <= 0 && std::llabs(got.packets - want.frames) > 1) {
        return Failure{"it holds " + std::to_string(got.packets) + " frames, " +
               std::to_string(want.frames) + " were converted"};
    }
    if (want.sound && !got.hasAudio) return Failure{"its sound is missing"};
    if (!want.sound && got.hasAudio) return Failure{"it has a sound track the movie has not"};
    return {};
}

}  // namespace tessaly
