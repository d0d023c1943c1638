// "Find lens circle" in the desktop program: on load while the cut is the
// start cut, and from the Option menu's accelerator; the cut, the preview's
// output size and the run log follow; a movie without a circle says so.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <string>

#include "convert/transform_adapters.h"
#include "tests/ui/ui_test_support.h"
#include "tests/video/test_clips.h"
#include "transform/cut_geometry.h"
#include "transform/lens_circle.h"

namespace tessaly {
namespace {

using testing::Desktop;
using testing::FisheyeClip;
using testing::ModalAnswerer;
using testing::WaitUntil;

using control::kOutputSizeLabel;

bool LogHas(const Desktop& d, const std::string& start) {
    const std::vector<std::string> lines = d.LogLines();
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(start, 0) == 0; });
}

void Load(Desktop& d, const std::string& clip) {
    d.session->StartLoadWorker(clip);
    ASSERT_TRUE(WaitUntil([&] { return d.app.run.streamState == StreamState::Running && d.session->previewPasses.load() > 2; }));
}

TEST(FindLensCircle, OnLoadWithTheStartCutAndFromTheMenu) {
    Desktop d;
    d.session->findCircleOnLoad = 1;
    // The clip's circle: as tall as the 160 x 120 frame, centred.
    const LensCircle truth{79.5, 59.5, 60.0};
    Load(d, FisheyeClip("fish-2s.mp4"));
    ASSERT_EQ(d.session->source.Info().frameWidth, 160);
    ASSERT_EQ(d.session->source.Info().frameHeight, 120);
    ASSERT_TRUE(WaitUntil([&] { return d.session->circleSearchesDone.load() >= 1; }));
    const CircleSearch found = d.session->LastCircleSearch();
    ASSERT_TRUE(found.found) << found.reason;
    EXPECT_NEAR(found.circle.cx, truth.cx, 1.0);
    EXPECT_NEAR(found.circle.cy, truth.cy, 1.0);
    EXPECT_NEAR(found.circle.r, truth.r, 1.0);
    const CutForCircleResult fit = CutForCircle(160, 120, found.circle);
    ASSERT_TRUE(fit.ok);
    EXPECT_EQ(CutOf(d.session->app.settings.Copy()), fit.cut);
    EXPECT_NE(fit.cut, kDefaultCut);
    EXPECT_TRUE(LogHas(d, "The cut is the start cut: looking for the lens circle"));
    EXPECT_TRUE(LogHas(d, "Find lens circle: lens circle: centre "));
    // The preview rebuilt its geometry for the new cut.
    const int out = BuildCutGeometry(160, 120, fit.cut).geometry.outW;
    const QString size = " " + QString::number(out) + "x" + QString::number(out);
    EXPECT_TRUE(WaitUntil([&] { return d.Label(kOutputSizeLabel) == size; }))
        << d.Label(kOutputSizeLabel).toStdString() << " wanted " << size.toStdString();

    // A grown cut, then Ctrl+F: the circle's cut again.
    d.window->Command(3907);
    ASSERT_NE(CutOf(d.session->app.settings.Copy()), fit.cut);
    // Greyed while a conversion runs, like the cut buttons.
    d.window->SetConversionLock(0);
    EXPECT_FALSE(d.window->MenuItem(kFindLensCircleMenuItem)->isEnabled());
    d.window->SetConversionLock(1);
    QTest::keyClick(d.window.get(), Qt::Key_F, Qt::ControlModifier);
    ASSERT_TRUE(WaitUntil([&] { return d.session->circleSearchesDone.load() >= 2; }));
    EXPECT_EQ(CutOf(d.session->app.settings.Copy()), fit.cut);
    EXPECT_EQ(d.session->circleSearching.load(), 0);
}

TEST(FindLensCircle, ACutOfTheUsersStaysOnLoad) {
    Desktop d;
    d.session->findCircleOnLoad = 1;
    const CutRect mine{0, 0, 600, 600};
    d.session->app.settings.Change([&](AppSettings& s) {
        s.XL1 = mine.XL1, s.YL1 = mine.YL1, s.XL2 = mine.XL2, s.YL2 = mine.YL2;
    });
    Load(d, FisheyeClip("fish-2s.mp4"));
    // The decision is taken before the first preview pass.
    EXPECT_EQ(d.session->circleSearching.load(), 0);
    EXPECT_EQ(d.session->circleSearchesDone.load(), 0);
    EXPECT_EQ(CutOf(d.session->app.settings.Copy()), mine);
    EXPECT_FALSE(LogHas(d, "The cut is the start cut"));
}

TEST(FindLensCircle, AMovieWithoutACircleKeepsItsCutAndSaysSo) {
    Desktop d;
    d.session->findCircleOnLoad = 1;
    const std::string plain = testing::FfmpegClip(
        "plain-192x144.mp4", "-f lavfi -i testsrc2=size=192x144:rate=10:duration=1 -pix_fmt yuv420p");
    Load(d, plain);
    ASSERT_TRUE(WaitUntil([&] { return d.session->circleSearchesDone.load() >= 1; }));
    EXPECT_EQ(CutOf(d.session->app.settings.Copy()), kDefaultCut);
    EXPECT_TRUE(LogHas(d, "Find lens circle: no lens circle found: "));
    // From the menu a message says it.
    QString text;
    ModalAnswerer answer([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (box == nullptr) return false;
        text = box->windowTitle() + " | " + box->text();
        box->accept();
        return true;
    });
    QAction* item = d.window->MenuItem(kFindLensCircleMenuItem);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->text(), "Find lens circle\tCtrl + F");
    item->trigger();
    ASSERT_TRUE(WaitUntil([&] { return d.session->circleSearchesDone.load() >= 2 && !text.isEmpty(); }));
    EXPECT_TRUE(text.startsWith("Find lens circle | no lens circle found: ")) << text.toStdString();
    EXPECT_TRUE(text.endsWith("The cut stays as it was.")) << text.toStdString();
    EXPECT_EQ(CutOf(d.session->app.settings.Copy()), kDefaultCut);
}

// Loaded with the start cut and converted at once: the run waits for the
// search and converts with the circle's cut (the movie's size says which).
TEST(FindLensCircle, ConvertRightAfterLoadUsesTheCircle) {
    Desktop d;
    d.session->findCircleOnLoad = 1;
    const std::string output = d.dir + "/panorama.mp4";
    std::vector<QPointer<QWidget>> seen;
    ModalAnswerer answer([&](QWidget* modal) {
        for (const QPointer<QWidget>& w : seen)
            if (w == modal) return false;
        seen.push_back(modal);
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            // No second encoding.
            QAbstractButton* cancel = box->button(QMessageBox::Cancel);
            cancel != nullptr ? cancel->click() : box->accept();
            return true;
        }
        auto* chooser = qobject_cast<QFileDialog*>(modal);
        if (chooser == nullptr || chooser->windowTitle() != "Save Stereo Video") return false;
        const QString path = QString::fromStdString(output);
        QTimer::singleShot(50, chooser, [chooser, path] {
            chooser->findChild<QLineEdit*>("fileNameEdit")->setText(path);
            static_cast<QDialog*>(chooser)->accept();
        });
        return true;
    });
    d.session->StartLoadWorker(FisheyeClip("fish-2s.mp4"));
    ASSERT_TRUE(WaitUntil([&] { return d.app.run.streamState == StreamState::Running && d.session->source.videoOpen == 1; }));
    ASSERT_TRUE(testing::ConvertAndWait(d));
    ASSERT_GE(d.session->circleSearchesDone.load(), 1);
    const CircleSearch found = d.session->LastCircleSearch();
    ASSERT_TRUE(found.found) << found.reason;
    const CutForCircleResult fit = CutForCircle(160, 120, found.circle);
    ASSERT_TRUE(fit.ok);
    const int side = BuildCutGeometry(160, 120, fit.cut).geometry.outW;
    ASSERT_NE(side, BuildCutGeometry(160, 120, kDefaultCut).geometry.outW);
    EXPECT_EQ(testing::ProbeVideoEntry(output, "stream=width"), std::to_string(side));
    EXPECT_EQ(testing::ProbeVideoEntry(output, "stream=height"), std::to_string(side));
}

}  // namespace
}  // namespace tessaly
