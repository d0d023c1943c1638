#include "ui/lens_dialog.h"

#include <QComboBox>
#include <QCompleter>
#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QTreeWidget>

#include <algorithm>
#include <cmath>
#include <iterator>

#include "transform/lens_profile.h"
#include "ui/desktop_session.h"

namespace tessaly {

namespace {

constexpr LensModel kModels[] = {LensModel::kEquidistant, LensModel::kEquisolid, LensModel::kStereographic,
                                 LensModel::kOrthographic};
// The angle sliders move in half degrees.
constexpr int kSliderStepsPerDegree = 2;

QDoubleSpinBox* DegreesBox(QWidget* parent, const char* name, double min, double max) {
    auto* box = new QDoubleSpinBox(parent);
    box->setObjectName(name);
    box->setRange(min, max);
    box->setDecimals(1);
    box->setSingleStep(0.5);
    box->setSuffix(QString::fromUtf8("°"));
    box->setAlignment(Qt::AlignRight);
    // A typed number counts once it is complete (Enter or leaving the box),
    // not at each of its digits.
    box->setKeyboardTracking(false);
    return box;
}

// "the yaw must ..." as a sentence.
QString Sentence(const std::string& text) {
    QString s = QString::fromStdString(text);
    if (!s.isEmpty()) s[0] = s[0].toUpper();
    return s + ".";
}

// What a row of the profile list carries besides its texts.
constexpr int kNameRole = Qt::UserRole;  // "MAKER MODEL"; empty: no profile
constexpr int kMinFocalRole = Qt::UserRole + 1;
constexpr int kMaxFocalRole = Qt::UserRole + 2;
constexpr int kVignettingRole = Qt::UserRole + 3;

// The database's fisheyes, one row per lens: a lens calibrated on several
// sensors is one lens, the projections its calibrations give named together.
std::vector<LensListing> FisheyesOnce(const std::vector<LensListing>& all) {
    std::vector<LensListing> out;
    for (const LensListing& l : all) {
        if (!l.fisheye) continue;
        auto same = std::find_if(out.begin(), out.end(), [&l](const LensListing& o) {
            return QString::fromStdString(o.model).compare(QString::fromStdString(l.model), Qt::CaseInsensitive) == 0;
        });
        if (same == out.end()) {
            out.push_back(l);
            continue;
        }
        if (same->projection.find(l.projection) == std::string::npos) same->projection += ", " + l.projection;
        same->minFocal = std::min(same->minFocal, l.minFocal);
        same->maxFocal = std::max(same->maxFocal, l.maxFocal);
        same->vignetting = same->vignetting || l.vignetting;
    }
    return out;
}

// The model without its maker in front: "Sigma" "Sigma 8mm ..." shows "8mm ...".
QString ModelText(const LensListing& l) {
    const QString maker = QString::fromStdString(l.maker);
    const QString model = QString::fromStdString(l.model);
    if (!maker.isEmpty() && model.startsWith(maker + " ", Qt::CaseInsensitive)) return model.mid(maker.size() + 1);
    return model;
}

// Whose angles the angle rows edit.
QComboBox* EyeBox(QWidget* parent) {
    auto* box = new QComboBox(parent);
    box->setObjectName("lensEye");
    box->addItems({"Both eyes", "Left eye only", "Right eye only"});
    box->setToolTip(" A stereo movie: the angles both eyes share, or one eye's own ");
    return box;
}

QDoubleSpinBox* NumberBox(QWidget* parent, const char* name, double max, int decimals, double step) {
    auto* box = new QDoubleSpinBox(parent);
    box->setObjectName(name);
    box->setRange(0.0, max);
    box->setDecimals(decimals);
    box->setSingleStep(step);
    box->setAlignment(Qt::AlignRight);
    box->setKeyboardTracking(false);
    return box;
}

}  // namespace

LensDialog::LensDialog(QWidget* owner, DesktopSession& session)
    : QDialog(owner, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      session_(session) {
    setObjectName("LensDialog");
    setWindowTitle("Lens");
    setModal(false);
    QFont font("DejaVu Sans");
    font.setPixelSize(12);
    setFont(font);

    auto* grid = new QGridLayout(this);
    grid->setHorizontalSpacing(10);
    grid->setVerticalSpacing(8);
    int row = 0;

    model_ = new QComboBox(this);
    model_->setObjectName("lensModel");
    for (LensModel m : kModels) model_->addItem(LensModelName(m), static_cast<int>(m));
    model_->setToolTip(" The ideal projection; a lens profile sets its own ");
    grid->addWidget(new QLabel("Lens model", this), row, 0);
    grid->addWidget(model_, row++, 1, 1, 2);
    row = BuildProfileRows(grid, row);

    fov_ = DegreesBox(this, "lensFov", kMinLensFov, kMaxLensFov);
    fov_->setToolTip(" Field of view across the lens circle's diameter ");
    grid->addWidget(new QLabel("Field of view", this), row, 0);
    grid->addWidget(fov_, row++, 2);

    eye_ = EyeBox(this);
    grid->addWidget(new QLabel("Angles of", this), row, 0);
    grid->addWidget(eye_, row++, 1, 1, 2);
    const char* names[3][3] = {{"Yaw", "lensYaw", "lensYawSlider"},
                               {"Pitch", "lensPitch", "lensPitchSlider"},
                               {"Roll", "lensRoll", "lensRollSlider"}};
    const char* tips[3] = {" Turns the view to the right ", " Tilts the view upward ",
                           " Turns the view about its axis "};
    for (int i = 0; i < 3; ++i) {
        angles_[i] = DegreesBox(this, names[i][1], -kMaxLensAngle, kMaxLensAngle);
        angles_[i]->setToolTip(tips[i]);
        sliders_[i] = new QSlider(Qt::Horizontal, this);
        sliders_[i]->setObjectName(names[i][2]);
        const int steps = static_cast<int>(kMaxLensAngle) * kSliderStepsPerDegree;
        sliders_[i]->setRange(-steps, steps);
        sliders_[i]->setSingleStep(1);
        sliders_[i]->setPageStep(10);
        sliders_[i]->setMinimumWidth(220);
        sliders_[i]->setToolTip(tips[i]);
        grid->addWidget(new QLabel(names[i][0], this), row, 0);
        grid->addWidget(sliders_[i], row, 1);
        grid->addWidget(angles_[i], row++, 2);
    }

    QPushButton* close = BuildFooter(grid, row);

    const LensSettings lens = session_.app.settings.Copy().lens;
    FillProfiles(lens.profile.lensFile);
    ShowLens(lens);
    ConnectProfileRows();

    connect(model_, &QComboBox::currentIndexChanged, this, [this] { Apply(FromControls()); });
    connect(fov_, &QDoubleSpinBox::valueChanged, this, [this] { Apply(FromControls()); });
    for (int i = 0; i < 3; ++i) {
        connect(angles_[i], &QDoubleSpinBox::valueChanged, this, [this] { Apply(FromControls()); });
        connect(sliders_[i], &QSlider::valueChanged, this, [this, i](int steps) {
            angles_[i]->setValue(static_cast<double>(steps) / kSliderStepsPerDegree);
        });
    }
    connect(eye_, &QComboBox::currentIndexChanged, this, [this] { ShowLens(session_.app.settings.Copy().lens); });
    connect(reset_, &QPushButton::clicked, this, [this] {
        // An eye's Reset takes back its own angles only.
        if (EditedEye() >= 0) {
            const std::string problem = session_.commands.SetEyeAngles(EditedEye(), EyeAngles{});
            if (!problem.empty()) Refuse(Sentence(problem));
            ShowLens(session_.app.settings.Copy().lens);
            return;
        }
        Apply(LensSettings{});
    });
    connect(close, &QPushButton::clicked, this, &QDialog::close);
}

int LensDialog::BuildProfileRows(QGridLayout* grid, int row) {
    search_ = new QLineEdit(this);
    search_->setObjectName("lensSearch");
    search_->setPlaceholderText("Search maker, model or projection");
    search_->setClearButtonEnabled(true);
    grid->addWidget(new QLabel("Lens profile", this), row, 0);
    grid->addWidget(search_, row++, 1, 1, 2);

    profiles_ = new QTreeWidget(this);
    profiles_->setObjectName("lensProfiles");
    profiles_->setHeaderLabels({"Maker", "Model", "Projection"});
    profiles_->setRootIsDecorated(false);
    profiles_->setUniformRowHeights(true);
    profiles_->setAlternatingRowColors(true);
    profiles_->setMinimumHeight(fontMetrics().height() * 14);
    profiles_->setToolTip(" Calibrated fisheyes of the lens database: projection, distortion, vignetting, lateral colour ");
    grid->addWidget(profiles_, row, 0, 1, 3);
    grid->setRowStretch(row++, 1);  // a taller dialog shows more of the list

    camera_ = new QLineEdit(this);
    camera_->setObjectName("lensCamera");
    camera_->setPlaceholderText("maker and model");
    camera_->setToolTip(" The camera the movie was filmed with: its sensor size places the lens's circle ");
    crop_ = NumberBox(this, "lensCropFactor", 20.0, 2, 0.1);
    crop_->setToolTip(" The sensor's crop factor; given, it counts instead of the camera's ");
    crop_->setSpecialValueText("calibration's");
    crop_->setMinimumWidth(fontMetrics().horizontalAdvance("calibration's") + 40);  // the longer text and the arrows
    auto* camera = new QHBoxLayout;
    camera->setSpacing(8);
    camera->addWidget(camera_, 1);
    camera->addWidget(new QLabel("Crop factor", this));
    camera->addWidget(crop_);
    grid->addWidget(new QLabel("Camera", this), row, 0);
    grid->addLayout(camera, row++, 1, 1, 2);

    focal_ = NumberBox(this, "lensFocal", 1000.0, 1, 0.5);
    focal_->setSuffix(" mm");
    focal_->setToolTip(" The zoom's focal length ");
    aperture_ = NumberBox(this, "lensAperture", 64.0, 1, 0.5);
    aperture_->setPrefix("f/");
    aperture_->setSpecialValueText("widest");
    aperture_->setToolTip(" The aperture, for the vignetting calibrated nearest to it ");
    auto* setting = new QHBoxLayout;
    setting->setSpacing(8);
    setting->addWidget(focal_);
    setting->addSpacing(12);
    setting->addWidget(new QLabel("Aperture", this));
    setting->addWidget(aperture_);
    setting->addStretch(1);
    grid->addWidget(new QLabel("Focal length", this), row, 0);
    grid->addLayout(setting, row++, 1, 1, 2);

    profileInfo_ = new QLabel(this);
    profileInfo_->setObjectName("lensProfileInfo");
    profileInfo_->setWordWrap(true);
    profileInfo_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // Room for two lines whatever it says, so the dialog keeps its size.
    profileInfo_->setMinimumHeight(2 * fontMetrics().lineSpacing() + 4);
    grid->addWidget(profileInfo_, row++, 0, 1, 3);
    return row;
}

// The list's rows and the camera names the camera box completes.
void LensDialog::FillProfiles(const std::string& lensFile) {
    auto* none = new QTreeWidgetItem(profiles_, {"", "No profile: the ideal lens model", ""});
    none->setData(0, kNameRole, QString());
    std::string error;
    for (const LensListing& l : FisheyesOnce(ListLenses("", lensFile, error))) {
        auto* item = new QTreeWidgetItem(
            profiles_, {QString::fromStdString(l.maker), ModelText(l), QString::fromStdString(l.projection)});
        item->setData(0, kNameRole, QString::fromStdString(l.model));
        item->setData(0, kMinFocalRole, l.minFocal);
        item->setData(0, kMaxFocalRole, l.maxFocal);
        item->setData(0, kVignettingRole, l.vignetting);
        item->setToolTip(1, QString::fromStdString(l.model));
    }
    QStringList cameras;
    for (const std::string& c : ListCameras(lensFile, error)) cameras << QString::fromStdString(c);
    if (!error.empty()) databaseProblem_ = Sentence(error);
    auto* completer = new QCompleter(cameras, camera_);
    completer->setCaseSensitivity(Qt::CaseInsensitive);
    completer->setFilterMode(Qt::MatchContains);
    camera_->setCompleter(completer);
    // Wide enough for every row's whole model; the model column takes what is left.
    int width = 24;
    for (int c = 0; c < 3; ++c) {
        profiles_->resizeColumnToContents(c);
        width += profiles_->columnWidth(c);
    }
    profiles_->setMinimumWidth(width);
    QHeaderView* header = profiles_->header();
    header->setStretchLastSection(false);
    header->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    header->setSectionResizeMode(1, QHeaderView::Stretch);
    header->setSectionResizeMode(2, QHeaderView::ResizeToContents);
}

void LensDialog::ConnectProfileRows() {
    connect(search_, &QLineEdit::textChanged, this, &LensDialog::Filter);
    connect(profiles_, &QTreeWidget::currentItemChanged, this, [this] { Apply(FromControls()); });
    auto applyCamera = [this] {
        if (camera_->text().trimmed().toStdString() != session_.app.settings.Copy().lens.profile.camera)
            Apply(FromControls());
    };
    connect(camera_, &QLineEdit::editingFinished, this, applyCamera);
    connect(camera_->completer(), qOverload<const QString&>(&QCompleter::activated), this, applyCamera);
    for (QDoubleSpinBox* box : {crop_, focal_, aperture_})
        connect(box, &QDoubleSpinBox::valueChanged, this, [this] { Apply(FromControls()); });
}

void LensDialog::Filter(const QString& text) {
    QTreeWidgetItem* current = profiles_->currentItem();
    const QSignalBlocker block(profiles_);
    for (int i = 1; i < profiles_->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = profiles_->topLevelItem(i);
        const QString all = item->text(0) + " " + item->data(0, kNameRole).toString() + " " + item->text(2);
        item->setHidden(!all.contains(text.trimmed(), Qt::CaseInsensitive));
    }
    profiles_->setCurrentItem(current);
}

QTreeWidgetItem* LensDialog::ProfileRow(const LensProfileSettings& profile) {
    auto named = [this](const std::string& name) -> QTreeWidgetItem* {
        const QString want = QString::fromStdString(name);
        for (int i = 0; i < profiles_->topLevelItemCount(); ++i) {
            QTreeWidgetItem* item = profiles_->topLevelItem(i);
            if (item->data(0, kNameRole).toString().compare(want, Qt::CaseInsensitive) == 0) return item;
        }
        return nullptr;
    };
    if (QTreeWidgetItem* item = named(profile.lens)) return item;
    // A name given elsewhere (tessaly-convert, a job) as the database matches it.
    const LensProfileLookup found = LookUpLensProfile(profile);
    if (found.correction) {
        if (QTreeWidgetItem* item = named(found.correction->name)) return item;
    }
    auto* item = new QTreeWidgetItem(profiles_, {"", QString::fromStdString(profile.lens), "not in this database"});
    item->setData(0, kNameRole, QString::fromStdString(profile.lens));
    return item;
}

void LensDialog::ShowProfile(const LensProfileSettings& p) {
    QTreeWidgetItem* item = p.Empty() ? profiles_->topLevelItem(0) : ProfileRow(p);
    const QSignalBlocker blockList(profiles_);
    const QSignalBlocker blockCamera(camera_);
    const QSignalBlocker blockCrop(crop_);
    const QSignalBlocker blockFocal(focal_);
    const QSignalBlocker blockAperture(aperture_);
    profiles_->setCurrentItem(item);
    camera_->setText(QString::fromStdString(p.camera));
    crop_->setSpecialValueText(p.camera.empty() ? "calibration's" : "camera's");
    crop_->setValue(p.cropFactor);
    const double minFocal = item->data(0, kMinFocalRole).toDouble();
    focal_->setRange(minFocal, std::max(minFocal, item->data(0, kMaxFocalRole).toDouble()));
    focal_->setSpecialValueText(p.Empty() ? " " : "");  // no lens, no focal length
    focal_->setValue(p.focal > 0 ? p.focal : minFocal);
    aperture_->setValue(p.aperture);
    if (p.Empty()) {
        profileInfo_->setText(databaseProblem_.isEmpty() ? "No profile: the lens model above, without corrections."
                                                         : databaseProblem_);
    } else {
        const LensProfileLookup found = LookUpLensProfile(p);
        profileInfo_->setText(found.correction ? Sentence(ProfileSetting(*found.correction) + ": " +
                                                          ProfileCorrections(*found.correction))
                                               : Sentence(found.error));
    }
    ShowEnabled();
}

void LensDialog::ShowEnabled() {
    const QTreeWidgetItem* item = profiles_->currentItem();
    const bool on = !locked_;
    const bool profile = item != nullptr && !item->data(0, kNameRole).toString().isEmpty();
    model_->setEnabled(on && !profile);
    eye_->setEnabled(on && session_.app.settings.Copy().STEREO != 0);
    search_->setEnabled(on);
    profiles_->setEnabled(on);
    camera_->setEnabled(on && profile);
    crop_->setEnabled(on && profile);
    focal_->setEnabled(on && profile && focal_->maximum() > focal_->minimum());
    aperture_->setEnabled(on && profile && item->data(0, kVignettingRole).toBool());
}

QString LensDialog::ProfileInfo() const { return profileInfo_->text(); }

// The hint, the status line and the Reset and Close buttons from `row` on;
// returns the Close button.
QPushButton* LensDialog::BuildFooter(QGridLayout* grid, int row) {
    auto* hint = new QLabel(QString::fromUtf8("Input: the cyan circle is the lens rim the cut places; dashed, where the "
                                              "output's 180° edge lies on a wider lens.\nOutput: level the horizon on "
                                              "the amber line."),
                            this);
    hint->setObjectName("lensHint");
    hint->setWordWrap(true);
    grid->addWidget(hint, row++, 0, 1, 3);

    status_ = new QLabel(this);
    status_->setObjectName("lensStatus");
    status_->setWordWrap(true);
    QPalette warn = status_->palette();
    warn.setColor(QPalette::WindowText, QColor(176, 0, 0));
    status_->setPalette(warn);
    grid->addWidget(status_, row++, 0, 1, 3);

    auto* buttons = new QHBoxLayout;
    reset_ = new QPushButton("Reset", this);
    reset_->setObjectName("lensReset");
    reset_->setToolTip(" Equidistant, 180 degrees, level ");
    reset_->setAutoDefault(false);
    auto* close = new QPushButton("Close", this);
    close->setObjectName("lensClose");
    close->setAutoDefault(false);
    buttons->addWidget(reset_);
    buttons->addStretch(1);
    buttons->addWidget(close);
    grid->addLayout(buttons, row++, 0, 1, 3);
    grid->setColumnStretch(1, 1);
    return close;
}

LensDialog::~LensDialog() { session_.painter.ShowHorizon(false); }

void LensDialog::ShowLens(const LensSettings& lens) {
    const QSignalBlocker blockModel(model_);
    const QSignalBlocker blockFov(fov_);
    for (int i = 0; i < static_cast<int>(std::size(kModels)); ++i)
        if (kModels[i] == lens.model) model_->setCurrentIndex(i);
    fov_->setMaximum(lens.model == LensModel::kOrthographic ? kMaxOrthographicFov : kMaxLensFov);
    fov_->setValue(lens.fov);
    ShowProfile(lens.profile);
    const int eye = EditedEye();
    const LensSettings shown = eye < 0 ? lens : EyeLens(lens, session_.app.settings.Copy().eyeAngles[eye]);
    const double angles[3] = {shown.yaw, shown.pitch, shown.roll};
    for (int i = 0; i < 3; ++i) {
        const QSignalBlocker blockAngle(angles_[i]);
        const QSignalBlocker blockSlider(sliders_[i]);
        angles_[i]->setValue(angles[i]);
        sliders_[i]->setValue(static_cast<int>(std::lround(angles[i] * kSliderStepsPerDegree)));
    }
}

LensSettings LensDialog::FromControls() const {
    // The lens file, lateral colour and distance are not the dialog's: kept.
    LensSettings lens = session_.app.settings.Copy().lens;
    lens.model = static_cast<LensModel>(model_->currentData().toInt());
    lens.fov = fov_->value();
    lens.yaw = angles_[0]->value();
    lens.pitch = angles_[1]->value();
    lens.roll = angles_[2]->value();
    const QTreeWidgetItem* item = profiles_->currentItem();
    const std::string name = item != nullptr ? item->data(0, kNameRole).toString().toStdString() : std::string();
    LensProfileSettings& p = lens.profile;
    if (name.empty()) {
        p = LensProfileSettings{};
        return lens;
    }
    const bool sameLens = name == p.lens;
    p.lens = name;
    p.camera = camera_->text().trimmed().toStdString();
    p.cropFactor = crop_->value();
    // Another lens starts at its own focal length and widest aperture.
    p.focal = sameLens && focal_->maximum() > focal_->minimum() ? focal_->value() : (sameLens ? p.focal : 0.0);
    p.aperture = sameLens && item->data(0, kVignettingRole).toBool() ? aperture_->value() : (sameLens ? p.aperture : 0.0);
    return lens;
}

void LensDialog::Apply(const LensSettings& lens) {
    if (locked_) {
        Refuse("The lens cannot change during a conversion.");
        return;
    }
    const int eye = EditedEye();
    const std::string problem = eye < 0 ? session_.commands.SetLens(lens) : ApplyEye(eye, lens);
    if (!problem.empty()) {
        Refuse(Sentence(problem));
        return;
    }
    status_->clear();
    ShowLens(session_.app.settings.Copy().lens);  // with a profile, its projection as the model
}

void LensDialog::Refuse(const QString& why) {
    ShowLens(session_.app.settings.Copy().lens);
    status_->setText(why);
}

int LensDialog::EditedEye() const {
    if (session_.app.settings.Copy().STEREO == 0) return -1;
    return eye_->currentIndex() == 1 ? kLeftEye : eye_->currentIndex() == 2 ? kRightEye : -1;
}

std::string LensDialog::ApplyEye(int eye, const LensSettings& lens) {
    const AppSettings now = session_.app.settings.Copy();
    LensSettings shared = lens;
    shared.yaw = now.lens.yaw;
    shared.pitch = now.lens.pitch;
    shared.roll = now.lens.roll;
    if (!(shared == now.lens)) {
        const std::string problem = session_.commands.SetLens(shared);
        if (!problem.empty()) return problem;
    }
    return session_.commands.SetEyeAngles(eye, EyeAngles{lens.yaw, lens.pitch, lens.roll});
}

QString LensDialog::Status() const { return status_->text(); }

void LensDialog::SetLocked(bool locked) {
    locked_ = locked;
    for (QWidget* w : {static_cast<QWidget*>(fov_), static_cast<QWidget*>(reset_)}) w->setEnabled(!locked);
    for (int i = 0; i < 3; ++i) {
        angles_[i]->setEnabled(!locked);
        sliders_[i]->setEnabled(!locked);
    }
    ShowEnabled();
    status_->setText(locked ? "Locked while a movie is converted." : QString());
}

void LensDialog::showEvent(QShowEvent* event) {
    ShowLens(session_.app.settings.Copy().lens);
    session_.painter.ShowHorizon(true);
    QDialog::showEvent(event);
}

void LensDialog::hideEvent(QHideEvent* event) {
    session_.painter.ShowHorizon(false);
    QDialog::hideEvent(event);
}

}  // namespace tessaly
