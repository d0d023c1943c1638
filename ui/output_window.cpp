#include "ui/output_window.h"

#include <QCloseEvent>

#include <algorithm>

#include "ui/preview_panel.h"

namespace tessaly {

QPoint DefaultOutputWindowPosition(const QRect& mainFrame, const QRect& inputPreview, const QSize& outputFrame,
                                   const QRect& screen) {
    constexpr int kGap = 8;
    const QPoint beside[] = {
        {mainFrame.right() + 1 + kGap, mainFrame.top()},
        {mainFrame.left() - kGap - outputFrame.width(), mainFrame.top()},
        {mainFrame.left(), mainFrame.bottom() + 1 + kGap},
    };
    for (const QPoint& p : beside) {
        if (screen.contains(QRect(p, outputFrame))) return p;
    }
    // No room beside: against the screen's right edge, right of the input
    // preview where it fits, level with the main window's top.
    const int right = std::max(screen.left(), screen.right() + 1 - outputFrame.width());
    const int bottom = std::max(screen.top(), screen.bottom() + 1 - outputFrame.height());
    return {std::clamp(inputPreview.right() + 1 + kGap, screen.left(), right),
            std::clamp(mainFrame.top(), screen.top(), bottom)};
}

OutputWindow::OutputWindow(QWidget* owner)
    : QWidget(owner, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                         Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint) {
    setWindowTitle("Output 360 stream");
    setFixedSize(500, 480);
    panel_ = new PreviewPanel(this, QSize(500, 480));
    panel_->setObjectName("id_100");
    panel_->move(0, 0);
    panel_->PaintPlaceholder("Transform Window");
}

void OutputWindow::closeEvent(QCloseEvent* event) {
    event->accept();
    if (onClosed) onClosed();
}

}  // namespace tessaly
