// The previewed movie's sound through Qt Multimedia. The decoding thread
// writes samples into a short queue; the audio device pulls them on the GUI
// thread. Without an audio device the samples are dropped: no error.
#pragma once

#include <QIODevice>

#include <deque>
#include <mutex>

#include "video/audio_sink.h"

class QAudioSink;

namespace tessaly {

class PreviewAudio : public QIODevice, public AudioSink {
    Q_OBJECT
public:
    explicit PreviewAudio(QObject* parent);
    ~PreviewAudio() override;
    bool HasDevice() const { return sink_ != nullptr; }
    void WriteSamples(const int16_t* interleaved, int frames) override;

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char*, qint64) override { return -1; }
    qint64 bytesAvailable() const override;

private:
    QAudioSink* sink_ = nullptr;
    mutable std::mutex mutex_;
    std::deque<char> queue_;
};

}  // namespace tessaly
