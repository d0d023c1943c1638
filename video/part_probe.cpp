#include "video/part_probe.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/error.h>
}

#include <cerrno>

namespace tessaly {
namespace {

std::string ErrorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

}  // namespace

PartFileFacts ReadPartFileFacts(const std::string& path, std::string& error) {
    PartFileFacts facts;
    error.clear();
    av_log_set_level(AV_LOG_FATAL);
    AVFormatContext* ctx = nullptr;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    const std::string url = "file:" + path;
    int rc = avformat_open_input(&ctx, url.c_str(), nullptr, &options);
    av_dict_free(&options);
    if (rc < 0) {
        error = rc == AVERROR(ENOENT) ? "no such file" : "it cannot be read (" + ErrorText(rc) + ")";
        return facts;
    }
    rc = avformat_find_stream_info(ctx, nullptr);
    if (rc < 0) {
        error = "it cannot be read (" + ErrorText(rc) + ")";
        avformat_close_input(&ctx);
        return facts;
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
        error = "it has no video stream";
        avformat_close_input(&ctx);
        return facts;
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

    AVPacket* packet = av_packet_alloc();
    if (packet == nullptr) {
        error = "out of memory";
        avformat_close_input(&ctx);
        return facts;
    }
    int read = 0;
    while ((read = av_read_frame(ctx, packet)) >= 0) {
        if (packet->stream_index == video) {
            if (facts.packets == 0) facts.startsWithKey = (packet->flags & AV_PKT_FLAG_KEY) != 0;
            ++facts.packets;
        }
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    if (read != AVERROR_EOF) error = "it is damaged after " + std::to_string(facts.packets) + " frames (" + ErrorText(read) + ")";
    avformat_close_input(&ctx);
    return facts;
}

}  // namespace tessaly
