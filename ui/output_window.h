// "Output 360 stream": the converted picture beside the main window.
#pragma once

#include <QWidget>

#include <functional>

namespace tessaly {

class PreviewPanel;

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
