// The main window: the 600 x 600 input preview on the left, every control on
// the right, three menus and the accelerators; the output window beside it.
// Controls are found by their ids (ui/control_ids.h; Control(id), object
// name "id_<id>"). Clicks go to the command table in main_window_commands.cpp,
// which forwards what changes state to the session's DesktopCommands.
#pragma once

#include <QFileDialog>
#include <QImage>
#include <QMainWindow>
#include <QPointer>
#include <QTimer>

#include <cstdint>
#include <functional>

#include <map>
#include <string>

#include "ui/control_ids.h"

class QAction;
class QCheckBox;
class QLabel;
class QSlider;

namespace tessaly {

struct AppSettings;
class ClickSounds;
class DesktopSession;
class ExportProgressWindow;
class ImageButton;
class LensDialog;
class OutputWindow;
class PreviewPanel;
class QueueWindow;
struct RunQuestion;

inline constexpr int kClientWidth = 1010;
inline constexpr int kClientHeight = 650;
// The "&Option" items of the VR marking, the "Lens" dialog and "Find lens
// circle" (Ctrl+F), by their older names.
inline constexpr int kMarkVrMenuItem = control::kMarkVrOutput;
inline constexpr int kLensMenuItem = control::kLensDialog;
inline constexpr int kFindLensCircleMenuItem = control::kFindLensCircle;
inline const char* const kMainCaption = "The mono side Fisheye video converter  v3.0 Build 051.01";

// What a movie file chooser asks for.
struct MovieChooser {
    const char* title = "";
    const char* objectName = "";
    QStringList filters;  // the first is preselected
    QFileDialog::AcceptMode mode = QFileDialog::AcceptOpen;
    QWidget* owner = nullptr;  // the main window when none
    std::string startFolder;   // OPATH when empty
    QString defaultSuffix;
};

// Asked before the program quits in the middle of a conversion.
inline constexpr const char* kStopConversionQuestion = "A conversion is running. Stop it and quit?";

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(DesktopSession& session);
    ~MainWindow() override;

    QWidget* Control(int id) const;
    QAction* MenuItem(int id) const;
    QWidget* Client() const { return client_; }

    // The command table: a click, menu item or accelerator with this id.
    void Command(int id);

    void ShowCutValues();
    // 0 locks the controls a conversion must not touch, 1 unlocks them.
    void SetConversionLock(int unlock);
    void PaintPlaceholders();
    void OpenOutputWindow();
    void EndOutputWindow();
    OutputWindow* Output() const { return output_; }
    PreviewPanel* InputPanel() const { return input_; }
    // The output panel in use: the output window's, else the hidden 2008.
    PreviewPanel* OutputPanel() const;

    void SetLabelText(int id, const std::string& text);
    QString LabelFullText(int id) const;
    void SetPositionBarWidth(int width);
    int PositionBarWidth() const;
    void SetCheckState(int id, int checked);

    // The open chooser "Load Video"; the chosen path or empty. Updates OPATH.
    std::string ChooseMovie(const char* title = "Load Video");
    // The save chooser "Save Stereo Video"; the chosen path or empty. Updates OPATH.
    std::string ChooseOutput();
    // Any movie chooser; the chosen path or empty. Updates OPATH.
    std::string ChooseMovieFile(const MovieChooser& chooser);
    // The "Please wait..." window while the encoder runs: one at a time,
    // owned by this window.
    void OpenExportProgress();
    void UpdateExportProgress(const QString& processingTime);
    void CloseExportProgress();
    ExportProgressWindow* ExportProgress() const;
    // The "Lens" dialog: made on first use, then shown and raised again.
    void OpenLensDialog();
    LensDialog* Lens() const;
    // The "Queue" window: made on first use, then shown and raised again.
    void OpenQueueWindow();
    QueueWindow* Queue() const;
    // The output options dialog over this window: the next output path, or
    // empty when cancelled.
    std::string OutputOptions(const std::string& currentPath);
    // A question after a conversion job returned: true for OK.
    bool AskAfterRun(const RunQuestion& question);
    // Ends the window without another Shutdown (the conversion run's end ran it).
    void EndWindow();
    // A message box owned by this window (or by none).
    void Message(const std::string& caption, const std::string& text, int icon, bool owned);

    ClickSounds& Sounds() const { return *sounds_; }
    int RepeatPeriod() const { return repeatPeriod_; }
    // Remembers the window positions in M_X/M_Y and V_X/V_Y.
    void RememberPositions();
    // Told once when the window has been ended.
    std::function<void()> onEnded;

protected:
    void closeEvent(QCloseEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;

private:
    // Connects the session's signals and answers its questions.
    void WatchSession();
    void BuildMenus();
    void BuildStereoMenu();
    // The Stereo menu's checks as the settings have them.
    void ShowStereoChoice();
    void BuildControls();
    void BuildTooltips();
    void AddShortcut(const QKeySequence& keys, int id);
    QLabel* AddLabel(int id, const QString& text, QRect rect, QColor background, QColor text_colour,
                     bool sunken, bool centred);
    QCheckBox* AddCheck(int id, const QString& text, QRect rect, QColor background, QColor text_colour);
    ImageButton* AddImageButton(int id, const QString& name, QRect rect, bool threeStates);
    // A slider of an amount: its control, range and page step from the
    // parameter table, its position the field's value.
    QSlider* AddSlider(int32_t AppSettings::*field, QRect rect, QColor background);
    void BuildCutControls();
    void BuildInformationCaptions();
    void BuildGroupBoxes();
    void BuildFilterRows();
    void BuildInformationValues();
    void BuildInputOutputControls();
    void Register(int id, QWidget* widget);
    void NudgeTick();
    void SetPeriod(int nextPeriod);
    void PressedSequence(int id, int waitMs);
    void ColourSwitch(QCheckBox* box);
    bool ExitAllowed();
    std::string ChooseFolder(const std::string& initial);
    bool IsChecked(int boxId) const;

    // The command handlers (main_window_commands.cpp): each takes its id and
    // returns whether the cut values are shown again.
    using CommandHandler = bool (MainWindow::*)(int);
    static const std::map<int, CommandHandler>& CommandTable();
    bool LoadCommand(int id);
    bool LoadPairCommand(int id);
    bool PlayPauseCommand(int id);
    bool SaveCommand(int id);
    bool AboutCommand(int id);
    bool ConvertCommand(int id);
    bool ExitCommand(int id);
    bool HelpCommand(int id);
    bool TempFolderCommand(int id);
    bool AutoSaveCommand(int id);
    bool MarkVrCommand(int id);
    bool LensCommand(int id);
    bool FindCircleCommand(int id);
    bool FileInformationCommand(int id);
    bool SaveJobCommand(int id);
    bool AddToQueueCommand(int id);
    bool QueueWindowCommand(int id);
    bool RunQueueCommand(int id);
    bool PopupOutputCommand(int id);
    bool WebSiteCommand(int id);
    bool ShowInputCommand(int id);
    bool ShowOutputCommand(int id);
    bool StillFormatCommand(int id);
    bool FlipCommand(int id);
    bool SwitchCommand(int id);
    bool ResetCommand(int id);
    bool CutCommand(int id);
    bool StereoCommand(int id);
    bool AnaglyphCommand(int id);

    DesktopSession& session_;
    QWidget* client_;
    std::map<int, QWidget*> controls_;
    std::map<int, QAction*> menuItems_;
    std::map<int, QString> fullTexts_;
    QTimer nudgeTimer_;
    int repeatPeriod_ = 0;
    PreviewPanel* input_ = nullptr;
    PreviewPanel* hiddenOutput_ = nullptr;
    OutputWindow* output_ = nullptr;
    QPointer<ExportProgressWindow> exportProgress_;
    QPointer<LensDialog> lensDialog_;
    QPointer<QueueWindow> queueWindow_;
    bool conversionLocked_ = false;
    QLabel* positionBar_ = nullptr;
    ClickSounds* sounds_;
    bool ending_ = false;
    friend class MainWindowTestAccess;
};

}  // namespace tessaly
