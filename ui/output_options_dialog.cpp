#include "ui/output_options_dialog.h"

#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

#include "ui/control_ids.h"
#include "app/format.h"
#include "ui/desktop_session.h"
#include "ui/main_window.h"
#include "ui/widget_style.h"

namespace tessaly {

namespace {

const QColor kBackground(88, 88, 88);
const QColor kCaptionGrey(0x80, 0x80, 0x80);

// The folder part of a path, its last "/" included; empty without one.
std::string FolderPartOf(const QString& path) {
    const qsizetype slash = path.lastIndexOf('/');
    return slash < 0 ? std::string() : path.left(slash + 1).toStdString();
}

const QString kFlatButton =
    "QPushButton { background: #d6d6d6; color: black; border: 1px solid #3a3a3a; padding: 0px; }"
    "QPushButton:hover { background: #e4e4e4; }"
    "QPushButton:pressed { background: #a9a9a9; }";
// The leading blanks of "  Select file path" indent it like the captions.
const QString kPathButton =
    "QPushButton { background: #808080; color: white; border: 1px solid #3a3a3a; padding: 0px;"
    " text-align: left; }"
    "QPushButton:hover { background: #8e8e8e; }"
    "QPushButton:pressed { background: #6a6a6a; }";

}  // namespace

int QualityLevelOf(const QString& itemText) {
    return RoundHalfEvenToInt32(ParseLeadingNumber(itemText.toStdString()));
}

OutputOptionsDialog::OutputOptionsDialog(MainWindow* owner, DesktopSession& session,
                                         const std::string& currentPath)
    : QDialog(owner, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      owner_(owner),
      session_(session) {
    setObjectName("OutputOptions");
    setWindowTitle("Save a Video with another compression");
    setWindowIcon(owner->windowIcon());
    setFixedSize(480, 112);
    QFont font("DejaVu Sans Condensed");
    font.setPixelSize(11);
    setFont(font);
    SetColours(this, kBackground, Qt::white);
    BuildPathRow(currentPath);
    BuildLists();
    BuildButtons();
}

void OutputOptionsDialog::Register(int id, QWidget* widget) {
    widget->setObjectName(QString("id_%1").arg(id));
    controls_[id] = widget;
}

QWidget* OutputOptionsDialog::Control(int id) const {
    auto it = controls_.find(id);
    return it == controls_.end() ? nullptr : it->second;
}

void OutputOptionsDialog::BuildPathRow(const std::string& currentPath) {
    auto* select = new QPushButton("  Select file path", this);
    select->setGeometry(5, 5, 110, 16);
    select->setStyleSheet(kPathButton);
    select->setAutoDefault(false);
    Register(control::options::kSelectPath, select);
    connect(select, &QPushButton::clicked, this, &OutputOptionsDialog::SelectFilePath);

    path_ = new QLineEdit(QString::fromStdString(currentPath), this);
    path_->setGeometry(5, 23, 470, 17);
    path_->setTextMargins(1, 0, 1, 0);
    path_->setStyleSheet("QLineEdit { background: white; color: blue; border: 1px solid #3a3a3a;"
                         " padding: 0px; }");
    path_->setCursorPosition(0);
    Register(control::options::kPathEdit, path_);
}

void OutputOptionsDialog::BuildLists() {
    const struct { int id; const char* text; int left; } captions[] = {
        {control::options::kCompressionCaption, "  Select Compression", 5},
        {control::options::kResizeCaption, "  Resize output video", 118},
    };
    for (const auto& c : captions) {
        auto* label = new QLabel(c.text, this);
        label->setGeometry(c.left, 45, 110, 16);
        label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        SetColours(label, kCaptionGrey, Qt::white);
        Register(c.id, label);
    }

    auto* mainList = qobject_cast<QComboBox*>(owner_->Control(control::kCompressionList));
    quality_ = new QComboBox(this);
    quality_->setGeometry(5, 64, 110, 20);
    quality_->addItem("Default Quality");
    quality_->addItem("1:Best Quality");
    for (int i = 2; i <= 20; ++i) quality_->addItem(QString("%1:").arg(i));
    quality_->addItem("21:Lower Quality");
    quality_->setCurrentIndex(mainList != nullptr ? mainList->currentIndex() : 0);
    Register(control::options::kQualityList, quality_);

    size_ = new QComboBox(this);
    size_->setGeometry(118, 64, 110, 20);
    size_->addItems({"Natural size", "Resize 90%", "Resize 80%", "Resize 70%", "Resize 60%", "Resize 50%"});
    size_->setCurrentIndex(session_.app.run.resizeChoice.load());
    Register(control::options::kResizeList, size_);

    for (QComboBox* list : {quality_, size_}) {
        list->setMaxVisibleItems(5);  // the 90-pixel drop-down
        SetColours(list, Qt::black, Qt::white);
    }
    // Only a choice the user confirms counts, not the selection made above.
    connect(quality_, &QComboBox::activated, this, &OutputOptionsDialog::QualityChosen);
    connect(size_, &QComboBox::activated, this, &OutputOptionsDialog::SizeChosen);
}

void OutputOptionsDialog::BuildButtons() {
    const struct { int id; const char* text; int left; } buttons[] = {
        {control::options::kSaveVideo, "Save Video", 260},
        {control::options::kCancel, "Exit/Cancel", 368},
    };
    for (const auto& b : buttons) {
        auto* button = new QPushButton(b.text, this);
        button->setGeometry(b.left, 80, 100, 25);
        button->setStyleSheet(kFlatButton);
        button->setAutoDefault(false);
        Register(b.id, button);
    }
    connect(static_cast<QPushButton*>(Control(control::options::kSaveVideo)), &QPushButton::clicked, this, [this] {
        // A typed name of an existing file gets the question the save
        // chooser asks; "No" keeps the dialog open, as the chooser stays.
        if (path_->text() != confirmedPath_ && !ReplaceConfirmed(path_->text())) return;
        result_ = path_->text().toStdString();
        accept();
    });
    connect(static_cast<QPushButton*>(Control(control::options::kCancel)), &QPushButton::clicked, this, [this] {
        result_.clear();
        reject();
    });
}

void OutputOptionsDialog::SelectFilePath() {
    static const char* const kFilters[][2] = {
        {" FLV video files (*.flv)", "*.flv"},
        {" AVI 2.0 video files (*.AVI)", "*.avi"},
        {" MOV video files (*.MOV)", "*.mov"},
        {" MPG video files (*.MPG)", "*.mpg"},
    };
    MovieChooser chooser;
    chooser.title = "Save Rectangular Video";
    chooser.objectName = "SaveRectangularChooser";
    for (const auto& f : kFilters) chooser.filters << QString("Rectangular Video%1 (%2)").arg(f[0], f[1]);
    chooser.mode = QFileDialog::AcceptSave;
    chooser.owner = this;
    chooser.startFolder = FolderPartOf(path_->text());
    chooser.defaultSuffix = "flv";
    const std::string chosen = owner_->ChooseMovieFile(chooser);
    owner_->update();
    if (chosen.empty()) return;
    path_->setText(QString::fromStdString(chosen));
    path_->setCursorPosition(0);
    // The chooser has asked before replacing it.
    confirmedPath_ = path_->text();
}

bool OutputOptionsDialog::ReplaceConfirmed(const QString& path) {
    const QFileInfo info(path);
    if (path.isEmpty() || !info.exists() || info.isDir()) return true;
    return QMessageBox::warning(this, "Save Rectangular Video",
                                QString("%1 already exists.\nDo you want to replace it?").arg(info.fileName()),
                                QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
}

void OutputOptionsDialog::QualityChosen(int index) {
    const int level = QualityLevelOf(quality_->itemText(index));
    if (auto* mainList = qobject_cast<QComboBox*>(owner_->Control(control::kCompressionList)))
        mainList->setCurrentIndex(level);
}

void OutputOptionsDialog::SizeChosen(int index) { session_.app.run.resizeChoice = index; }

}  // namespace tessaly
