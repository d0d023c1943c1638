// The two windows of a conversion's end on the offscreen platform: the
// "Please wait..." window while the encoder runs and the dialog for encoding
// again, both reached through the user-interface seam as the conversion
// driver reaches them (also from other threads). The animation's arithmetic
// is checked on its own, without widgets.
#include <gtest/gtest.h>


#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPointer>
#include <QPushButton>

#include <atomic>
#include <filesystem>
#include <thread>

#include "tests/ui/ui_test_support.h"
#include "ui/export_animation.h"
#include "ui/export_progress_window.h"
#include "ui/image_button.h"
#include "ui/output_options_dialog.h"
#include "ui/preview_panel.h"

namespace tessaly {
namespace {

using testing::Desktop;
using testing::ModalAnswerer;
using testing::WaitUntil;

// ---------------------------------------------------------------- animation

TEST(ExportAnimation, BoxesFillOneAfterAnotherAndThePictureMoves) {
    ExportAnimation a;
    EXPECT_EQ(a.levels, (std::array<int, 5>{20, 20, 20, 20, 20}));
    a.Turn();
    EXPECT_EQ(a.levels, (std::array<int, 5>{25, 20, 20, 20, 20}));
    // 47 rises take 20 to 255 exactly; the 48th would pass it: held, and
    // the second box takes over in the same turn.
    for (int t = 1; t < 47; ++t) a.Turn();
    EXPECT_EQ(a.levels, (std::array<int, 5>{255, 20, 20, 20, 20}));
    a.Turn();
    EXPECT_EQ(a.levels, (std::array<int, 5>{255, 25, 20, 20, 20}));

    // Through a whole round: nothing above 255, boxes only ever full or
    // rising in order, and every turn changes exactly one box until the
    // fifth passes 255 at turn 5 * 48 - 4 and all start again.
    ExportAnimation b;
    int turn = 0;
    while (true) {
        const auto before = b.levels;
        b.Turn();
        ++turn;
        if (b.levels == std::array<int, 5>{20, 20, 20, 20, 20}) break;
        ASSERT_LT(turn, 1000);
        int changed = 0;
        for (int i = 0; i < 5; ++i) {
            ASSERT_LE(b.levels[i], 255);
            if (i > 0 && b.levels[i] > 20) {
                ASSERT_EQ(b.levels[i - 1], 255) << "turn " << turn;
            }
            if (b.levels[i] != before[i]) ++changed;
        }
        ASSERT_GE(changed, 1) << "turn " << turn;
    }
    EXPECT_EQ(turn, 236);
    b.Turn();
    EXPECT_EQ(b.levels, (std::array<int, 5>{25, 20, 20, 20, 20}));
    EXPECT_EQ(ExportAnimation::BoxRgb(130), (std::array<int, 3>{20, 130, 195}));
    // The picture moves on every second turn.
    ExportAnimation c;
    std::string seen = c.ImageName();
    for (int t = 0; t < 9; ++t) {
        c.Turn();
        seen += std::string(" ") + c.ImageName();
    }
    EXPECT_EQ(seen, "load1 load1 load2 load2 load3 load3 load4 load4 load1 load1");
}

// ------------------------------------------------------ export progress window

bool SameImage(const QPixmap& a, const QPixmap& b) {
    return !a.isNull() && a.toImage().convertToFormat(QImage::Format_ARGB32) ==
                              b.toImage().convertToFormat(QImage::Format_ARGB32);
}

TEST(ExportProgressWindow, OpensOverTheMainWindowWithLegibleTextsThatFit) {
    Desktop d;
    MainWindow& w = *d.window;
    d.session->ui.OpenExportProgress();
    ExportProgressWindow* p = w.ExportProgress();
    ASSERT_NE(p, nullptr);
    EXPECT_TRUE(p->isVisible());
    EXPECT_EQ(p->parentWidget(), &w);
    EXPECT_LE((p->geometry().center() - w.geometry().center()).manhattanLength(), 2);
    EXPECT_FALSE(p->isModal());  // the main window keeps its events
    EXPECT_EQ(p->windowTitle(), "Output Movie Compression");
    // 250 x 52 units at 1.5 pixels a unit, and every part in proportion.
    EXPECT_EQ(p->size(), QSize(375, 78));
    EXPECT_EQ(p->WaitLabel()->geometry(), QRect(98, 8, 225, 45));
    EXPECT_EQ(p->TimeLabel()->geometry(), QRect(240, 60, 135, 15));
    EXPECT_EQ(p->Picture()->geometry(), QRect(8, 8, 39, 37));
    const int lefts[] = {8, 26, 44, 62, 80};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(p->Box(i)->geometry(), QRect(lefts[i], 60, 13, 12));
    EXPECT_EQ(p->palette().color(QPalette::Window), QColor(119, 119, 119));
    EXPECT_EQ(p->TimeLabel()->palette().color(QPalette::Window), QColor(85, 85, 85));
    EXPECT_EQ(p->TimeLabel()->palette().color(QPalette::WindowText), QColor(192, 192, 192));
    EXPECT_EQ(p->WaitLabel()->palette().color(QPalette::WindowText), QColor(Qt::white));
    EXPECT_FALSE(p->WaitLabel()->autoFillBackground());

    // "Please wait..." in a face that is really installed, whichever it is.
    EXPECT_EQ(p->WaitLabel()->text(), "Please wait...");
    const QFontInfo waitFont(p->WaitLabel()->font());
    EXPECT_TRUE(QFontDatabase::families().contains(waitFont.family())) << waitFont.family().toStdString();
    EXPECT_GE(waitFont.pixelSize(), 20);
    EXPECT_LE(p->WaitLabel()->fontMetrics().horizontalAdvance("Please wait..."), p->WaitLabel()->width());

    // The longest processing time fits its label at a legible size.
    EXPECT_EQ(p->TimeLabel()->text(), "Processing time: 00:00:00");
    EXPECT_LE(p->TimeLabel()->fontMetrics().horizontalAdvance("Processing time: 99:59:59"),
              p->TimeLabel()->width());
    EXPECT_LE(p->TimeLabel()->fontMetrics().height(), p->TimeLabel()->height());
    EXPECT_GE(QFontInfo(p->TimeLabel()->font()).pixelSize(), 10);

    // The window's own timer turns the animation; boxes and picture follow.
    EXPECT_TRUE(SameImage(p->Picture()->pixmap(), ArtPixmap("load1")));
    ASSERT_TRUE(WaitUntil([p] { return p->Animation().turns >= 3; }));
    const ExportAnimation& a = p->Animation();
    EXPECT_EQ(a.levels[0], 20 + 5 * a.turns);
    for (int i = 0; i < 5; ++i) {
        const auto rgb = ExportAnimation::BoxRgb(a.levels[i]);
        EXPECT_EQ(p->Box(i)->palette().color(QPalette::Window), QColor(rgb[0], rgb[1], rgb[2])) << i;
    }
    EXPECT_TRUE(SameImage(p->Picture()->pixmap(), ArtPixmap(a.ImageName())));
    d.session->ui.CloseExportProgress();
}

TEST(ExportProgressWindow, UpdatesFromAWorkerOnlyCloseOrTheMainWindowsEndEndsIt) {
    Desktop d;
    MainWindow& w = *d.window;
    std::thread([&d] {
        d.session->ui.OpenExportProgress();
        d.session->ui.UpdateExportProgress("Processing time: 00:01:07");
    }).join();
    ASSERT_TRUE(WaitUntil([&w] { return w.ExportProgress() != nullptr; }));
    QPointer<ExportProgressWindow> p = w.ExportProgress();
    ASSERT_TRUE(WaitUntil([p] { return p->TimeLabel()->text() == "Processing time: 00:01:07"; }));

    // Neither the close box nor Escape ends it: the encoder runs on.
    EXPECT_FALSE(p->close());
    QTest::keyClick(p, Qt::Key_Escape);
    QTest::qWait(50);
    ASSERT_FALSE(p.isNull());
    EXPECT_TRUE(p->isVisible());
    EXPECT_EQ(w.ExportProgress(), p.data());

    // A second opening replaces the window: one at a time.
    d.session->ui.OpenExportProgress();
    ASSERT_TRUE(WaitUntil([&p] { return p.isNull(); }));
    p = w.ExportProgress();
    ASSERT_FALSE(p.isNull());

    std::thread([&d] { d.session->ui.CloseExportProgress(); }).join();
    EXPECT_TRUE(WaitUntil([&p] { return p.isNull(); }));  // deleted
    EXPECT_EQ(w.ExportProgress(), nullptr);
    d.session->ui.UpdateExportProgress("Processing time: 00:00:01");  // nothing open: ignored

    // The conversion's end closes the main window: the progress goes too.
    d.session->ui.OpenExportProgress();
    p = d.window->ExportProgress();
    ASSERT_FALSE(p.isNull());
    d.window->EndWindow();
    EXPECT_TRUE(WaitUntil([&p] { return p.isNull(); }));

    d.session->ui.OpenExportProgress();
    p = d.window->ExportProgress();
    ASSERT_FALSE(p.isNull());
    d.window.reset();
    EXPECT_TRUE(p.isNull());
    d.session->ui.UpdateExportProgress("Processing time: 00:00:02");
    d.session->ui.CloseExportProgress();
}

// ------------------------------------------------------- the engine's calls

// What the engine says from a worker thread reaches the main window's labels,
// switches and output preview on the GUI thread: the movie's facts (a run's
// keep the path shown), the output size, the "     RECORD" status in its three
// looks, the dark output preview, and the clearing of it all.
TEST(QtUserInterface, TheEnginesCallsFromAWorkerReachTheirWidgets) {
    Desktop d;
    QtUserInterface& ui = d.session->ui;
    d.app.run.fileInfoText = " Video file: some.mp4";
    auto onWorker = [](const std::function<void()>& call) {
        std::thread worker(call);
        worker.join();
    };
    auto colours = [&d] {
        const QPalette pal = d.window->Control(307)->palette();
        return std::make_pair(pal.color(QPalette::Window), pal.color(QPalette::WindowText));
    };

    onWorker([&ui] {
        ui.ShowMovieFacts({" /movies/a b.mp4 ", "640x480", "25.00 fps", "300", "00:00:12"});
        ui.ShowOutputSize(" 528x528");
        ui.ShowPreviewSwitches(false, true);
    });
    ASSERT_TRUE(WaitUntil([&] { return d.Label(409) == "00:00:12"; }));
    for (const auto& [id, text] : {std::pair{303, " /movies/a b.mp4 "}, {304, "640x480"}, {305, "25.00 fps"},
                                   {306, "300"}, {309, " 528x528"}})
        EXPECT_EQ(d.Label(id), text) << id;
    EXPECT_FALSE(static_cast<QCheckBox*>(d.window->Control(511))->isChecked());
    EXPECT_TRUE(static_cast<QCheckBox*>(d.window->Control(512))->isChecked());

    onWorker([&ui] { ui.ShowMovieFacts({"", "1920x960", "29.97 fps", "12", "00:00:00"}); });
    ASSERT_TRUE(WaitUntil([&] { return d.Label(304) == "1920x960"; }));
    EXPECT_EQ(d.Label(303), " /movies/a b.mp4 ");

    const QColor red(255, 0, 0), grey(128, 128, 128), white(255, 255, 255);
    onWorker([&ui] {
        ui.BlankOutputPreview();
        ui.SetRecording(RecordingLook::kStart);
    });
    ASSERT_TRUE(WaitUntil([&] { return d.Label(307) == "     RECORD"; }));
    EXPECT_EQ(colours(), std::make_pair(red, grey));
    const QImage blank = d.window->OutputPanel()->Image();
    ASSERT_FALSE(blank.isNull());
    EXPECT_EQ(blank.pixelColor(blank.width() / 2, blank.height() / 2), QColor(51, 51, 51));
    onWorker([&ui] { ui.SetRecording(RecordingLook::kLit); });
    EXPECT_TRUE(WaitUntil([&] { return colours() == std::make_pair(red, white); }));
    onWorker([&ui] { ui.SetRecording(RecordingLook::kDimmed); });
    EXPECT_TRUE(WaitUntil([&] { return colours() == std::make_pair(grey, red); }));

    onWorker([&ui] { ui.ClearMovieFacts(); });
    ASSERT_TRUE(WaitUntil([&] { return d.Label(307).isEmpty(); }));
    for (int id : {303, 304, 305, 306, 309, 409}) EXPECT_TRUE(d.Label(id).isEmpty()) << id;
    EXPECT_TRUE(d.app.run.fileInfoText.empty());
}

// ------------------------------------------------------- output options dialog

QComboBox* MainList(Desktop& d) { return qobject_cast<QComboBox*>(d.window->Control(213)); }

// Runs the dialog through the seam; `steps` acts on it once it is shown and
// must end it. Further modal windows (the chooser) go to `other`.
std::string RunOptions(Desktop& d, const std::string& path, std::function<void(OutputOptionsDialog&)> steps,
                       std::function<bool(QWidget*)> other = nullptr) {
    QPointer<OutputOptionsDialog> seen;
    ModalAnswerer answerer([&](QWidget* modal) {
        auto* dialog = qobject_cast<OutputOptionsDialog*>(modal);
        if (dialog == nullptr) return other != nullptr && other(modal);
        if (dialog == seen) return false;
        seen = dialog;
        QTimer::singleShot(0, dialog, [dialog, steps] { steps(*dialog); });
        return true;
    });
    return d.session->questions.outputOptions(path);
}

void Click(OutputOptionsDialog& dialog, int id) {
    // Later: the chooser behind the button runs a loop of its own.
    QTimer::singleShot(0, dialog.Control(id), [&dialog, id] {
        static_cast<QPushButton*>(dialog.Control(id))->click();
    });
}

// Chooses a list item the way a user does: open the list, click the item.
void Choose(QComboBox* list, int index) {
    list->showPopup();
    auto* view = list->view();
    ASSERT_TRUE(WaitUntil([view] { return view->isVisible(); }));
    const QModelIndex item = view->model()->index(index, 0);
    view->scrollTo(item);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(item).center());
    ASSERT_TRUE(WaitUntil([view] { return !view->isVisible(); }));
}

TEST(OutputOptionsDialog, ControlsTextsSettingsInForceAndChoicesThatSurviveCancel) {
    Desktop d;
    MainList(d)->setCurrentIndex(7);
    d.app.run.resizeChoice = 3;
    const std::string path = d.dir + "/first run.flv";
    std::vector<int> mainIndexes;
    const std::string result = RunOptions(d, path, [&](OutputOptionsDialog& o) {
        EXPECT_EQ(o.windowTitle(), "Save a Video with another compression");
        EXPECT_EQ(o.size(), QSize(480, 112));
        EXPECT_EQ(o.parentWidget(), d.window.get());
        EXPECT_TRUE(o.isModal());
        EXPECT_EQ(o.palette().color(QPalette::Window), QColor(88, 88, 88));
        EXPECT_LE((o.geometry().center() - d.window->geometry().center()).manhattanLength(), 2);
        const struct { int id; QRect rect; const char* text; } controls[] = {
            {100, {5, 5, 110, 16}, "  Select file path"},  {101, {5, 23, 470, 17}, nullptr},
            {102, {5, 45, 110, 16}, "  Select Compression"}, {213, {5, 64, 110, 20}, nullptr},
            {103, {118, 45, 110, 16}, "  Resize output video"}, {870, {118, 64, 110, 20}, nullptr},
            {2002, {260, 80, 100, 25}, "Save Video"},       {2004, {368, 80, 100, 25}, "Exit/Cancel"},
        };
        for (const auto& c : controls) {
            QWidget* control = o.Control(c.id);
            ASSERT_NE(control, nullptr) << c.id;
            EXPECT_EQ(control->objectName(), QString("id_%1").arg(c.id));
            EXPECT_EQ(control->geometry(), c.rect) << c.id;
            if (c.text == nullptr) continue;
            QString text;
            if (auto* label = qobject_cast<QLabel*>(control)) text = label->text();
            if (auto* button = qobject_cast<QPushButton*>(control)) text = button->text();
            EXPECT_EQ(text.toStdString(), c.text);
            EXPECT_LE(control->fontMetrics().horizontalAdvance(text), c.rect.width() - 2) << c.id;
        }
        EXPECT_EQ(o.Control(102)->palette().color(QPalette::Window), QColor(0x80, 0x80, 0x80));
        EXPECT_EQ(o.Control(103)->palette().color(QPalette::WindowText), QColor(Qt::white));
        auto* edit = qobject_cast<QLineEdit*>(o.Control(101));
        EXPECT_EQ(edit->text().toStdString(), path);

        auto* quality = qobject_cast<QComboBox*>(o.Control(213));
        ASSERT_EQ(quality->count(), 22);
        EXPECT_EQ(quality->itemText(0), "Default Quality");
        EXPECT_EQ(quality->itemText(1), "1:Best Quality");
        EXPECT_EQ(quality->itemText(20), "20:");
        EXPECT_EQ(quality->itemText(21), "21:Lower Quality");
        EXPECT_EQ(quality->currentIndex(), 7);
        EXPECT_EQ(quality->palette().color(QPalette::Text), QColor(Qt::white));
        EXPECT_EQ(quality->palette().color(QPalette::Base), QColor(Qt::black));
        auto* size = qobject_cast<QComboBox*>(o.Control(870));
        QStringList sizes;
        for (int i = 0; i < size->count(); ++i) sizes << size->itemText(i);
        EXPECT_EQ(sizes, QStringList({"Natural size", "Resize 90%", "Resize 80%", "Resize 70%",
                                      "Resize 60%", "Resize 50%"}));
        EXPECT_EQ(size->currentIndex(), 3);
        // Opening chose nothing; a choice goes straight into effect.
        EXPECT_EQ(MainList(d)->currentIndex(), 7);
        EXPECT_EQ(d.app.run.resizeChoice.load(), 3);
        Choose(quality, 0);  // "Default Quality" is the main list's "Default", not "1:"
        mainIndexes.push_back(MainList(d)->currentIndex());
        Choose(quality, 12);
        mainIndexes.push_back(MainList(d)->currentIndex());
        Choose(quality, 21);
        mainIndexes.push_back(MainList(d)->currentIndex());
        Choose(qobject_cast<QComboBox*>(o.Control(870)), 4);
        Click(o, 2004);
    });
    EXPECT_EQ(result, "");
    EXPECT_EQ(mainIndexes, (std::vector<int>{0, 12, 21}));
    EXPECT_EQ(MainList(d)->currentText(), "21:Min size");
    EXPECT_EQ(d.session->ui.CompressionLevel(), 21);  // what the next encoding reads
    EXPECT_EQ(d.app.run.resizeChoice.load(), 4);
    EXPECT_EQ(QualityLevelOf("7:"), 7);
    EXPECT_EQ(QualityLevelOf("Default Quality"), 0);
}

// "Select file path" opens the save chooser where the path points, with the
// four rectangular formats and the overwrite question. A name chosen there
// (the chooser adds ".flv") fills the text box and sets the output folder;
// a cancelled chooser keeps the path, which Save returns.
TEST(OutputOptionsDialog, TheChooserFillsTheTextBoxOrACancelKeepsThePath) {
    for (const bool choose : {false, true}) {
        SCOPED_TRACE(choose ? "chosen" : "cancelled");
        Desktop d;
        const std::string folder = d.dir + "/out folder \xC3\xBC";
        std::filesystem::create_directories(folder);
        const std::string path = folder + "/run one.flv";
        const std::string opathBefore = d.app.settings->OPATH;
        QFileDialog* chooser = nullptr;
        bool answered = false, confirmsOverwrite = false;
        QStringList filters;
        QString selected, start, suffix, shown;
        const std::string result = RunOptions(
            d, path,
            [&](OutputOptionsDialog& o) {
                Click(o, 100);
                // Back in the dialog once the chooser is gone, not merely hidden.
                auto* back = new QTimer(&o);
                QObject::connect(back, &QTimer::timeout, &o, [&o, back, &answered, &shown] {
                    if (!answered || QApplication::activeModalWidget() != &o || o.findChild<QFileDialog*>() != nullptr)
                        return;
                    back->stop();
                    shown = qobject_cast<QLineEdit*>(o.Control(101))->text();
                    Click(o, 2002);
                });
                back->start(20);
            },
            [&](QWidget* modal) {
                auto* dialog = qobject_cast<QFileDialog*>(modal);
                auto* name = dialog == nullptr ? nullptr : dialog->findChild<QLineEdit*>("fileNameEdit");
                if (name == nullptr || answered) return false;
                chooser = dialog;
                filters = dialog->nameFilters();
                selected = dialog->selectedNameFilter();
                start = dialog->directory().absolutePath();
                suffix = dialog->defaultSuffix();
                confirmsOverwrite = !dialog->testOption(QFileDialog::DontConfirmOverwrite) &&
                                    dialog->acceptMode() == QFileDialog::AcceptSave;
                EXPECT_EQ(dialog->windowTitle(), "Save Rectangular Video");
                EXPECT_EQ(dialog->parentWidget()->objectName(), "OutputOptions");
                answered = true;
                if (!choose) {
                    dialog->reject();
                    return true;
                }
                name->setText("new movie \xC3\xBC");
                QTimer::singleShot(0, dialog, [dialog] { static_cast<QDialog*>(dialog)->accept(); });
                return true;
            });
        ASSERT_NE(chooser, nullptr);
        const std::string chosen = choose ? folder + "/new movie \xC3\xBC.flv" : path;
        EXPECT_EQ(shown.toStdString(), chosen);
        EXPECT_EQ(result, chosen);
        EXPECT_EQ(d.session->app.settings.Copy().OPATH, choose ? folder : opathBefore);
        EXPECT_EQ(filters, QStringList({"Rectangular Video FLV video files (*.flv) (*.flv)",
                                        "Rectangular Video AVI 2.0 video files (*.AVI) (*.avi)",
                                        "Rectangular Video MOV video files (*.MOV) (*.mov)",
                                        "Rectangular Video MPG video files (*.MPG) (*.mpg)"}));
        EXPECT_EQ(selected.toStdString(), "Rectangular Video FLV video files (*.flv)");  // as shown
        EXPECT_EQ(start.toStdString(), folder);
        EXPECT_EQ(suffix, "flv");
        EXPECT_TRUE(confirmsOverwrite);
    }
}

// Key presses carrying each character (QTest's own typing knows ASCII only).
void TypeText(QWidget* target, const QString& text) {
    for (const QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QApplication::sendEvent(target, &press);
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QApplication::sendEvent(target, &release);
    }
}

TEST(OutputOptionsDialog, ATypedPathComesBackUnchangedTheCloseBoxGivesNothing) {
    Desktop d;
    const QString typed = QString::fromUtf8("/tmp/some dir/x \xC3\xBC.mkv");
    // Through the session's seam, as it asks once a run has returned.
    const std::string result = RunOptions(d, d.dir + "/first.flv", [typed](OutputOptionsDialog& o) {
        auto* edit = qobject_cast<QLineEdit*>(o.Control(101));
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Delete);
        TypeText(edit, typed);
        static_cast<QPushButton*>(o.Control(2002))->click();
    });
    EXPECT_EQ(result, typed.toStdString());

    // The close box: nothing, whatever the text box holds.
    EXPECT_EQ(RunOptions(d, d.dir + "/second.flv", [](OutputOptionsDialog& o) { o.close(); }), "");
}

}  // namespace
}  // namespace tessaly
