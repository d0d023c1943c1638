// A push button showing a bitmap: normal, pressed and hover pictures (the
// arrow buttons have one picture and darken while held). The bitmap is drawn
// from the top left and clipped by the control.
#pragma once

#include <QAbstractButton>
#include <QPixmap>

namespace tessaly {

class ImageButton : public QAbstractButton {
    Q_OBJECT
public:
    // `name` is the resource prefix: "b_load" uses b_load1/2/3, "left" uses left.
    ImageButton(QWidget* parent, const QString& name, bool threeStates);
    // 1 normal, 2 pressed, 3 hover.
    void ShowState(int state);
    int State() const { return state_; }
    bool Hovered() const { return hovered_; }

protected:
    void paintEvent(QPaintEvent*) override;
    void enterEvent(QEnterEvent*) override;
    void leaveEvent(QEvent*) override;

private:
    QPixmap pictures_[3];
    bool threeStates_;
    bool hovered_ = false;
    int state_ = 1;
};

QPixmap ArtPixmap(const QString& name);
// Registers the compiled-in artwork (bitmaps, sounds, icon) once.
void EnsureArt();

}  // namespace tessaly
