// The two click sounds, played asynchronously; a new one cuts the last.
// Without an audio device they are silent, never an error.
#pragma once

#include <QObject>

class QSoundEffect;

namespace tessaly {

class ClickSounds : public QObject {
    Q_OBJECT
public:
    explicit ClickSounds(QObject* parent);
    void Tick();   // "TICK": the click
    void TickB();  // "TICKB": the reset sound
    int Played() const { return played_; }

private:
    void Play(QSoundEffect*& effect, const char* source);
    QSoundEffect* tick_ = nullptr;
    QSoundEffect* tickB_ = nullptr;
    int played_ = 0;
};

}  // namespace tessaly
