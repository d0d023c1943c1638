#include "video/luma_sampler.h"

#include <algorithm>
#include <cmath>
#include <thread>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include "video/frame_copy.h"
#include "video/picture_convert.h"
#include "video/thread_sanitizer.h"

namespace tessaly {
namespace {

// Everything one sampling holds, released in one place.
struct Decoder {
    AVFormatContext* fmt = nullptr;
    AVCodecContext* codec = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    PictureConverter converter;
    int stream = -1;
    int quarterTurns = 0;  // that show the picture upright
    bool drained = false;

    ~Decoder() {
        av_frame_free(&frame);
        av_packet_free(&packet);
        avcodec_free_context(&codec);
        avformat_close_input(&fmt);
    }

    std::string Open(const std::string& path) {
        if (avformat_open_input(&fmt, path.c_str(), nullptr, nullptr) < 0) {
            fmt = nullptr;
            return "cannot open the movie";
        }
        if (avformat_find_stream_info(fmt, nullptr) < 0) return "cannot read the movie's streams";
        stream = av_find_best_stream(fmt, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        if (stream < 0 || (fmt->streams[stream]->disposition & AV_DISPOSITION_ATTACHED_PIC)) {
            return "the movie has no picture";
        }
        AVStream* st = fmt->streams[stream];
        quarterTurns = UprightQuarterTurns(*st);
        const AVCodec* decoder = avcodec_find_decoder(st->codecpar->codec_id);
        if (decoder == nullptr) return "no decoder for the movie's picture";
        codec = avcodec_alloc_context3(decoder);
        if (codec == nullptr || avcodec_parameters_to_context(codec, st->codecpar) < 0) {
            return "no decoder for the movie's picture";
        }
        codec->pkt_timebase = st->time_base;
        // A short job beside whatever else runs: two threads at most.
        codec->thread_count = static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 2u));
#if defined(TESSALY_UNDER_TSAN)
        // The decoder's own threads synchronise where the sanitizer cannot
        // see (FFmpeg is not built for it): decode on this thread alone.
        codec->thread_count = 1;
#endif
        // Any frame near each point will do: frames no other frame needs are
        // not decoded on the way there.
        codec->skip_frame = AVDISCARD_NONREF;
        if (avcodec_open2(codec, decoder, nullptr) < 0) return "no decoder for the movie's picture";
        packet = av_packet_alloc();
        frame = av_frame_alloc();
        if (packet == nullptr || frame == nullptr) return "out of memory";
        return {};
    }

    // The next decoded picture in `frame`; false at the end or on an error.
    bool Next() {
        while (true) {
            const int got = avcodec_receive_frame(codec, frame);
            if (got == 0) return true;
            if (got != AVERROR(EAGAIN)) return false;
            if (drained) return false;
            const int read = av_read_frame(fmt, packet);
            if (read < 0) {
                drained = true;
                avcodec_send_packet(codec, nullptr);
                continue;
            }
            if (packet->stream_index == stream) avcodec_send_packet(codec, packet);
            av_packet_unref(packet);
        }
    }

    bool Seek(int64_t ts) {
        if (av_seek_frame(fmt, stream, ts, AVSEEK_FLAG_BACKWARD) < 0) return false;
        avcodec_flush_buffers(codec);
        drained = false;
        return true;
    }
};

constexpr int kMaxFramesPerPoint = 24;

// The time of the key frame at or before ts in the stream's index, if known.
int64_t KeyFrameBefore(AVStream* st, int64_t ts) {
    const int index = av_index_search_timestamp(st, ts, AVSEEK_FLAG_BACKWARD);
    if (index < 0) return AV_NOPTS_VALUE;
    const AVIndexEntry* entry = avformat_index_get_entry(st, index);
    return entry != nullptr ? entry->timestamp : AV_NOPTS_VALUE;
}

// The working plane's size: the frame's, scaled so its longer side fits.
void PlaneSize(int w, int h, int maxSide, int& pw, int& ph) {
    const double f = std::max(w, h) > maxSide ? static_cast<double>(maxSide) / std::max(w, h) : 1.0;
    pw = std::clamp(static_cast<int>(std::lround(w * f)), 1, w);
    ph = std::clamp(static_cast<int>(std::lround(h * f)), 1, h);
}

// Folds frames into the brightest-luma plane at the working size, each
// turned upright as the conversion shows it, so that the circle found is
// the one its cut sees.
struct UprightFolder {
    int maxPlaneSide = 1024;
    int quarterTurns = 0;
    int frameW = 0, frameH = 0;  // the first frame's, upright
    int pw = 0, ph = 0;          // the working plane, as stored
    std::vector<uint8_t> upright;
    LumaMaximum maximum;

    void Fold(const AVFrame& f, PictureConverter& converter) {
        if (f.width <= 0 || f.height <= 0) return;
        const int uw = UprightWidth(f.width, f.height, quarterTurns);
        const int uh = UprightHeight(f.width, f.height, quarterTurns);
        if (frameW == 0) {
            frameW = uw;
            frameH = uh;
            PlaneSize(f.width, f.height, std::max(16, maxPlaneSide), pw, ph);
            upright.assign(static_cast<size_t>(pw) * ph, 0);
        }
        if (uw != frameW || uh != frameH) return;
        PictureView gray;
        if (!converter.Convert(f, PictureTarget{pw, ph, AV_PIX_FMT_GRAY8, SWS_AREA, 1}, gray)) return;
        if (quarterTurns == 0) {
            maximum.Add(gray.data, pw, ph, static_cast<int32_t>(gray.stride));
            return;
        }
        CopyPlaneUpright(gray.data, gray.stride, pw, ph, quarterTurns, upright.data());
        const int planeW = UprightWidth(pw, ph, quarterTurns);
        maximum.Add(upright.data(), planeW, UprightHeight(pw, ph, quarterTurns), planeW);
    }
};

}  // namespace

Result<SampledLuma> SampleLumaMaximum(const std::string& path, const LumaSampling& sampling,
                                      const std::atomic<bool>* stop) {
    SampledLuma out;
    Decoder d;
    if (std::string problem = d.Open(path); !problem.empty()) return Failure{std::move(problem)};
    AVStream* st = d.fmt->streams[d.stream];
    int64_t duration = st->duration;
    if (duration <= 0 || duration == AV_NOPTS_VALUE) {
        duration = d.fmt->duration > 0 ? av_rescale_q(d.fmt->duration, AVRational{1, AV_TIME_BASE}, st->time_base) : 0;
    }
    const int64_t start = st->start_time == AV_NOPTS_VALUE ? 0 : st->start_time;
    const bool seekable = d.fmt->pb != nullptr && (d.fmt->pb->seekable & AVIO_SEEKABLE_NORMAL) && duration > 0;
    const int count = std::max(1, sampling.frames);

    UprightFolder folder;
    folder.maxPlaneSide = sampling.maxPlaneSide;
    folder.quarterTurns = d.quarterTurns;
    LumaMaximum& maximum = folder.maximum;
    int64_t lastPts = AV_NOPTS_VALUE;
    const auto fold = [&] { folder.Fold(*d.frame, d.converter); };
    const auto stopped = [&] { return stop != nullptr && stop->load(); };

    if (seekable) {
        // All points together decode a bounded number of frames: fewer for
        // larger frames.
        const int64_t pixels = std::max<int64_t>(1, int64_t(st->codecpar->width) * st->codecpar->height);
        const int64_t budget = std::max<int64_t>(48, 400LL * 1280 * 720 / pixels);
        int64_t decodedTotal = 0;
        int64_t current = AV_NOPTS_VALUE;  // the last frame decoded
        for (int i = 0; i < count && !stopped() && decodedTotal < budget; ++i) {
            const int64_t ts = start + duration * i / count;
            if (current != AV_NOPTS_VALUE && ts <= current) continue;  // a short movie: passed already
            // Decoding on from where the decoder is costs less than a seek
            // back to a key frame that lies before it.
            const int64_t key = KeyFrameBefore(st, ts);
            const bool onward = current != AV_NOPTS_VALUE && key != AV_NOPTS_VALUE && key <= current;
            if (!onward && !d.Seek(ts)) break;
            // Up to ts, or a bounded number of frames (long key frame intervals).
            bool reached = false;
            for (int decoded = 1; !stopped() && decodedTotal < budget && d.Next(); ++decoded) {
                ++decodedTotal;
                const int64_t pts = d.frame->best_effort_timestamp;
                current = pts;
                if (pts == AV_NOPTS_VALUE || pts >= ts || decoded >= kMaxFramesPerPoint) {
                    reached = true;
                    break;
                }
            }
            if (!reached) continue;
            const int64_t pts = d.frame->best_effort_timestamp;
            if (pts != AV_NOPTS_VALUE && pts == lastPts) continue;  // the same frame again
            lastPts = pts;
            fold();
        }
    }
    if (maximum.Frames() == 0 && !stopped()) {
        // No seeking: the frames from the start, every tenth of the first few hundred.
        d.Seek(start);  // a fresh start where the demuxer allows; harmless otherwise
        int index = 0;
        while (maximum.Frames() < count && index < 10 * count && !stopped() && d.Next()) {
            if (index++ % 10 == 0) fold();
        }
    }
    out.frameW = folder.frameW;
    out.frameH = folder.frameH;
    out.frames = maximum.Frames();
    if (out.frames == 0) return Failure{stopped() ? "stopped" : "no frame could be decoded"};
    out.maximum = maximum.Plane();
    return out;
}

CircleSearch FindLensCircleInMovie(const std::string& path, const std::atomic<bool>* stop) {
    const Result<SampledLuma> sampled = SampleLumaMaximum(path, LumaSampling{}, stop);
    if (!sampled.ok()) {
        CircleSearch none;
        none.reason = sampled.reason();
        return none;
    }
    return FindLensCircle(sampled->maximum, sampled->frameW, sampled->frameH);
}

}  // namespace tessaly
