// "Output Movie Compression": the small "Please wait..." window over the
// main window while the encoder writes the output movie. Five boxes fill
// with colour one after the other, a spinner turns, and a label shows the
// processing time. The encoder cannot be cancelled from here, so the close
// box and Escape do nothing; only Close() ends it.
#pragma once

#include <QDialog>
#include <QTimer>

#include <array>

#include "ui/export_animation.h"

class QFrame;
class QLabel;

namespace tessaly {

// The window is laid out in dialog units; one uniform scale turns them
// into pixels (1.5 keeps every text legible at its size).
inline constexpr double kDialogUnitScale = 1.5;
// A rectangle in dialog units in pixels: both edges are scaled, so boxes
// side by side keep their gaps.
QRect DialogUnitRect(int x, int y, int width, int height);

class ExportProgressWindow : public QDialog {
    Q_OBJECT
public:
    explicit ExportProgressWindow(QWidget* owner);

    // "Processing time: hh:mm:ss".
    void SetProcessingTime(const QString& text);
    // Ends the window: closes and deletes it.
    void Close();

    const ExportAnimation& Animation() const { return animation_; }
    QLabel* WaitLabel() const { return wait_; }
    QLabel* TimeLabel() const { return time_; }
    QLabel* Picture() const { return picture_; }
    QFrame* Box(int i) const { return boxes_[i]; }

    // How often the animation turns.
    static constexpr int kTurnMs = 32;

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override {}

private:
    void BuildPanel();
    void BuildTexts();
    void Turn();
    void ShowAnimation();

    ExportAnimation animation_;
    QTimer timer_;
    std::array<QFrame*, ExportAnimation::kBoxes> boxes_{};
    QLabel* wait_ = nullptr;
    QLabel* time_ = nullptr;
    QLabel* picture_ = nullptr;
    bool ending_ = false;
};

}  // namespace tessaly
