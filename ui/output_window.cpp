#include "ui/output_window.h"

#include <QCloseEvent>

#include "ui/preview_panel.h"

namespace tessaly {

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
