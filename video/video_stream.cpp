#include "video/video_stream.h"

#include "video/frame_copy.h"
#include "video/picture_convert.h"
#include "video/movie_check.h"
#include "video/stream_text.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/display.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "video/thread_sanitizer.h"

#if defined(TESSALY_UNDER_TSAN)
// FFmpeg's libraries are not built for ThreadSanitizer: their frame and
// slice threads synchronise through atomics it cannot see. Keep its reports
// to the code built here. Debian's Qt libraries (the desktop program) are
// not built for it either: their thread pool, event queues and implicit
// sharing use atomics it cannot see.
extern "C" const char* __tsan_default_suppressions() {
    return "called_from_lib:libavcodec.so\n"
           "called_from_lib:libavformat.so\n"
           "called_from_lib:libavutil.so\n"
           "called_from_lib:libswscale.so\n"
           "called_from_lib:libswresample.so\n"
           "race:libavcodec.so\n"
           "race:libavutil.so\n"
           "race:libswscale.so\n"
           "race:libQt6Core.so\n"
           "race:libQt6Gui.so\n"
           "race:libQt6Widgets.so\n"
           "race:libQt6Multimedia.so\n"
           "race:libqoffscreen.so\n"
           "mutex:libQt6Core.so\n";
}
#endif

namespace tessaly {

namespace {

using Clock = std::chrono::steady_clock;

constexpr AVRational kTickBase{1, static_cast<int>(kMediaTimePerSecond)};
// Frames larger than this are refused rather than risking a huge allocation
// from a corrupt header.
constexpr int64_t kMaxFramePixels = 16384LL * 16384LL;
// A late preview frame more than this behind its time restarts the clock
// instead of rushing to catch up.
constexpr auto kMaxLateness = std::chrono::milliseconds(500);
constexpr int32_t kMaxPendingEnds = 64;


// Where the decoding thread stands with the frame it works on.
enum class FrameState {
    kNeedFrame,   // decode the next frame
    kNeedCue,     // after a seek: decode the first frame and show it even while paused
    kHeld,        // a decoded frame waits to be presented
    kHeldCue,     // the first frame after a seek waits; shown at once while paused
    kHeldShown,   // a decoded frame is already in the newest-frame buffer
    kEnded,       // the decoder has given its last frame
    kCompletePosted,
};

// Wall-clock time and movie time of one presented frame: the preview's pace.
struct PacingAnchor {
    Clock::time_point wall;
    int64_t ticks = 0;
};

int InterruptRequested(void* opaque) {
    return static_cast<std::atomic<bool>*>(opaque)->load() ? 1 : 0;
}

// Decoder threads: FFmpeg's choice, bounded so that a many-core machine does
// not multiply the memory that frame threading holds.
int DecoderThreadCount() {
    const unsigned n = std::thread::hardware_concurrency();
    return static_cast<int>(std::clamp(n == 0 ? 1u : n, 1u, 8u)) + 1;
}

MediaTime TimePerFrame(const AVStream* st) {
    AVRational rate = st->avg_frame_rate;
    if (rate.num <= 0 || rate.den <= 0) rate = st->r_frame_rate;
    if (rate.num <= 0 || rate.den <= 0) return MediaTime{0};
    return MediaTime{av_rescale(kMediaTimePerSecond, rate.den, rate.num)};
}

}  // namespace

struct VideoStream::Impl {
    // ---- shared state, guarded by m ----
    mutable std::mutex m;
    std::condition_variable cv;
    bool open = false;
    bool quit = false;
    bool playing = false;
    bool seekRequested = false;
    FrameState frameState = FrameState::kNeedFrame;
    std::optional<PacingAnchor> pacing;  // none: the next presented frame sets it
    int64_t lastTicks = -1;      // time of the last presented frame
    int32_t pendingEnds = 0;              // ends of the movie not yet taken
    std::function<void()> endListener;    // under m: told of each end
    MediaInfo info;
    std::string openProblem;  // why the last open failed

    // ---- readable from anywhere ----
    std::atomic<bool> interrupt{false};
    std::atomic<int64_t> position{0};
    std::atomic<int64_t> delivered{0};
    std::atomic<int64_t> unconvertible{0};
    std::atomic<bool> muted{false};
    std::atomic<bool> sliceThreadsOnly{false};
    std::atomic<int64_t> seekTicks{0};  // where the next start-over reads from

    std::mutex lifeMutex;  // serialises Open and Close

    mutable std::mutex frameMutex;  // the newest frame
    // Bottom row first, packed, with spare bytes after it that the colour
    // conversion may overwrite.
    PaddedBytes newest;

    std::mutex callbackMutex;  // held while the callback runs
    FrameCallback callback;
    std::atomic<bool> hasCallback{false};

    std::mutex sinkMutex;
    AudioSink* sink = nullptr;

    // ---- owned by the decoding thread once it runs ----
    AVFormatContext* fmt = nullptr;
    AVCodecContext* video = nullptr;
    AVCodecContext* audio = nullptr;
    int videoIndex = -1;
    int audioIndex = -1;
    AVRational videoTimeBase{1, 1};
    int64_t startPts = AV_NOPTS_VALUE;
    std::string openedPath;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;       // the held video frame
    AVFrame* soundFrame = nullptr;
    int storedW = 0, storedH = 0;  // the picture size as stored, fixed at the open
    int quarterTurns = 0;           // clockwise turns that show the picture upright
    PictureConverter converter;
    SwrContext* resampler = nullptr;
    std::vector<int16_t> soundBuffer;
    bool demuxEnded = false;
    bool flushSent = false;
    int64_t videoPacketsRead = 0;   // since the file was opened
    int lastReadError = 0;          // av_read_frame's last failure
    std::thread thread;

    StreamError OpenFile(const std::string& path);
    // Records why the open fails and returns `error`.
    StreamError Fail(StreamError error, const std::string& why);
    std::string NoFrameReason() const;
    void OpenSound();
    void FreeFile();
    bool DecodeVideoFrame();
    void DecodeSound(const AVPacket* pkt);
    bool ShowFrame();
    int64_t FrameTicks(const AVFrame* f) const;
    bool OpenDemuxer(const std::string& path);
    void SeekToStartNow();
    bool SeekToKeyFrameNow(int64_t ticks);
    void ThreadMain();
    void StartOver(std::unique_lock<std::mutex>& lk);
    void DecodeNext(std::unique_lock<std::mutex>& lk);
    void ShowCue(std::unique_lock<std::mutex>& lk);
    bool WaitForDue(std::unique_lock<std::mutex>& lk, int64_t ticks);
    void Present(std::unique_lock<std::mutex>& lk);
    void SetPlaying(bool next);
};

// ---------------------------------------------------------------- opening

StreamError VideoStream::Impl::Fail(StreamError error, const std::string& why) {
    std::lock_guard lock(m);
    openProblem = why;
    return error;
}

// Why the first frame never came.
std::string VideoStream::Impl::NoFrameReason() const {
    if (videoPacketsRead == 0) {
        if (ReadMp4Boxes(openedPath).isMp4) {
            return "the movie's index is damaged (moov atom: none of the video frames it lists can be read)";
        }
        char text[AV_ERROR_MAX_STRING_SIZE] = {};
        if (lastReadError < 0 && lastReadError != AVERROR_EOF) av_strerror(lastReadError, text, sizeof text);
        return std::string("its video holds no frame that can be read") + (text[0] ? std::string(" (") + text + ")" : "");
    }
    return "none of its " + std::to_string(videoPacketsRead) + " video packets could be decoded: the video data is damaged";
}

bool VideoStream::Impl::OpenDemuxer(const std::string& path) {
    fmt = avformat_alloc_context();
    if (fmt == nullptr) return false;
    fmt->interrupt_callback.callback = InterruptRequested;
    fmt->interrupt_callback.opaque = &interrupt;
    // Only local files: a crafted playlist must not reach out to the network,
    // and a name such as "concat:x" is still just a file name.
    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    const std::string url = "file:" + path;
    int rc = avformat_open_input(&fmt, url.c_str(), nullptr, &options);
    av_dict_free(&options);
    if (rc < 0) {
        fmt = nullptr;  // freed by avformat_open_input
        lastReadError = rc;
        return false;
    }
    rc = avformat_find_stream_info(fmt, nullptr);
    lastReadError = rc < 0 ? rc : 0;
    return rc >= 0;
}

namespace {

// The movie's rate, length, frame counts (as counted and as declared),
// seekability and number of video streams, from its demuxer and the stream
// `st` that is decoded.
void FillLengthFacts(MediaInfo& info, AVFormatContext* fmt, const AVStream* st) {
    info.timePerFrame = TimePerFrame(st);
    if (st->duration > 0 && st->duration != AV_NOPTS_VALUE)
        info.duration = MediaTime{av_rescale_q(st->duration, st->time_base, kTickBase)};
    else if (fmt->duration > 0 && fmt->duration != AV_NOPTS_VALUE)
        info.duration = MediaTime{av_rescale_q(fmt->duration, AVRational{1, AV_TIME_BASE}, kTickBase)};
    info.durationSeconds = SecondsOf(info.duration);
    info.seekable = fmt->pb != nullptr && (fmt->pb->seekable & AVIO_SEEKABLE_NORMAL);
    info.frameCount = FrameCountOf(info.duration, info.timePerFrame);
    // A stored count larger than the file's bytes comes from a damaged
    // index (every frame takes at least a byte): the length is trusted then.
    const int64_t fileBytes = fmt->pb != nullptr ? avio_size(fmt->pb) : -1;
    if (st->nb_frames > 0 && (fileBytes <= 0 || st->nb_frames <= fileBytes)) {
        info.declaredFrames = st->nb_frames;
        info.declaredExactly = true;
    } else if (st->duration > 0 && st->duration != AV_NOPTS_VALUE) {
        // The stream's own length only: the file's may be the sound's.
        const int64_t ticks = av_rescale_q(st->duration, st->time_base, kTickBase);
        info.declaredFrames = FrameCountOf(MediaTime{ticks}, info.timePerFrame);
    }
    for (unsigned i = 0; i < fmt->nb_streams; ++i) {
        const AVStream* s = fmt->streams[i];
        if (s->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && !(s->disposition & AV_DISPOSITION_ATTACHED_PIC))
            ++info.videoStreams;
    }
}

}  // namespace

StreamError VideoStream::Impl::OpenFile(const std::string& path) {
    openedPath = path;
    videoPacketsRead = 0;
    if (!OpenDemuxer(path)) return Fail(StreamError::kSourceOpen, UnreadableMovieReason(path, lastReadError));

    // The same stream as every other reader of the movie picks.
    videoIndex = DecodedVideoStream(fmt);
    if (videoIndex < 0) return Fail(StreamError::kUnsupported, "no video stream");
    AVStream* st = fmt->streams[videoIndex];
    const std::string codecName = avcodec_get_name(st->codecpar->codec_id);
    const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
    if (codec == nullptr) return Fail(StreamError::kUnsupported, "no decoder for its video (" + codecName + ")");
    video = avcodec_alloc_context3(codec);
    if (video == nullptr || avcodec_parameters_to_context(video, st->codecpar) < 0)
        return Fail(StreamError::kUnsupported, "its video decoder (" + codecName + ") cannot be set up");
    video->pkt_timebase = st->time_base;
    video->thread_count = DecoderThreadCount();
    // Frame threads decode ahead, each with frames of its own; slice threads
    // share one frame.
    video->thread_type = sliceThreadsOnly.load() ? FF_THREAD_SLICE : FF_THREAD_FRAME | FF_THREAD_SLICE;
    if (avcodec_open2(video, codec, nullptr) < 0)
        return Fail(StreamError::kUnsupported, "its video decoder (" + codecName + ") cannot be opened");
    if (video->pix_fmt != AV_PIX_FMT_NONE && !PictureConverter::CanConvertFrom(video->pix_fmt))
        return Fail(StreamError::kUnsupported, "its pixel format cannot be converted");
    videoTimeBase = st->time_base;
    startPts = st->start_time;
    // Shown upright, as players and ffmpeg show it: the cut is made on that.
    quarterTurns = UprightQuarterTurns(*st);

    packet = av_packet_alloc();
    frame = av_frame_alloc();
    soundFrame = av_frame_alloc();
    if (!packet || !frame || !soundFrame)
        return Fail(StreamError::kNoRenderer, "out of memory for the decoder's frames");

    OpenSound();

    if (!DecodeVideoFrame()) return Fail(StreamError::kFormat, NoFrameReason());
    const int w = frame->width, h = frame->height;
    if (w <= 0 || h <= 0 || static_cast<int64_t>(w) * h > kMaxFramePixels) {
        return Fail(StreamError::kFormat,
                    "its picture size " + std::to_string(w) + "x" + std::to_string(h) + " cannot be used");
    }
    if (!PictureConverter::CanConvertFrom(frame->format))
        return Fail(StreamError::kFormat, "its pixel format cannot be converted");
    if (startPts == AV_NOPTS_VALUE) startPts = frame->best_effort_timestamp;

    const std::string sizeText = std::to_string(w) + "x" + std::to_string(h);
    storedW = w;
    storedH = h;
    const int uprightW = UprightWidth(w, h, quarterTurns);
    const int uprightH = UprightHeight(w, h, quarterTurns);
    const size_t bytes = static_cast<size_t>(w) * static_cast<size_t>(h) * 4;
    {
        std::lock_guard lock(frameMutex);
        if (!newest.Assign(bytes))
            return Fail(StreamError::kNoFrameBuffer, "out of memory for a " + sizeText + " frame");
    }
    MediaInfo info;
    info.videoPath = path;
    info.frameWidth = uprightW;
    info.frameHeight = uprightH;
    info.sampleSize = static_cast<int32_t>(std::min<size_t>(bytes, INT32_MAX));
    FillLengthFacts(info, fmt, st);
    info.streamIndex = videoIndex;
    std::lock_guard lock(m);
    this->info = info;
    return StreamError::kNone;
}

void VideoStream::Impl::OpenSound() {
    audioIndex = av_find_best_stream(fmt, AVMEDIA_TYPE_AUDIO, -1, videoIndex, nullptr, 0);
    if (audioIndex < 0) return;
    AVStream* st = fmt->streams[audioIndex];
    const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
    if (codec != nullptr) audio = avcodec_alloc_context3(codec);
    if (audio == nullptr || avcodec_parameters_to_context(audio, st->codecpar) < 0 ||
        avcodec_open2(audio, codec, nullptr) < 0) {
        avcodec_free_context(&audio);
        audioIndex = -1;
        return;
    }
    AVChannelLayout in{};
    if (audio->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || audio->ch_layout.nb_channels <= 0)
        av_channel_layout_default(&in, std::max(audio->ch_layout.nb_channels, 1));
    else
        av_channel_layout_copy(&in, &audio->ch_layout);
    AVChannelLayout out = AV_CHANNEL_LAYOUT_STEREO;
    if (swr_alloc_set_opts2(&resampler, &out, AV_SAMPLE_FMT_S16, kSinkSampleRate, &in,
                            audio->sample_fmt, audio->sample_rate, 0, nullptr) < 0 ||
        swr_init(resampler) < 0) {
        swr_free(&resampler);
        avcodec_free_context(&audio);
        audioIndex = -1;
    }
    av_channel_layout_uninit(&in);
}

void VideoStream::Impl::FreeFile() {
    converter.Reset();
    storedW = storedH = 0;
    swr_free(&resampler);
    quarterTurns = 0;
    av_frame_free(&soundFrame);
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&audio);
    avcodec_free_context(&video);
    avformat_close_input(&fmt);
    videoIndex = audioIndex = -1;
    startPts = AV_NOPTS_VALUE;
    demuxEnded = flushSent = false;
    std::vector<int16_t>().swap(soundBuffer);
    std::lock_guard lock(frameMutex);
    newest.Clear();
}

// ---------------------------------------------------------------- decoding

// Reads packets until the video decoder gives a frame (true) or has given
// its last one (false). Sound packets met on the way go to the sink.
bool VideoStream::Impl::DecodeVideoFrame() {
    int failures = 0;
    while (!interrupt.load()) {
        const int rc = avcodec_receive_frame(video, frame);
        if (rc == 0) return true;
        if (rc == AVERROR_EOF) return false;
        if (rc != AVERROR(EAGAIN)) {
            // A damaged frame: skip it, but never spin on a broken decoder.
            if (++failures > 1000) return false;
            continue;
        }
        if (demuxEnded) {
            if (flushSent) return false;
            avcodec_send_packet(video, nullptr);
            flushSent = true;
            continue;
        }
        const int read = fmt == nullptr ? AVERROR_EOF : av_read_frame(fmt, packet);
        if (read < 0) {
            lastReadError = read;
            demuxEnded = true;
            continue;
        }
        if (packet->stream_index == videoIndex) {
            ++videoPacketsRead;
            if (avcodec_send_packet(video, packet) < 0 && ++failures > 1000) demuxEnded = true;
        } else if (packet->stream_index == audioIndex) {
            DecodeSound(packet);
        }
        av_packet_unref(packet);
    }
    return false;
}

void VideoStream::Impl::DecodeSound(const AVPacket* pkt) {
    if (muted.load()) return;
    std::lock_guard lock(sinkMutex);
    if (sink == nullptr || audio == nullptr) return;
    if (avcodec_send_packet(audio, pkt) < 0) return;
    while (avcodec_receive_frame(audio, soundFrame) == 0) {
        const int capacity = swr_get_out_samples(resampler, soundFrame->nb_samples);
        if (capacity > 0) {
            const size_t needed = static_cast<size_t>(capacity) * kSinkChannels;
            if (soundBuffer.size() < needed) soundBuffer.resize(needed);
            uint8_t* out[1] = {reinterpret_cast<uint8_t*>(soundBuffer.data())};
            const int got = swr_convert(resampler, out, capacity,
                                        const_cast<const uint8_t**>(soundFrame->extended_data),
                                        soundFrame->nb_samples);
            if (got > 0) sink->WriteSamples(soundBuffer.data(), got);
        }
        av_frame_unref(soundFrame);
    }
}

int64_t VideoStream::Impl::FrameTicks(const AVFrame* f) const {
    const int64_t pts = f->best_effort_timestamp;
    if (pts == AV_NOPTS_VALUE) return -1;
    const int64_t start = startPts == AV_NOPTS_VALUE ? 0 : startPts;
    return av_rescale_q(pts - start, videoTimeBase, kTickBase);
}

// Converts the held frame into the newest-frame buffer (bottom row first).
bool VideoStream::Impl::ShowFrame() {
    std::lock_guard lock(frameMutex);
    // Threads as many as cores: the conversion of a large frame is a
    // large share of a frame's time.
    return converter.ConvertBottomUpBgrx(*frame, storedW, storedH, quarterTurns, 0, newest);
}

// Back to the first frame by opening the file afresh: timestamp seeks in
// streams without an index (MPEG program and transport streams) may land
// after the first frame, and a conversion must start exactly there.
void VideoStream::Impl::SeekToStartNow() {
    const int streams = static_cast<int>(fmt->nb_streams);
    const AVCodecID codec = fmt->streams[videoIndex]->codecpar->codec_id;
    avformat_close_input(&fmt);
    avcodec_flush_buffers(video);
    if (audio != nullptr) avcodec_flush_buffers(audio);
    demuxEnded = flushSent = false;
    if (!OpenDemuxer(openedPath) || static_cast<int>(fmt->nb_streams) != streams ||
        fmt->streams[videoIndex]->codecpar->codec_id != codec) {
        // The file changed under us: the movie simply ends here.
        avformat_close_input(&fmt);
        demuxEnded = flushSent = true;
    }
}

// To the last key frame at or before `ticks` of the freshly opened file;
// false (the file then stands at its start, opened afresh) when the seek
// fails or its first video packet lies after that time.
bool VideoStream::Impl::SeekToKeyFrameNow(int64_t ticks) {
    if (fmt == nullptr || ticks <= 0) return false;
    const int64_t start = startPts == AV_NOPTS_VALUE ? 0 : startPts;
    const int64_t target = start + av_rescale_q(ticks, kTickBase, videoTimeBase);
    bool landed = av_seek_frame(fmt, videoIndex, target, AVSEEK_FLAG_BACKWARD) >= 0;
    if (landed) {
        // Where it landed: the first video packet, read and then sought again.
        int read = 0;
        while ((read = av_read_frame(fmt, packet)) >= 0 && packet->stream_index != videoIndex) {
            av_packet_unref(packet);
        }
        const int64_t at = read < 0 ? AV_NOPTS_VALUE : packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
        const bool key = read >= 0 && (packet->flags & AV_PKT_FLAG_KEY) != 0;
        av_packet_unref(packet);
        landed = at != AV_NOPTS_VALUE && at <= target && key &&
                 av_seek_frame(fmt, videoIndex, target, AVSEEK_FLAG_BACKWARD) >= 0;
    }
    if (!landed) SeekToStartNow();
    return landed;
}

// After a seek request: back to the first frame, which is shown even while
// paused.
void VideoStream::Impl::StartOver(std::unique_lock<std::mutex>& lk) {
    seekRequested = false;
    frameState = FrameState::kNeedCue;
    pacing.reset();
    lastTicks = -1;
    pendingEnds = 0;
    position.store(0);
    delivered.store(0);
    unconvertible.store(0);
    lk.unlock();
    SeekToStartNow();
    const int64_t ticks = seekTicks.exchange(0);
    if (ticks > 0 && fmt != nullptr) SeekToKeyFrameNow(ticks);
    lk.lock();
}

void VideoStream::Impl::DecodeNext(std::unique_lock<std::mutex>& lk) {
    const bool cue = frameState == FrameState::kNeedCue;
    lk.unlock();
    const bool got = DecodeVideoFrame();
    lk.lock();
    if (seekRequested) return;  // this frame belongs to the old position
    frameState = !got ? FrameState::kEnded : cue ? FrameState::kHeldCue : FrameState::kHeld;
}

// Paused after a seek: show the frame the movie will start with.
void VideoStream::Impl::ShowCue(std::unique_lock<std::mutex>& lk) {
    lk.unlock();
    const bool shown = ShowFrame();
    lk.lock();
    if (seekRequested) return;
    frameState = shown ? FrameState::kHeldShown : FrameState::kHeld;
    position.store(std::max<int64_t>(0, FrameTicks(frame)));
}

// Preview: true (after waiting) while a frame at `ticks` is not yet due at
// the file's own rate.
bool VideoStream::Impl::WaitForDue(std::unique_lock<std::mutex>& lk, int64_t ticks) {
    const auto now = Clock::now();
    if (!pacing || ticks < pacing->ticks) pacing = PacingAnchor{now, ticks};
    const auto due = pacing->wall + std::chrono::microseconds((ticks - pacing->ticks) / 10);
    if (now < due) {
        cv.wait_until(lk, due);
        return true;
    }
    if (now - due > kMaxLateness) pacing.reset();
    return false;
}

// Hands the held frame on: into the newest-frame buffer and to the callback.
// A frame whose colour conversion fails is counted and not handed on, so the
// callback never receives the previous frame in its place.
void VideoStream::Impl::Present(std::unique_lock<std::mutex>& lk) {
    int64_t ticks = FrameTicks(frame);
    if (ticks < 0 && info.timePerFrame.count() > 0) {
        // No time stamp: the frame follows the last one at the file's rate.
        ticks = lastTicks < 0 ? 0 : lastTicks + info.timePerFrame.count();
    }
    if (!hasCallback.load() && ticks >= 0) {
        if (WaitForDue(lk, ticks)) return;  // anything may have changed meanwhile
    } else {
        pacing.reset();
    }
    const bool alreadyShown = frameState == FrameState::kHeldShown;
    lk.unlock();
    bool handedOn = true;
    {
        std::lock_guard cb(callbackMutex);
        handedOn = alreadyShown || ShowFrame();
        if (handedOn && callback) {
            // Only this thread writes `newest`, so it can be read here
            // without frameMutex while GetCurrentBuffer reads too.
            callback(static_cast<double>(std::max<int64_t>(0, ticks)) / 1e7, newest.data(),
                     static_cast<int32_t>(newest.size()));
        }
    }
    lk.lock();
    if (seekRequested) return;
    if (ticks >= 0) {
        position.store(ticks);
        lastTicks = ticks;
    }
    (handedOn ? delivered : unconvertible).fetch_add(1);
    frameState = FrameState::kNeedFrame;
}

void VideoStream::Impl::ThreadMain() {
    std::unique_lock lk(m);
    while (!quit) {
        const bool running = playing;
        if (seekRequested) {
            StartOver(lk);
        } else if (frameState == FrameState::kNeedFrame || frameState == FrameState::kNeedCue) {
            DecodeNext(lk);
        } else if (frameState == FrameState::kHeldCue && !running) {
            ShowCue(lk);
        } else if (running && (frameState == FrameState::kHeld || frameState == FrameState::kHeldCue ||
                               frameState == FrameState::kHeldShown)) {
            Present(lk);
        } else if (running && frameState == FrameState::kEnded) {
            frameState = FrameState::kCompletePosted;
            position.store(info.duration.count());
            if (pendingEnds < kMaxPendingEnds) ++pendingEnds;
            if (endListener) endListener();
        } else {
            cv.wait(lk);
        }
    }
}

// ---------------------------------------------------------------- public

VideoStream::VideoStream() : impl_(std::make_unique<Impl>()) {
    // Damaged files make the decoders talk a lot; the program reports what
    // matters itself.
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_FATAL); });
}

VideoStream::~VideoStream() { Close(); }

StreamError VideoStream::Open(const std::string& path) {
    Close();
    std::lock_guard life(impl_->lifeMutex);
    Impl& s = *impl_;
    s.interrupt.store(false);
    {
        std::lock_guard lock(s.m);
        s.openProblem.clear();
    }
    const StreamError error = s.OpenFile(path);
    if (error != StreamError::kNone) {
        s.FreeFile();
        return error;
    }
    if (!s.ShowFrame()) {
        s.FreeFile();
        return s.Fail(StreamError::kFormat, "its first picture cannot be colour-converted");
    }
    s.position.store(std::max<int64_t>(0, s.FrameTicks(s.frame)));
    s.delivered.store(0);
    s.unconvertible.store(0);
    {
        std::lock_guard lock(s.m);
        s.open = true;
        s.quit = false;
        s.playing = false;
        s.seekRequested = false;
        s.frameState = FrameState::kHeldShown;
        s.pacing.reset();
        s.lastTicks = -1;
        s.pendingEnds = 0;
    }
    {
        std::lock_guard cb(s.callbackMutex);
        s.callback = nullptr;
        s.hasCallback = false;
    }
    try {
        s.thread = std::thread([&s] { s.ThreadMain(); });
    } catch (const std::system_error& e) {
        {
            std::lock_guard lock(s.m);
            s.open = false;
        }
        s.FreeFile();
        return s.Fail(StreamError::kRendererThread,
                      std::string("the decoding thread cannot be started (") + e.what() + ")");
    }
    return StreamError::kNone;
}

void VideoStream::Close() {
    std::lock_guard life(impl_->lifeMutex);
    Impl& s = *impl_;
    {
        std::lock_guard lock(s.m);
        s.open = false;
        s.quit = true;
        s.playing = false;
    }
    s.interrupt.store(true);
    s.cv.notify_all();
    if (s.thread.joinable()) s.thread.join();
    s.FreeFile();
    std::lock_guard lock(s.m);
    s.frameState = FrameState::kNeedFrame;
    s.pendingEnds = 0;
}

std::string VideoStream::OpenProblem() const {
    std::lock_guard lock(impl_->m);
    return impl_->openProblem;
}

bool VideoStream::IsOpen() const {
    std::lock_guard lock(impl_->m);
    return impl_->open;
}

MediaInfo VideoStream::Info() const {
    std::lock_guard lock(impl_->m);
    return impl_->info;
}

void VideoStream::Impl::SetPlaying(bool next) {
    {
        std::lock_guard lock(m);
        if (!open) return;
        playing = next;
        pacing.reset();
    }
    cv.notify_all();
}

void VideoStream::Play() { impl_->SetPlaying(true); }
void VideoStream::Hold() { impl_->SetPlaying(false); }

void VideoStream::SeekToStart() {
    Impl& s = *impl_;
    {
        std::lock_guard lock(s.m);
        if (!s.open) return;
        s.seekRequested = true;
        s.pendingEnds = 0;
        s.position.store(0);
    }
    s.cv.notify_all();
}

void VideoStream::SeekToKeyFrameBefore(MediaTime time) {
    impl_->seekTicks.store(std::max<int64_t>(0, time.count()));
    SeekToStart();
}

MediaTime VideoStream::CurrentPosition() const { return MediaTime{impl_->position.load()}; }

int32_t VideoStream::GetCurrentBuffer(uint8_t* dst, int32_t size) const {
    std::lock_guard lock(impl_->frameMutex);
    const auto& src = impl_->newest;
    if (dst == nullptr || src.empty() || size < 0 || static_cast<size_t>(size) < src.size())
        return 0;
    std::memcpy(dst, src.data(), src.size());
    return static_cast<int32_t>(src.size());
}

void VideoStream::SetFrameCallback(FrameCallback callback) {
    {
        std::lock_guard cb(impl_->callbackMutex);
        impl_->callback = std::move(callback);
        impl_->hasCallback = static_cast<bool>(impl_->callback);
    }
    impl_->cv.notify_all();
}

void VideoStream::SetSoundMuted(bool muted) { impl_->muted.store(muted); }

void VideoStream::SetSliceThreadsOnly(bool only) { impl_->sliceThreadsOnly.store(only); }

void VideoStream::SetAudioSink(AudioSink* sink) {
    std::lock_guard lock(impl_->sinkMutex);
    impl_->sink = sink;
}

void VideoStream::SetMovieEndListener(std::function<void()> listener) {
    std::lock_guard lock(impl_->m);
    impl_->endListener = std::move(listener);
}

bool VideoStream::TakeMovieEnd() {
    std::lock_guard lock(impl_->m);
    if (impl_->pendingEnds == 0) return false;
    --impl_->pendingEnds;
    return true;
}

int64_t VideoStream::FramesDelivered() const { return impl_->delivered.load(); }
int64_t VideoStream::FramesUnconvertible() const { return impl_->unconvertible.load(); }

}  // namespace tessaly
