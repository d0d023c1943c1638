#include "ui/qt_user_interface.h"

#include <QCoreApplication>
#include <QLabel>
#include <QMessageBox>

#include <chrono>
#include <thread>

#include "ui/gui_thread.h"
#include "ui/main_window.h"
#include "ui/preview_panel.h"

namespace tessaly {

namespace {

QColor FromColourRef(uint32_t bgr) {
    return QColor(static_cast<int>(bgr & 0xff), static_cast<int>((bgr >> 8) & 0xff),
                  static_cast<int>((bgr >> 16) & 0xff));
}

QMessageBox::Icon BoxIcon(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::Information: return QMessageBox::Information;
        case MessageIcon::Error: return QMessageBox::Critical;
        case MessageIcon::Warning: return QMessageBox::Warning;
        case MessageIcon::Question: return QMessageBox::Question;
    }
    return QMessageBox::NoIcon;
}

}  // namespace

void QtUserInterface::SetLabel(int controlId, const std::string& text) {
    if (MainWindow* w = window_) PostToGui(w, [w, controlId, text] { w->SetLabelText(controlId, text); });
}

void QtUserInterface::SetCheck(int controlId, int checked) {
    if (MainWindow* w = window_) PostToGui(w, [w, controlId, checked] { w->SetCheckState(controlId, checked); });
}

void QtUserInterface::SetPositionBar(int width) {
    if (MainWindow* w = window_) PostToGui(w, [w, width] { w->SetPositionBarWidth(width); });
}

void QtUserInterface::ShowMessage(const std::string& caption, const std::string& text,
                                  MessageIcon icon, bool ownerIsMainWindow) {
    MainWindow* w = window_;
    if (w == nullptr) return;
    const int boxIcon = BoxIcon(icon);
    CallOnGui<int>(w, std::function<int()>([w, caption, text, boxIcon, ownerIsMainWindow] {
                       w->Message(caption, text, boxIcon, ownerIsMainWindow);
                       return 0;
                   }),
                   abandon_);
}

void QtUserInterface::PaintPlaceholders() {
    if (MainWindow* w = window_) PostToGui(w, [w] { w->PaintPlaceholders(); });
}

void QtUserInterface::SetStatusLabel(const std::string& text, uint32_t background, uint32_t foreground) {
    MainWindow* w = window_;
    if (w == nullptr) return;
    PostToGui(w, [w, text, background, foreground] {
        w->SetLabelText(control::kOperationLabel, text);
        if (QWidget* label = w->Control(control::kOperationLabel)) {
            QPalette pal = label->palette();
            pal.setColor(QPalette::Window, FromColourRef(background));
            pal.setColor(QPalette::WindowText, FromColourRef(foreground));
            label->setPalette(pal);
        }
    });
}

void QtUserInterface::SetCurrentFrame(int32_t frameNumber) {
    // The frame being converted shows in the frame-count label.
    SetLabel(control::kFrameCountLabel, std::to_string(frameNumber));
}

void QtUserInterface::ClearOutputPreview(uint32_t colour) {
    MainWindow* w = window_;
    if (w == nullptr) return;
    PostToGui(w, [w, colour] {
        QImage image(500, 480, QImage::Format_RGB32);
        image.fill(FromColourRef(colour));
        w->OutputPanel()->SetImage(image);
    });
}

bool QtUserInterface::AskOkCancel(const std::string& caption, const std::string& text, MessageIcon icon) {
    MainWindow* w = window_;
    if (w == nullptr) return false;
    const auto boxIcon = BoxIcon(icon);
    return CallOnGui<bool>(w, std::function<bool()>([w, caption, text, boxIcon] {
                               QMessageBox box(boxIcon, QString::fromStdString(caption),
                                               QString::fromStdString(text).replace("\r\n", "\n"),
                                               QMessageBox::Ok | QMessageBox::Cancel, w);
                               return box.exec() == QMessageBox::Ok;
                           }),
                           abandon_)
        .value_or(false);
}

void QtUserInterface::OpenExportProgress() {
    if (MainWindow* w = window_) PostToGui(w, [w] { w->OpenExportProgress(); });
}

void QtUserInterface::UpdateExportProgress(const std::string& processingTime) {
    MainWindow* w = window_;
    if (w == nullptr) return;
    PostToGui(w, [w, text = QString::fromStdString(processingTime)] { w->UpdateExportProgress(text); });
}

void QtUserInterface::CloseExportProgress() {
    if (MainWindow* w = window_) PostToGui(w, [w] { w->CloseExportProgress(); });
}

std::string QtUserInterface::OutputOptionsDialog(const std::string& currentPath) {
    MainWindow* w = window_;
    if (w == nullptr) return {};
    return CallOnGui<std::string>(
               w, std::function<std::string()>([w, currentPath] { return w->OutputOptions(currentPath); }),
               abandon_)
        .value_or(std::string());
}

void QtUserInterface::CloseMainWindow() {
    if (MainWindow* w = window_) PostToGui(w, [w] { w->EndWindow(); });
}

void QtUserInterface::YieldStep(int milliseconds) {
    MainWindow* w = window_;
    if (w != nullptr && OnGuiThread(w)) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace tessaly
