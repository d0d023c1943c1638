// A main window on Qt's offscreen platform with its session, a fresh program
// folder per test, and helpers that answer modal dialogs.
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/startup.h"
#include "tests/video/test_clips.h"
#include "ui/desktop_session.h"
#include "ui/main_window.h"

namespace tessaly::testing {

// Polls the active modal window every 20 ms and hands it to `answer`, which
// returns true once it has dealt with it. Stops when destroyed.
class ModalAnswerer {
public:
    explicit ModalAnswerer(std::function<bool(QWidget*)> answer) : answer_(std::move(answer)) {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                if (answer_(modal)) ++answered_;
            }
        });
        timer_.start(20);
    }
    int Answered() const { return answered_; }

private:
    std::function<bool(QWidget*)> answer_;
    QTimer timer_;
    int answered_ = 0;
};

// Keeps the event loop running until `pred` holds or `limitMs` passed.
inline bool WaitUntil(const std::function<bool()>& pred, int limitMs = 20000) {
    QElapsedTimer clock;
    clock.start();
    while (!pred()) {
        if (clock.elapsed() > limitMs) return false;
        QTest::qWait(5);
    }
    return true;
}

struct Desktop {
    Desktop() : Desktop(TempFolder("ui"), false) {}
    // A desktop over the program folder `folder` (its Tessaly.ini), which
    // stays when `keep` is set: the next one over it is a restart.
    Desktop(std::string folder, bool keep) : dir(std::move(folder)), keepFolder(keep) {
        StartUpOptions options;
        options.programDir = dir + "/";
        StartUpCore(app, options);
        session = std::make_unique<DesktopSession>(app);
        // Loads keep the start cut here; the finder on load has tests of its own.
        session->findCircleOnLoad = 0;
        session->openUrl = [this](const QUrl& url) {
            opened.push_back(url);
            return true;
        };
        window = std::make_unique<MainWindow>(*session);
        session->AttachWindow(window.get());
        window->show();
    }
    ~Desktop() {
        window.reset();  // runs Shutdown, which joins the load threads
        session.reset();
        if (!keepFolder) std::filesystem::remove_all(dir);
    }
    std::vector<std::string> LogLines() const {
        const std::string text = ReadFile(app.env.logPath);
        std::vector<std::string> lines;
        for (size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
            lines.push_back(text.substr(start, end - start));
        return lines;
    }
    QString Label(int id) const { return window->LabelFullText(id); }

    std::string dir;
    bool keepFolder = false;
    FisheyeApp app;
    std::unique_ptr<DesktopSession> session;
    std::unique_ptr<MainWindow> window;
    std::vector<QUrl> opened;
};

// Loads `clip` as the load flow does and waits until its previews run.
inline bool LoadAndWait(Desktop& d, const std::string& clip) {
    d.session->StartLoadWorker(clip);
    return WaitUntil([&d] {
        return d.app.run.streamState == StreamState::Running && d.session->source.videoOpen.load() == 1 &&
               d.session->previewPasses.load() > 2;
    });
}

// Answers a file chooser as a user does: types `path` into its name field
// and accepts (a moment later: the chooser runs a loop of its own).
inline void FillChooser(QFileDialog* chooser, const std::string& path) {
    const QString name = QString::fromStdString(path);
    QTimer::singleShot(50, chooser, [chooser, name] {
        chooser->findChild<QLineEdit*>("fileNameEdit")->setText(name);
        static_cast<QDialog*>(chooser)->accept();
    });
}

// The Convert command, then the event loop until its run has finished (a
// cancelled save chooser starts none); false when it had not after
// `limitMs`. The window stays live meanwhile: the run is a job of its own.
inline bool ConvertAndWait(Desktop& d, int limitMs = 300000) {
    d.window->Command(104);
    return WaitUntil([&d] { return !d.session->ConversionRunning(); }, limitMs);
}

}  // namespace tessaly::testing
