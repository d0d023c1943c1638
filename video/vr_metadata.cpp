#include "video/vr_metadata.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/spherical.h>
#include <libavutil/stereo3d.h>
}

#include "output/output_extension.h"
#include "output/pending_file.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;

// Room left on the file system beyond the copy itself.
constexpr uintmax_t kSpareBytes = 16u << 20;

std::string AvError(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

struct InputCloser {
    void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
using InputContext = std::unique_ptr<AVFormatContext, InputCloser>;

struct OutputCloser {
    void operator()(AVFormatContext* c) const {
        if (c->pb && !(c->oformat->flags & AVFMT_NOFILE)) avio_closep(&c->pb);
        avformat_free_context(c);
    }
};
using OutputContext = std::unique_ptr<AVFormatContext, OutputCloser>;

struct PacketFree {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};

InputContext OpenInput(const std::string& path, std::string& error) {
    AVFormatContext* raw = nullptr;
    const int rc = avformat_open_input(&raw, path.c_str(), nullptr, nullptr);
    if (rc < 0) {
        error = "cannot open " + path + ": " + AvError(rc);
        return nullptr;
    }
    return InputContext(raw);
}

int FirstVideoStream(const AVFormatContext* c) {
    for (unsigned i = 0; i < c->nb_streams; ++i) {
        const AVStream* st = c->streams[i];
        if (st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
            !(st->disposition & AV_DISPOSITION_ATTACHED_PIC)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

// Stream side data (FFmpeg 6.1 moved it into the codec parameters).
const uint8_t* StreamSideData(const AVStream* st, AVPacketSideDataType type) {
#if LIBAVFORMAT_VERSION_INT >= AV_VERSION_INT(60, 15, 100)
    const AVPacketSideData* sd = av_packet_side_data_get(st->codecpar->coded_side_data,
                                                         st->codecpar->nb_coded_side_data, type);
    return sd ? sd->data : nullptr;
#else
    return av_stream_get_side_data(st, type, nullptr);
#endif
}

// Hands `data` (av_malloc'ed, `size` bytes) to the stream; frees it on failure.
bool AddStreamSideData(AVStream* st, AVPacketSideDataType type, uint8_t* data, size_t size) {
#if LIBAVFORMAT_VERSION_INT >= AV_VERSION_INT(60, 15, 100)
    if (!av_packet_side_data_add(&st->codecpar->coded_side_data,
                                 &st->codecpar->nb_coded_side_data, type, data, size, 0)) {
        av_free(data);
        return false;
    }
    return true;
#else
    if (av_stream_add_side_data(st, type, data, size) < 0) {
        av_free(data);
        return false;
    }
    return true;
#endif
}

// The stereo type the marking gives a layout.
int Stereo3DType(StereoLayout layout) {
    switch (layout) {
        case StereoLayout::kSideBySide: return AV_STEREO3D_SIDEBYSIDE;
        case StereoLayout::kTopBottom: return AV_STEREO3D_TOPBOTTOM;
        case StereoLayout::kMono:
        case StereoLayout::kPair: break;
    }
    return AV_STEREO3D_2D;
}

// The 180° × 180° marking on one stream, each eye's picture that square.
bool AddVr180SideData(AVStream* st, StereoLayout stereoLayout) {
    size_t size = 0;
    AVSphericalMapping* mapping = av_spherical_alloc(&size);
    if (!mapping) return false;
    // Tiled equirectangular is the projection whose bounds the muxers write
    // (the MP4 equi box always carries them, Matroska only for this type).
    mapping->projection = AV_SPHERICAL_EQUIRECTANGULAR_TILE;
    mapping->yaw = mapping->pitch = mapping->roll = 0;
    mapping->bound_left = kVr180BoundLeft;
    mapping->bound_top = kVr180BoundTop;
    mapping->bound_right = kVr180BoundRight;
    mapping->bound_bottom = kVr180BoundBottom;
    if (!AddStreamSideData(st, AV_PKT_DATA_SPHERICAL, reinterpret_cast<uint8_t*>(mapping), size)) {
        return false;
    }
    AVStereo3D* stereo = av_stereo3d_alloc();
    if (!stereo) return false;
    stereo->type = static_cast<AVStereo3DType>(Stereo3DType(stereoLayout));
    return AddStreamSideData(st, AV_PKT_DATA_STEREO3D, reinterpret_cast<uint8_t*>(stereo),
                             sizeof *stereo);
}

// Copies the stream's other side data (display matrix and the like).
bool CopyOtherSideData(const AVStream* in, AVStream* out) {
#if LIBAVFORMAT_VERSION_INT >= AV_VERSION_INT(60, 15, 100)
    (void)in;
    (void)out;  // travels with avcodec_parameters_copy
    return true;
#else
    for (int i = 0; i < in->nb_side_data; ++i) {
        const AVPacketSideData& sd = in->side_data[i];
        if (sd.type == AV_PKT_DATA_SPHERICAL || sd.type == AV_PKT_DATA_STEREO3D) continue;
        uint8_t* copy = static_cast<uint8_t*>(av_malloc(sd.size));
        if (!copy) return false;
        std::memcpy(copy, sd.data, sd.size);
        if (!AddStreamSideData(out, sd.type, copy, sd.size)) return false;
    }
    return true;
#endif
}

// Keeps the input's codec tag only where the output container knows it for
// the same codec, as a stream copy by the ffmpeg program does.
uint32_t CodecTagFor(const AVOutputFormat* format, const AVCodecParameters* par) {
    if (par->codec_tag == 0) return 0;
    if (!format->codec_tag) return par->codec_tag;
    if (av_codec_get_id(format->codec_tag, par->codec_tag) == par->codec_id) return par->codec_tag;
    unsigned int tag = 0;
    if (!av_codec_get_tag2(format->codec_tag, par->codec_id, &tag)) return par->codec_tag;
    return 0;
}

struct Copied {
    std::vector<int64_t> packets;  // per stream
    std::vector<int64_t> bytes;
};

// A stream of `out` for every stream of `in`, with its parameters, tags and
// side data; the marking goes on stream `video`.
bool CopyStreams(AVFormatContext* in, AVFormatContext* out, int video, StereoLayout stereo, std::string& error) {
    for (unsigned i = 0; i < in->nb_streams; ++i) {
        const AVStream* is = in->streams[i];
        AVStream* os = avformat_new_stream(out, nullptr);
        if (!os || avcodec_parameters_copy(os->codecpar, is->codecpar) < 0) {
            error = "cannot copy stream " + std::to_string(i);
            return false;
        }
        os->codecpar->codec_tag = CodecTagFor(out->oformat, is->codecpar);
        os->time_base = is->time_base;
        os->avg_frame_rate = is->avg_frame_rate;
        os->r_frame_rate = is->r_frame_rate;
        os->sample_aspect_ratio = is->sample_aspect_ratio;
        os->disposition = is->disposition;
        av_dict_copy(&os->metadata, is->metadata, 0);
        if (!CopyOtherSideData(is, os) ||
            (static_cast<int>(i) == video && !AddVr180SideData(os, stereo))) {
            error = "out of memory";
            return false;
        }
    }
    return true;
}

// Stream-copies every packet of `in` into a new `muxer` file at `temp`,
// with the marking on the first video stream.
bool Remux(AVFormatContext* in, const std::string& muxer, const std::string& temp, StereoLayout stereo,
           Copied& copied, std::string& error) {
    const int video = FirstVideoStream(in);
    if (video < 0) {
        error = "no video stream";
        return false;
    }
    AVFormatContext* rawOut = nullptr;
    int rc = avformat_alloc_output_context2(&rawOut, nullptr, muxer.c_str(), temp.c_str());
    if (rc < 0 || !rawOut) {
        error = "no " + muxer + " muxer: " + AvError(rc);
        return false;
    }
    OutputContext out(rawOut);
    // The MP4 and QuickTime muxers write st3d and sv3d only in this mode.
    out->strict_std_compliance = FF_COMPLIANCE_UNOFFICIAL;
    // The encoder writes no chapters; tags of the file and of every stream
    // go along.
    av_dict_copy(&out->metadata, in->metadata, 0);

    if (!CopyStreams(in, out.get(), video, stereo, error)) return false;
    rc = avio_open(&out->pb, temp.c_str(), AVIO_FLAG_WRITE);
    if (rc < 0) {
        error = "cannot write " + temp + ": " + AvError(rc);
        return false;
    }
    rc = avformat_write_header(out.get(), nullptr);
    if (rc < 0) {
        error = "cannot write the header: " + AvError(rc);
        return false;
    }

    copied.packets.assign(in->nb_streams, 0);
    copied.bytes.assign(in->nb_streams, 0);
    std::unique_ptr<AVPacket, PacketFree> pkt(av_packet_alloc());
    if (!pkt) {
        error = "out of memory";
        return false;
    }
    while ((rc = av_read_frame(in, pkt.get())) >= 0) {
        const int s = pkt->stream_index;
        ++copied.packets[s];
        copied.bytes[s] += pkt->size;
        av_packet_rescale_ts(pkt.get(), in->streams[s]->time_base, out->streams[s]->time_base);
        pkt->pos = -1;
        rc = av_interleaved_write_frame(out.get(), pkt.get());
        if (rc < 0) {
            error = "cannot write a packet: " + AvError(rc);
            return false;
        }
    }
    if (rc != AVERROR_EOF) {
        error = "cannot read " + std::string(in->url) + ": " + AvError(rc);
        return false;
    }
    rc = av_write_trailer(out.get());
    if (rc < 0) {
        error = "cannot finish the file: " + AvError(rc);
        return false;
    }
    const int ioError = out->pb->error;
    rc = avio_closep(&out->pb);
    if (ioError < 0 || rc < 0) {
        error = "cannot write " + temp + ": " + AvError(ioError < 0 ? ioError : rc);
        return false;
    }
    return true;
}

// The copy is complete when it reads back with the same streams, the same
// packets and the marking.
bool VerifyCopy(const std::string& temp, const AVFormatContext* original, StereoLayout stereo,
                const Copied& copied, std::string& error) {
    const VrMarking marking = ReadVrMarking(temp);
    if (!marking.opened) {
        error = "the marked copy cannot be read back";
        return false;
    }
    if (!marking.spherical || !marking.equirectangular || marking.boundLeft != kVr180BoundLeft ||
        marking.boundRight != kVr180BoundRight || marking.boundTop != kVr180BoundTop ||
        marking.boundBottom != kVr180BoundBottom || !marking.stereo || marking.layout != stereo) {
        error = "the container did not keep the marking";
        return false;
    }
    std::string openError;
    InputContext back = OpenInput(temp, openError);
    if (!back || back->nb_streams != original->nb_streams) {
        error = "the marked copy has other streams";
        return false;
    }
    std::vector<int64_t> packets(back->nb_streams, 0), bytes(back->nb_streams, 0);
    std::unique_ptr<AVPacket, PacketFree> pkt(av_packet_alloc());
    int rc = 0;
    while (pkt && (rc = av_read_frame(back.get(), pkt.get())) >= 0) {
        ++packets[pkt->stream_index];
        bytes[pkt->stream_index] += pkt->size;
        av_packet_unref(pkt.get());
    }
    for (unsigned i = 0; i < back->nb_streams; ++i) {
        if (back->streams[i]->codecpar->codec_id != original->streams[i]->codecpar->codec_id ||
            packets[i] != copied.packets[i] || bytes[i] != copied.bytes[i]) {
            error = "the marked copy lost packets of stream " + std::to_string(i);
            return false;
        }
    }
    return true;
}

VrMarkResult Finish(VrMarkResult result, const std::string& path, const VrLogFn& log,
                    StereoLayout stereo = StereoLayout::kMono) {
    if (!log) return result;
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.2f", result.seconds);
    if (result.status == VrMarkStatus::kMarked) {
        const char* kind = stereo == StereoLayout::kSideBySide  ? "side-by-side stereo"
                           : stereo == StereoLayout::kTopBottom ? "top-bottom stereo"
                                                                : "mono";
        log("VR metadata: " + path + " marked as 180x180 degree equirectangular " + kind + " video (" +
            std::to_string(result.packets) + " packets copied in " + seconds + " s)");
    } else {
        log("VR metadata: " + path + " left unmarked: " + result.reason);
    }
    return result;
}

}  // namespace

std::string VrMuxerFor(const std::string& extension) {
    // FFmpeg's QuickTime writer leaves st3d and sv3d out in its own mode, so
    // a .mov is rewritten by the MP4 writer: the same box structure, brand
    // "isom", read by QuickTime and every MP4 reader.
    if (extension == ".mp4" || extension == ".m4v" || extension == ".mov") return "mp4";
    if (extension == ".webm") return "webm";
    if (extension == ".mkv") return "matroska";
    return {};
}

VrMarking ReadVrMarking(const std::string& path) {
    VrMarking marking;
    std::string error;
    InputContext in = OpenInput(path, error);
    if (!in) return marking;
    marking.opened = true;
    const int video = FirstVideoStream(in.get());
    if (video < 0) return marking;
    const AVStream* st = in->streams[video];
    if (const auto* m = reinterpret_cast<const AVSphericalMapping*>(
            StreamSideData(st, AV_PKT_DATA_SPHERICAL))) {
        marking.spherical = true;
        marking.equirectangular = m->projection == AV_SPHERICAL_EQUIRECTANGULAR ||
                                  m->projection == AV_SPHERICAL_EQUIRECTANGULAR_TILE;
        marking.boundLeft = m->bound_left;
        marking.boundTop = m->bound_top;
        marking.boundRight = m->bound_right;
        marking.boundBottom = m->bound_bottom;
    }
    if (const auto* s =
            reinterpret_cast<const AVStereo3D*>(StreamSideData(st, AV_PKT_DATA_STEREO3D))) {
        marking.stereo = true;
        marking.mono = s->type == AV_STEREO3D_2D;
        marking.layout = s->type == AV_STEREO3D_SIDEBYSIDE ? StereoLayout::kSideBySide
                         : s->type == AV_STEREO3D_TOPBOTTOM ? StereoLayout::kTopBottom
                                                             : StereoLayout::kMono;
    }
    return marking;
}

namespace {

// The marked copy of `source` in `target`, checked; `shown` is the name the
// log and the reasons use. `target` is left for the caller on failure.
VrMarkResult MarkCopy(const std::string& source, const std::string& target, const std::string& shown,
                      const VrLogFn& log, StereoLayout stereo) {
    // The libraries' own chatter stays off the terminal; failures come back
    // as results.
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_FATAL); });
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    VrMarkResult result;
    const std::string ext = OutputExtension(shown);
    const std::string muxer = VrMuxerFor(ext);
    if (muxer.empty()) {
        result.status = VrMarkStatus::kUnsupported;
        result.reason = "a " + (ext.empty() ? std::string("file without extension") : ext) +
                        " file cannot carry the 180-degree VR marking";
        return Finish(result, shown, log, stereo);
    }
    auto fail = [&](std::string reason) {
        result.status = VrMarkStatus::kFailed;
        result.reason = std::move(reason);
        result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
        return Finish(result, shown, log, stereo);
    };

    struct stat original {};
    if (::stat(source.c_str(), &original) != 0 || !S_ISREG(original.st_mode)) {
        return fail("no movie file at " + shown);
    }
    // The copy needs the movie's size once more.
    std::error_code ec;
    const fs::path folder = fs::path(target).has_parent_path() ? fs::path(target).parent_path()
                                                              : fs::path(".");
    const fs::space_info space = fs::space(folder, ec);
    if (!ec && space.available < static_cast<uintmax_t>(original.st_size) + kSpareBytes) {
        return fail("not enough free space in " + folder.string() + " for a copy of " +
                    std::to_string(original.st_size) + " bytes");
    }

    std::string error;
    InputContext in = OpenInput(source, error);
    if (!in) return fail(error);
    // The reorder depth of the video and the audio frame size: without them
    // the Matroska writer cannot place the packets of B-frames.
    const int info = avformat_find_stream_info(in.get(), nullptr);
    if (info < 0) return fail("cannot read the streams of " + shown + ": " + AvError(info));

    Copied copied;
    if (!Remux(in.get(), muxer, target, stereo, copied, error)) return fail(error);
    if (!VerifyCopy(target, in.get(), stereo, copied, error)) return fail(error);
    for (int64_t n : copied.packets) result.packets += n;
    result.status = VrMarkStatus::kMarked;
    result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return Finish(result, shown, log, stereo);
}

}  // namespace

VrMarkResult MarkCopyAs180Video(const std::string& source, const std::string& target,
                                const std::string& shownPath, const VrLogFn& log, StereoLayout stereo) {
    return MarkCopy(source, target, shownPath, log, stereo);
}

VrMarkResult MarkAs180Video(const std::string& path, const VrLogFn& log, StereoLayout stereo) {
    if (VrMuxerFor(OutputExtension(path)).empty()) return MarkCopy(path, path, path, log, stereo);
    // A link is followed: the movie it names is marked and the link stays.
    Result<PendingFile> made = CreatePendingFile(path);
    if (!made.ok()) {
        VrMarkResult result;
        result.reason = made.reason();
        return Finish(result, path, log, stereo);
    }
    PendingFile pending = std::move(made).value();
    VrMarkResult result = MarkCopy(pending.placePath, pending.tempPath, path, {}, stereo);
    // The marked movie keeps the permissions of the one it replaces.
    if (result.status == VrMarkStatus::kMarked) {
        if (const Status placed = PlacePendingFile(pending); !placed.ok()) {
            result.status = VrMarkStatus::kFailed;
            result.reason = placed.reason();
        }
    }
    DiscardPendingFile(pending);
    return Finish(result, path, log, stereo);
}

}  // namespace tessaly
