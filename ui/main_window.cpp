#include "ui/main_window.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialog>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QActionGroup>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QSlider>

#include <filesystem>
#include <vector>

#include "ui/control_ids.h"
#include "ui/parameter_controls.h"
#include "app/startup.h"
#include "ui/desktop_session.h"
#include "ui/export_progress_window.h"
#include "ui/image_button.h"
#include "ui/lens_dialog.h"
#include "ui/output_options_dialog.h"
#include "ui/output_window.h"
#include "ui/preview_panel.h"
#include "ui/queue_window.h"
#include "ui/sounds.h"
#include "ui/widget_style.h"

namespace tessaly {

namespace {

const QColor kWindowGrey(135, 135, 135);
const QColor kCaptionGrey(136, 136, 136);
const QColor kValueGrey(119, 119, 119);
const QColor kGroupDark(51, 51, 51);
const QString kFlatButton =
    "QPushButton { background: #d6d6d6; color: black; border: 1px solid #4a4a4a; padding: 0px; font-size: 10px; }"
    "QPushButton:pressed { background: #a9a9a9; }"
    "QPushButton:disabled { color: #8a8a8a; }";

// The arrows act while held (the nudge timer), not on a click.
bool IsCutArrow(int id) {
    return id == control::kCutLeft || id == control::kCutRight || id == control::kCutUp || id == control::kCutDown;
}

// A check box that answers a click anywhere in its rectangle, not only on
// its mark and caption.
class FullCheckBox : public QCheckBox {
public:
    using QCheckBox::QCheckBox;

protected:
    bool hitButton(const QPoint& pos) const override { return rect().contains(pos); }
};

struct FilterRow {
    int check, minLabel, maxLabel, reset, top;
    const char* caption;
    int width;
    const char* tip;
};
// Sharpen, Brightness, Contrast, Noise Median, CPU usage.
constexpr FilterRow kRows[] = {
    {control::kSharpenCheck, control::kSharpenMinLabel, control::kSharpenMaxLabel, control::kSharpenReset, 296,
     " Sharpen", 111, " Sharpen control - On/Off "},
    {control::kBrightnessCheck, control::kBrightnessMinLabel, control::kBrightnessMaxLabel,
     control::kBrightnessReset, 316, " Brightness", 161, " Brightness control - On/Off "},
    {control::kContrastCheck, control::kContrastMinLabel, control::kContrastMaxLabel, control::kContrastReset, 336,
     " Contrast", 161, " Contrast control - On/Off "},
    {control::kNoiseCheck, control::kNoiseMinLabel, control::kNoiseMaxLabel, control::kNoiseReset, 356,
     " Noise Median", 161, " Noise Median control - On/Off "},
    {control::kCpuCheck, control::kCpuMinLabel, control::kCpuMaxLabel, control::kCpuReset, 376, " CPU usage", 161,
     " CPU usage control - On/Off "},
};

// Where the Lens dialog and the Queue window open: right of the main window
// (below the output window when that stands there) if the screen has room,
// else `inside`.
QPoint BesideWindows(const QRect& main, const QRect& output, QSize dialog, const QRect& screen,
                     QPoint inside) {
    QRect place(QPoint(main.right() + 8, main.top()), dialog);
    if (output.isValid() && output.left() < place.right() && output.right() > place.left() &&
        output.top() < place.bottom() && output.bottom() > place.top()) {
        place.moveTop(output.bottom() + 8);
    }
    if (!screen.isValid() || screen.contains(place)) return place.topLeft();
    return inside;
}

}  // namespace

MainWindow::MainWindow(DesktopSession& session)
    : QMainWindow(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                               Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                               Qt::MSWindowsFixedSizeDialogHint),
      session_(session),
      sounds_(new ClickSounds(this)) {
    setWindowTitle(kMainCaption);
    EnsureArt();
    setWindowIcon(QIcon(":/icons/tessaly.png"));
    // The narrow face keeps the captions inside their small fixed rectangles.
    QFont font("DejaVu Sans Condensed");
    font.setPixelSize(11);
    setFont(font);
    client_ = new QWidget(this);
    client_->setObjectName("client");
    client_->setFixedSize(kClientWidth, kClientHeight);
    SetColours(client_, kWindowGrey, Qt::black);
    setCentralWidget(client_);
    BuildMenus();
    BuildControls();
    BuildTooltips();
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    connect(&nudgeTimer_, &QTimer::timeout, this, &MainWindow::NudgeTick);
    SetPeriod(25);  // dialog initialisation
    PaintPlaceholders();
    ShowCutValues();
    WatchSession();
}

MainWindow::~MainWindow() {
    nudgeTimer_.stop();
    // The worker threads use this window: they end before it goes.
    Shutdown(session_.app);
    session_.AttachWindow(nullptr);
    session_.ui.SetWindow(nullptr);
    session_.questions = SessionQuestions{};
}

void MainWindow::WatchSession() {
    session_.ui.SetWindow(this);
    session_.questions.chooseMovie = [this] { return ChooseMovie(); };
    session_.questions.chooseOutput = [this] { return ChooseOutput(); };
    session_.questions.convertDespiteRim = [this](const QString& warning) {
        QMessageBox box(QMessageBox::Warning, "Convert Fisheye", warning, QMessageBox::Ok | QMessageBox::Cancel, this);
        box.setObjectName("RimWarning");
        box.setDefaultButton(QMessageBox::Cancel);
        return box.exec() == QMessageBox::Ok;
    };
    session_.questions.afterRun = [this](const RunQuestion& question) { return AskAfterRun(question); };
    session_.questions.outputOptions = [this](const std::string& currentPath) { return OutputOptions(currentPath); };
    connect(&session_, &DesktopSession::programEnded, this, &MainWindow::EndWindow);
    connect(&session_, &DesktopSession::previewsReady, this, [this](const QImage& input, const QImage& output) {
        if (!output.isNull()) OutputPanel()->SetImage(output);
        if (!input.isNull()) InputPanel()->SetImage(input);
    });
    connect(&session_, &DesktopSession::inputPlaceholderWanted, this,
            [this](const QString& caption) { InputPanel()->PaintPlaceholder(caption); });
    connect(&session_, &DesktopSession::cutChanged, this, &MainWindow::ShowCutValues);
    connect(&session_, &DesktopSession::circleSearchRefused, this, [this](const QString& reason) {
        Message("Find lens circle", reason.toStdString() + "\nThe cut stays as it was.", QMessageBox::Information,
                true);
    });
    connect(&session_, &DesktopSession::pairRefused, this, [this](const QString& reason) {
        Message("Load stereo pair", "The two movies do not make a stereo pair: " + reason.toStdString() + ".",
                QMessageBox::Warning, true);
    });
    connect(&session_, &DesktopSession::settingsAboutToBeSaved, this, &MainWindow::RememberPositions);
    connect(&session_, &DesktopSession::positionBarRewound, this,
            [this] { SetPositionBarWidth(PositionBarWidth()); });
    connect(&session_, &DesktopSession::controlsUnlocked, this,
            [this](bool unlocked) { SetConversionLock(unlocked ? 1 : 0); });
}

void MainWindow::Register(int id, QWidget* widget) {
    widget->setObjectName(QString("id_%1").arg(id));
    controls_[id] = widget;
}

QWidget* MainWindow::Control(int id) const {
    auto it = controls_.find(id);
    return it == controls_.end() ? nullptr : it->second;
}

QAction* MainWindow::MenuItem(int id) const {
    auto it = menuItems_.find(id);
    return it == menuItems_.end() ? nullptr : it->second;
}

void MainWindow::BuildMenus() {
    auto item = [this](QMenu* menu, const char* text, int id) {
        QAction* a = menu->addAction(QString::fromUtf8(text));
        a->setData(id);
        menuItems_[id] = a;
        connect(a, &QAction::triggered, this, [this, id] { Command(id); });
        return a;
    };
    QMenu* file = menuBar()->addMenu("&File");
    item(file, "Load Fisheye Movie\tCtrl + L", control::kLoad);
    item(file, "Load stereo pair...", control::kLoadStereoPair);
    item(file, "Play/Pause Video", control::kPlayPause);
    item(file, "Convert Fisheye\tCtrl + C", control::kConvert);
    item(file, "Save job...", control::kSaveJob);
    item(file, "Add to queue", control::kAddToQueue);
    item(file, "Queue...", control::kQueueWindow);
    item(file, "Run queue", control::kRunQueue);
    file->addSeparator();
    item(file, "Popup Output Window\tCtrl + O", control::kPopupOutputWindow);
    file->addSeparator();
    item(file, "File Information", control::kFileInformation);
    file->addSeparator();
    item(file, "Exit\tAlt + F4", control::kExit);
    QMenu* option = menuBar()->addMenu("&Option");
    QAction* autosave = item(option, "Auto saving a parameters", control::kAutoSave);
    autosave->setCheckable(true);
    autosave->setChecked(session_.app.settings->AUTOSAVE != 0);
    item(option, "Save parameters\tCtrl + S", control::kSaveParameters);
    option->addSeparator();
    item(option, "Set path for temporary Stream", control::kSetTempFolder);
    option->addSeparator();
    // Not saved in the parameter file: on for every session.
    QAction* vr = item(option, "Mark output as 180° VR video", control::kMarkVrOutput);
    vr->setCheckable(true);
    vr->setChecked(session_.app.run.markVrOutput.load());
    option->addSeparator();
    item(option, "Lens...\tCtrl + Shift + L", control::kLensDialog);
    QMenu* help = menuBar()->addMenu("&Help");
    item(help, "Help\tF1", control::kHelp);
    help->addSeparator();
    item(help, "Quennet Web Site", control::kWebSite);
    item(help, "About", control::kAbout);

    AddShortcut(QKeySequence("Ctrl+L"), control::kLoad);
    AddShortcut(QKeySequence("Ctrl+C"), control::kConvert);
    AddShortcut(QKeySequence("Ctrl+S"), control::kSaveParameters);
    AddShortcut(QKeySequence("Ctrl+O"), control::kPopupOutputWindow);
    AddShortcut(QKeySequence("F1"), control::kHelp);
    AddShortcut(QKeySequence("Ctrl+Shift+L"), control::kLensDialog);

    // The lens circle finder.
    option->addSeparator();
    item(option, "Find lens circle\tCtrl + F", control::kFindLensCircle);
    AddShortcut(QKeySequence("Ctrl+F"), control::kFindLensCircle);
    BuildStereoMenu();
}

void MainWindow::BuildStereoMenu() {
    // Before Help, as menu bars have it.
    QMenu* stereo = new QMenu("&Stereo", this);
    menuBar()->insertMenu(menuBar()->actions().constLast(), stereo);
    // The layouts are each one choice of a group, shown as radio items.
    auto* layouts = new QActionGroup(stereo);
    auto* outputs = new QActionGroup(stereo);
    auto item = [this, stereo](const char* text, int id, QActionGroup* group = nullptr) {
        QAction* a = stereo->addAction(QString::fromUtf8(text));
        a->setData(id);
        a->setCheckable(true);
        if (group != nullptr) group->addAction(a);
        menuItems_[id] = a;
        connect(a, &QAction::triggered, this, [this, id] { Command(id); });
    };
    item("Mono: one lens circle", control::kStereoMono, layouts);
    item("Two eyes side by side", control::kStereoSideBySide, layouts);
    item("Two eyes top-bottom", control::kStereoTopBottom, layouts);
    item("Swap eyes (left eye in the second half)", control::kSwapEyes);
    stereo->addSeparator();
    item("Output side by side", control::kStereoOutSideBySide, outputs);
    item("Output top-bottom", control::kStereoOutTopBottom, outputs);
    item("Align eyes before converting", control::kAlignEyes);
    stereo->addSeparator();
    item("Anaglyph preview (red/cyan)\tCtrl + Shift + A", control::kAnaglyph);
    AddShortcut(QKeySequence("Ctrl+Shift+A"), control::kAnaglyph);
    ShowStereoChoice();
}

void MainWindow::ShowStereoChoice() {
    const AppSettings& s = *session_.app.settings;
    const std::pair<int, bool> checks[] = {
        {control::kStereoMono, s.STEREO == 0},
        {control::kStereoSideBySide, s.STEREO == static_cast<int32_t>(StereoLayout::kSideBySide)},
        {control::kStereoTopBottom, s.STEREO == static_cast<int32_t>(StereoLayout::kTopBottom)},
        {control::kStereoOutSideBySide, s.STEREO_OUT == static_cast<int32_t>(StereoLayout::kSideBySide)},
        {control::kStereoOutTopBottom, s.STEREO_OUT == static_cast<int32_t>(StereoLayout::kTopBottom)},
        {control::kSwapEyes, s.SWAP_EYES != 0},
        {control::kAlignEyes, s.ALIGN_EYES != 0},
        {control::kAnaglyph, session_.anaglyph.load() != 0},
    };
    for (const auto& [id, on] : checks) MenuItem(id)->setChecked(on);
}

void MainWindow::AddShortcut(const QKeySequence& keys, int id) {
    // Over every window of the program (the output window, the export
    // window), as over the main window; a modal dialog still blocks them.
    auto* shortcut = new QShortcut(keys, this);
    shortcut->setContext(Qt::ApplicationShortcut);
    connect(shortcut, &QShortcut::activated, this, [this, id] {
        // A greyed menu item's accelerator does nothing either.
        QAction* a = MenuItem(id);
        if (a == nullptr || a->isEnabled()) Command(id);
    });
}

QLabel* MainWindow::AddLabel(int id, const QString& text, QRect rect, QColor background,
                             QColor textColour, bool sunken, bool centred) {
    auto* label = new QLabel(text, client_);
    label->setGeometry(rect);
    SetColours(label, background, textColour);
    if (sunken) {
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        label->setLineWidth(1);
    }
    label->setAlignment((centred ? Qt::AlignHCenter : Qt::AlignLeft) | Qt::AlignVCenter);
    // A caption a little too long for its rectangle gets a smaller font
    // instead of losing its end.
    const int pixels = label->font().pixelSize();
    if (!text.isEmpty() && pixels > 0) {
        label->setFont(FitFont(label->font(), pixels, text, label->contentsRect().size(), 1));
    }
    if (id > 0) Register(id, label);
    return label;
}

QCheckBox* MainWindow::AddCheck(int id, const QString& text, QRect rect, QColor background,
                                QColor textColour) {
    auto* box = new FullCheckBox(text, client_);
    box->setGeometry(rect);
    SetColours(box, background, textColour);
    Register(id, box);
    connect(box, &QCheckBox::clicked, this, [this, id] { Command(id); });
    return box;
}

ImageButton* MainWindow::AddImageButton(int id, const QString& name, QRect rect, bool threeStates) {
    auto* button = new ImageButton(client_, name, threeStates);
    button->setGeometry(rect);
    button->setCursor(QCursor(ArtPixmap("autor"), 9, 2));
    Register(id, button);
    // The arrows act while held (the nudge timer); the others on a click.
    if (!IsCutArrow(id)) connect(button, &QAbstractButton::clicked, this, [this, id] { Command(id); });
    return button;
}

QSlider* MainWindow::AddSlider(int32_t AppSettings::*field, QRect rect, QColor background) {
    const ParameterDescriptor& p = *ParameterOf(field);
    const ParameterControl& c = *ControlOf(field);
    auto* slider = new QSlider(Qt::Horizontal, client_);
    slider->setGeometry(rect);
    slider->setRange(p.min, p.max);
    slider->setPageStep(c.pageStep);
    slider->setSingleStep(1);
    slider->setTickPosition(QSlider::TicksBelow);
    slider->setTickInterval(p.max - p.min > 20 ? (p.max - p.min) / 8 : 1);
    slider->setValue((*session_.app.settings).*field);
    SetColours(slider, background, Qt::black);
    const int id = c.control;
    Register(id, slider);
    connect(slider, &QSlider::valueChanged, this,
            [this, id](int position) { session_.commands.StoreSlider(id, position); });
    return slider;
}

void MainWindow::BuildControls() {
    AddLabel(control::kPositionStrip, "", QRect(5, 607, 600, 14), QColor(128, 128, 128), QColor(128, 128, 128),
             true, false);
    positionBar_ = new QLabel(client_);
    positionBar_->setPixmap(ArtPixmap("tomline"));
    positionBar_->setScaledContents(true);
    positionBar_->setGeometry(6, 608, 1, 12);
    Register(control::kPositionBar, positionBar_);
    input_ = new PreviewPanel(client_, QSize(600, 600));
    input_->move(5, 5);
    Register(control::kInputPanel, input_);
    hiddenOutput_ = new PreviewPanel(client_, QSize(500, 480));
    hiddenOutput_->move(5, 824);
    Register(control::kHiddenOutputPanel, hiddenOutput_);

    BuildCutControls();
    BuildInformationCaptions();
    BuildGroupBoxes();
    BuildFilterRows();
    BuildInformationValues();
    BuildInputOutputControls();

    auto* logo = new QLabel(client_);
    logo->setPixmap(ArtPixmap("logo"));
    logo->setFrameStyle(QFrame::Box | QFrame::Plain);
    logo->setGeometry(620, 537, 374, 52);
    logo->setObjectName("logo");

    // The panels and the position bar stay above the frames around them.
    positionBar_->raise();
}

void MainWindow::BuildCutControls() {
    AddImageButton(control::kCutLeft, "left", QRect(620, 47, 21, 20), false);
    AddImageButton(control::kCutRight, "right", QRect(664, 47, 21, 20), false);
    AddImageButton(control::kCutUp, "up", QRect(642, 26, 21, 20), false);
    AddImageButton(control::kCutDown, "down", QRect(642, 68, 21, 20), false);
    AddImageButton(control::kCutReset, "stop", QRect(642, 47, 21, 20), false);
    AddImageButton(control::kCutEnlarge, "lup", QRect(620, 26, 21, 20), false);
    AddImageButton(control::kCutShrink, "rup", QRect(664, 26, 21, 20), false);

    QCheckBox* autosave = AddCheck(control::kAutoSave, " Auto saving a parameters", QRect(740, 81, 153, 18),
                                   Qt::black, QColor(192, 192, 192));
    autosave->setChecked(session_.app.settings->AUTOSAVE != 0);

    const struct { int id; const char* text; QRect rect; } captions[] = {
        {control::kXPosCaption, " X-pos", QRect(690, 27, 50, 17)},
        {control::kYPosCaption, " Y-pos", QRect(690, 45, 50, 17)},
        {control::kZoomCaption, " ZoomL", QRect(690, 63, 50, 17)},
        {control::kXSizeCaption, " X-size", QRect(843, 27, 50, 17)},
        {control::kYSizeCaption, " Y-size", QRect(843, 45, 50, 17)},
    };
    for (const auto& c : captions) AddLabel(c.id, c.text, c.rect, kCaptionGrey, Qt::white, true, false);
    const struct { int id; QRect rect; } values[] = {
        {control::kXL1Label, QRect(741, 27, 50, 17)},     {control::kYL1Label, QRect(741, 45, 50, 17)},
        {control::kXL2Label, QRect(792, 27, 50, 17)},     {control::kYL2Label, QRect(792, 45, 50, 17)},
        {control::kCutWidthLabel, QRect(741, 63, 50, 17)},
    };
    for (const auto& v : values) AddLabel(v.id, "", v.rect, Qt::black, kCaptionGrey, true, true);
}

void MainWindow::BuildInformationCaptions() {
    const struct { int id; const char* text; int top; } info[] = {
        {control::kVideoFileCaption, " Video file: ", 120},   {control::kFrameSizeCaption, " Frame Size:", 138},
        {control::kFrameRateCaption, " FPS rate:", 156},      {control::kFrameCountCaption, " Num of frames:", 174},
        {control::kOperationCaption, " Operation:", 192},     {control::kFisheyeSizeCaption, " Fisheye size:", 228},
        {control::kDurationCaption, " Duration:", 246},
    };
    for (const auto& i : info)
        AddLabel(i.id, i.text, QRect(620, i.top, 80, 17), kCaptionGrey, Qt::white, true, false);
}

void MainWindow::BuildGroupBoxes() {
    const struct { int id; const char* title; QRect rect; } groups[] = {
        {control::kCutGroup, " Cut controls ", QRect(610, 3, 395, 105)},
        {control::kCommonGroup, " Common controls ", QRect(610, 100, 395, 182)},
        {control::kImageGroup, " Image controls ", QRect(610, 274, 395, 139)},
        {control::kInputOutputGroup, " Input-Output controls: ", QRect(610, 405, 395, 120)},
        {control::kLogoGroup, "", QRect(610, 517, 395, 85)},
    };
    std::vector<QGroupBox*> boxes;
    for (const auto& g : groups) {
        auto* box = new QGroupBox(g.title, client_);
        box->setGeometry(g.rect);
        SetColours(box, kGroupDark, Qt::white);
        Register(g.id, box);
        boxes.push_back(box);
    }
    // Behind the controls they frame; where two overlap, the later one is on
    // top so its caption shows.
    for (auto it = boxes.rbegin(); it != boxes.rend(); ++it) (*it)->lower();
}

// The aspect fix, then the five filter rows: switch, "Min." and "Max.",
// Reset, slider.
void MainWindow::BuildFilterRows() {
    const AppSettings& s = *session_.app.settings;
    QCheckBox* aspect = AddCheck(control::kFixAspectCheck, " Fix aspect ratio PARxDAR", QRect(620, 209, 171, 18),
                                 kCaptionGrey, Qt::black);
    aspect->setChecked(s.ASPECT != 0);
    ColourSwitch(aspect);
    for (const FilterRow& r : kRows) {
        QCheckBox* box = AddCheck(r.check, r.caption, QRect(620, r.top, r.width, 18), kCaptionGrey, Qt::black);
        box->setChecked(s.*FieldOf(*ParameterControlOf(r.check, ControlKind::kCheckBox)) != 0);
        ColourSwitch(box);
    }
    for (const FilterRow& r : kRows)
        AddLabel(r.minLabel, "Min.", QRect(790, r.top + 1, 24, 15), kCaptionGrey, Qt::black, false, false);
    for (const FilterRow& r : kRows)
        AddLabel(r.maxLabel, "Max.", QRect(910, r.top + 1, 24, 15), kCaptionGrey, Qt::black, false, false);
    for (const FilterRow& r : kRows) {
        auto* reset = new QPushButton("Reset", client_);
        reset->setGeometry(938, r.top - 1, 42, 18);
        reset->setStyleSheet(kFlatButton);
        Register(r.reset, reset);
        const int id = r.reset;
        connect(reset, &QPushButton::clicked, this, [this, id] { Command(id); });
    }

    // A slider shows exactly its field: an amount it cannot show (the
    // start values 0 of CPU and NOISE) takes its reset value first.
    session_.commands.FitAmountsToSliders();
    AddSlider(&AppSettings::SHARPEN, QRect(815, 296, 90, 18), QColor(128, 128, 128));
    AddSlider(&AppSettings::RADIUS, QRect(731, 296, 50, 18), QColor(102, 102, 102));
    AddSlider(&AppSettings::BRIGHTNESS, QRect(815, 316, 90, 18), QColor(128, 128, 128));
    AddSlider(&AppSettings::CONTRAST, QRect(815, 336, 90, 18), QColor(128, 128, 128));
    AddSlider(&AppSettings::NOISE, QRect(815, 356, 90, 18), QColor(128, 128, 128));
    AddSlider(&AppSettings::CPU, QRect(815, 376, 90, 18), QColor(128, 128, 128));
}

// The information values and the image buttons of the common controls.
void MainWindow::BuildInformationValues() {
    AddLabel(control::kPathLabel, "", QRect(701, 120, 295, 17), Qt::black, kValueGrey, true, false);
    const struct { int id; int top; } values[] = {
        {control::kFrameSizeLabel, 138}, {control::kFrameRateLabel, 156}, {control::kFrameCountLabel, 174},
        {control::kOperationLabel, 192}, {control::kOutputSizeLabel, 228}, {control::kDurationLabel, 246},
    };
    for (const auto& v : values)
        AddLabel(v.id, "", QRect(701, v.top, 90, 17), Qt::black, kValueGrey, true, true);

    AddImageButton(control::kLoad, "b_load", QRect(800, 143, 140, 23), true);
    AddImageButton(control::kPlayPause, "b_pause", QRect(800, 167, 140, 23), true);
    AddImageButton(control::kSaveParameters, "b_save", QRect(800, 191, 140, 23), true);
    AddImageButton(control::kAbout, "b_about", QRect(800, 215, 140, 23), true);
    AddImageButton(control::kConvert, "b_convert", QRect(800, 239, 140, 23), true);
    AddImageButton(control::kHelp, "help", QRect(900, 25, 100, 22), true);
}

// The temporary folder, the display and still switches, the compression list.
void MainWindow::BuildInputOutputControls() {
    auto* setPath = new QPushButton("Set path for temporary Stream", client_);
    setPath->setGeometry(620, 427, 150, 17);
    setPath->setStyleSheet(kFlatButton);
    Register(control::kSetTempFolder, setPath);
    connect(setPath, &QPushButton::clicked, this, [this] { Command(control::kSetTempFolder); });
    // The job queue's two buttons share the row.
    const struct { int id; const char* text; QRect rect; } queueButtons[] = {
        {control::kAddToQueue, "Add to queue", QRect(776, 427, 107, 17)},
        {control::kQueueWindow, "Queue...", QRect(888, 427, 107, 17)},
    };
    for (const auto& b : queueButtons) {
        auto* button = new QPushButton(b.text, client_);
        button->setGeometry(b.rect);
        button->setStyleSheet(kFlatButton);
        Register(b.id, button);
        connect(button, &QPushButton::clicked, this, [this, id = b.id] { Command(id); });
    }
    AddLabel(control::kTempFolderLabel, "", QRect(620, 447, 375, 17), QColor(192, 192, 192), Qt::black, true, false);
    SetLabelText(control::kTempFolderLabel, " " + session_.app.settings->APATH);

    AddCheck(control::kShowInputCheck, "Show input video", QRect(620, 469, 160, 18), Qt::black, kValueGrey)
        ->setChecked(true);
    AddCheck(control::kShowOutputCheck, "Show output video", QRect(620, 489, 160, 18), Qt::black, kValueGrey)
        ->setChecked(true);
    AddCheck(control::kFlipCheck, "Horizontal Flip", QRect(800, 469, 195, 18), Qt::black, QColor(0, 255, 0));
    AddCheck(control::kTempFormatCheck, "TEMP: On - Jpg, Off - BMP format", QRect(800, 488, 195, 18), Qt::black,
             QColor(0, 255, 0));

    QLabel* compression = AddLabel(control::kCompressionCaption, "Output compression", QRect(900, 53, 98, 15),
                                   kValueGrey, Qt::white, false, true);
    QFont small = font();
    small.setPixelSize(10);
    compression->setFont(small);
    auto* list = new QComboBox(client_);
    list->setGeometry(900, 69, 99, 20);
    list->addItem("Default");
    list->addItem("1:Max size");
    for (int i = 2; i <= 20; ++i) list->addItem(QString("%1:").arg(i));
    list->addItem("21:Min size");
    list->setCurrentIndex(0);
    list->setMaxVisibleItems(5);
    SetColours(list, Qt::black, Qt::white);
    Register(control::kCompressionList, list);
    connect(list, &QComboBox::currentIndexChanged, this,
            [this](int index) { session_.ui.compressionLevel = index; });
}

void MainWindow::BuildTooltips() {
    for (const FilterRow& r : kRows) Control(r.check)->setToolTip(r.tip);
    const struct { int id; const char* tip; } tips[] = {
        {control::kSharpenSlider, " Sharpen Amount "},
        {control::kBrightnessSlider, " Brightness Amount "},
        {control::kContrastSlider, " Contrast Value "},
        {control::kNoiseSlider, " Noise Median Value "},
        {control::kCpuSlider, " CPU usage Value "},
        {control::kRadiusSlider, " Sharpen Radius Value "},
        {control::kCutLeft, " Move the Cut Area to the left "},
        {control::kCutRight, " Move the Cut Area to the right "},
        {control::kCutUp, " Move the Cut Area to the up "},
        {control::kCutDown, " Move the Cut Area to the down "},
        {control::kCutEnlarge, " Increase the size of External circle "},
        {control::kCutShrink, " Decrease the size of External circle "},
        {control::kCutReset, " Reset "},
    };
    for (const auto& t : tips) Control(t.id)->setToolTip(t.tip);
}

PreviewPanel* MainWindow::OutputPanel() const {
    return output_ != nullptr ? output_->Panel() : hiddenOutput_;
}

void MainWindow::PaintPlaceholders() {
    OutputPanel()->PaintPlaceholder("Transform Window");
    input_->PaintPlaceholder("Main Window");
}

void MainWindow::ShowCutValues() {
    const AppSettings& s = *session_.app.settings;
    for (int32_t AppSettings::*field : {&AppSettings::XL1, &AppSettings::YL1, &AppSettings::XL2, &AppSettings::YL2})
        SetLabelText(ControlOf(field)->control, std::to_string(s.*field));
    SetLabelText(control::kCutWidthLabel, std::to_string(s.XL2 - s.XL1));
}

void MainWindow::SetConversionLock(int unlock) {
    const bool on = unlock != 0;
    // The temporary folder stays as the run found it: its stills and sound
    // are there.
    for (int id : {control::kCutLeft, control::kCutRight, control::kCutUp, control::kCutDown, control::kCutReset,
                   control::kCutEnlarge, control::kCutShrink, control::kLoad, control::kSaveParameters,
                   control::kConvert, control::kPlayPause, control::kTempFormatCheck, control::kSetTempFolder})
        Control(id)->setEnabled(on);
    for (int id : {control::kLoad, control::kLoadStereoPair, control::kSaveParameters, control::kSetTempFolder,
                   control::kConvert, control::kPlayPause, control::kFindLensCircle, control::kRunQueue, control::kStereoMono,
                   control::kStereoSideBySide, control::kStereoTopBottom, control::kStereoOutSideBySide,
                   control::kStereoOutTopBottom, control::kSwapEyes, control::kAlignEyes})
        MenuItem(id)->setEnabled(on);
    // The lens is part of the geometry a run fixes at its start.
    conversionLocked_ = !on;
    if (lensDialog_ != nullptr) lensDialog_->SetLocked(conversionLocked_);
}

LensDialog* MainWindow::Lens() const { return lensDialog_.data(); }

void MainWindow::OpenQueueWindow() {
    if (queueWindow_ == nullptr) {
        queueWindow_ = new QueueWindow(this, session_.queue);
        connect(queueWindow_, &QueueWindow::runRequested, this, [this] { Command(control::kRunQueue); });
        queueWindow_->setWindowIcon(windowIcon());
        const QRect output = output_ != nullptr && output_->isVisible() ? output_->frameGeometry() : QRect();
        const QRect screenArea = screen() != nullptr ? screen()->availableGeometry() : QRect();
        // Else over the lower half of the input preview: the buttons stay in reach.
        const QPoint inside = client_->mapToGlobal(QPoint(4, 330));
        queueWindow_->move(BesideWindows(frameGeometry(), output, queueWindow_->frameSize(), screenArea, inside));
    }
    queueWindow_->show();
    queueWindow_->raise();
}

QueueWindow* MainWindow::Queue() const { return queueWindow_.data(); }

void MainWindow::OpenLensDialog() {
    if (lensDialog_ == nullptr) {
        lensDialog_ = new LensDialog(this, session_);
        lensDialog_->setWindowIcon(windowIcon());
        lensDialog_->adjustSize();
        const QRect output = output_ != nullptr && output_->isVisible() ? output_->frameGeometry() : QRect();
        const QRect screenArea = screen() != nullptr ? screen()->availableGeometry() : QRect();
        // Else over the image controls: the cut's buttons stay in reach.
        const QPoint inside = client_->mapToGlobal(QPoint(612, 290));
        lensDialog_->move(BesideWindows(frameGeometry(), output, lensDialog_->frameSize(), screenArea, inside));
    }
    lensDialog_->SetLocked(conversionLocked_);
    lensDialog_->show();
    lensDialog_->raise();
    lensDialog_->activateWindow();
}

void MainWindow::OpenOutputWindow() {
    if (output_ != nullptr) EndOutputWindow();
    output_ = new OutputWindow(this);
    output_->setWindowIcon(windowIcon());
    output_->onClosed = [this] {
        RememberPositions();
        output_->deleteLater();
        output_ = nullptr;
        SetCheckState(control::kShowOutputCheck, 0);
    };
    const AppSettings& s = *session_.app.settings;
    if (s.V_X != 0 && s.V_Y != 0) {
        output_->move(s.V_X, s.V_Y);
    } else {
        const QRect area = screen() != nullptr ? screen()->availableGeometry() : QRect(0, 0, 1920, 1080);
        const QRect preview(client_->mapToGlobal(QPoint(0, 0)), QSize(600, 600));
        // The frame a window manager adds is not known before showing.
        const QSize frame = output_->size() + QSize(16, 40);
        output_->move(DefaultOutputWindowPosition(frameGeometry(), preview, frame, area));
    }
    output_->Panel()->PaintPlaceholder("Transform Window");
    output_->show();
}

void MainWindow::EndOutputWindow() {
    if (output_ == nullptr) return;
    RememberPositions();
    OutputWindow* w = output_;
    output_ = nullptr;
    w->onClosed = nullptr;
    w->close();
    w->deleteLater();
}

void MainWindow::RememberPositions() {
    const QPoint main = pos();
    const QPoint out = output_ != nullptr ? output_->pos() : QPoint();
    session_.commands.StoreWindowPositions(
        {isVisible(), main.x(), main.y(), output_ != nullptr && output_->isVisible(), out.x(), out.y()});
}

void MainWindow::SetLabelText(int id, const std::string& text) {
    auto* label = qobject_cast<QLabel*>(Control(id));
    if (label == nullptr) return;
    const QString full = QString::fromStdString(text);
    fullTexts_[id] = full;
    if (id == control::kPathLabel || id == control::kTempFolderLabel) {  // paths: ellipsis in the middle
        label->setText(label->fontMetrics().elidedText(full, Qt::ElideMiddle, label->width() - 4));
        label->setToolTip(full);
    } else {
        label->setText(full);
    }
}

QString MainWindow::LabelFullText(int id) const {
    auto it = fullTexts_.find(id);
    return it == fullTexts_.end() ? QString() : it->second;
}

void MainWindow::SetPositionBarWidth(int width) {
    positionBar_->setGeometry(6, 608, std::max(1, width), 12);
}

int MainWindow::PositionBarWidth() const { return positionBar_->width(); }

void MainWindow::SetCheckState(int id, int checked) {
    if (auto* box = qobject_cast<QCheckBox*>(Control(id))) box->setChecked(checked != 0);
}

std::string MainWindow::ChooseMovie(const char* title) {
    static const char* const kFilters[][2] = {
        {"All video files", "*.avi;*.asf;*.mpg;*.mpeg;*.mov;*.qt;*.m2ts;*.mts;*.m2t;*.tod;*.mp4"},
        {"MOV video files (*.MOV)", "*.mov"},
        {"AVI video files (*.AVI)", "*.avi"},
        {"MP4 video files (*.MP4)", "*.mp4"},
        {"ASF video files (*.ASF)", "*.asf"},
        {"MPG video files (*.MPG, *.MPEG)", "*.mpg;*.mpeg"},
        {"QT video files (*.QT)", "*.qt"},
        {"M2TS video files (*.M2TS)", "*.m2ts"},
        {"MTS video files (*.MTS)", "*.mts"},
        {"M2T video files (*.M2T)", "*.m2t"},
        {"TOD video files (*.TOD)", "*.tod"},
    };
    QStringList filters;
    for (const auto& f : kFilters) {
        QString patterns = QString(f[1]).replace(';', ' ');
        // Both cases: file systems here tell "A.MP4" from "a.mp4".
        filters << QString("%1 (%2 %3)").arg(f[0], patterns, patterns.toUpper());
    }
    MovieChooser chooser;
    chooser.title = title;
    chooser.objectName = "LoadVideoChooser";
    chooser.filters = filters;
    return ChooseMovieFile(chooser);
}

// The movie choosers: start in the given folder or OPATH, first filter
// selected; the folder of the chosen file becomes the new OPATH.
std::string MainWindow::ChooseMovieFile(const MovieChooser& chooser) {
    std::string folder = chooser.startFolder;
    if (folder.empty()) folder = session_.app.settings.Copy().OPATH;
    if (folder.empty()) folder = std::filesystem::current_path().string();
    QFileDialog dialog(chooser.owner != nullptr ? chooser.owner : this, chooser.title,
                       QString::fromStdString(folder));
    dialog.setObjectName(chooser.objectName);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setAcceptMode(chooser.mode);
    if (chooser.mode == QFileDialog::AcceptOpen) {
        dialog.setFileMode(QFileDialog::ExistingFile);
        dialog.setViewMode(QFileDialog::Detail);
    } else {
        dialog.setFileMode(QFileDialog::AnyFile);
    }
    if (!chooser.defaultSuffix.isEmpty()) dialog.setDefaultSuffix(chooser.defaultSuffix);
    dialog.setNameFilters(chooser.filters);
    dialog.selectNameFilter(chooser.filters.front());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    const std::string path = dialog.selectedFiles().front().toStdString();
    const std::string chosenFolder = std::filesystem::path(path).parent_path().string();
    session_.commands.SetMovieFolder(chosenFolder);
    return path;
}

void MainWindow::Message(const std::string& caption, const std::string& text, int icon, bool owned) {
    QString body = QString::fromStdString(text);
    body.replace("\r\n", "\n");
    QMessageBox box(static_cast<QMessageBox::Icon>(icon), QString::fromStdString(caption), body,
                    QMessageBox::Ok, owned ? this : nullptr);
    box.exec();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (!ending_ && !ExitAllowed()) {
        event->ignore();
        return;
    }
    event->accept();
    CloseExportProgress();
    if (output_ != nullptr) EndOutputWindow();
    // A dialog still open (About during a run that has ended) ends with the
    // window: its own event loop would otherwise keep the program alive.
    for (QDialog* dialog : findChildren<QDialog*>()) {
        if (dialog->isVisible()) dialog->reject();
    }
    if (onEnded) {
        auto ended = std::move(onEnded);
        onEnded = nullptr;
        ended();
    }
}

void MainWindow::EndWindow() {
    ending_ = true;
    close();
}

std::string MainWindow::ChooseOutput() {
    static const char* const kFilters[][2] = {
        {" FLV video files (*.flv)", "*.flv"},  {" AVI 2.0 video files (*.AVI)", "*.avi"},
        {" MOV video files (*.MOV)", "*.mov"},  {" MP4 video files (*.MP4)", "*.mp4"},
        {" Webm video files (*.Webm)", "*.webm"},
    };
    QStringList filters;
    for (const auto& f : kFilters)
        filters << QString("Rectangular Video%1 (%2)").arg(f[0], f[1]);
    MovieChooser chooser;
    chooser.title = "Save Stereo Video";
    chooser.objectName = "SaveStereoChooser";
    chooser.filters = filters;
    chooser.mode = QFileDialog::AcceptSave;
    return ChooseMovieFile(chooser);
}

void MainWindow::OpenExportProgress() {
    CloseExportProgress();
    exportProgress_ = new ExportProgressWindow(this);
    exportProgress_->setWindowIcon(windowIcon());
    exportProgress_->show();
}

ExportProgressWindow* MainWindow::ExportProgress() const { return exportProgress_.data(); }

void MainWindow::UpdateExportProgress(const QString& processingTime) {
    if (exportProgress_ != nullptr) exportProgress_->SetProcessingTime(processingTime);
}

void MainWindow::CloseExportProgress() {
    if (exportProgress_ == nullptr) return;
    ExportProgressWindow* window = exportProgress_;
    exportProgress_ = nullptr;
    window->Close();
}

bool MainWindow::AskAfterRun(const RunQuestion& question) {
    // On the heap: should this window go while the box is open, it takes
    // the box with it.
    QPointer<QMessageBox> box = new QMessageBox(static_cast<QMessageBox::Icon>(MessageBoxIcon(question.icon)),
                                                QString::fromStdString(question.caption),
                                                QString::fromStdString(question.text).replace("\r\n", "\n"),
                                                QMessageBox::Ok | QMessageBox::Cancel, this);
    const bool ok = box->exec() == QMessageBox::Ok;
    delete box;
    return ok;
}

std::string MainWindow::OutputOptions(const std::string& currentPath) {
    // On the heap: should this window go while the dialog runs, it takes
    // the dialog with it.
    QPointer<OutputOptionsDialog> dialog = new OutputOptionsDialog(this, session_, currentPath);
    dialog->exec();
    if (dialog == nullptr) return {};
    const std::string result = dialog->Result();
    delete dialog;
    return result;
}

void MainWindow::focusInEvent(QFocusEvent* event) {
    QMainWindow::focusInEvent(event);
    update();
}

}  // namespace tessaly
