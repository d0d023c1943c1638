#include "ui/image_button.h"

#include <QPainter>

// The resources live in a static library: register them before first use.
static void RegisterArt() { Q_INIT_RESOURCE(resources); }

namespace tessaly {

void EnsureArt() {
    static const bool registered = [] {
        RegisterArt();
        return true;
    }();
    (void)registered;
}

QPixmap ArtPixmap(const QString& name) {
    EnsureArt();
    return QPixmap(":/art/" + name + ".png");
}

ImageButton::ImageButton(QWidget* parent, const QString& name, bool threeStates)
    : QAbstractButton(parent), threeStates_(threeStates) {
    if (threeStates) {
        for (int i = 0; i < 3; ++i) pictures_[i] = ArtPixmap(name + QString::number(i + 1));
    } else {
        pictures_[0] = pictures_[1] = pictures_[2] = ArtPixmap(name);
    }
    setFocusPolicy(Qt::TabFocus);
    connect(this, &QAbstractButton::pressed, this, [this] { update(); });
    connect(this, &QAbstractButton::released, this, [this] { update(); });
}

void ImageButton::ShowState(int state) {
    state_ = state;
    repaint();
}

void ImageButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.drawPixmap(0, 0, pictures_[state_ - 1]);
    if (!threeStates_ && isDown()) p.fillRect(rect(), QColor(0, 0, 0, 80));
    if (!isEnabled()) p.fillRect(rect(), QColor(135, 135, 135, 140));
    if (hasFocus()) {
        p.setPen(QPen(QColor(255, 159, 28), 1, Qt::DotLine));
        p.drawRect(rect().adjusted(0, 0, -1, -1));
    }
}

void ImageButton::enterEvent(QEnterEvent*) {
    hovered_ = true;
    if (threeStates_ && state_ == 1) ShowState(3);
}

void ImageButton::leaveEvent(QEvent*) {
    hovered_ = false;
    if (threeStates_ && state_ == 3) ShowState(1);
}

}  // namespace tessaly
