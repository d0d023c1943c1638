// "Output 360 stream": the converted picture beside the main window.
#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>
#include <QWidget>

#include <functional>

namespace tessaly {

class PreviewPanel;

// Where the output window opens when no position of it was saved: beside the
// main window (right, left, below) where the screen has room, else against
// the screen's right edge; never over the input preview (`inputPreview`,
// global) when the screen leaves room beside it.
QPoint DefaultOutputWindowPosition(const QRect& mainFrame, const QRect& inputPreview, const QSize& outputFrame,
                                   const QRect& screen);

class OutputWindow : public QWidget {
    Q_OBJECT
public:
    explicit OutputWindow(QWidget* owner);
    PreviewPanel* Panel() const { return panel_; }
    // Told when the user closed the window with its close box.
    std::function<void()> onClosed;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    PreviewPanel* panel_;
};

}  // namespace tessaly
