// "Lens": the lens model, its field of view and the levelling angles (yaw,
// pitch, roll). Modeless: every change goes at once into the settings under
// the session's lock, so both previews follow with their next pass; while the
// dialog is shown the output preview draws the levelling lines. During a
// conversion the geometry is fixed and the controls are locked.
#pragma once

#include <QDialog>

#include "transform/lens.h"

class QComboBox;
class QGridLayout;
class QDoubleSpinBox;
class QLabel;
class QPushButton;
class QSlider;

namespace tessaly {

class DesktopSession;

class LensDialog : public QDialog {
    Q_OBJECT
public:
    LensDialog(QWidget* owner, DesktopSession& session);
    ~LensDialog() override;

    // Locked: every control greyed and every change refused.
    void SetLocked(bool locked);
    bool Locked() const { return locked_; }
    // Shows the settings' lens in the controls (the fov's upper limit follows
    // the model).
    void ShowLens(const LensSettings& lens);
    // The sentence under the controls: why the last change was refused, or empty.
    QString Status() const;

    QComboBox* Model() const { return model_; }
    QDoubleSpinBox* Fov() const { return fov_; }
    QDoubleSpinBox* Yaw() const { return angles_[0]; }
    QDoubleSpinBox* Pitch() const { return angles_[1]; }
    QDoubleSpinBox* Roll() const { return angles_[2]; }
    QSlider* YawSlider() const { return sliders_[0]; }
    QSlider* PitchSlider() const { return sliders_[1]; }
    QSlider* RollSlider() const { return sliders_[2]; }
    QPushButton* ResetButton() const { return reset_; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QPushButton* BuildFooter(QGridLayout* grid, int row);
    LensSettings FromControls() const;
    // Stores `lens` in the settings, or refuses it (the controls go back to
    // the settings and the status says why).
    void Apply(const LensSettings& lens);
    void Refuse(const QString& why);

    DesktopSession& session_;
    QComboBox* model_ = nullptr;
    QDoubleSpinBox* fov_ = nullptr;
    QDoubleSpinBox* angles_[3] = {};
    QSlider* sliders_[3] = {};
    QLabel* status_ = nullptr;
    QPushButton* reset_ = nullptr;
    bool locked_ = false;
};

}  // namespace tessaly
