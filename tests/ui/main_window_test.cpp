// The main window on the offscreen platform: layout, menus, accelerators,
// and the command handler driven through real clicks.
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QShortcut>
#include <QSlider>
#include <QTextBrowser>
#include <QTimer>

#include <algorithm>
#include <set>

#include "app/parameter_file.h"
#include "convert/conversion_driver.h"
#include "tests/ui/ui_test_support.h"
#include "ui/guide_viewer.h"
#include "ui/image_button.h"
#include "ui/output_window.h"
#include "ui/position_bar.h"
#include "ui/preview_panel.h"

namespace tessaly {
namespace {

using testing::Desktop;
using testing::ModalAnswerer;
using testing::WaitUntil;

TEST(MainWindowLayout, ControlsSitAtTheirRectanglesWithTheirCaptions) {
    Desktop d;
    MainWindow& w = *d.window;
    EXPECT_EQ(w.Client()->size(), QSize(1010, 650));
    EXPECT_EQ(w.windowTitle().toStdString(), "The mono side Fisheye video converter  v3.0 Build 051.01");
    EXPECT_EQ(w.minimumSize(), w.maximumSize());  // fixed size

    const struct { int id; QRect rect; const char* text; } controls[] = {
        {3011, {5, 607, 600, 14}, ""},           {2007, {5, 5, 600, 600}, nullptr},
        {2008, {5, 824, 500, 480}, nullptr},      {3900, {620, 47, 21, 20}, nullptr},
        {3901, {664, 47, 21, 20}, nullptr},       {3902, {642, 26, 21, 20}, nullptr},
        {3903, {642, 68, 21, 20}, nullptr},       {3904, {642, 47, 21, 20}, nullptr},
        {3907, {620, 26, 21, 20}, nullptr},       {3908, {664, 26, 21, 20}, nullptr},
        {599, {740, 81, 153, 18}, " Auto saving a parameters"},
        {202, {690, 63, 50, 17}, " ZoomL"},       {221, {843, 45, 50, 17}, " Y-size"},
        {302, {741, 63, 50, 17}, nullptr},        {206, {620, 174, 80, 17}, " Num of frames:"},
        {331, {610, 3, 395, 105}, " Cut controls "}, {332, {610, 405, 395, 120}, " Input-Output controls: "},
        {115, {620, 209, 171, 18}, " Fix aspect ratio PARxDAR"},
        {208, {620, 296, 111, 18}, " Sharpen"},  {571, {620, 376, 161, 18}, " CPU usage"},
        {555, {790, 377, 24, 15}, "Min."},        {530, {910, 377, 24, 15}, "Max."},
        {585, {938, 375, 42, 18}, "Reset"},       {590, {731, 296, 50, 18}, nullptr},
        {570, {815, 376, 90, 18}, nullptr},       {303, {701, 120, 295, 17}, nullptr},
        {409, {701, 246, 90, 17}, nullptr},       {100, {800, 143, 140, 23}, nullptr},
        {104, {800, 239, 140, 23}, nullptr},      {110, {900, 25, 100, 22}, nullptr},
        {111, {620, 427, 150, 17}, "Set path for temporary Stream"},
        {112, {620, 447, 375, 17}, nullptr},      {512, {620, 489, 160, 18}, "Show output video"},
        {892, {800, 488, 195, 18}, "TEMP: On - Jpg, Off - BMP format"},
        {214, {900, 53, 98, 15}, "Output compression"},
    };
    for (const auto& c : controls) {
        QWidget* control = w.Control(c.id);
        ASSERT_NE(control, nullptr) << c.id;
        EXPECT_EQ(control->geometry(), c.rect) << c.id;
        if (c.text == nullptr) continue;
        QString text;
        if (auto* label = qobject_cast<QLabel*>(control)) text = label->text();
        if (auto* button = qobject_cast<QAbstractButton*>(control)) text = button->text();
        if (auto* group = qobject_cast<QGroupBox*>(control)) text = group->title();
        EXPECT_EQ(text.toStdString(), c.text) << c.id;
    }
    // Tab order is creation order: the arrows before the check box 599.
    EXPECT_EQ(w.Control(3900)->nextInFocusChain(), w.Control(3901));
}

TEST(MainWindowLayout, MenusAcceleratorsSlidersListAndTips) {
    Desktop d;
    MainWindow& w = *d.window;
    const struct { int id; const char* text; } items[] = {
        {100, "Load Fisheye Movie\tCtrl + L"}, {101, "Play/Pause Video"},
        {104, "Convert Fisheye\tCtrl + C"},    {810, "Popup Output Window\tCtrl + O"},
        {597, "File Information"},             {107, "Exit\tAlt + F4"},
        {599, "Auto saving a parameters"},     {102, "Save parameters\tCtrl + S"},
        {111, "Set path for temporary Stream"}, {110, "Help\tF1"},
        {902, "Quennet Web Site"},             {103, "About"},
    };
    for (const auto& i : items) {
        ASSERT_NE(w.MenuItem(i.id), nullptr) << i.id;
        EXPECT_EQ(w.MenuItem(i.id)->text().toStdString(), i.text);
    }
    QStringList menus;
    for (QAction* a : w.menuBar()->actions()) menus << a->text();
    EXPECT_EQ(menus, QStringList({"&File", "&Option", "&Stereo", "&Help"}));
    EXPECT_TRUE(w.MenuItem(599)->isChecked());

    QStringList keys;
    for (QShortcut* s : w.findChildren<QShortcut*>()) keys << s->key().toString();
    keys.sort();
    EXPECT_EQ(keys,
              QStringList({"Ctrl+C", "Ctrl+F", "Ctrl+L", "Ctrl+O", "Ctrl+S", "Ctrl+Shift+A", "Ctrl+Shift+L", "F1"}));

    const struct { int id, min, max, page; const char* tip; } bars[] = {
        {518, 0, 5, 1, " Sharpen Amount "},     {590, 0, 3, 1, " Sharpen Radius Value "},
        {520, 0, 255, 8, " Brightness Amount "}, {519, 0, 255, 8, " Contrast Value "},
        {572, 1, 5, 1, " Noise Median Value "}, {570, 50, 100, 8, " CPU usage Value "},
    };
    for (const auto& b : bars) {
        auto* s = qobject_cast<QSlider*>(w.Control(b.id));
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(s->minimum(), b.min);
        EXPECT_EQ(s->maximum(), b.max);
        EXPECT_EQ(s->pageStep(), b.page);
        EXPECT_EQ(s->toolTip().toStdString(), b.tip);
    }
    EXPECT_EQ(w.Control(3907)->toolTip().toStdString(), " Increase the size of External circle ");
    EXPECT_EQ(w.Control(573)->toolTip().toStdString(), " Noise Median control - On/Off ");

    auto* list = qobject_cast<QComboBox*>(w.Control(213));
    ASSERT_EQ(list->count(), 22);
    EXPECT_EQ(list->itemText(0), "Default");
    EXPECT_EQ(list->itemText(1), "1:Max size");
    EXPECT_EQ(list->itemText(12), "12:");
    EXPECT_EQ(list->itemText(21), "21:Min size");
    EXPECT_EQ(list->currentIndex(), 0);
    list->setCurrentIndex(5);
    EXPECT_EQ(d.session->ui.CompressionLevel(), 5);
}

// The bar's width for a playing movie's ticks and a run's frames: 598 * done
// / total, half to even, within 0..598; the rest mark 1 with no length, 0 for
// a run without a frame count.
TEST(PositionBar, WidthsOfPlaybackTicksAndRunFrames) {
    // 598 * 5 / 2392 = 1.25 -> 1, 1.5 -> 2, 2.5 -> 2; 598 / 4 = 149.5 -> 150.
    const struct { MoviePosition at; int32_t width; } bars[] = {
        {{0, 1000}, 0},   {{1000, 1000}, 598}, {{500, 1000}, 299}, {{5, 2392}, 1},     {{6, 2392}, 2},
        {{10, 2392}, 2},  {{2000, 1000}, 598}, {{-5, 1000}, 0},    {{500, 0}, 1},      {kNoPosition, 1},
        {ConversionPosition(150, 300), 299},   {ConversionPosition(1, 4), 150},        {ConversionPosition(450, 300), 598},
        {ConversionPosition(10, 0), 0},        {kMovieStart, 0},
    };
    for (const auto& b : bars) EXPECT_EQ(PositionBarWidth(b.at), b.width) << b.at.done << "/" << b.at.total;
}

// Clicks on the cut buttons reach the cut and its labels; a held arrow
// repeats, and only while the input is shown.
TEST(MainWindowCommands, CutButtonsAndAHeldArrowWithTheInputShown) {
    Desktop d;
    MainWindow& w = *d.window;
    d.app.run.streamState = StreamState::Running;
    for (int i = 0; i < 3; ++i) QTest::mouseClick(w.Control(3907), Qt::LeftButton);
    EXPECT_EQ(d.Label(302), "633");
    EXPECT_EQ(d.Label(300), "-11");
    QTest::mouseClick(w.Control(3908), Qt::LeftButton);
    EXPECT_EQ(d.Label(310), "620");
    QTest::mouseClick(w.Control(3904), Qt::LeftButton);
    EXPECT_EQ(d.Label(302), "624");
    auto hold = [&](int id, int ms) {
        QTest::mousePress(w.Control(id), Qt::LeftButton);
        QTest::qWait(ms);
        QTest::mouseRelease(w.Control(id), Qt::LeftButton);
        QTest::qWait(60);
    };
    hold(3900, 1000);
    // One at once, one after 150 ms, then one every 50 ms: about 19.
    const int moved = -8 - d.app.settings->XL1;
    EXPECT_GE(moved, 10);  // a slow (sanitizer) build loses some 50-ms turns
    EXPECT_LE(moved, 21);
    EXPECT_EQ(d.app.settings->XL2 - d.app.settings->XL1, 624);
    EXPECT_EQ(d.Label(300).toInt(), d.app.settings->XL1);

    const int32_t yl1 = d.app.settings->YL1, yl2 = d.app.settings->YL2;
    hold(3902, 100);  // up: the cut grows vertically
    EXPECT_LT(d.app.settings->YL1, yl1);
    EXPECT_GT(d.app.settings->YL2, yl2);

    QTest::mouseClick(w.Control(511), Qt::LeftButton);  // hide the input
    ASSERT_FALSE(d.app.run.showInputVideo);
    const AppSettings before = *d.app.settings;
    hold(3900, 1000);
    EXPECT_EQ(*d.app.settings, before);
}

// Auto saving agrees from menu and box; the VR marking is on for every
// session and not saved with the parameters.
TEST(MainWindowCommands, AutoSavingAgreesFromMenuAndBoxTheVrMarkingIsNotSaved) {
    Desktop d;
    MainWindow& w = *d.window;
    auto* box = static_cast<QCheckBox*>(w.Control(599));
    QAction* item = w.MenuItem(599);
    const struct { bool fromMenu; int expected; } steps[] = {{true, 0}, {false, 1}, {false, 0}, {true, 1}, {true, 0}};
    for (const auto& s : steps) {
        if (s.fromMenu) {
            item->trigger();
        } else {
            QTest::mouseClick(box, Qt::LeftButton);
        }
        EXPECT_EQ(d.app.settings->AUTOSAVE, s.expected);
        EXPECT_EQ(box->isChecked(), s.expected == 1);
        EXPECT_EQ(item->isChecked(), s.expected == 1);
    }
    QAction* vr = d.window->MenuItem(kMarkVrMenuItem);
    ASSERT_NE(vr, nullptr);
    EXPECT_EQ(vr->text().toStdString(), "Mark output as 180\u00b0 VR video");
    EXPECT_TRUE(vr->isChecked());
    const std::string saved = SerializeParameters(*d.app.settings, d.app.env.screen);
    for (int expected : {0, 1, 0}) {
        vr->trigger();
        EXPECT_EQ(d.app.run.markVrOutput.load(), expected == 1);
        EXPECT_EQ(vr->isChecked(), expected == 1);
    }
    EXPECT_EQ(SerializeParameters(*d.app.settings, d.app.env.screen), saved);
}

TEST(MainWindowCommands, SwitchesResetsAndTheAspectWarning) {
    Desktop d;
    MainWindow& w = *d.window;
    std::vector<std::string> warnings;
    ModalAnswerer answer([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (box == nullptr) return false;
        warnings.push_back(box->windowTitle().toStdString() + "|" + box->text().toStdString());
        box->accept();
        return true;
    });
    auto* aspect = static_cast<QCheckBox*>(w.Control(115));
    for (int i = 0; i < 4; ++i) QTest::mouseClick(aspect, Qt::LeftButton);  // on, off, on, off
    EXPECT_EQ(d.app.settings->ASPECT, 0);
    ASSERT_EQ(warnings.size(), 2u);
    EXPECT_EQ(warnings[0],
              "Warning !|Fix aspect ratio PARxDAR\nUse the option only, if a frame of image is stretched.");

    // Each switch and trackbar stores its own field and nothing else.
    const struct { int id; int32_t AppSettings::*field; int32_t position; } stores[] = {
        {208, &AppSettings::SHARPEN_CH, -1}, {523, &AppSettings::BRIGHTNESS_CH, -1},
        {522, &AppSettings::CONTRAST_CH, -1}, {571, &AppSettings::CPU_CH, -1},
        {573, &AppSettings::NOISE_CH, -1},  {518, &AppSettings::SHARPEN, 4},
        {590, &AppSettings::RADIUS, 2},      {520, &AppSettings::BRIGHTNESS, 200},
        {519, &AppSettings::CONTRAST, 31},   {572, &AppSettings::NOISE, 5},
        {570, &AppSettings::CPU, 63},
    };
    for (const auto& c : stores) {
        AppSettings expected = d.app.settings.Copy();
        auto* box = qobject_cast<QCheckBox*>(w.Control(c.id));
        if (box != nullptr) {
            expected.*c.field = 1 - expected.*c.field;
            QTest::mouseClick(box, Qt::LeftButton);
            EXPECT_EQ(box->palette().color(QPalette::WindowText), box->isChecked() ? QColor(Qt::white) : QColor(Qt::black));
        } else {
            expected.*c.field = c.position;
            static_cast<QSlider*>(w.Control(c.id))->setValue(c.position);
        }
        EXPECT_EQ(d.app.settings.Copy(), expected) << c.id;
    }

    // Each Reset stores its row's values and its sliders follow, also where
    // a slider already shows the value: the noise slider at 1 while a first
    // run's NOISE is 0.
    static_cast<QSlider*>(w.Control(572))->setValue(1);
    d.session->app.settings.Change([](AppSettings& s) { s.NOISE = 0; });
    const struct { int reset; std::vector<std::pair<int, int32_t>> sliders; } resets[] = {
        {581, {{518, 1}, {590, 0}}}, {582, {{520, 127}}}, {583, {{519, 127}}}, {584, {{572, 1}}}, {585, {{570, 100}}},
    };
    auto fieldOf = [&stores](int id) {
        return std::find_if(std::begin(stores), std::end(stores), [id](const auto& c) { return c.id == id; })->field;
    };
    for (const auto& r : resets) {
        QTest::mouseClick(w.Control(r.reset), Qt::LeftButton);
        for (const auto& [slider, value] : r.sliders) {
            EXPECT_EQ(static_cast<QSlider*>(w.Control(slider))->value(), value) << r.reset;
            EXPECT_EQ(d.app.settings.Copy().*fieldOf(slider), value) << r.reset;
        }
    }

    QTest::mouseClick(w.Control(892), Qt::LeftButton);
    EXPECT_EQ(d.app.run.tempFormat, StillFormat::Jpeg);
    QTest::mouseClick(w.Control(3220), Qt::LeftButton);
    EXPECT_TRUE(d.app.run.horizontalFlip);
}

TEST(MainWindowCommands, TheConversionLockGreysExactlyItsItems) {
    Desktop d;
    MainWindow& w = *d.window;
    w.SetConversionLock(0);
    const std::set<int> lockedControls = {3900, 3901, 3902, 3903, 3904, 3907, 3908, 100, 102, 104, 101, 892, 111};
    const std::set<int> lockedItems = {100, 102, 111, 104, 101};
    for (int id : {3900, 3901, 3902, 3903, 3904, 3907, 3908, 100, 101, 102, 103, 104, 110, 111, 892, 599, 115,
                   208, 523, 522, 573, 571, 581, 585, 518, 590, 520, 519, 572, 570, 511, 512, 3220, 213})
        EXPECT_EQ(w.Control(id)->isEnabled(), lockedControls.count(id) == 0) << id;
    for (int id : {100, 101, 104, 810, 597, 107, 599, 102, 111, 110, 902, 103})
        EXPECT_EQ(w.MenuItem(id)->isEnabled(), lockedItems.count(id) == 0) << id;
    w.SetConversionLock(1);
    for (int id : lockedControls) EXPECT_TRUE(w.Control(id)->isEnabled()) << id;
    for (int id : lockedItems) EXPECT_TRUE(w.MenuItem(id)->isEnabled()) << id;
}

TEST(MainWindowCommands, OutputWindowHelpLinksAndFolder) {
    Desktop d;
    MainWindow& w = *d.window;
    w.OpenOutputWindow();
    ASSERT_NE(w.Output(), nullptr);
    EXPECT_EQ(w.Output()->windowTitle(), "Output 360 stream");
    EXPECT_EQ(w.Output()->size(), QSize(500, 480));
    EXPECT_EQ(w.OutputPanel(), w.Output()->findChild<PreviewPanel*>("id_100"));
    w.Output()->close();  // its close box clears "Show output video"
    EXPECT_EQ(w.Output(), nullptr);
    EXPECT_FALSE(static_cast<QCheckBox*>(w.Control(512))->isChecked());
    EXPECT_TRUE(d.app.run.showOutputVideo);
    w.MenuItem(810)->trigger();
    EXPECT_NE(w.Output(), nullptr);

    QApplication::setActiveWindow(&w);
    QTest::keyClick(&w, Qt::Key_F1);
    w.MenuItem(902)->trigger();
    ASSERT_EQ(d.opened.size(), 2u);
    EXPECT_EQ(d.opened[0].toLocalFile().toStdString(), d.dir + "/Tessaly.pdf");
    EXPECT_EQ(d.opened[1].toLocalFile().toStdString(), d.dir + "/Tessaly.html");

    // The accelerators work over the output window too.
    w.OpenOutputWindow();
    ASSERT_NE(w.Output(), nullptr);
    QApplication::setActiveWindow(w.Output());
    ASSERT_EQ(QApplication::activeWindow(), w.Output());
    QTest::keyClick(w.Output(), Qt::Key_F1);
    ASSERT_EQ(d.opened.size(), 3u);
    EXPECT_EQ(d.opened[2].toLocalFile().toStdString(), d.dir + "/Tessaly.pdf");
    w.EndOutputWindow();

    // Cancelling the folder chooser falls back to the program folder.
    ModalAnswerer cancel([](QWidget* modal) {
        if (qobject_cast<QFileDialog*>(modal) == nullptr) return false;
        static_cast<QFileDialog*>(modal)->reject();
        return true;
    });
    w.MenuItem(111)->trigger();
    EXPECT_EQ(d.app.settings->APATH, d.dir);
    EXPECT_EQ(d.Label(112).toStdString(), " " + d.dir);
}

// Where no program opens the guide, the program shows it itself; where the
// guide is missing too, or no mail program starts, a message says so.
TEST(MainWindowCommands, HelpFallsBackToTheProgramsOwnViewer) {
    Desktop d;
    MainWindow& w = *d.window;
    std::vector<QUrl> asked;
    d.session->openUrl = [&](const QUrl& url) {
        asked.push_back(url);
        return false;  // no launcher on this desktop
    };
    QStringList messages;
    ModalAnswerer answer([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (box == nullptr) return false;
        messages << box->text();
        box->accept();
        return true;
    });
    // No guide beside this program yet: said, not silent.
    w.MenuItem(110)->trigger();
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains("Tessaly.pdf")) << messages[0].toStdString();

    std::filesystem::copy_file(std::string(TESSALY_BINARY_DIR) + "/ui/Tessaly.html", d.dir + "/Tessaly.html");
    w.MenuItem(110)->trigger();
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[1].toLocalFile().toStdString(), d.dir + "/Tessaly.pdf");
    EXPECT_EQ(messages.size(), 1);
    auto shownViewer = [] {
        QWidget* viewer = nullptr;
        for (QWidget* top : QApplication::topLevelWidgets())
            if (top->objectName() == "GuideViewer" && top->isVisible()) viewer = top;
        return viewer;
    };
    QWidget* viewer = shownViewer();
    ASSERT_NE(viewer, nullptr);
    EXPECT_EQ(viewer->windowTitle(), kGuideViewerTitle);
    auto* browser = viewer->findChild<QTextBrowser*>();
    ASSERT_NE(browser, nullptr);
    EXPECT_TRUE(browser->toPlainText().contains("tessaly-convert"));
    // Clear of the main window's menu bar; a Close button and Esc close it.
    const QRect menu(w.menuBar()->mapToGlobal(QPoint(0, 0)), w.menuBar()->size());
    EXPECT_FALSE(viewer->frameGeometry().intersects(menu));
    auto* buttons = viewer->findChild<QDialogButtonBox*>();
    ASSERT_NE(buttons, nullptr);
    ASSERT_NE(buttons->button(QDialogButtonBox::Close), nullptr);
    QTest::keyClick(browser, Qt::Key_Escape);
    EXPECT_FALSE(viewer->isVisible());
    w.MenuItem(110)->trigger();
    viewer = shownViewer();
    ASSERT_NE(viewer, nullptr);
    viewer->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Close)->click();
    EXPECT_FALSE(viewer->isVisible());

    EXPECT_EQ(HtmlGuideFor(QUrl("file:///g/Tessaly.pdf#troubleshooting")), QUrl("file:///g/Tessaly.html#troubleshooting"));
    EXPECT_TRUE(HtmlGuideFor(QUrl("mailto:help@example.org")).isEmpty());
    EXPECT_EQ(SupportLink("help@example.org"), QUrl("mailto:help@example.org"));
    EXPECT_EQ(SupportLink(" https://example.org/help "), QUrl("https://example.org/help"));
    EXPECT_TRUE(SupportLink("").isEmpty());
    OpenLink(*d.session, SupportLink("help@example.org"), &w);
    ASSERT_EQ(messages.size(), 2);
    EXPECT_TRUE(messages[1].contains("help@example.org")) << messages[1].toStdString();
}

// Where the guide window and a first output window go: beside the main
// window where the screen has room, else clear of the menu bar and the input
// preview (the main window at 0,0 with its 600-pixel preview at 0,40).
TEST(WindowPlaces, GuideAndOutputWindowsLeaveTheMenuAndThePreviewFree) {
    const QRect main(0, 0, 1010, 680), preview(0, 40, 600, 600);
    const QSize guide(776, 600), output(516, 520);
    const struct { QRect screen; QPoint guide, output; } cases[] = {
        {QRect(0, 0, 1920, 1080), {1018, 0}, {1018, 0}},
        {QRect(0, 0, 1280, 1024), {40, 38}, {608, 0}},
        {QRect(0, 0, 1024, 768), {40, 38}, {508, 0}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(GuideViewerPosition(main, 30, guide, c.screen), c.guide) << c.screen.width();
        const QPoint out = DefaultOutputWindowPosition(main, preview, output, c.screen);
        EXPECT_EQ(out, c.output) << c.screen.width();
        EXPECT_TRUE(c.screen.contains(QRect(out, output))) << c.screen.width();
        EXPECT_EQ(QRect(out, output).intersects(preview), c.screen.width() < 1100) << c.screen.width();
    }
}

// About opened while a run ends (its end closes the main window): the box
// goes with the window, so the program does not wait for Esc.
TEST(MainWindowEnd, AnOpenAboutBoxEndsWithTheWindow) {
    Desktop d;
    bool ended = false, aboutGone = false;
    d.window->onEnded = [&ended] { ended = true; };
    QTimer::singleShot(0, d.window.get(), [&] {
        auto about = [] {
            QWidget* modal = QApplication::activeModalWidget();
            return modal != nullptr && modal->windowTitle() == "About" ? modal : nullptr;
        };
        if (!WaitUntil([&] { return about() != nullptr; }, 10000)) return;
        QPointer<QWidget> box = about();
        d.window->EndWindow();
        aboutGone = WaitUntil([&] { return box == nullptr || !box->isVisible(); }, 5000);
        if (box != nullptr && box->isVisible()) static_cast<QDialog*>(box.data())->reject();
    });
    d.window->Command(103);  // returns when the box has closed
    EXPECT_TRUE(ended);
    EXPECT_TRUE(aboutGone);
}

TEST(UserGuide, BuiltBesideTheProgram) {
    const std::string dir = std::string(TESSALY_BINARY_DIR) + "/ui/";
    const std::string pdf = testing::ReadFile(dir + "Tessaly.pdf");
    ASSERT_GT(pdf.size(), 10000u);
    EXPECT_EQ(pdf.substr(0, 5), "%PDF-");
    const std::string html = testing::ReadFile(dir + "Tessaly.html");
    EXPECT_NE(html.find("name=\"troubleshooting\""), std::string::npos);
    EXPECT_NE(html.find("tessaly-convert"), std::string::npos);
}

}  // namespace
}  // namespace tessaly
