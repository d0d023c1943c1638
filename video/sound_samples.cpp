#include "video/sound_samples.h"

#include <algorithm>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

namespace tessaly {
namespace {

// The demuxer, the sound decoder and the resampler of one read.
struct SoundDecoder {
    AVFormatContext* fmt = nullptr;
    AVCodecContext* codec = nullptr;
    SwrContext* swr = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    int stream = -1;

    ~SoundDecoder() {
        av_frame_free(&frame);
        av_packet_free(&packet);
        swr_free(&swr);
        avcodec_free_context(&codec);
        avformat_close_input(&fmt);
    }

    std::string Open(const std::string& path, int32_t rate) {
        if (avformat_open_input(&fmt, path.c_str(), nullptr, nullptr) < 0) {
            fmt = nullptr;
            return "cannot be opened";
        }
        if (avformat_find_stream_info(fmt, nullptr) < 0) return "has streams that cannot be read";
        stream = av_find_best_stream(fmt, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
        if (stream < 0) return "has no sound";
        const AVCodecParameters* par = fmt->streams[stream]->codecpar;
        const AVCodec* decoder = avcodec_find_decoder(par->codec_id);
        codec = decoder != nullptr ? avcodec_alloc_context3(decoder) : nullptr;
        if (codec == nullptr || avcodec_parameters_to_context(codec, par) < 0 ||
            avcodec_open2(codec, decoder, nullptr) < 0) {
            return "has sound that cannot be decoded";
        }
        AVChannelLayout mono{};
        av_channel_layout_default(&mono, 1);
        AVChannelLayout in = codec->ch_layout;
        if (in.order == AV_CHANNEL_ORDER_UNSPEC) av_channel_layout_default(&in, in.nb_channels);
        if (swr_alloc_set_opts2(&swr, &mono, AV_SAMPLE_FMT_FLT, rate, &in, codec->sample_fmt, codec->sample_rate, 0,
                                nullptr) < 0 ||
            swr_init(swr) < 0) {
            return "has sound that cannot be resampled";
        }
        packet = av_packet_alloc();
        frame = av_frame_alloc();
        return packet != nullptr && frame != nullptr ? std::string() : "cannot be read: out of memory";
    }

    // Resamples `in` (null: what the resampler still holds) onto `out`.
    void Convert(const AVFrame* in, std::vector<float>& out, size_t want) {
        const int room = swr_get_out_samples(swr, in != nullptr ? in->nb_samples : 0);
        if (room <= 0) return;
        const size_t had = out.size();
        out.resize(had + static_cast<size_t>(room));
        uint8_t* dst = reinterpret_cast<uint8_t*>(out.data() + had);
        const int got = swr_convert(swr, &dst, room, in != nullptr ? const_cast<const uint8_t**>(in->extended_data) : nullptr,
                                    in != nullptr ? in->nb_samples : 0);
        out.resize(had + static_cast<size_t>(std::max(got, 0)));
        if (out.size() > want) out.resize(want);
    }

    void Read(std::vector<float>& out, size_t want) {
        while (out.size() < want && av_read_frame(fmt, packet) >= 0) {
            const bool ours = packet->stream_index == stream && avcodec_send_packet(codec, packet) >= 0;
            av_packet_unref(packet);
            while (ours && out.size() < want && avcodec_receive_frame(codec, frame) == 0) {
                Convert(frame, out, want);
                av_frame_unref(frame);
            }
        }
        avcodec_send_packet(codec, nullptr);
        while (out.size() < want && avcodec_receive_frame(codec, frame) == 0) {
            Convert(frame, out, want);
            av_frame_unref(frame);
        }
        if (out.size() < want) Convert(nullptr, out, want);
    }
};

}  // namespace

Result<std::vector<float>> ReadMonoSound(const std::string& path, int32_t sampleRate, double seconds) {
    SoundDecoder decoder;
    const std::string problem = decoder.Open(path, sampleRate);
    if (!problem.empty()) return Failure{problem};
    std::vector<float> samples;
    decoder.Read(samples, static_cast<size_t>(seconds * sampleRate));
    if (samples.empty()) return Failure{"has no sound"};
    return samples;
}

}  // namespace tessaly
