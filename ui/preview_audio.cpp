#include "ui/preview_audio.h"

#include <QAudioFormat>
#include <QAudioSink>
#include <QAudioDevice>
#include <QMediaDevices>

#include <algorithm>

namespace tessaly {

namespace {
// At most half a second waits; older sound is dropped so the picture and
// the sound stay together.
constexpr size_t kMaxQueued = kSinkSampleRate * kSinkChannels * 2 / 2;
}  // namespace

PreviewAudio::PreviewAudio(QObject* parent) : QIODevice(parent) {
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull()) return;
    QAudioFormat format;
    format.setSampleRate(kSinkSampleRate);
    format.setChannelCount(kSinkChannels);
    format.setSampleFormat(QAudioFormat::Int16);
    if (!device.isFormatSupported(format)) return;
    open(QIODevice::ReadOnly);
    sink_ = new QAudioSink(device, format, this);
    sink_->start(this);
}

PreviewAudio::~PreviewAudio() {
    if (sink_ != nullptr) sink_->stop();
}

void PreviewAudio::WriteSamples(const int16_t* interleaved, int frames) {
    if (sink_ == nullptr || frames <= 0) return;
    const char* bytes = reinterpret_cast<const char*>(interleaved);
    const size_t count = static_cast<size_t>(frames) * kSinkChannels * 2;
    std::lock_guard lock(mutex_);
    queue_.insert(queue_.end(), bytes, bytes + count);
    if (queue_.size() > kMaxQueued) queue_.erase(queue_.begin(), queue_.begin() + (queue_.size() - kMaxQueued));
}

qint64 PreviewAudio::readData(char* data, qint64 maxSize) {
    std::lock_guard lock(mutex_);
    const size_t n = std::min(queue_.size(), static_cast<size_t>(maxSize) & ~size_t{3});
    std::copy(queue_.begin(), queue_.begin() + static_cast<std::ptrdiff_t>(n), data);
    queue_.erase(queue_.begin(), queue_.begin() + static_cast<std::ptrdiff_t>(n));
    // Silence rather than a short read keeps the device running.
    std::fill(data + n, data + maxSize, 0);
    return maxSize;
}

qint64 PreviewAudio::bytesAvailable() const {
    std::lock_guard lock(mutex_);
    return static_cast<qint64>(queue_.size()) + QIODevice::bytesAvailable();
}

}  // namespace tessaly
