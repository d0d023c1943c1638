#include "video/part_probe.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/error.h>
#include <libavutil/hash.h>
}

#include <cerrno>
#include <memory>

namespace tessaly {
namespace {

std::string ErrorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

struct HashFree {
    void operator()(AVHashContext* h) const { av_hash_freep(&h); }
};
using Hash = std::unique_ptr<AVHashContext, HashFree>;

Hash NewSha256() {
    AVHashContext* raw = nullptr;
    if (av_hash_alloc(&raw, "SHA256") < 0) return nullptr;
    av_hash_init(raw);
    return Hash(raw);
}

std::string HexOf(AVHashContext* hash) {
    uint8_t hex[2 * AV_HASH_MAX_SIZE + 1] = {};
    av_hash_final_hex(hash, hex, sizeof hex);
    return reinterpret_cast<const char*>(hex);
}

// A packet's part of the digest: its time and key flag as fixed-width
// little-endian bytes (the same on every machine), then its payload.
void HashPacket(AVHashContext* hash, const AVPacket* packet) {
    uint8_t head[16];
    const uint64_t pts = static_cast<uint64_t>(packet->pts);
    const uint64_t flagsAndSize =
        (static_cast<uint64_t>(packet->flags & AV_PKT_FLAG_KEY) << 32) | static_cast<uint32_t>(packet->size);
    for (int i = 0; i < 8; ++i) {
        head[i] = static_cast<uint8_t>(pts >> (8 * i));
        head[8 + i] = static_cast<uint8_t>(flagsAndSize >> (8 * i));
    }
    av_hash_update(hash, head, sizeof head);
    if (packet->size > 0) av_hash_update(hash, packet->data, static_cast<size_t>(packet->size));
}

AVFormatContext* OpenFile(const std::string& path, int& rc) {
    AVFormatContext* ctx = nullptr;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    const std::string url = "file:" + path;
    rc = avformat_open_input(&ctx, url.c_str(), nullptr, &options);
    av_dict_free(&options);
    return rc < 0 ? nullptr : ctx;
}

// The packets of `video` counted and hashed into `facts`; the read's end.
int ReadPackets(AVFormatContext* ctx, int video, PartFileFacts& facts) {
    Hash hash = NewSha256();
    AVPacket* packet = av_packet_alloc();
    if (packet == nullptr || hash == nullptr) {
        av_packet_free(&packet);
        return AVERROR(ENOMEM);
    }
    int read = 0;
    while ((read = av_read_frame(ctx, packet)) >= 0) {
        if (packet->stream_index == video) {
            if (facts.packets == 0) facts.startsWithKey = (packet->flags & AV_PKT_FLAG_KEY) != 0;
            ++facts.packets;
            HashPacket(hash.get(), packet);
        }
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    facts.packetDigest = HexOf(hash.get());
    return read;
}

}  // namespace

std::string TextDigest(const std::string& text) {
    Hash hash = NewSha256();
    if (hash == nullptr) return {};
    av_hash_update(hash.get(), reinterpret_cast<const uint8_t*>(text.data()), text.size());
    return HexOf(hash.get());
}

Result<PartFileFacts> ReadPartFileFacts(const std::string& path) {
    PartFileFacts facts;
    av_log_set_level(AV_LOG_FATAL);
    int rc = 0;
    AVFormatContext* ctx = OpenFile(path, rc);
    if (ctx == nullptr) {
        return Failure{rc == AVERROR(ENOENT) ? "no such file" : "it cannot be read (" + ErrorText(rc) + ")"};
    }
    rc = avformat_find_stream_info(ctx, nullptr);
    if (rc < 0) {
        avformat_close_input(&ctx);
        return Failure{"it cannot be read (" + ErrorText(rc) + ")"};
    }
    int video = -1;
    for (unsigned i = 0; i < ctx->nb_streams; ++i) {
        const AVStream* s = ctx->streams[i];
        if (s->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && (s->disposition & AV_DISPOSITION_ATTACHED_PIC) == 0 &&
            video < 0) {
            video = static_cast<int>(i);
        }
        if (s->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) facts.hasAudio = true;
    }
    if (video < 0) {
        avformat_close_input(&ctx);
        return Failure{"it has no video stream"};
    }
    const AVStream* vs = ctx->streams[video];
    facts.codec = avcodec_get_name(vs->codecpar->codec_id);
    facts.width = vs->codecpar->width;
    facts.height = vs->codecpar->height;
    const AVRational rate = vs->avg_frame_rate.num > 0 && vs->avg_frame_rate.den > 0 ? vs->avg_frame_rate
                                                                                     : vs->r_frame_rate;
    if (rate.num > 0 && rate.den > 0) {
        const AVRational reduced = av_mul_q(rate, AVRational{1, 1});
        facts.rateNum = reduced.num;
        facts.rateDen = reduced.den;
    }
    // Matroska keeps the tag on the file, Ogg on the stream.
    const AVDictionaryEntry* comment = av_dict_get(ctx->metadata, "comment", nullptr, 0);
    if (comment == nullptr) comment = av_dict_get(vs->metadata, "comment", nullptr, 0);
    if (comment != nullptr && comment->value != nullptr) facts.comment = comment->value;

    const int read = ReadPackets(ctx, video, facts);
    avformat_close_input(&ctx);
    if (read != AVERROR_EOF) {
        return Failure{"it is damaged after " + std::to_string(facts.packets) + " frames (" + ErrorText(read) + ")"};
    }
    return facts;
}

namespace {

struct OutputFree {
    void operator()(AVFormatContext* c) const {
        if (c->pb != nullptr) avio_closep(&c->pb);
        avformat_free_context(c);
    }
};

// The streams of `in` into `out` as they are, the tag on the file and on
// every video stream (Ogg writes only the streams' tags); the retimed
// stream `retimed` in `slot`, a time base of one frame.
std::string AddCopiedStreams(const AVFormatContext* in, AVFormatContext* out, const std::string& comment,
                             int retimed, AVRational slot) {
    av_dict_copy(&out->metadata, in->metadata, 0);
    if (!comment.empty()) av_dict_set(&out->metadata, "comment", comment.c_str(), 0);
    for (unsigned i = 0; i < in->nb_streams; ++i) {
        const AVStream* is = in->streams[i];
        AVStream* os = avformat_new_stream(out, nullptr);
        if (os == nullptr || avcodec_parameters_copy(os->codecpar, is->codecpar) < 0) return "out of memory";
        os->codecpar->codec_tag = 0;
        os->time_base = static_cast<int>(i) == retimed ? slot : is->time_base;
        os->avg_frame_rate = static_cast<int>(i) == retimed ? av_inv_q(slot) : is->avg_frame_rate;
        os->r_frame_rate = static_cast<int>(i) == retimed ? av_inv_q(slot) : is->r_frame_rate;
        os->sample_aspect_ratio = is->sample_aspect_ratio;
        os->disposition = is->disposition;
        av_dict_copy(&os->metadata, is->metadata, 0);
        if (is->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && !comment.empty()) {
            av_dict_set(&os->metadata, "comment", comment.c_str(), 0);
        }
    }
    return {};
}

// A time moved to the nearest frame of `slot`, then into the stream's own
// time base (which the muxer may have chosen finer).
int64_t OntoSlot(int64_t time, AVRational from, AVRational slot, AVRational to) {
    if (time == AV_NOPTS_VALUE) return time;
    const auto near = static_cast<AVRounding>(AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX);
    return av_rescale_q(av_rescale_q_rnd(time, from, slot, near), slot, to);
}

std::string CopyPackets(AVFormatContext* in, AVFormatContext* out, int retimed, AVRational slot) {
    AVPacket* packet = av_packet_alloc();
    if (packet == nullptr) return "out of memory";
    int rc = 0;
    while ((rc = av_read_frame(in, packet)) >= 0) {
        const int s = packet->stream_index;
        const AVRational from = in->streams[s]->time_base;
        const AVRational to = out->streams[s]->time_base;
        if (s == retimed) {
            packet->pts = OntoSlot(packet->pts, from, slot, to);
            packet->dts = OntoSlot(packet->dts, from, slot, to);
            packet->duration = av_rescale_q(1, slot, to);
        } else {
            av_packet_rescale_ts(packet, from, to);
        }
        packet->pos = -1;
        rc = av_interleaved_write_frame(out, packet);
        if (rc < 0) break;
    }
    av_packet_free(&packet);
    if (rc != AVERROR_EOF) return "cannot copy its packets (" + ErrorText(rc) + ")";
    rc = av_write_trailer(out);
    const int ioError = out->pb->error;
    if (rc >= 0) rc = avio_closep(&out->pb);
    if (rc < 0 || ioError < 0) return "cannot finish the copy (" + ErrorText(rc < 0 ? rc : ioError) + ")";
    return {};
}

}  // namespace

Status CopyMovie(const std::string& source, const std::string& target, const MovieCopy& how) {
    int rc = 0;
    AVFormatContext* rawIn = OpenFile(source, rc);
    if (rawIn == nullptr) return Failure{"cannot read " + source + " (" + ErrorText(rc) + ")"};
    const auto closeIn = [](AVFormatContext* c) { avformat_close_input(&c); };
    std::unique_ptr<AVFormatContext, decltype(closeIn)> in(rawIn, closeIn);
    rc = avformat_find_stream_info(in.get(), nullptr);
    if (rc < 0) return Failure{"cannot read " + source + " (" + ErrorText(rc) + ")"};
    AVFormatContext* rawOut = nullptr;
    rc = avformat_alloc_output_context2(&rawOut, nullptr, nullptr, target.c_str());
    if (rc < 0 || rawOut == nullptr) return Failure{"no container for " + target + " (" + ErrorText(rc) + ")"};
    std::unique_ptr<AVFormatContext, OutputFree> out(rawOut);
    const bool retime = how.rateNum > 0 && how.rateDen > 0;
    const int retimed = retime ? av_find_best_stream(in.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0) : -1;
    const AVRational slot{how.rateDen, how.rateNum};
    std::string error = AddCopiedStreams(in.get(), out.get(), how.comment, retimed, slot);
    if (!error.empty()) return Failure{error};
    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    rc = avio_open2(&out->pb, ("file:" + target).c_str(), AVIO_FLAG_WRITE, nullptr, &options);
    av_dict_free(&options);
    if (rc < 0) return Failure{"cannot write " + target + " (" + ErrorText(rc) + ")"};
    rc = avformat_write_header(out.get(), nullptr);
    if (rc < 0) return Failure{"cannot write " + target + " (" + ErrorText(rc) + ")"};
    error = CopyPackets(in.get(), out.get(), retimed, slot);
    if (!error.empty()) return Failure{error};
    return {};
}

}  // namespace tessaly
