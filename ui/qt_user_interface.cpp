#include "ui/qt_user_interface.h"

#include <QLabel>
#include <QMessageBox>

#include "ui/control_ids.h"
#include "ui/gui_thread.h"
#include "ui/main_window.h"
#include "ui/preview_panel.h"
#include "ui/position_bar.h"

namespace tessaly {

namespace {

// The status label's colours (background, text) in each look of a run.
struct StatusColours {
    QColor background;
    QColor text;
};

StatusColours RecordingColours(RecordingLook look) {
    const QColor red(255, 0, 0), grey(128, 128, 128), white(255, 255, 255);
    switch (look) {
        case RecordingLook::kStart: return {red, grey};
        case RecordingLook::kLit: return {red, white};
        case RecordingLook::kDimmed: return {grey, red};
    }
    return {red, grey};
}

using namespace control;  // the information labels and preview switches, by name

}  // namespace

int MessageBoxIcon(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::Information: return QMessageBox::Information;
        case MessageIcon::Error: return QMessageBox::Critical;
        case MessageIcon::Warning: return QMessageBox::Warning;
        case MessageIcon::Question: return QMessageBox::Question;
    }
    return QMessageBox::NoIcon;
}

void QtUserInterface::ShowMovieFacts(const MovieFacts& facts) {
    MainWindow* w = window_;
    if (w == nullptr) return;
    PostToGui(w, [w, facts] {
        if (!facts.path.empty()) w->SetLabelText(kPathLabel, facts.path);
        w->SetLabelText(kFrameSizeLabel, facts.frameSize);
        w->SetLabelText(kFrameRateLabel, facts.frameRate);
        w->SetLabelText(kFrameCountLabel, facts.frameCount);
        w->SetLabelText(kDurationLabel, facts.duration);
    });
}

void QtUserInterface::ClearMovieFacts() {
    MainWindow* w = window_;
    if (w == nullptr) return;
    PostToGui(w, [this, w] {
        for (int id : {kDurationLabel, kOutputSizeLabel, kPathLabel, kFrameSizeLabel, kFrameRateLabel,
                       kFrameCountLabel, kOperationLabel})
            w->SetLabelText(id, "");
        if (onFactsCleared) onFactsCleared();
    });
}

void QtUserInterface::ShowOutputSize(const std::string& text) {
    if (MainWindow* w = window_) PostToGui(w, [w, text] { w->SetLabelText(kOutputSizeLabel, text); });
}

void QtUserInterface::ShowPreviewSwitches(bool input, bool output) {
    MainWindow* w = window_;
    if (w == nullptr) return;
    PostToGui(w, [w, input, output] {
        w->SetCheckState(kShowInputCheck, input ? 1 : 0);
        w->SetCheckState(kShowOutputCheck, output ? 1 : 0);
    });
}

void QtUserInterface::ShowMoviePosition(MoviePosition position) {
    const int width = PositionBarWidth(position);
    if (MainWindow* w = window_) PostToGui(w, [w, width] { w->SetPositionBarWidth(width); });
}

void QtUserInterface::ShowMessage(const std::string& caption, const std::string& text,
                                  MessageIcon icon, bool ownerIsMainWindow) {
    MainWindow* w = window_;
    if (w == nullptr) return;
    const int boxIcon = MessageBoxIcon(icon);
    CallOnGui<int>(w, std::function<int()>([w, caption, text, boxIcon, ownerIsMainWindow] {
                       w->Message(caption, text, boxIcon, ownerIsMainWindow);
                       return 0;
                   }),
                   run_);
}

void QtUserInterface::PaintPlaceholders() {
    if (MainWindow* w = window_) PostToGui(w, [w] { w->PaintPlaceholders(); });
}

void QtUserInterface::SetRecording(RecordingLook look) {
    MainWindow* w = window_;
    if (w == nullptr) return;
    PostToGui(w, [w, look] {
        w->SetLabelText(kOperationLabel, "     RECORD");
        if (QWidget* label = w->Control(kOperationLabel)) {
            const StatusColours colours = RecordingColours(look);
            QPalette pal = label->palette();
            pal.setColor(QPalette::Window, colours.background);
            pal.setColor(QPalette::WindowText, colours.text);
            label->setPalette(pal);
        }
    });
}

void QtUserInterface::SetCurrentFrame(int32_t frameNumber) {
    // The frame being converted shows in the frame-count label.
    if (MainWindow* w = window_)
        PostToGui(w, [w, frameNumber] { w->SetLabelText(kFrameCountLabel, std::to_string(frameNumber)); });
}

void QtUserInterface::BlankOutputPreview() {
    MainWindow* w = window_;
    if (w == nullptr) return;
    PostToGui(w, [w] {
        QImage image(500, 480, QImage::Format_RGB32);
        image.fill(QColor(51, 51, 51));
        w->OutputPanel()->SetImage(image);
    });
}

void QtUserInterface::OpenExportProgress() {
    // The frame phase has ended: the bar, set only every few checks while
    // frames were converted, shows it whole before the encoding.
    if (MainWindow* w = window_) PostToGui(w, [w] {
            w->SetPositionBarWidth(kPositionBarMax);
            w->OpenExportProgress();
        });
}

void QtUserInterface::UpdateExportProgress(const std::string& processingTime) {
    MainWindow* w = window_;
    if (w == nullptr) return;
    PostToGui(w, [w, text = QString::fromStdString(processingTime)] { w->UpdateExportProgress(text); });
}

void QtUserInterface::CloseExportProgress() {
    if (MainWindow* w = window_) PostToGui(w, [w] { w->CloseExportProgress(); });
}

}  // namespace tessaly
