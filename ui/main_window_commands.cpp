// The command handler of the main window: menu items, accelerators, clicks
// on image buttons and check boxes, the Reset buttons, the cut buttons and
// the timer that repeats a held arrow.
#include <QAction>
#include <QCheckBox>
#include <QFileDialog>
#include <QMessageBox>
#include <QSlider>

#include <map>

#include "ui/control_ids.h"
#include "app/format.h"
#include "app/startup.h"
#include "ui/about_splash.h"
#include "ui/desktop_session.h"
#include "ui/guide_viewer.h"
#include "ui/image_button.h"
#include "ui/job_saving.h"
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

// How long an image button shows its pressed picture after a click (Load's
// is shorter): the visible feedback of the desktop's buttons.
constexpr int kPressedMs = 500;
constexpr int kLoadPressedMs = 300;

// Polled every 25 ms: a held arrow moves the cut at once, again after 150 ms
// and then every 50 ms until it is released.
void MainWindow::NudgeTick() {
    if (!session_.commands.CutButtonsActive()) return;
    for (int id : {control::kCutLeft, control::kCutRight, control::kCutUp, control::kCutDown}) {
        auto* button = static_cast<ImageButton*>(Control(id));
        if (!button->isDown()) continue;
        session_.commands.NudgeCut(id);
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

bool MainWindow::IsChecked(int boxId) const { return static_cast<QCheckBox*>(Control(boxId))->isChecked(); }

// Each handler returns whether the cut values are shown again afterwards:
// after every command but Exit, the web site, Help and one whose condition
// failed.

bool MainWindow::LoadCommand(int id) {
    PressedSequence(id, kLoadPressedMs);
    session_.commands.Load();
    return true;
}

// "Load stereo pair...": the left movie, then the right one.
bool MainWindow::LoadPairCommand(int /*id*/) {
    if (session_.ConversionRunning() || session_.chooserBusy.load() != 0) return false;
    const std::string left = ChooseMovie("Load Left Eye Movie");
    if (left.empty()) return false;
    const std::string right = ChooseMovie("Load Right Eye Movie");
    if (right.empty()) return false;
    if (!session_.LoadStereoPair(left, right)) {
        Message("Load stereo pair", "A lens circle search runs: try again when it has ended.",
                QMessageBox::Information, true);
        return false;
    }
    return true;
}

bool MainWindow::PlayPauseCommand(int id) {
    if (!session_.commands.HaveStream() || session_.source.videoOpen == 0) return false;
    PressedSequence(id, kPressedMs);
    if (session_.commands.PlayPause() == PlayOutcome::kRestarted) SetPositionBarWidth(1);
    return true;
}

bool MainWindow::SaveCommand(int id) {
    if (!session_.commands.HaveStream()) return false;
    PressedSequence(id, kPressedMs);
    RememberPositions();
    session_.commands.SaveParameters();
    return true;
}

bool MainWindow::AboutCommand(int id) {
    PressedSequence(id, kPressedMs);
    ShowAbout(this, session_);
    return true;
}

bool MainWindow::ConvertCommand(int id) {
    if (!session_.commands.HaveStream()) return false;
    if (session_.queue.Running()) {
        Message("Convert Fisheye", "The queue is converting: Convert can run when it has finished.",
                QMessageBox::Information, true);
        return false;
    }
    PressedSequence(id, kPressedMs);
    session_.ConvertCommand();
    return true;
}

bool MainWindow::ExitCommand(int) {
    sounds_->Tick();
    if (!session_.app.run.encoderBusy.load()) close();
    return false;
}

bool MainWindow::HelpCommand(int id) {
    PressedSequence(id, kPressedMs);
    OpenLink(session_, session_.HelpDocument(), this);
    return false;
}

bool MainWindow::TempFolderCommand(int) {
    sounds_->Tick();
    const std::string folder = session_.commands.SetTempFolder(ChooseFolder(session_.app.settings->APATH));
    SetLabelText(control::kTempFolderLabel, " " + folder);
    return true;
}

// Menu item and check box agree.
bool MainWindow::AutoSaveCommand(int id) {
    const int32_t value = session_.commands.ToggleAutoSave();
    SetCheckState(id, value);
    MenuItem(id)->setChecked(value != 0);
    return true;
}

bool MainWindow::MarkVrCommand(int id) {
    MenuItem(id)->setChecked(session_.commands.ToggleVrMarking());
    return true;
}

// A Stereo menu item: the choice it makes from the settings' one.
bool MainWindow::StereoCommand(int id) {
    const AppSettings s = session_.app.settings.Copy();
    auto input = static_cast<StereoLayout>(s.STEREO);
    auto output = static_cast<StereoLayout>(s.STEREO_OUT);
    bool swap = s.SWAP_EYES != 0, align = s.ALIGN_EYES != 0;
    switch (id) {
        case control::kStereoMono: input = StereoLayout::kMono; break;
        case control::kStereoSideBySide: input = StereoLayout::kSideBySide; break;
        case control::kStereoTopBottom: input = StereoLayout::kTopBottom; break;
        case control::kStereoOutSideBySide: output = StereoLayout::kSideBySide; break;
        case control::kStereoOutTopBottom: output = StereoLayout::kTopBottom; break;
        case control::kSwapEyes: swap = !swap; break;
        case control::kAlignEyes: align = !align; break;
        default: break;
    }
    const std::string problem = session_.commands.SetStereo(input, output, swap, align);
    ShowStereoChoice();
    if (!problem.empty()) Message("Stereo", problem, QMessageBox::Information, true);
    return problem.empty();
}

bool MainWindow::AnaglyphCommand(int id) {
    MenuItem(id)->setChecked(session_.commands.ToggleAnaglyph());
    return true;
}

bool MainWindow::LensCommand(int) {
    OpenLensDialog();
    return true;
}

// The cut follows when the circle is found.
bool MainWindow::FindCircleCommand(int) {
    if (!session_.commands.HaveStream() || session_.source.videoOpen == 0 || session_.app.run.converting.load())
        return false;
    sounds_->Tick();
    session_.FindLensCircle(false);
    return false;
}

bool MainWindow::FileInformationCommand(int) {
    const FisheyeApp& app = session_.app;
    if (TrimBlanksAndNuls(app.run.fileInfoText).empty()) return false;
    Message("Video file information", app.run.fileInfoText, QMessageBox::Information, true);
    return true;
}

// The output as Convert asks for it, then the job file's name.
bool MainWindow::SaveJobCommand(int) {
    if (!session_.commands.HaveStream()) return false;
    const std::string output = ChooseOutput();
    if (output.empty()) return false;
    MovieChooser chooser;
    chooser.title = "Save job";
    chooser.objectName = "SaveJobChooser";
    chooser.filters = QStringList{"Tessaly jobs (*.job)", "All files (*)"};
    chooser.defaultSuffix = "job";
    chooser.mode = QFileDialog::AcceptSave;
    const std::string path = ChooseMovieFile(chooser);
    if (path.empty()) return false;
    const std::string error = SaveDesktopJob(session_, path, output);
    if (!error.empty()) Message("Save job", error, QMessageBox::Warning, true);
    return true;
}

// The loaded movie's job, its output asked as Convert asks it; the queue
// shows it then. While the circle search of the load runs the cut is not
// yet the movie's: the user is asked to wait. A cut whose rim misses the
// circle found is asked about as before Convert.
bool MainWindow::AddToQueueCommand(int) {
    if (session_.source.VideoPath().empty()) {
        Message("Add to queue", "Load a movie first.", QMessageBox::Information, true);
        return false;
    }
    if (session_.circleSearching.load() != 0) {
        Message("Add to queue", "The lens circle is still being looked for: add the movie when it is found.",
                QMessageBox::Information, true);
        return false;
    }
    const std::string warning = session_.RimWarning();
    if (!warning.empty() && !session_.questions.convertDespiteRim(QString::fromStdString(warning))) return false;
    const std::string output = ChooseOutput();
    if (output.empty()) return false;
    const std::string error = session_.AddToQueue(output);
    if (!error.empty()) Message("Add to queue", error, QMessageBox::Warning, true);
    OpenQueueWindow();
    return true;
}

bool MainWindow::QueueWindowCommand(int) {
    OpenQueueWindow();
    return false;
}

bool MainWindow::RunQueueCommand(int) {
    OpenQueueWindow();
    if (session_.ConversionRunning()) {
        Message("Run queue", "A conversion is running: the queue can run after it.", QMessageBox::Information, true);
    } else if (!session_.RunQueue() && !session_.queue.Running()) {
        Message("Run queue", "No job in the queue is waiting.", QMessageBox::Information, true);
    }
    return false;
}

bool MainWindow::PopupOutputCommand(int) {
    session_.commands.ShowOutput(1);
    SetCheckState(control::kShowOutputCheck, 1);
    OpenOutputWindow();
    return true;
}

bool MainWindow::WebSiteCommand(int) {
    sounds_->Tick();
    OpenLink(session_, session_.WebPage(), this);
    return false;
}

bool MainWindow::ShowInputCommand(int id) {
    sounds_->Tick();
    session_.commands.ShowInput(IsChecked(id));
    return true;
}

bool MainWindow::ShowOutputCommand(int id) {
    sounds_->Tick();
    session_.commands.ShowOutput(IsChecked(id));
    if (IsChecked(id)) {
        OpenOutputWindow();
    } else {
        EndOutputWindow();
    }
    return true;
}

bool MainWindow::StillFormatCommand(int id) {
    session_.commands.SetStillFormat(IsChecked(id));
    return true;
}

bool MainWindow::FlipCommand(int id) {
    session_.commands.SetFlip(IsChecked(id));
    return true;
}

// A filter switch or the aspect fix.
bool MainWindow::SwitchCommand(int id) {
    sounds_->Tick();
    auto* box = static_cast<QCheckBox*>(Control(id));
    session_.commands.StoreSwitch(id, box->isChecked() ? 1 : 0);
    ColourSwitch(box);
    if (id == control::kFixAspectCheck && box->isChecked())
        Message("Warning !", "Fix aspect ratio PARxDAR\nUse the option only, if a frame of image is stretched.",
                QMessageBox::Warning, true);
    return true;
}

// A Reset button: its row's amounts and their sliders (no sound).
bool MainWindow::ResetCommand(int id) {
    for (const SliderValue& t : session_.commands.ResetRow(id)) {
        auto* slider = static_cast<QSlider*>(Control(t.slider));
        slider->setValue(t.value);
        slider->repaint();
    }
    return true;
}

// Reset, enlarge and shrink the cut.
bool MainWindow::CutCommand(int id) {
    if (!session_.commands.CutButtonsActive()) return false;
    sounds_->TickB();
    session_.commands.CutButton(id);
    return true;
}

const std::map<int, MainWindow::CommandHandler>& MainWindow::CommandTable() {
    static const std::map<int, CommandHandler> kHandlers = {
        {control::kLoad, &MainWindow::LoadCommand},
        {control::kLoadStereoPair, &MainWindow::LoadPairCommand},
        {control::kPlayPause, &MainWindow::PlayPauseCommand},
        {control::kSaveParameters, &MainWindow::SaveCommand},
        {control::kAbout, &MainWindow::AboutCommand},
        {control::kConvert, &MainWindow::ConvertCommand},
        {control::kExit, &MainWindow::ExitCommand},
        {control::kHelp, &MainWindow::HelpCommand},
        {control::kSetTempFolder, &MainWindow::TempFolderCommand},
        {control::kAutoSave, &MainWindow::AutoSaveCommand},
        {control::kMarkVrOutput, &MainWindow::MarkVrCommand},
        {control::kLensDialog, &MainWindow::LensCommand},
        {control::kFindLensCircle, &MainWindow::FindCircleCommand},
        {control::kFileInformation, &MainWindow::FileInformationCommand},
        {control::kSaveJob, &MainWindow::SaveJobCommand},
        {control::kAddToQueue, &MainWindow::AddToQueueCommand},
        {control::kQueueWindow, &MainWindow::QueueWindowCommand},
        {control::kRunQueue, &MainWindow::RunQueueCommand},
        {control::kPopupOutputWindow, &MainWindow::PopupOutputCommand},
        {control::kWebSite, &MainWindow::WebSiteCommand},
        {control::kShowInputCheck, &MainWindow::ShowInputCommand},
        {control::kShowOutputCheck, &MainWindow::ShowOutputCommand},
        {control::kTempFormatCheck, &MainWindow::StillFormatCommand},
        {control::kFlipCheck, &MainWindow::FlipCommand},
        {control::kSharpenCheck, &MainWindow::SwitchCommand},
        {control::kBrightnessCheck, &MainWindow::SwitchCommand},
        {control::kContrastCheck, &MainWindow::SwitchCommand},
        {control::kCpuCheck, &MainWindow::SwitchCommand},
        {control::kNoiseCheck, &MainWindow::SwitchCommand},
        {control::kFixAspectCheck, &MainWindow::SwitchCommand},
        {control::kSharpenReset, &MainWindow::ResetCommand},
        {control::kBrightnessReset, &MainWindow::ResetCommand},
        {control::kContrastReset, &MainWindow::ResetCommand},
        {control::kNoiseReset, &MainWindow::ResetCommand},
        {control::kCpuReset, &MainWindow::ResetCommand},
        {control::kCutReset, &MainWindow::CutCommand},
        {control::kCutEnlarge, &MainWindow::CutCommand},
        {control::kCutShrink, &MainWindow::CutCommand},
        {control::kStereoMono, &MainWindow::StereoCommand},
        {control::kStereoSideBySide, &MainWindow::StereoCommand},
        {control::kStereoTopBottom, &MainWindow::StereoCommand},
        {control::kStereoOutSideBySide, &MainWindow::StereoCommand},
        {control::kStereoOutTopBottom, &MainWindow::StereoCommand},
        {control::kSwapEyes, &MainWindow::StereoCommand},
        {control::kAlignEyes, &MainWindow::StereoCommand},
        {control::kAnaglyph, &MainWindow::AnaglyphCommand},
    };
    return kHandlers;
}

// One table from id to handler; ids without a handler do nothing.
void MainWindow::Command(int id) {
    const auto& handlers = CommandTable();
    const auto it = handlers.find(id);
    if (it != handlers.end() && (this->*(it->second))(id)) ShowCutValues();
}

}  // namespace tessaly
