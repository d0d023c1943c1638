// The "Lens" dialog driven through its real widgets: opened from the Option
// menu and its accelerator, each control changing the lens and nothing else,
// Reset, the lenses it refuses, the lock of a conversion, a calibrated
// profile chosen from its list, and the rim in the input preview following
// the cut while the movie is paused.
#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QLineEdit>
#include <QSlider>
#include <QTreeWidget>

#include <cmath>
#include <numbers>

#include "app/parameter_file.h"
#include "convert/movie_job_file.h"
#include "tests/ui/rim_pixels.h"
#include "tests/ui/ui_test_support.h"
#include "ui/control_ids.h"
#include "ui/image_button.h"
#include "ui/lens_dialog.h"
#include "ui/lens_rim.h"
#include "ui/preview_panel.h"

namespace tessaly {
namespace {

using testing::Desktop;
using testing::FfmpegClip;
using testing::FisheyeClip;
using testing::WaitUntil;

LensDialog* OpenDialog(Desktop& d) {
    d.window->MenuItem(kLensMenuItem)->trigger();
    return d.window->Lens();
}

// Types `value` into a spin box as a user would (in the box's own locale)
// and confirms it with Enter.
void Type(QDoubleSpinBox* box, double value) {
    box->setFocus();
    box->selectAll();
    QTest::keyClicks(box, box->locale().toString(value, 'f', 1));
    QTest::keyClick(box, Qt::Key_Return);
}

TEST(LensDialog, OpensFromTheOptionMenuAndItsAccelerator) {
    Desktop d;
    MainWindow& w = *d.window;
    QAction* item = w.MenuItem(kLensMenuItem);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->text().toStdString(), "Lens...\tCtrl + Shift + L");
    QMenu* option = w.menuBar()->actions().at(1)->menu();
    ASSERT_NE(option, nullptr);
    EXPECT_TRUE(option->actions().contains(item));
    EXPECT_EQ(w.Lens(), nullptr);
    EXPECT_FALSE(d.session->painter.HorizonShown());

    LensDialog* dialog = OpenDialog(d);
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_FALSE(dialog->isModal());
    EXPECT_EQ(dialog->windowTitle(), "Lens");
    EXPECT_EQ(dialog->Model()->count(), 4);
    QStringList models;
    for (int i = 0; i < dialog->Model()->count(); ++i) models << dialog->Model()->itemText(i);
    EXPECT_EQ(models, QStringList({"equidistant", "equisolid", "stereographic", "orthographic"}));
    // The defaults are shown; the levelling lines are drawn while it is open.
    EXPECT_EQ(dialog->Fov()->value(), 180.0);
    EXPECT_EQ(dialog->Yaw()->value(), 0.0);
    EXPECT_TRUE(d.session->painter.HorizonShown());

    dialog->findChild<QPushButton*>("lensClose")->click();
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_FALSE(d.session->painter.HorizonShown());

    QApplication::setActiveWindow(&w);
    QTest::keyClick(&w, Qt::Key_L, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(w.Lens(), dialog);  // the same dialog again
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_TRUE(d.session->painter.HorizonShown());
    dialog->close();
    EXPECT_FALSE(d.session->painter.HorizonShown());
}

TEST(LensDialog, EachControlChangesTheLensAndNothingElse) {
    Desktop d;
    LensDialog* dialog = OpenDialog(d);
    ASSERT_NE(dialog, nullptr);
    AppSettings expected = d.session->app.settings.Copy();

    QTest::keyClick(dialog->Model(), Qt::Key_Down);
    expected.lens.model = LensModel::kEquisolid;
    EXPECT_EQ(d.session->app.settings.Copy(), expected);

    Type(dialog->Fov(), 195.5);
    expected.lens.fov = 195.5;
    EXPECT_EQ(d.session->app.settings.Copy(), expected);

    // The yaw slider in half degrees: three steps and a page of five degrees.
    for (int i = 0; i < 3; ++i) QTest::keyClick(dialog->YawSlider(), Qt::Key_Right);
    QTest::keyClick(dialog->YawSlider(), Qt::Key_PageUp);
    expected.lens.yaw = 6.5;
    EXPECT_EQ(d.session->app.settings.Copy(), expected);
    EXPECT_EQ(dialog->Yaw()->value(), 6.5);

    // The pitch box's arrows step half a degree; its slider follows.
    QTest::keyClick(dialog->Pitch(), Qt::Key_Down);
    QTest::keyClick(dialog->Pitch(), Qt::Key_Down);
    expected.lens.pitch = -1.0;
    EXPECT_EQ(d.session->app.settings.Copy(), expected);
    EXPECT_EQ(dialog->PitchSlider()->value(), -2);

    Type(dialog->Roll(), -12.5);
    expected.lens.roll = -12.5;
    EXPECT_EQ(d.session->app.settings.Copy(), expected);
    EXPECT_EQ(dialog->RollSlider()->value(), -25);
    EXPECT_TRUE(dialog->Status().isEmpty());

    // Reset: the equidistant 180-degree lens, level, in the settings and the
    // controls, as one change through the desktop's commands.
    QSignalSpy changes(d.session.get(), &DesktopSession::settingsChanged);
    QTest::mouseClick(dialog->ResetButton(), Qt::LeftButton);
    EXPECT_EQ(changes.count(), 1);
    expected.lens = LensSettings{};
    EXPECT_EQ(d.session->app.settings.Copy(), expected);
    EXPECT_EQ(dialog->Model()->currentIndex(), 0);
    EXPECT_EQ(dialog->Fov()->value(), 180.0);
    EXPECT_EQ(dialog->Roll()->value(), 0.0);
    EXPECT_EQ(dialog->RollSlider()->value(), 0);
    EXPECT_EQ(dialog->YawSlider()->value(), 0);
}

TEST(LensDialog, ImpossibleLensesCannotBeEnteredOrAreRefused) {
    Desktop d;
    LensDialog* dialog = OpenDialog(d);
    ASSERT_NE(dialog, nullptr);

    // Beyond the range: the box keeps within 90..280.
    Type(dialog->Fov(), 300.0);
    EXPECT_LE(d.session->app.settings.Copy().lens.fov, 280.0);
    Type(dialog->Fov(), 45.0);
    EXPECT_GE(d.session->app.settings.Copy().lens.fov, 90.0);
    EXPECT_TRUE(LensProblem(d.session->app.settings.Copy().lens).empty());

    // An orthographic lens sees at most 180 degrees: with 200 set, choosing
    // it is refused and says why.
    Type(dialog->Fov(), 200.0);
    ASSERT_EQ(d.session->app.settings.Copy().lens.fov, 200.0);
    dialog->Model()->setFocus();
    QSignalSpy changes(d.session.get(), &DesktopSession::settingsChanged);
    QTest::keyClick(dialog->Model(), Qt::Key_End);
    EXPECT_EQ(changes.count(), 0);
    EXPECT_EQ(d.session->app.settings.Copy().lens.model, LensModel::kEquidistant);
    EXPECT_EQ(dialog->Model()->currentIndex(), 0);
    EXPECT_TRUE(dialog->Status().contains("orthographic")) << dialog->Status().toStdString();
    EXPECT_EQ(d.session->app.settings.Copy().lens.fov, 200.0);

    // At 170 it is taken, and the box then stops at 180.
    Type(dialog->Fov(), 170.0);
    EXPECT_TRUE(dialog->Status().isEmpty());
    QTest::keyClick(dialog->Model(), Qt::Key_End);
    EXPECT_EQ(d.session->app.settings.Copy().lens.model, LensModel::kOrthographic);
    EXPECT_EQ(dialog->Fov()->maximum(), 180.0);
    Type(dialog->Fov(), 250.0);
    EXPECT_LE(d.session->app.settings.Copy().lens.fov, 180.0);
    EXPECT_TRUE(LensProblem(d.session->app.settings.Copy().lens).empty());

    // While a conversion holds the geometry the controls are locked, and a
    // change that still arrives is refused.
    const AppSettings before = d.session->app.settings.Copy();
    d.window->SetConversionLock(0);
    EXPECT_TRUE(dialog->Locked());
    EXPECT_FALSE(dialog->Model()->isEnabled());
    EXPECT_FALSE(dialog->Fov()->isEnabled());
    EXPECT_FALSE(dialog->YawSlider()->isEnabled());
    EXPECT_FALSE(dialog->ResetButton()->isEnabled());
    dialog->Roll()->setValue(10.0);
    EXPECT_EQ(d.session->app.settings.Copy(), before);
    EXPECT_EQ(dialog->Roll()->value(), before.lens.roll);
    EXPECT_FALSE(dialog->Status().isEmpty());
    d.window->SetConversionLock(1);
    EXPECT_FALSE(dialog->Locked());
    EXPECT_TRUE(dialog->Roll()->isEnabled());
    dialog->Roll()->setValue(10.0);
    EXPECT_EQ(d.session->app.settings.Copy().lens.roll, 10.0);
}

// The output picture once two more preview passes have drawn it.
QImage NextOutput(Desktop& d) {
    const int64_t passes = d.session->previewPasses.load();
    EXPECT_TRUE(WaitUntil([&] { return d.session->previewPasses.load() >= passes + 2; }));
    return d.window->OutputPanel()->Image();
}

// "Save job..." in the File menu: the output's chooser, then the job file's.
void SaveJobFromMenu(Desktop& d, const std::string& jobPath, const std::string& output) {
    testing::ModalAnswerer answerer([&](QWidget* modal) {
        auto* chooser = qobject_cast<QFileDialog*>(modal);
        if (chooser == nullptr || chooser->property("answered").toBool()) return false;
        chooser->setProperty("answered", true);
        testing::FillChooser(chooser, chooser->windowTitle() == "Save job" ? jobPath : output);
        return true;
    });
    d.window->MenuItem(control::kSaveJob)->trigger();
    ASSERT_TRUE(WaitUntil([&] { return std::filesystem::exists(jobPath); }));
}

// A profile searched for and chosen in the list corrects the output picture
// beyond its ideal projection and is kept by the parameter file and by the
// job that "Save job..." writes; a profile the database cannot give is
// refused; a parameter file without the profile's tag loads with none.
TEST(LensDialog, AProfileFromTheListCorrectsThePreviewAndIsKept) {
    Desktop d;
    d.session->StartLoadWorker(FisheyeClip("fish-2s.mp4"));
    ASSERT_TRUE(WaitUntil([&] { return d.session->source.videoOpen.load() == 1 && d.session->previewPasses.load() > 2; }));
    d.window->Command(101);  // paused: only a change of the lens changes the picture
    d.window->OpenOutputWindow();
    LensDialog* dialog = OpenDialog(d);
    ASSERT_NE(dialog, nullptr);
    QTest::keyClick(dialog->Model(), Qt::Key_Down);  // the ideal equisolid lens
    const QImage ideal = NextOutput(d);

    QTest::keyClicks(dialog->Search(), "sigma");
    const char* kSigma = "Sigma 8mm f/3.5 EX DG Circular";
    QTreeWidget* list = dialog->Profiles();
    QTreeWidgetItem* sigma = nullptr;
    int shown = 0;
    for (int i = 1; i < list->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = list->topLevelItem(i);
        if (item->data(0, Qt::UserRole).toString() == kSigma) sigma = item;
        if (item->isHidden()) continue;
        ++shown;
        EXPECT_EQ(item->text(0), "Sigma");
    }
    EXPECT_GE(shown, 3);
    ASSERT_NE(sigma, nullptr);
    EXPECT_EQ(sigma->text(2), "equisolid");
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(sigma).center());
    EXPECT_EQ(d.app.settings.Copy().lens.profile.lens, kSigma);
    EXPECT_FALSE(dialog->Model()->isEnabled());
    EXPECT_FALSE(dialog->Focal()->isEnabled());   // one focal length
    EXPECT_TRUE(dialog->Aperture()->isEnabled());  // calibrated for vignetting
    EXPECT_TRUE(dialog->ProfileInfo().contains("vignetting corrected")) << dialog->ProfileInfo().toStdString();
    EXPECT_NE(NextOutput(d), ideal);

    for (const auto& [camera, known] : {std::pair{"Nokon Z99", false}, {"Canon EOS 5D Mark III", true}}) {
        dialog->Camera()->setFocus();
        dialog->Camera()->selectAll();
        QTest::keyClicks(dialog->Camera(), camera);
        QTest::keyClick(dialog->Camera(), Qt::Key_Return);
        EXPECT_EQ(dialog->Status().contains("camera"), !known) << camera;
    }
    Type(dialog->CropFactor(), 1.5);  // given, it counts instead of the camera's
    LensSettings lens = d.app.settings.Copy().lens;
    EXPECT_EQ(lens.model, LensModel::kEquisolid);
    EXPECT_EQ(lens.profile.camera, "Canon EOS 5D Mark III");
    EXPECT_EQ(lens.profile.cropFactor, 1.5);

    ASSERT_TRUE(d.session->commands.SaveParameters());
    std::string ini = testing::ReadFile(d.app.env.iniPath);
    const std::string tag = "<LENS_PROFILE>" + std::string(kSigma) + "|Canon EOS 5D Mark III|1.5|0|0</LENS_PROFILE>\r\n";
    ASSERT_NE(ini.find(tag), std::string::npos) << ini;
    const std::string jobPath = d.dir + "/sigma.job", output = d.dir + "/out put.mp4";
    SaveJobFromMenu(d, jobPath, output);
    const Result<MovieJob> job = ReadJobFile(jobPath);
    ASSERT_TRUE(job.ok()) << job.reason();
    EXPECT_EQ(job->lens, lens);
    EXPECT_EQ(job->movie.path, FisheyeClip("fish-2s.mp4"));
    EXPECT_EQ(job->outputs.paths, std::vector<std::string>{output});

    // The same file without the tag: the equisolid lens, no profile.
    ini.erase(ini.find(tag), tag.size());
    AppSettings loaded;
    int32_t w = 0, h = 0;
    LoadParametersFromText(ini, loaded, d.app.env.screen, w, h);
    lens.profile = {};
    EXPECT_EQ(loaded.lens, lens);
    d.app.settings.Change([&](AppSettings& s) { s.lens = loaded.lens; });
    dialog->ShowLens(loaded.lens);
    EXPECT_EQ(list->currentItem(), list->topLevelItem(0));
    EXPECT_TRUE(dialog->Model()->isEnabled());
    EXPECT_FALSE(dialog->Camera()->isEnabled());

    // A profile this database cannot give is refused, the choice kept.
    LensSettings unknown;
    unknown.profile.lens = "Nokon 3mm Fisheye";
    EXPECT_NE(d.session->commands.SetLens(unknown), "");
    EXPECT_EQ(d.app.settings.Copy().lens, loaded.lens);
}

using testing::RimNear;

// The painting of the rim, the 180-degree edge and the levelling lines has
// its own tests (lens_rim_test.cpp); here the paused desktop repaints on a cut change.
TEST(LensRim, RedrawnWhenTheCutMovesWhilePaused) {
    Desktop d;
    // A dark, even picture: no colour of its own near the rim's.
    const std::string clip = FfmpegClip(
        "lens-rim-dark.mp4", "-f lavfi -i color=c=0x202020:size=320x240:rate=25:duration=4 -pix_fmt yuv420p");
    d.session->StartLoadWorker(clip);
    ASSERT_TRUE(WaitUntil([&] { return d.app.run.streamState == StreamState::Running && d.session->source.videoOpen == 1; }));
    PreviewPanel* panel = d.window->InputPanel();
    auto rimsNow = [&] {
        const AppSettings s = d.session->app.settings.Copy();
        return LensRimsOf(320, 240, CutRect{s.XL1, s.YL1, s.XL2, s.YL2}, s.lens);
    };
    const LensRims start = rimsNow();
    ASSERT_TRUE(start.valid);
    const PreviewEllipse& e = start.lensInPreview;
    ASSERT_TRUE(WaitUntil([&] { return RimNear(panel->Image(), e.cx + e.rx, e.cy); }));

    // Paused, the cut grows by ten clicks of its button: the rim follows.
    d.window->Command(101);
    ASSERT_TRUE(d.app.run.paused);
    for (int i = 0; i < 10; ++i) QTest::mouseClick(d.window->Control(3907), Qt::LeftButton);
    const LensRims grown = rimsNow();
    const PreviewEllipse& g = grown.lensInPreview;
    ASSERT_GT(g.cx + g.rx, e.cx + e.rx + 8);  // the right edge moves well clear of its place
    EXPECT_TRUE(WaitUntil([&] { return RimNear(panel->Image(), g.cx + g.rx, g.cy); }));
    EXPECT_FALSE(RimNear(panel->Image(), e.cx + e.rx, e.cy));
}

}  // namespace
}  // namespace tessaly
