// "Lens": the lens model, a calibrated profile from the lens database (a
// searchable list of its fisheyes, the camera or crop factor, and where the
// profile needs them the focal length and aperture), the field of view and
// the levelling angles (yaw, pitch, roll). Modeless: every change goes at
// once into the settings through the desktop's commands, so both previews
// follow with their next pass; while the dialog is shown the output preview
// draws the levelling lines. During a conversion the geometry is fixed and
// the controls are locked.
#pragma once

#include <QDialog>

#include "transform/lens.h"

class QComboBox;
class QGridLayout;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;
class QTreeWidget;
class QTreeWidgetItem;

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
    // Whose angles the angle rows edit: both eyes' shared ones (0), the left
    // eye's own (1) or the right eye's (2); only for a stereo movie.
    QComboBox* Eye() const { return eye_; }
    // The profile list: its first row is "no profile"; the others carry the
    // lens's "MAKER MODEL" under Qt::UserRole.
    QTreeWidget* Profiles() const { return profiles_; }
    QLineEdit* Search() const { return search_; }
    QLineEdit* Camera() const { return camera_; }
    QDoubleSpinBox* CropFactor() const { return crop_; }
    QDoubleSpinBox* Focal() const { return focal_; }
    QDoubleSpinBox* Aperture() const { return aperture_; }
    // What the chosen profile corrects, or why it cannot be used.
    QString ProfileInfo() const;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    // The profile rows from `row` on; returns the next free row.
    int BuildProfileRows(QGridLayout* grid, int row);
    void FillProfiles(const std::string& lensFile);
    QPushButton* BuildFooter(QGridLayout* grid, int row);
    // The list row of a profile, added when the list lacks it.
    QTreeWidgetItem* ProfileRow(const LensProfileSettings& profile);
    void ShowProfile(const LensProfileSettings& profile);
    void ShowEnabled();
    void ConnectProfileRows();
    // Rows whose maker, model or projection lack `text` are hidden.
    void Filter(const QString& text);
    LensSettings FromControls() const;
    // Stores `lens` in the settings, or refuses it (the controls go back to
    // the settings and the status says why).
    void Apply(const LensSettings& lens);
    void Refuse(const QString& why);
    // The eye the angle rows edit (kLeftEye, kRightEye), or -1 for both.
    int EditedEye() const;
    // Stores an eye's own angles from `lens`'s, and the rest of `lens` as
    // the shared lens; the reason when refused, else empty.
    std::string ApplyEye(int eye, const LensSettings& lens);

    DesktopSession& session_;
    QComboBox* model_ = nullptr;
    QComboBox* eye_ = nullptr;
    QDoubleSpinBox* fov_ = nullptr;
    QDoubleSpinBox* angles_[3] = {};
    QSlider* sliders_[3] = {};
    QLabel* status_ = nullptr;
    QPushButton* reset_ = nullptr;
    QLineEdit* search_ = nullptr;
    QTreeWidget* profiles_ = nullptr;
    QLineEdit* camera_ = nullptr;
    QDoubleSpinBox* crop_ = nullptr;
    QDoubleSpinBox* focal_ = nullptr;
    QDoubleSpinBox* aperture_ = nullptr;
    QLabel* profileInfo_ = nullptr;
    QString databaseProblem_;  // why the lens database could not be read, or empty
    bool locked_ = false;
};

}  // namespace tessaly
