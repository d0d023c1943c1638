// Saves pictures of the desktop program's windows: the splash window, the
// main window with a movie playing, the output window, the lens rim of the
// untouched start cut, the Lens dialog beside both windows and its list of
// lens profiles with one chosen, the About box, and
// a real conversion: the main and output windows while the frames are
// converted, "Please wait...", the success question and the dialog for
// encoding again; given further clips, the job queue of them (waiting,
// running, done) before that conversion.
//
//   tessaly-screenshots OUTDIR CLIP [QUEUE_CLIP...]
//
// tools/screenshot makes the clip and runs this under Xvfb when it is
// installed (else on Qt's offscreen platform).

#include <QApplication>
#include <QDialog>
#include <QDoubleSpinBox>
#include <QPainter>
#include <QPixmap>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>

#include <cstdio>
#include <functional>
#include <vector>

#include "ui/about_splash.h"
#include "ui/desktop_app.h"
#include "ui/desktop_session.h"
#include "ui/export_progress_window.h"
#include "ui/lens_dialog.h"
#include "ui/main_window.h"
#include "ui/output_options_dialog.h"
#include "ui/output_window.h"
#include "ui/preview_panel.h"
#include "ui/queue_window.h"

namespace {

QString gOut;
QString gScratch;  // the conversion's output
int gFailures = 0;

// A window just shown lays itself out and paints over the next event-loop
// turns; it is photographed once they have run.
constexpr int kPaintSettleMs = 300;
// After the movie is paused, the preview passes under way finish and the
// last picture stays.
constexpr int kPauseSettleMs = 400;
// The export window's clock turns once a second: a second picture after it.
constexpr int kExportClockTurnMs = 1300;
// The conditions When waits for are states of other threads and windows
// that post no event of their own, so they are looked at this often.
constexpr int kConditionCheckMs = 50;

void Save(QWidget* w, const char* name) {
    const QString path = gOut + "/" + name;
    if (!w->grab().save(path, "PNG")) {
        std::fprintf(stderr, "tessaly-screenshots: cannot write %s\n", qPrintable(path));
        ++gFailures;
        return;
    }
    std::printf("%s\n", qPrintable(path));
}

// Several windows in one picture, each where it stands on the screen, on
// the grey of an empty desktop.
void SaveTogether(const std::vector<QWidget*>& windows, const char* name) {
    QRect area;
    for (QWidget* w : windows)
        if (w != nullptr && w->isVisible()) area |= w->geometry();
    area.adjust(-12, -12, 12, 12);
    QPixmap canvas(area.size());
    canvas.fill(QColor(58, 62, 66));
    {
        QPainter p(&canvas);
        for (QWidget* w : windows) {
            if (w == nullptr || !w->isVisible()) continue;
            const QRect r = w->geometry().translated(-area.topLeft());
            p.fillRect(r.adjusted(3, 3, 3, 3), QColor(30, 32, 34));  // a shadow parts the windows
            p.drawPixmap(r.topLeft(), w->grab());
        }
    }
    const QString path = gOut + "/" + name;
    if (!canvas.save(path, "PNG")) {
        std::fprintf(stderr, "tessaly-screenshots: cannot write %s\n", qPrintable(path));
        ++gFailures;
        return;
    }
    std::printf("%s\n", qPrintable(path));
}

// Calls `then` once `ready` holds (looked at every kConditionCheckMs, at
// most `limitMs`).
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
    timer->start(kConditionCheckMs);
}

// A real conversion of the clip into a scratch folder: the main window and
// the output window while the frames are converted, the encoder's window,
// the success question and the dialog for encoding again; leaving that
// dialog ends the run and the program.
void Conversion(tessaly::MainWindow* w, const QString& outputFolder) {
    When([] { return qobject_cast<QFileDialog*>(QApplication::activeModalWidget()) != nullptr; },
         [outputFolder] {
             auto* chooser = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
             QTimer::singleShot(kPaintSettleMs, chooser, [chooser, outputFolder] {
                 chooser->findChild<QLineEdit*>("fileNameEdit")->setText(outputFolder + "/fisheye-panorama.mp4");
                 static_cast<QDialog*>(chooser)->accept();
             });
         });
    // Once the frame label has counted past the first frames, so the
    // position bar and the label show the run's progress.
    When([w] {
             const int shown = w->LabelFullText(tessaly::control::kFrameCountLabel).toInt();
             return w->LabelFullText(tessaly::control::kOperationLabel).contains("RECORD") && shown > 20 && shown < 150;
         },
         [w] {
             Save(w, "main-window-converting.png");
             if (w->Output() != nullptr) Save(w->Output(), "output-window-converting.png");
         });
    When([w] { return w->ExportProgress() != nullptr; },
         [w] {
             Save(w->ExportProgress(), "export-progress.png");
             // Again once the clock has moved, if the encoder is still busy.
             QTimer::singleShot(kExportClockTurnMs, w, [w] {
                 if (tessaly::ExportProgressWindow* progress = w->ExportProgress()) Save(progress, "export-progress.png");
             });
         });
    When([] { return qobject_cast<QMessageBox*>(QApplication::activeModalWidget()) != nullptr; },
         [] {
             auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
             QTimer::singleShot(kPaintSettleMs, box, [box] {
                 Save(box, "success-question.png");
                 box->button(QMessageBox::Ok)->click();
             });
         }, 120000);
    When([] { return qobject_cast<tessaly::OutputOptionsDialog*>(QApplication::activeModalWidget()) != nullptr; },
         [] {
             QWidget* options = QApplication::activeModalWidget();
             QTimer::singleShot(kPaintSettleMs, options, [options] {
                 Save(options, "output-options.png");
                 options->findChild<QPushButton*>("id_2004")->click();
             });
         }, 120000);
    w->Command(tessaly::control::kConvert);
}

void LensDialogPicture(tessaly::MainWindow* w, std::function<void()> then);

// The input picture with the rim the untouched start cut places and with the
// rim of the circle "Find lens circle" found, then the Lens dialog with a 200-degree lens under the output window, and the
// previews with the dashed 180-degree edge and the levelling lines; the lens
// goes back to its default before `then`.
void LensPictures(tessaly::MainWindow* w, tessaly::DesktopSession* s, std::function<void()> then) {
    Save(w->InputPanel(), "rim-overlay.png");
    // "Find lens circle": the cut moves onto the lens's own circle.
    const int64_t searches = s->circleSearchesDone.load();
    w->Command(tessaly::kFindLensCircleMenuItem);
    When([s, searches] { return s->circleSearchesDone.load() > searches; },
         [w, then] {
             const int64_t shown = w->InputPanel()->Shown();
             When([w, shown] { return w->InputPanel()->Shown() >= shown + 2; },
                  [w, then] {
                      Save(w->InputPanel(), "rim-overlay-found.png");
                      LensDialogPicture(w, then);
                  });
         }, 60000);
}

// The Lens dialog's profile list searched for "sigma", the Sigma 8mm
// circular fisheye chosen, beside the output picture it corrects.
void LensProfilePicture(tessaly::MainWindow* w, std::function<void()> then) {
    tessaly::LensDialog* dialog = w->Lens();
    dialog->show();
    QWidget* output = w->Output();
    const QRect beside = output != nullptr ? output->geometry() : w->geometry();
    dialog->move(beside.right() + 30, beside.top());
    dialog->Search()->setText("sigma");
    QTreeWidget* list = dialog->Profiles();
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = list->topLevelItem(i);
        if (item->data(0, Qt::UserRole).toString() == "Sigma 8mm f/3.5 EX DG Circular") list->setCurrentItem(item);
    }
    const int64_t shown = w->InputPanel()->Shown();
    When([w, shown] { return w->InputPanel()->Shown() >= shown + 2; },
         [w, dialog, output, then] {
             QTimer::singleShot(kPaintSettleMs, w, [dialog, output, then] {
                 SaveTogether({output, dialog}, "lens-profiles.png");
                 dialog->Search()->clear();
                 dialog->ResetButton()->click();
                 dialog->close();
                 then();
             });
         });
}

void LensDialogPicture(tessaly::MainWindow* w, std::function<void()> then) {
    w->OpenLensDialog();
    tessaly::LensDialog* dialog = w->Lens();
    const QRect main = w->geometry();
    const int below = w->Output() != nullptr ? w->Output()->geometry().bottom() + 30 : main.top();
    dialog->move(main.right() + 40, below);
    dialog->Fov()->setValue(200.0);
    // Two pictures drawn since, so the newest shows the new lens.
    const int64_t shown = w->InputPanel()->Shown();
    When([w, shown] { return w->InputPanel()->Shown() >= shown + 2; },
         [w, dialog, then] {
             QTimer::singleShot(kPaintSettleMs, w, [w, dialog, then] {
                 SaveTogether({w, w->Output(), dialog}, "lens-dialog.png");
                 dialog->ResetButton()->click();
                 LensProfilePicture(w, then);
             });
         });
}

// The job queue: each of `clips` loaded (its circle found) and added, the
// "Queue" window with the jobs waiting, then while the second one converts
// and once all are done; the main clip is loaded again before `then`.
void QueuePictures(tessaly::MainWindow* w, tessaly::DesktopSession* s, std::vector<std::string> clips,
                   std::string mainClip, std::function<void()> then) {
    if (!clips.empty()) {
        const std::string clip = clips.front();
        clips.erase(clips.begin());
        const int64_t searches = s->circleSearchesDone.load();
        s->StartLoadWorker(clip);
        When([s, searches] { return s->circleSearchesDone.load() > searches; },
             [=] {
                 const QString name = QFileInfo(QString::fromStdString(clip)).completeBaseName();
                 s->AddToQueue((gScratch + "/" + name + "-panorama.mp4").toStdString());
                 QueuePictures(w, s, clips, mainClip, then);
             }, 60000);
        return;
    }
    w->OpenQueueWindow();
    tessaly::QueueWindow* queue = w->Queue();
    QTimer::singleShot(kPauseSettleMs, queue, [=] {
        Save(queue, "queue-waiting.png");
        w->Command(tessaly::control::kRunQueue);
        const auto converting = [s](size_t row) {
            const auto& e = s->queue.Entries();
            return e.size() > row && e[row].state == tessaly::QueueState::kConverting && e[row].percent >= 30;
        };
        When([converting] { return converting(1); },
             [=] {
                 SaveTogether({w, w->Output(), queue}, "queue-running.png");
                 When([s] { return !s->queue.Running(); },
                      [=] {
                          Save(queue, "queue-done.png");
                          queue->close();
                          const int64_t searches = s->circleSearchesDone.load();
                          s->StartLoadWorker(mainClip);
                          When([s, searches] { return s->circleSearchesDone.load() > searches; }, then, 60000);
                      }, 300000);
             }, 300000);
    });
}

// A two-eye movie: Stereo side by side chosen, both circles found, then the
// input picture with both rims (stereo-rims.png), both windows with the eyes
// side by side (stereo-preview.png) and with the red/cyan anaglyph
// (stereo-anaglyph.png); the window is closed at the end.
void StereoPictures(tessaly::MainWindow* w, tessaly::DesktopSession* s) {
    w->Command(tessaly::control::kStereoSideBySide);
    w->Command(tessaly::control::kFindLensCircle);
    When([s] { return s->CurrentEyes().has_value(); },
         [w, s] {
             const int64_t shown = w->InputPanel()->Shown();
             When([w, shown] { return w->InputPanel()->Shown() >= shown + 3; },
                  [w, s] {
                      s->app.run.paused = true;
                      QTimer::singleShot(kPauseSettleMs, w, [w, s] {
                          Save(w->InputPanel(), "stereo-rims.png");
                          SaveTogether({w, w->Output()}, "stereo-preview.png");
                          s->app.run.paused = false;
                          w->Command(tessaly::control::kAnaglyph);
                          const int64_t drawn = w->InputPanel()->Shown();
                          When([w, drawn] { return w->InputPanel()->Shown() >= drawn + 3; },
                               [w, s] {
                                   s->app.run.paused = true;
                                   QTimer::singleShot(kPauseSettleMs, w, [w] {
                                       SaveTogether({w, w->Output()}, "stereo-anaglyph.png");
                                       w->close();
                                   });
                               });
                      });
                  });
         }, 120000);
}

// A pair of movies, loaded by "Load stereo pair...": once the right movie's
// offset is found, both windows with the eyes side by side
// (stereo-pair.png); the window is closed at the end.
void PairPicture(tessaly::MainWindow* w, tessaly::DesktopSession* s) {
    When([s] { return s->CurrentEyes().has_value(); },
         [w, s] {
             const int64_t shown = w->InputPanel()->Shown();
             When([w, shown] { return w->InputPanel()->Shown() >= shown + 3; },
                  [w, s] {
                      s->app.run.paused = true;
                      QTimer::singleShot(kPauseSettleMs, w, [w] {
                          SaveTogether({w, w->Output()}, "stereo-pair.png");
                          w->close();
                      });
                  });
         }, 120000);
}

// The splash is modal: photograph it, then press Start.
void PhotographSplash() {
    When([] { return qobject_cast<QDialog*>(QApplication::activeModalWidget()) != nullptr; },
         [] {
             QWidget* splash = QApplication::activeModalWidget();
             QTimer::singleShot(kPaintSettleMs, splash, [splash] {
                 Save(splash, "splash.png");
                 splash->findChild<QPushButton*>("id_2005")->click();
             });
         });
}

}  // namespace

int main(int argc, char** argv) {
    QApplication qt(argc, argv);
    QApplication::setStyle(QStyleFactory::create("Fusion"));
    if (argc < 3) {
        std::fprintf(stderr, "usage: tessaly-screenshots OUTDIR CLIP [QUEUE_CLIP...] | OUTDIR --stereo CLIP [RIGHT]\n");
        return 2;
    }
    // "--stereo CLIP": only the pictures of a two-eye movie; "--stereo LEFT
    // RIGHT": only the picture of a pair of movies.
    const bool stereo = (argc == 4 || argc == 5) && std::string(argv[2]) == "--stereo";
    const std::string right = stereo && argc == 5 ? argv[4] : "";
    const std::vector<std::string> queueClips(argv + (stereo ? argc : 3), argv + argc);
    gOut = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(gOut);
    const std::string clip = argv[stereo ? 3 : 2];
    QTemporaryDir programDir;
    QTemporaryDir scratch;
    gScratch = scratch.path();

    PhotographSplash();

    tessaly::DesktopOptions options;
    options.programDir = programDir.path().toStdString() + "/";
    options.onMainWindow = [clip, queueClips, stereo, right](tessaly::MainWindow& window,
                                                             tessaly::DesktopSession& session) {
        window.move(20, 20);
        if (window.Output() != nullptr) window.Output()->move(1060, 40);
        if (!right.empty()) {
            session.LoadStereoPair(clip, right);
            PairPicture(&window, &session);
            return;
        }
        // The start cut first, for the picture of its rim; the circle is
        // found from the menu afterwards.
        session.findCircleOnLoad = 0;
        session.StartLoadWorker(clip);
        tessaly::MainWindow* w = &window;
        tessaly::DesktopSession* s = &session;
        if (stereo) {
            When([s, w] { return s->painter.Drawn() > 4 && w->InputPanel()->Shown() > 2; },
                 [w, s] { StereoPictures(w, s); });
            return;
        }
        When([s, w] { return s->painter.Drawn() > 12 && w->InputPanel()->Shown() > 4; },
             [s, w, clip, queueClips] {
                 s->app.run.paused = true;  // a still picture for the screenshots
                 QTimer::singleShot(kPauseSettleMs, w, [s, w, clip, queueClips] {
                     Save(w, "main-window.png");
                     if (w->Output() != nullptr) Save(w->Output(), "output-window.png");
                     LensPictures(w, s, [w, s, clip, queueClips] {
                         When([] { return QApplication::activeModalWidget() != nullptr; },
                              [w, s, clip, queueClips] {
                                  QWidget* about = QApplication::activeModalWidget();
                                  QTimer::singleShot(kPaintSettleMs, about, [about, w, s, clip, queueClips] {
                                      Save(about, "about.png");
                                      static_cast<QDialog*>(about)->accept();
                                      // Once the box has closed (queued behind its events), each
                                      // queued movie gets its circle; so does the main clip again.
                                      QMetaObject::invokeMethod(
                                          w,
                                          [w, s, clip, queueClips] {
                                              s->findCircleOnLoad = 1;
                                              QueuePictures(w, s, queueClips, clip, [w] { Conversion(w, gScratch); });
                                          },
                                          Qt::QueuedConnection);
                                  });
                              });
                         tessaly::ShowAbout(w, *s);
                     });
                 });
             });
    };
    tessaly::RunDesktop(options);
    return gFailures == 0 ? 0 : 1;
}
