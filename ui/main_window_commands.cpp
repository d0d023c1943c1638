// The command handler of the main window: menu items, accelerators, clicks
// on image buttons and check boxes, the Reset buttons, the cut buttons and
// the timer that repeats a held arrow.
#include <QAction>
#include <QCheckBox>
#include <QFileDialog>
#include <QMessageBox>
#include <QSlider>

#include "app/format.h"
#include "app/parameter_file.h"
#include "app/startup.h"
#include "ui/about_splash.h"
#include "ui/desktop_session.h"
#include "ui/guide_viewer.h"
#include "ui/image_button.h"
#include "ui/main_window.h"
#include "ui/sounds.h"

namespace tessaly {

namespace {

std::string WithoutTrailingSlash(std::string dir) {
    if (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    return dir;
}

}  // namespace

void MainWindow::SetPeriod(int nextPeriod) {
    if (nextPeriod > 0 && nextPeriod != repeatPeriod_) {
        nudgeTimer_.start(nextPeriod);
        repeatPeriod_ = nextPeriod;
    }
}

// Polled every 25 ms: a held arrow moves the cut at once, again after 150 ms
// and then every 50 ms until it is released.
void MainWindow::NudgeTick() {
    FisheyeApp& app = session_.app;
    if (app.run.streamState == StreamState::Stopped || !app.run.showInputVideo.load()) return;
    for (int id : {3900, 3901, 3902, 3903}) {
        auto* button = static_cast<ImageButton*>(Control(id));
        if (!button->isDown()) continue;
        session_.app.settings.Change([id](AppSettings& s) {
            switch (id) {
                case 3900: --s.XL1, --s.XL2; break;
                case 3901: ++s.XL1, ++s.XL2; break;
                case 3902: --s.YL1, ++s.YL2; break;
                case 3903: ++s.YL1, --s.YL2; break;
            }
        });
        ShowCutValues();
        SetPeriod(repeatPeriod_ == 25 ? 150 : 50);
        return;
    }
    SetPeriod(25);
}

// Pressed picture, click, and the normal (or hover) picture again after the
// wait. The wait runs on a timer so the window stays responsive.
void MainWindow::PressedSequence(int id, int waitMs) {
    auto* button = static_cast<ImageButton*>(Control(id));
    button->ShowState(2);
    sounds_->Tick();
    QTimer::singleShot(waitMs, button, [button] { button->ShowState(button->Hovered() ? 3 : 1); });
}

void MainWindow::ColourSwitch(QCheckBox* box) {
    QPalette pal = box->palette();
    pal.setColor(QPalette::Window, QColor(136, 136, 136));
    pal.setColor(QPalette::Button, QColor(136, 136, 136));
    pal.setColor(QPalette::WindowText, box->isChecked() ? Qt::white : Qt::black);
    box->setPalette(pal);
    box->repaint();
}

void MainWindow::StoreSwitch(int id, int checked) {
    session_.app.settings.Change([id, checked](AppSettings& s) {
        switch (id) {
            case 208: s.SHARPEN_CH = checked; break;
            case 523: s.BRIGHTNESS_CH = checked; break;
            case 522: s.CONTRAST_CH = checked; break;
            case 571: s.CPU_CH = checked; break;
            case 573: s.NOISE_CH = checked; break;
            case 115: s.ASPECT = checked; break;
        }
    });
}

void MainWindow::ResetTrackbar(int id, int value) {
    auto* slider = static_cast<QSlider*>(Control(id));
    slider->setValue(value);
    // Stored whatever the slider showed: a slider already at the value
    // emits no valueChanged (Noise shows 1 while NOISE is still 0).
    StoreTrackbar(id, value);
    slider->repaint();
}

bool MainWindow::ExitAllowed() {
    if (session_.app.run.encoderBusy.load()) return false;
    // Quitting while frames are converted throws the run away: ask first.
    if (session_.app.run.converting.load()) {
        QMessageBox box(QMessageBox::Question, "Exit", kStopConversionQuestion, QMessageBox::Yes | QMessageBox::No,
                        this);
        box.setDefaultButton(QMessageBox::No);
        if (box.exec() != QMessageBox::Yes || session_.app.run.encoderBusy.load()) return false;
    }
    RememberPositions();
    Shutdown(session_.app);
    return true;
}

std::string MainWindow::ChooseFolder(const std::string& initial) {
    QFileDialog dialog(this, "Select Folder", QString::fromStdString(WithoutTrailingSlash(initial)));
    dialog.setObjectName("SelectFolderChooser");
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return WithoutTrailingSlash(dialog.selectedFiles().front().toStdString());
}

void MainWindow::Command(int id) {
    FisheyeApp& app = session_.app;
    auto checked = [this](int boxId) {
        return static_cast<QCheckBox*>(Control(boxId))->isChecked() ? 1 : 0;
    };
    const bool haveStream = app.run.streamState != StreamState::Stopped;
    switch (id) {
        case 100: {  // Load
            auto* button = static_cast<ImageButton*>(Control(100));
            button->ShowState(2);
            sounds_->Tick();
            app.run.paused = false;
            QTimer::singleShot(300, button, [button] { button->ShowState(button->Hovered() ? 3 : 1); });
            app.run.streamState = StreamState::Stopped;
            session_.StartLoadWorker();
            break;
        }
        case 101: {  // Play/Pause
            if (!haveStream || session_.source.videoOpen == 0) return;
            PressedSequence(101, 500);
            app.run.paused = !app.run.paused.load();
            VideoStream& stream = session_.source.Stream();
            if (!app.run.paused.load()) {
                const MediaInfo info = session_.source.Info();
                if (stream.CurrentPosition() >= info.durationTicks && info.durationTicks > 0) {
                    session_.source.positionTicks = 0;
                    SetPositionBarWidth(1);
                    stream.SeekToStart();
                }
                stream.Run();
            } else {
                stream.Pause();
            }
            break;
        }
        case 102:  // Save parameters
            if (!haveStream) return;
            PressedSequence(102, 500);
            RememberPositions();
            {
                const AppSettings settings = session_.app.settings.Copy();
                SaveParameters(settings, app.env.screen, app.env.iniPath);
            }
            break;
        case 103:  // About
            PressedSequence(103, 500);
            ShowAbout(this, session_);
            break;
        case 104:  // Convert
            if (!haveStream) return;
            PressedSequence(104, 500);
            session_.ConvertCommand();
            break;
        case 107:  // Exit
            sounds_->Tick();
            if (app.run.encoderBusy.load()) return;
            close();
            return;
        case 110:  // Help
            PressedSequence(110, 500);
            OpenLink(session_, session_.HelpDocument(), this);
            return;
        case 111: {  // Set path for temporary Stream
            sounds_->Tick();
            std::string folder = TrimBlanksAndNuls(ChooseFolder(app.settings->APATH));
            if (folder.empty()) folder = FallbackTempFolder(DecideAppPaths(app.env.programDir));
            session_.app.settings.Change([&](AppSettings& s) { s.APATH = folder; });
            SetLabelText(112, " " + folder);
            break;
        }
        case 599: {  // Auto saving a parameters: menu item and check box agree
            const int32_t value = app.settings->AUTOSAVE != 0 ? 0 : 1;
            session_.app.settings.Change([value](AppSettings& s) { s.AUTOSAVE = value; });
            SetCheckState(599, value);
            MenuItem(599)->setChecked(value != 0);
            break;
        }
        case kMarkVrMenuItem: {  // Mark output as 180° VR video
            const bool value = !app.run.markVrOutput.load();
            app.run.markVrOutput = value;
            MenuItem(kMarkVrMenuItem)->setChecked(value);
            break;
        }
        case kLensMenuItem:
            OpenLensDialog();
            break;
        case kFindLensCircleMenuItem:  // Find lens circle: the cut follows when it is found
            if (!haveStream || session_.source.videoOpen == 0 || app.run.converting.load()) return;
            sounds_->Tick();
            session_.FindLensCircle(false);
            return;
        case 597:  // File Information
            if (TrimBlanksAndNuls(app.run.fileInfoText).empty()) return;
            Message("Video file information", app.run.fileInfoText, QMessageBox::Information, true);
            break;
        case 810:  // Popup Output Window
            app.run.showOutputVideo = true;
            SetCheckState(512, 1);
            OpenOutputWindow();
            break;
        case 902:  // web site
            sounds_->Tick();
            OpenLink(session_, session_.WebPage(), this);
            return;
        case 511:
            sounds_->Tick();
            app.run.showInputVideo = checked(511);
            break;
        case 512:
            sounds_->Tick();
            app.run.showOutputVideo = checked(512);
            if (app.run.showOutputVideo.load()) {
                OpenOutputWindow();
            } else {
                EndOutputWindow();
            }
            break;
        case 892:
            app.run.tempFormat = checked(892) ? StillFormat::Jpeg : StillFormat::Bmp;
            break;
        case 3220:
            app.run.horizontalFlip = checked(3220);
            break;
        case 208:
        case 523:
        case 522:
        case 571:
        case 573:
        case 115: {
            sounds_->Tick();
            auto* box = static_cast<QCheckBox*>(Control(id));
            StoreSwitch(id, checked(id));
            ColourSwitch(box);
            if (id == 115 && box->isChecked())
                Message("Warning !",
                        "Fix aspect ratio PARxDAR\nUse the option only, if a frame of image is stretched.",
                        QMessageBox::Warning, true);
            break;
        }
        case 581:
            ResetTrackbar(518, 1);
            ResetTrackbar(590, 0);
            break;
        case 582: ResetTrackbar(520, 127); break;
        case 583: ResetTrackbar(519, 127); break;
        case 584: ResetTrackbar(572, 1); break;
        case 585: ResetTrackbar(570, 100); break;
        case 3904:
        case 3907:
        case 3908:
            if (!haveStream || !app.run.showInputVideo.load()) return;
            sounds_->TickB();
            session_.app.settings.Change([id](AppSettings& s) {
                if (id == 3904) {
                    s.XL1 = -8, s.YL1 = -8, s.XL2 = 616, s.YL2 = 606;
                } else {
                    const int k = id == 3907 ? 1 : -1;
                    s.XL1 -= k, s.YL1 -= k, s.XL2 += 2 * k, s.YL2 += 2 * k;
                }
            });
            break;
        default:
            return;
    }
    ShowCutValues();
}

}  // namespace tessaly
