#include "ui/preview_panel.h"

#include <QPainter>

namespace tessaly {

PreviewPanel::PreviewPanel(QWidget* parent, QSize size) : QWidget(parent) {
    setFixedSize(size);
    setAttribute(Qt::WA_OpaquePaintEvent);
    PaintPlaceholder({});
}

void PreviewPanel::SetImage(const QImage& image) {
    image_ = image;
    ++shown_;
    repaint();
}

void PreviewPanel::PaintPlaceholder(const QString& caption) {
    QImage image(size(), QImage::Format_RGB32);
    image.fill(QColor(51, 51, 51));
    if (!caption.isEmpty()) {
        QPainter p(&image);
        QFont f("DejaVu Sans");
        f.setPixelSize(12);
        p.setFont(f);
        p.setPen(Qt::white);
        p.drawText(QPoint(10, 10 + p.fontMetrics().ascent()), caption);
    }
    image_ = image;
    update();
}

void PreviewPanel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.drawImage(0, 0, image_);
}

}  // namespace tessaly
