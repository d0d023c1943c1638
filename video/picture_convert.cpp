#include "video/picture_convert.h"

#include <cstdlib>
#include <cstring>
#include <new>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include "video/frame_copy.h"

namespace tessaly {
namespace {

// The display matrix of the stream (phones store their picture turned and
// say how to show it), or null.
const int32_t* DisplayMatrixOf(const AVStream* st) {
#if LIBAVFORMAT_VERSION_INT >= AV_VERSION_INT(60, 15, 100)
    const AVPacketSideData* sd = av_packet_side_data_get(st->codecpar->coded_side_data,
                                                         st->codecpar->nb_coded_side_data,
                                                         AV_PKT_DATA_DISPLAYMATRIX);
    if (sd == nullptr || sd->size < 9 * sizeof(int32_t)) return nullptr;
    return reinterpret_cast<const int32_t*>(sd->data);
#else
    size_t size = 0;
    const uint8_t* data = av_stream_get_side_data(st, AV_PKT_DATA_DISPLAYMATRIX, &size);
    if (data == nullptr || size < 9 * sizeof(int32_t)) return nullptr;
    return reinterpret_cast<const int32_t*>(data);
#endif
}

}  // namespace

int UprightQuarterTurns(const AVStream& st) {
    const int32_t* matrix = DisplayMatrixOf(&st);
    return matrix == nullptr ? 0 : QuarterTurnsClockwise(av_display_rotation_get(matrix));
}

void PaddedBytes::Free::operator()(uint8_t* p) const { std::free(p); }

bool PaddedBytes::Assign(size_t size) {
    Clear();
    if (size == 0) return true;
    if (size > SIZE_MAX - kSpare - kAlign) return false;
    const size_t total = (size + kSpare + kAlign - 1) / kAlign * kAlign;
    auto* p = static_cast<uint8_t*>(std::aligned_alloc(kAlign, total));
    if (p == nullptr) return false;
    std::memset(p, 0, total);
    bytes_.reset(p);
    size_ = size;
    return true;
}

void PaddedBytes::Clear() {
    bytes_.reset();
    size_ = 0;
}

PictureConverter::PictureConverter() = default;

bool PictureConverter::CanConvertFrom(int format) {
    return format != AV_PIX_FMT_NONE && sws_isSupportedInput(static_cast<AVPixelFormat>(format)) > 0;
}

PictureConverter::~PictureConverter() { sws_freeContext(scaler_); }

void PictureConverter::Reset() {
    sws_freeContext(scaler_);
    scaler_ = nullptr;
    std::memset(key_, 0, sizeof key_);
    own_.Clear();
    ownStride_ = 0;
}

// A scaler for this source and target, made afresh when either changed.
bool PictureConverter::Prepare(const AVFrame& src, const PictureTarget& target) {
    const int key[8] = {src.width, src.height, src.format, target.width, target.height, target.format, target.flags,
                        target.threads};
    if (scaler_ != nullptr && std::memcmp(key, key_, sizeof key) == 0) return true;
    Reset();
    if (src.width <= 0 || src.height <= 0 || target.width <= 0 || target.height <= 0) return false;
    if (!CanConvertFrom(src.format)) return false;
    scaler_ = sws_alloc_context();
    if (scaler_ == nullptr) return false;
    av_opt_set_int(scaler_, "srcw", src.width, 0);
    av_opt_set_int(scaler_, "srch", src.height, 0);
    av_opt_set_int(scaler_, "src_format", src.format, 0);
    av_opt_set_int(scaler_, "dstw", target.width, 0);
    av_opt_set_int(scaler_, "dsth", target.height, 0);
    av_opt_set_int(scaler_, "dst_format", target.format, 0);
    av_opt_set_int(scaler_, "sws_flags", target.flags, 0);
    av_opt_set_int(scaler_, "threads", target.threads, 0);
    if (sws_init_context(scaler_, nullptr, nullptr) < 0) {
        Reset();
        return false;
    }
    std::memcpy(key_, key, sizeof key);
    return true;
}

bool PictureConverter::ScaleInto(const AVFrame& src, uint8_t* top, ptrdiff_t stride) {
    if (stride > INT32_MAX || stride < -INT32_MAX) return false;
    uint8_t* dst[4] = {top, nullptr, nullptr, nullptr};
    const int dstStride[4] = {static_cast<int>(stride), 0, 0, 0};
    return sws_scale(scaler_, src.data, src.linesize, 0, src.height, dst, dstStride) == key_[4];
}

bool PictureConverter::Convert(const AVFrame& src, const PictureTarget& target, PictureView& out) {
    const auto format = static_cast<AVPixelFormat>(target.format);
    if (av_pix_fmt_count_planes(format) != 1 || !Prepare(src, target)) return false;
    // Rows aligned with a block to spare after each, and a spare row: with
    // slice threads a block stored past one row's end may land in the next
    // row after that row was written.
    const int rowBytes = av_image_get_linesize(format, target.width, 0);
    if (rowBytes <= 0) return false;
    const ptrdiff_t stride = (static_cast<ptrdiff_t>(rowBytes) + 63) / 64 * 64 + 64;
    const size_t bytes = static_cast<size_t>(stride) * (static_cast<size_t>(target.height) + 1);
    if ((own_.size() != bytes || ownStride_ != stride) && !own_.Assign(bytes)) {
        ownStride_ = 0;
        return false;
    }
    ownStride_ = stride;
    if (!ScaleInto(src, own_.data(), stride)) return false;
    out = PictureView{own_.data(), stride, target.width, target.height};
    return true;
}

bool PictureConverter::ConvertBottomUpBgrx(const AVFrame& src, int w, int h, int quarterTurns, int threads,
                                           PaddedBytes& dst) {
    const int turns = ((quarterTurns % 4) + 4) % 4;
    const size_t rowBytes = static_cast<size_t>(w) * 4;
    if (w <= 0 || h <= 0 || dst.size() != rowBytes * static_cast<size_t>(h)) return false;
    const PictureTarget target{w, h, AV_PIX_FMT_BGR0, SWS_BILINEAR, threads};
    // A row of whole 64-byte blocks (every 16th width: 1280, 1920, 3840)
    // takes every vector store within itself, so the rows can be written
    // bottom-up in place; the last store past the top row lands in the spare
    // bytes.
    if (turns == 0 && rowBytes % 64 == 0) {
        if (!Prepare(src, target)) return false;
        own_.Clear();
        ownStride_ = 0;
        return ScaleInto(src, dst.data() + (static_cast<size_t>(h) - 1) * rowBytes, -static_cast<ptrdiff_t>(rowBytes));
    }
    PictureView view;
    if (!Convert(src, target, view)) return false;
    CopyUprightBottomUp(view.data, view.stride, w, h, turns, dst.data());
    return true;
}

}  // namespace tessaly
