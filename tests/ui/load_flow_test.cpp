// The load flow through the real chooser, the previews it paints, Shutdown's
// order, and the preview overlay checked on rendered pixels. (A second load
// while the first file opens: the video source's own tests.)
#include <gtest/gtest.h>

#include <QFileDialog>
#include <QLineEdit>
#include <QFileInfo>
#include <QPointer>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>

#include "app/startup.h"
#include "tests/ui/ui_test_support.h"
#include "ui/desktop_app.h"
#include "ui/preview_painter.h"
#include "ui/preview_panel.h"
#include "video/encoder_program.h"

namespace tessaly {
namespace {

using testing::Desktop;
using testing::FisheyeClip;
using testing::ModalAnswerer;
using testing::WaitUntil;

// Answers the "Load Video" chooser with the given files in turn.
struct ChooserScript {
    explicit ChooserScript(std::vector<std::string> paths)
        : files(std::move(paths)), answerer([this](QWidget* modal) {
              if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                  messages << box->windowTitle() + " | " + box->text();
                  box->accept();
                  return true;
              }
              auto* dialog = qobject_cast<QFileDialog*>(modal);
              if (dialog == nullptr || dialog->windowTitle() != "Load Video") return false;
              if (dialog == answering) return false;  // once per chooser
              answering = dialog;
              filters = dialog->nameFilters();
              selectedFilter = dialog->selectedNameFilter();
              startFolder = dialog->directory().absolutePath();
              if (next >= files.size()) {
                  dialog->reject();
                  return true;
              }
              // As a user would: type the full path into the name field and
              // open it (again until the chooser closes, should it be busy).
              const QString path = QString::fromStdString(files[next++]);
              auto* retry = new QTimer(dialog);
              QObject::connect(retry, &QTimer::timeout, dialog, [dialog, path] {
                  if (auto* name = dialog->findChild<QLineEdit*>("fileNameEdit")) name->setText(path);
                  static_cast<QDialog*>(dialog)->accept();
              });
              retry->start(100);
              return true;
          }) {}
    std::vector<std::string> files;
    size_t next = 0;
    QStringList filters;
    QString selectedFilter, startFolder;
    QStringList messages;  // message boxes met on the way
    QPointer<QFileDialog> answering;
    ModalAnswerer answerer;
};

bool IsPainted(const QImage& image) {
    // A real frame: more than the placeholder's single grey (its caption
    // lies above row 40).
    const QRgb first = image.pixel(300, 300);
    for (int y = 40; y < image.height(); y += 7)
        for (int x = 0; x < image.width(); x += 7)
            if (image.pixel(x, y) != first) return true;
    return false;
}

// A whole session through the chooser, whose threads ThreadSanitizer
// watches: the probe, the labels and both previews; the cut and a switch
// changed while the stream thread reads the settings; pause, resume, a
// second movie; a cancelled third chooser blanks previews and labels.
TEST(LoadFlow, ChooserProbeLabelsPreviewsPauseReloadAndClose) {
    Desktop d;
    const std::string clip = FisheyeClip("fish-h264.mp4");
    ChooserScript chooser({clip, FisheyeClip("fish-2s.mp4")});
    d.window->Command(100);
    ASSERT_TRUE(WaitUntil([&] { return d.Label(304) == "192x144" && d.app.run.streamState == StreamState::Running; }));
    EXPECT_EQ(chooser.filters.size(), 11);
    EXPECT_TRUE(chooser.filters[0].startsWith("All video files ("));
    EXPECT_TRUE(chooser.filters[0].startsWith(chooser.selectedFilter));
    EXPECT_EQ(d.app.settings->OPATH, std::filesystem::path(clip).parent_path().string());
    EXPECT_EQ(d.Label(303).toStdString(), " " + clip + " ");
    EXPECT_EQ(d.Label(305), "25.00 fps");
    EXPECT_EQ(d.Label(306), "25");
    EXPECT_EQ(d.Label(409), "00:00:01");
    ASSERT_TRUE(WaitUntil([&] {
        return d.window->InputPanel()->Shown() > 2 && d.window->OutputPanel()->Shown() > 2 && !d.Label(309).isEmpty();
    })) << "passes " << d.session->previewPasses << " shown " << d.window->InputPanel()->Shown();
    EXPECT_TRUE(IsPainted(d.window->InputPanel()->Image()));
    EXPECT_TRUE(IsPainted(d.window->OutputPanel()->Image()));
    // The probe reached "File Information".
    EXPECT_NE(d.app.run.fileInfoText.find("fish-h264.mp4"), std::string::npos);
    EXPECT_NE(d.app.run.fileInfoText.find("h264"), std::string::npos);

    for (int i = 0; i < 5; ++i) {
        d.window->Command(3907);  // the cut grows while previews are drawn
        QTest::mouseClick(d.window->Control(208), Qt::LeftButton);
        QTest::qWait(20);
    }
    d.window->Command(101);
    EXPECT_TRUE(d.app.run.paused);
    QTest::qWait(100);
    d.window->Command(101);
    EXPECT_FALSE(d.app.run.paused);
    d.window->Command(100);
    ASSERT_TRUE(WaitUntil([&] { return d.Label(304) == "160x120" && d.app.run.streamState == StreamState::Running; }))
        << chooser.messages.join("; ").toStdString();
    EXPECT_TRUE(chooser.messages.isEmpty());
    ASSERT_TRUE(WaitUntil([&] { return d.session->previewPasses > 10; }));

    d.window->Command(100);
    ASSERT_TRUE(WaitUntil([&] { return d.session->loadsRunning == 0 && d.app.run.streamState == StreamState::Stopped; }));
    ASSERT_TRUE(WaitUntil([&] { return !IsPainted(d.window->InputPanel()->Image()); }));
    EXPECT_TRUE(d.Label(304).isEmpty());
    EXPECT_EQ(chooser.startFolder.toStdString(), d.app.settings->OPATH);
    EXPECT_TRUE(d.window->close());
    EXPECT_EQ(d.session->loadsRunning, 0);
}

TEST(LoadFlow, ClosingDuringPlaybackJoinsTheLoadThreadBeforeExit3) {
    Desktop d;
    ChooserScript chooser({FisheyeClip("fish-2s.mp4")});
    d.window->Command(100);
    ASSERT_TRUE(WaitUntil([&] { return d.app.run.streamState == StreamState::Running && d.window->InputPanel()->Shown() > 0; }));
    EXPECT_TRUE(d.window->close());
    EXPECT_EQ(d.session->loadsRunning, 0);
    std::vector<std::string> order;
    for (const std::string& line : d.LogLines())
        if (line == "AVIREAD" || line.rfind("EXIT", 0) == 0 || line == "File exit Ok") order.push_back(line);
    EXPECT_EQ(order, (std::vector<std::string>{"EXIT11", "EXIT2", "File exit Ok", "AVIREAD", "EXIT3"}));
}

// Each Load starts a thread; those whose flows have ended are joined when
// the next one starts, so a session of many loads keeps no pile of them.
TEST(LoadFlow, EndedLoadFlowsLeaveNoThreadsBehind) {
    Desktop d;
    ChooserScript chooser({});  // every chooser cancelled: each flow ends at once
    for (int i = 0; i < 4; ++i) {
        d.window->Command(100);
        ASSERT_TRUE(WaitUntil([&] { return d.session->loadsRunning == 0; })) << "load " << i;
    }
    // Only the last flow's thread, ended but not joined yet.
    EXPECT_LE(d.session->LoadThreadsKept(), 1u);
    EXPECT_TRUE(d.window->close());
    EXPECT_EQ(d.session->LoadThreadsKept(), 0u);
}

// The load logs the aspect switch as the window set it (the load thread
// takes its copy through the session's settings lock), while the window
// goes on changing the settings.
TEST(LoadFlow, TheLoadReadsTheAspectAsTheWindowSetsIt) {
    Desktop d;
    d.session->app.settings.Change([](AppSettings& s) { s.ASPECT = 1; });
    QTimer changing;
    QObject::connect(&changing, &QTimer::timeout, [&d] {
        d.session->app.settings.Change([](AppSettings& s) {
            s.ASPECT = 1;
            s.BRIGHTNESS = (s.BRIGHTNESS + 1) % 200;
        });
    });
    changing.start(1);
    d.session->StartLoadWorker(FisheyeClip("fish-h264.mp4"));
    ASSERT_TRUE(WaitUntil([&] { return d.app.run.streamState == StreamState::Running && d.session->source.videoOpen == 1; }));
    changing.stop();
    const std::vector<std::string> lines = d.LogLines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "OS_ASPECT = 1"), lines.end());
    EXPECT_EQ(std::find(lines.begin(), lines.end(), "OS_ASPECT = 0"), lines.end());
}

// A probe that hangs (a stalled disk, a network file) does not hold up the
// end of the program.
TEST(LoadFlow, ClosingDuringTheProbeEndsTheProbe) {
    Desktop d;
    const std::filesystem::path encoder = std::filesystem::path(d.dir) / kEncoderRelativePath;
    std::filesystem::create_directories(encoder.parent_path());
    const std::string probing = d.dir + "/probing";
    std::ofstream(encoder) << "#!/bin/sh\n[ \"$#\" -eq 2 ] && { touch '" << probing
                           << "'; sleep 60; }\nexec ffmpeg \"$@\"\n";
    std::filesystem::permissions(encoder, std::filesystem::perms::owner_all);
    d.session->StartLoadWorker(FisheyeClip("fish-2s.mp4"));
    ASSERT_TRUE(WaitUntil([&] { return std::filesystem::exists(probing); }));
    auto closing = std::async(std::launch::async, [&] { Shutdown(d.app); });
    // Far less than the probe's minute: the stop flag ends the encoder.
    EXPECT_EQ(closing.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    closing.wait();
    EXPECT_EQ(d.session->loadsRunning, 0);
}

TEST(PreviewRendering, OnlyEverySecondCallDraws) {
    PreviewPainter painter;
    int inputs = 0, outputs = 0;
    painter.SetSinks({[&](const QImage& i) { inputs += i.size() == QSize(600, 600); },
                      [&](const QImage& o) { outputs += o.size() == QSize(500, 480); }});
    FrameBuffer in, out;
    in.Allocate(400, 300);
    out.Allocate(64, 64);
    const PreviewHeader header = MakePreviewHeader(400, 300);
    const struct { bool showIn, showOut; bool drew; int inputs, outputs; } calls[] = {
        {true, true, true, 1, 1}, {true, true, false, 1, 1}, {true, false, true, 2, 1},
        {true, true, false, 2, 1}, {false, true, true, 2, 2},
    };
    for (const auto& c : calls) {
        EXPECT_EQ(painter.Paint(in, header, {}, out, c.showIn, c.showOut, false, {}), c.drew);
        EXPECT_EQ(inputs, c.inputs);
        EXPECT_EQ(outputs, c.outputs);
    }
    // Progress lines only while converting.
    QImage image;
    ProgressTexts progress;
    progress.fps = "25.000";
    RenderOutputPreview(image, out, false, progress);
    EXPECT_EQ(QColor(image.pixel(12, 15)), QColor(Qt::black));
    RenderOutputPreview(image, out, true, progress);
    EXPECT_EQ(QColor(image.pixel(12, 11)), QColor(0x80, 0x80, 0x80));
}

// "tessaly MOVIE" (a file manager's "Open with") loads that movie without the
// chooser once the main window is up.
TEST(LoadFlow, AMovieNamedOnTheCommandLineOpensWithoutTheChooser) {
    const std::string dir = testing::TempFolder("open-arg");
    const std::string clip = FisheyeClip("fish-h264.mp4");
    bool chooserShown = false;
    testing::ModalAnswerer answer([&](QWidget* modal) {
        if (modal->objectName() == "Splash") {
            modal->findChild<QPushButton*>("id_2005")->click();
            return true;
        }
        if (auto* chooser = qobject_cast<QFileDialog*>(modal)) {
            chooserShown = true;
            chooser->reject();
            return true;
        }
        return false;
    });
    DesktopOptions options;
    options.programDir = dir + "/";
    options.openMovie = clip;
    bool opened = false;
    std::string sizeLabel;
    options.onMainWindow = [&](MainWindow& w, DesktopSession& session) {
        opened = testing::WaitUntil([&] {
            return session.app.run.streamState == StreamState::Running && w.LabelFullText(304) == "192x144";
        });
        sizeLabel = w.LabelFullText(303).toStdString();
        QTimer::singleShot(0, &w, [&w] { w.close(); });
    };
    EXPECT_EQ(RunDesktop(options), 0);
    EXPECT_TRUE(opened);
    EXPECT_FALSE(chooserShown);
    EXPECT_EQ(sizeLabel, " " + clip + " ");
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace tessaly
