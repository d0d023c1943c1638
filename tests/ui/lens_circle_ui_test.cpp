// "Find lens circle" in the desktop program: on load while the cut is the
// start cut, and from the Option menu's accelerator; the cut, the preview's
// output size and the run log follow; a movie without a circle says so.
#include <gtest/gtest.h>

#include <QMessageBox>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <string>

#include "convert/transform_adapters.h"
#include "tests/ui/convert_script.h"
#include "tests/video/test_clips.h"
#include "transform/cut_geometry.h"
#include "transform/lens_circle.h"
#include "ui/lens_rim.h"

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

// A cut set for the loaded movie (its path and picture size) stays; a cut
// of another movie, of the same file at another size, or of a file that
// does not say (an older parameter file) gets the loaded movie's circle.
TEST(FindLensCircle, OnLoadUnlessTheCutWasSetForThatMovie) {
    const std::string clip = FisheyeClip("fish-2s.mp4");
    const CutRect mine{0, 0, 600, 600};
    const struct { std::string movie; int w, h; bool searched; } cases[] = {
        {clip, 160, 120, false}, {clip + ".other.mp4", 160, 120, true}, {clip, 320, 240, true}, {"", 0, 0, true},
    };
    for (const auto& c : cases) {
        Desktop d;
        d.session->findCircleOnLoad = 1;
        d.session->app.settings.Change([&](AppSettings& s) {
            s.XL1 = mine.XL1, s.YL1 = mine.YL1, s.XL2 = mine.XL2, s.YL2 = mine.YL2;
            SetCutMovie(s, c.movie, c.w, c.h);
        });
        ASSERT_TRUE(testing::LoadAndWait(d, clip));
        if (c.searched) {
            ASSERT_TRUE(WaitUntil([&] { return d.session->circleSearchesDone.load() >= 1; }));
        }
        EXPECT_EQ(d.session->circleSearchesDone.load(), c.searched ? 1 : 0) << c.movie << " " << c.w;
        EXPECT_EQ(CutOf(d.session->app.settings.Copy()) == mine, !c.searched) << c.movie << " " << c.w;
        EXPECT_TRUE(CutSetFor(d.session->app.settings.Copy(), clip, 160, 120));
        EXPECT_EQ(LogHas(d, "The cut was set for another movie: looking for the lens circle"), c.searched);
    }
}

// Two movies whose circles lie in different places, loaded one after the
// other with the start cut: each gets its own circle, said in the input
// preview's info line, and the preview's output size follows. A cut moved
// off the circle afterwards draws a warning before Convert, whose Cancel
// starts no run; Ctrl+F (greyed while a conversion runs) finds the circle's
// cut again.
TEST(FindLensCircle, EveryMovieGetsItsOwnCircleAndAMissedRimIsWarnedOf) {
    Desktop d;
    d.session->findCircleOnLoad = 1;
    const std::string first = FisheyeClip("fish-2s.mp4");
    // The same circle (radius 60) off centre in a larger frame.
    const std::string second = testing::FfmpegClip(
        "fish-off-centre-240x160.mp4", "-i '" + first + "' -vf pad=240:160:70:36:black -c:v libx264 -pix_fmt yuv420p");
    const struct { std::string clip; int w, h; LensCircle truth; } movies[] = {
        {first, 160, 120, {79.5, 59.5, 60.0}}, {second, 240, 160, {149.5, 95.5, 60.0}},
    };
    CutRect circleCut;
    for (size_t i = 0; i < std::size(movies); ++i) {
        const auto& m = movies[i];
        ASSERT_TRUE(testing::LoadAndWait(d, m.clip));
        ASSERT_TRUE(WaitUntil([&] { return d.session->circleSearchesDone.load() >= static_cast<int64_t>(i + 1); }));
        const CircleSearch found = d.session->LastCircleSearch();
        ASSERT_TRUE(found.found) << found.reason;
        EXPECT_NEAR(found.circle.cx, m.truth.cx, 1.0) << m.clip;
        EXPECT_NEAR(found.circle.cy, m.truth.cy, 1.0) << m.clip;
        EXPECT_NEAR(found.circle.r, m.truth.r, 1.0) << m.clip;
        const AppSettings s = d.session->app.settings.Copy();
        circleCut = CutForCircle(m.w, m.h, found.circle).cut;
        EXPECT_EQ(CutOf(s), circleCut) << m.clip;
        EXPECT_NE(circleCut, kDefaultCut);
        EXPECT_TRUE(CutSetFor(s, m.clip, m.w, m.h));
        EXPECT_EQ(d.session->CircleLine(), CircleFoundLine(found.circle));
        EXPECT_EQ(d.session->CircleLine().rfind("lens circle found: centre ", 0), 0u);
        EXPECT_TRUE(d.session->RimWarning().empty());
        const int out = BuildCutGeometry(m.w, m.h, circleCut).geometry.outW;
        const QString size = " " + QString::number(out) + "x" + QString::number(out);
        EXPECT_TRUE(WaitUntil([&] { return d.Label(kOutputSizeLabel) == size; }))
            << d.Label(kOutputSizeLabel).toStdString() << " wanted " << size.toStdString();
    }
    EXPECT_TRUE(LogHas(d, "The cut is the start cut: looking for the lens circle"));
    EXPECT_TRUE(LogHas(d, "Find lens circle: lens circle: centre "));
    // The start cut on the second movie: its rim lies far from the circle.
    d.window->Command(control::kCutReset);
    const std::string warning = d.session->RimWarning();
    EXPECT_NE(warning.find("misses the lens circle found in this movie"), std::string::npos) << warning;
    QString asked;
    ModalAnswerer answer([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (box == nullptr || box->objectName() != "RimWarning") return false;
        asked = box->text();
        box->button(QMessageBox::Cancel)->click();
        return true;
    });
    ASSERT_TRUE(testing::ConvertAndWait(d, 20000));
    EXPECT_EQ(asked.toStdString(), warning);
    EXPECT_TRUE(LogHas(d, "Convert: the cut's lens rim misses the lens circle found"));
    EXPECT_FALSE(d.app.run.converting.load());

    d.window->SetConversionLock(0);
    EXPECT_FALSE(d.window->MenuItem(kFindLensCircleMenuItem)->isEnabled());
    d.window->SetConversionLock(1);
    QApplication::setActiveWindow(d.window.get());
    QTest::keyClick(d.window.get(), Qt::Key_F, Qt::ControlModifier);
    ASSERT_TRUE(WaitUntil([&] { return d.session->circleSearchesDone.load() >= 3; }));
    EXPECT_EQ(CutOf(d.session->app.settings.Copy()), circleCut);
    EXPECT_EQ(d.session->circleSearching.load(), 0);
}

TEST(FindLensCircle, AMovieWithoutACircleKeepsItsCutAndSaysSo) {
    Desktop d;
    d.session->findCircleOnLoad = 1;
    const std::string plain = testing::FfmpegClip(
        "plain-192x144.mp4", "-f lavfi -i testsrc2=size=192x144:rate=10:duration=1 -pix_fmt yuv420p");
    ASSERT_TRUE(testing::LoadAndWait(d, plain));
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
    testing::ConvertScript script(d, output);  // no second encoding
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
