#include "ui/export_progress_window.h"

#include <QCloseEvent>
#include <QFontMetrics>
#include <QFrame>
#include <QLabel>

#include <cmath>

#include "ui/image_button.h"
#include "ui/widget_style.h"

namespace tessaly {

namespace {

const QColor kBackground(119, 119, 119);
const QColor kPanel(85, 85, 85);
const QColor kTimeText(192, 192, 192);
const QColor kLine(150, 150, 150);

int ToPixels(int units) { return static_cast<int>(std::lround(units * kDialogUnitScale)); }

// Times New Roman where installed, else a face of the same build: the
// metric-compatible Liberation Serif or Tinos, Nimbus Roman, and DejaVu
// Serif, which every Debian desktop has.
QFont WaitFont() {
    QFont font;
    font.setFamilies({"Times New Roman", "Liberation Serif", "Tinos", "Nimbus Roman", "DejaVu Serif"});
    font.setStyleHint(QFont::Serif);
    return font;
}

// The narrow face of the main window keeps the time inside its label.
QFont TimeFont() {
    QFont font("DejaVu Sans Condensed");
    font.setStyleHint(QFont::SansSerif);
    return font;
}

}  // namespace

QRect DialogUnitRect(int x, int y, int width, int height) {
    const int left = ToPixels(x);
    const int top = ToPixels(y);
    return QRect(left, top, ToPixels(x + width) - left, ToPixels(y + height) - top);
}

ExportProgressWindow::ExportProgressWindow(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
    EnsureArt();
    setObjectName("ExportProgress");
    setWindowTitle("Output Movie Compression");
    setFixedSize(DialogUnitRect(0, 0, 250, 52).size());
    Colour(this, kBackground, Qt::white);
    BuildPanel();
    BuildTexts();
    ShowAnimation();
    timer_.setInterval(kTurnMs);
    connect(&timer_, &QTimer::timeout, this, &ExportProgressWindow::Turn);
    timer_.start();
}

void ExportProgressWindow::BuildPanel() {
    auto* panel = new QFrame(this);
    panel->setGeometry(DialogUnitRect(0, 34, 250, 50));  // runs past the bottom edge
    Colour(panel, kPanel, Qt::white);
    auto* line = new QFrame(this);
    const QRect lineRect = DialogUnitRect(1, 34, 248, 1);
    line->setGeometry(lineRect.x(), lineRect.y(), lineRect.width(), 1);
    Colour(line, kLine, kLine);
    const int lefts[ExportAnimation::kBoxes] = {5, 17, 29, 41, 53};
    for (int i = 0; i < ExportAnimation::kBoxes; ++i) {
        auto* box = new QFrame(this);
        box->setObjectName(QString("box_%1").arg(i + 1));
        box->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        box->setLineWidth(1);
        box->setGeometry(DialogUnitRect(lefts[i], 40, 9, 8));
        box->setAutoFillBackground(true);
        boxes_[i] = box;
    }
}

void ExportProgressWindow::BuildTexts() {
    time_ = new QLabel(this);
    time_->setObjectName("ProcessingTime");
    time_->setGeometry(DialogUnitRect(160, 40, 90, 10));
    time_->setAlignment(Qt::AlignCenter);
    // The label ends at the window's edge: room on both sides keeps the
    // time off it.
    time_->setFont(FitFont(TimeFont(), ToPixels(8), "Processing time: 00:00:00", time_->size(), 4));
    Colour(time_, kPanel, kTimeText);
    SetProcessingTime("Processing time: 00:00:00");

    wait_ = new QLabel("Please wait...", this);
    wait_->setObjectName("PleaseWait");
    wait_->setGeometry(DialogUnitRect(65, 5, 150, 30));
    wait_->setAlignment(Qt::AlignCenter);
    wait_->setFont(FitFont(WaitFont(), ToPixels(20), wait_->text(), wait_->size(), 1));
    QPalette pal = wait_->palette();
    pal.setColor(QPalette::WindowText, Qt::white);
    wait_->setPalette(pal);
    wait_->setAutoFillBackground(false);

    picture_ = new QLabel(this);
    picture_->setObjectName("Spinner");
    picture_->setGeometry(DialogUnitRect(5, 5, 26, 25));
    picture_->setAlignment(Qt::AlignCenter);
}

void ExportProgressWindow::SetProcessingTime(const QString& text) { time_->setText(text); }

void ExportProgressWindow::Turn() {
    animation_.Turn();
    ShowAnimation();
}

void ExportProgressWindow::ShowAnimation() {
    for (int i = 0; i < ExportAnimation::kBoxes; ++i) {
        const auto rgb = ExportAnimation::BoxRgb(animation_.levels[i]);
        QPalette pal = boxes_[i]->palette();
        pal.setColor(QPalette::Window, QColor(rgb[0], rgb[1], rgb[2]));
        boxes_[i]->setPalette(pal);
    }
    if (animation_.turns % 2 == 0) picture_->setPixmap(ArtPixmap(animation_.ImageName()));
}

void ExportProgressWindow::Close() {
    timer_.stop();
    ending_ = true;
    close();
    deleteLater();
}

void ExportProgressWindow::closeEvent(QCloseEvent* event) {
    if (ending_) {
        event->accept();
    } else {
        event->ignore();
    }
}

}  // namespace tessaly
