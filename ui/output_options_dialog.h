// "Save a Video with another compression": after a conversion the stills are
// still there, so the movie can be encoded again into another file. The
// dialog holds no settings of its own: a chosen quality goes straight into
// the main window's "Output compression" list and a chosen size into the
// application's resize choice, where the encoder reads them (and where they
// stay, also when the dialog is cancelled).
#pragma once

#include <QDialog>

#include <map>
#include <string>

class QComboBox;
class QLineEdit;

namespace tessaly {

class DesktopSession;
class MainWindow;

// The quality level of a list item: its leading digits ("7:" is 7), 0 for
// "Default Quality".
int QualityLevelOf(const QString& itemText);

class OutputOptionsDialog : public QDialog {
    Q_OBJECT
public:
    OutputOptionsDialog(MainWindow* owner, DesktopSession& session, const std::string& currentPath);

    // The path to encode into next: the text box after "Save Video" (a
    // typed name of an existing file only once the user agreed to replace
    // it), empty after "Exit/Cancel" or the close box.
    const std::string& Result() const { return result_; }
    // Controls by id (object name "id_<id>").
    QWidget* Control(int id) const;

private:
    void BuildPathRow(const std::string& currentPath);
    void BuildLists();
    void BuildButtons();
    void Register(int id, QWidget* widget);
    void SelectFilePath();
    void QualityChosen(int index);
    void SizeChosen(int index);
    // True when `path` names no file yet or the user agrees to replace it.
    bool ReplaceConfirmed(const QString& path);

    MainWindow* owner_;
    DesktopSession& session_;
    std::map<int, QWidget*> controls_;
    QLineEdit* path_ = nullptr;
    QComboBox* quality_ = nullptr;
    QComboBox* size_ = nullptr;
    std::string result_;
    QString confirmedPath_;  // the chooser's answer, already asked about
};

}  // namespace tessaly
