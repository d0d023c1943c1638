// Background and text colours of one widget, through its palette.
#pragma once

#include <QColor>
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

}  // namespace tessaly
