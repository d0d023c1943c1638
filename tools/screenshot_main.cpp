// Saves pictures of the desktop program's windows: the splash window, the
// main window with a movie playing, the output window, the About box, and
// the two windows at a conversion's end: "Please wait..." and the dialog for
// encoding again.
//
//   tessaly-screenshots OUTDIR CLIP
//
// tools/screenshot makes the clip and runs this under Xvfb when it is
// installed (else on Qt's offscreen platform).

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QPushButton>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <functional>

#include "ui/about_splash.h"
#include "ui/desktop_app.h"
#include "ui/desktop_session.h"
#include "ui/export_progress_window.h"
#include "ui/main_window.h"
#include "ui/output_options_dialog.h"
#include "ui/output_window.h"
#include "ui/preview_panel.h"

namespace {

QString gOut;
int gFailures = 0;

void Save(QWidget* w, const char* name) {
    const QString path = gOut + "/" + name;
    if (!w->grab().save(path, "PNG")) {
        std::fprintf(stderr, "tessaly-screenshots: cannot write %s\n", qPrintable(path));
        ++gFailures;
        return;
    }
    std::printf("%s\n", qPrintable(path));
}

// Calls `then` once `ready` holds (polled every 50 ms, at most `limitMs`).
void When(std::function<bool()> ready, std::function<void()> then, int limitMs = 20000) {
    auto* timer = new QTimer;
    auto* clock = new QElapsedTimer;
    clock->start();
    QObject::connect(timer, &QTimer::timeout, [=] {
        if (!ready() && clock->elapsed() < limitMs) return;
        timer->stop();
        timer->deleteLater();
        delete clock;
        then();
    });
    timer->start(50);
}

// The encoder's window a few seconds into an encoding (the first box full),
// then the dialog for encoding again; then the program ends.
void ConversionWindows(tessaly::MainWindow* w, const std::string& clip) {
    w->OpenExportProgress();
    QTimer::singleShot(2500, w, [w, clip] {
        if (tessaly::ExportProgressWindow* progress = w->ExportProgress()) {
            w->UpdateExportProgress("Processing time: 00:00:02");
            Save(progress, "export-progress.png");
        }
        w->CloseExportProgress();
        When([] { return qobject_cast<tessaly::OutputOptionsDialog*>(QApplication::activeModalWidget()) != nullptr; },
             [w] {
                 QWidget* options = QApplication::activeModalWidget();
                 QTimer::singleShot(200, options, [options, w] {
                     Save(options, "output-options.png");
                     options->findChild<QPushButton*>("id_2004")->click();
                     QTimer::singleShot(100, w, [w] { w->close(); });
                 });
             });
        const std::string output = QFileInfo(QString::fromStdString(clip)).absolutePath().toStdString() +
                                   "/fisheye-panorama.flv";
        w->OutputOptions(output);
    });
}

}  // namespace

int main(int argc, char** argv) {
    QApplication qt(argc, argv);
    QApplication::setStyle(QStyleFactory::create("Fusion"));
    if (argc != 3) {
        std::fprintf(stderr, "usage: tessaly-screenshots OUTDIR CLIP\n");
        return 2;
    }
    gOut = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(gOut);
    const std::string clip = argv[2];
    QTemporaryDir programDir;

    // The splash is modal: photograph it, then press Start.
    When([] { return qobject_cast<QDialog*>(QApplication::activeModalWidget()) != nullptr; },
         [] {
             QWidget* splash = QApplication::activeModalWidget();
             QTimer::singleShot(300, splash, [splash] {
                 Save(splash, "splash.png");
                 splash->findChild<QPushButton*>("id_2005")->click();
             });
         });

    tessaly::DesktopOptions options;
    options.programDir = programDir.path().toStdString() + "/";
    options.onMainWindow = [clip](tessaly::MainWindow& window, tessaly::DesktopSession& session) {
        window.move(20, 20);
        if (window.Output() != nullptr) window.Output()->move(1060, 40);
        session.StartLoadWorker(clip);
        tessaly::MainWindow* w = &window;
        tessaly::DesktopSession* s = &session;
        When([s, w] { return s->painter.Drawn() > 12 && w->InputPanel()->Shown() > 4; },
             [s, w, clip] {
                 s->app.paused = 1;  // a still picture for the screenshots
                 QTimer::singleShot(400, w, [s, w, clip] {
                     Save(w, "main-window.png");
                     if (w->Output() != nullptr) Save(w->Output(), "output-window.png");
                     When([] { return QApplication::activeModalWidget() != nullptr; },
                          [w, clip] {
                              QWidget* about = QApplication::activeModalWidget();
                              QTimer::singleShot(200, about, [about, w, clip] {
                                  Save(about, "about.png");
                                  static_cast<QDialog*>(about)->accept();
                                  QTimer::singleShot(100, w, [w, clip] { ConversionWindows(w, clip); });
                              });
                          });
                     tessaly::ShowAbout(w, *s);
                 });
             });
    };
    tessaly::RunDesktop(options);
    return gFailures == 0 ? 0 : 1;
}
