#include "ui/sounds.h"

#include <QAudioDevice>
#include <QMediaDevices>
#include <QSoundEffect>
#include <QUrl>

namespace tessaly {

ClickSounds::ClickSounds(QObject* parent) : QObject(parent) {}

void ClickSounds::Play(QSoundEffect*& effect, const char* source) {
    ++played_;
    if (QMediaDevices::defaultAudioOutput().isNull()) return;
    if (effect == nullptr) {
        effect = new QSoundEffect(this);
        effect->setSource(QUrl(QString::fromLatin1(source)));
    }
    if (tick_ != nullptr && tick_ != effect) tick_->stop();
    if (tickB_ != nullptr && tickB_ != effect) tickB_->stop();
    effect->stop();
    effect->play();
}

void ClickSounds::Tick() { Play(tick_, "qrc:/art/TICK.wav"); }
void ClickSounds::TickB() { Play(tickB_, "qrc:/art/TICKB.wav"); }

}  // namespace tessaly
