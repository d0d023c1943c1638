// Colours and fitted fonts of single widgets.
#pragma once

#include <QColor>
#include <QFont>
#include <QFontMetrics>
#include <QSize>
#include <QString>
#include <QPalette>
#include <QWidget>

namespace tessaly {

// A label or panel: its window and text colours, background painted.
inline void Colour(QWidget* w, QColor background, QColor text) {
    QPalette pal = w->palette();
    pal.setColor(QPalette::Window, background);
    pal.setColor(QPalette::WindowText, text);
    w->setPalette(pal);
    w->setAutoFillBackground(true);
}

// Any control: also the colours of its text field and button face.
inline void SetColours(QWidget* w, QColor background, QColor text) {
    QPalette pal = w->palette();
    pal.setColor(QPalette::Base, background);
    pal.setColor(QPalette::Text, text);
    pal.setColor(QPalette::Button, background);
    pal.setColor(QPalette::ButtonText, text);
    w->setPalette(pal);
    Colour(w, background, text);
}

// The largest pixel size from `start` down (to 7) at which `text` fits `box`
// with `margin` pixels to spare on either side.
inline QFont FitFont(QFont font, int start, const QString& text, QSize box, int margin) {
    for (int px = start; px > 6; --px) {
        font.setPixelSize(px);
        const QFontMetrics metrics(font);
        if (metrics.horizontalAdvance(text) <= box.width() - 2 * margin && metrics.height() <= box.height()) break;
    }
    return font;
}

}  // namespace tessaly
