#include "ui/lens_dialog.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>

#include <cmath>
#include <iterator>

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
    grid->addWidget(new QLabel("Lens model", this), row, 0);
    grid->addWidget(model_, row++, 1, 1, 2);

    fov_ = DegreesBox(this, "lensFov", kMinLensFov, kMaxLensFov);
    fov_->setToolTip(" Field of view across the lens circle's diameter ");
    grid->addWidget(new QLabel("Field of view", this), row, 0);
    grid->addWidget(fov_, row++, 2);

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

    ShowLens(session_.app.settings.Copy().lens);

    connect(model_, &QComboBox::currentIndexChanged, this, [this] { Apply(FromControls()); });
    connect(fov_, &QDoubleSpinBox::valueChanged, this, [this] { Apply(FromControls()); });
    for (int i = 0; i < 3; ++i) {
        connect(angles_[i], &QDoubleSpinBox::valueChanged, this, [this] { Apply(FromControls()); });
        connect(sliders_[i], &QSlider::valueChanged, this, [this, i](int steps) {
            angles_[i]->setValue(static_cast<double>(steps) / kSliderStepsPerDegree);
        });
    }
    connect(reset_, &QPushButton::clicked, this, [this] { Apply(LensSettings{}); });
    connect(close, &QPushButton::clicked, this, &QDialog::close);
}

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
    const double angles[3] = {lens.yaw, lens.pitch, lens.roll};
    for (int i = 0; i < 3; ++i) {
        const QSignalBlocker blockAngle(angles_[i]);
        const QSignalBlocker blockSlider(sliders_[i]);
        angles_[i]->setValue(angles[i]);
        sliders_[i]->setValue(static_cast<int>(std::lround(angles[i] * kSliderStepsPerDegree)));
    }
}

LensSettings LensDialog::FromControls() const {
    LensSettings lens;
    lens.model = static_cast<LensModel>(model_->currentData().toInt());
    lens.fov = fov_->value();
    lens.yaw = angles_[0]->value();
    lens.pitch = angles_[1]->value();
    lens.roll = angles_[2]->value();
    return lens;
}

void LensDialog::Apply(const LensSettings& lens) {
    if (locked_) {
        Refuse("The lens cannot change during a conversion.");
        return;
    }
    const std::string problem = session_.commands.SetLens(lens);
    if (!problem.empty()) {
        Refuse(Sentence(problem));
        return;
    }
    status_->clear();
    ShowLens(lens);
}

void LensDialog::Refuse(const QString& why) {
    ShowLens(session_.app.settings.Copy().lens);
    status_->setText(why);
}

QString LensDialog::Status() const { return status_->text(); }

void LensDialog::SetLocked(bool locked) {
    locked_ = locked;
    for (QWidget* w : {static_cast<QWidget*>(model_), static_cast<QWidget*>(fov_), static_cast<QWidget*>(reset_)})
        w->setEnabled(!locked);
    for (int i = 0; i < 3; ++i) {
        angles_[i]->setEnabled(!locked);
        sliders_[i]->setEnabled(!locked);
    }
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
