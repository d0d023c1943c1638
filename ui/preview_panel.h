// A graphic panel: shows the last finished picture in one step and keeps it
// when covered and uncovered.
#pragma once

#include <QImage>
#include <QWidget>

namespace tessaly {

class PreviewPanel : public QWidget {
    Q_OBJECT
public:
    PreviewPanel(QWidget* parent, QSize size);
    void SetImage(const QImage& image);
    // Fills the panel with RGB (51,51,51) and writes the caption in white at (10, 10).
    void PaintPlaceholder(const QString& caption);
    const QImage& Image() const { return image_; }
    int64_t Shown() const { return shown_; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QImage image_;
    int64_t shown_ = 0;
};

}  // namespace tessaly
