// Converting from the desktop program: the Convert command through the save
// chooser, the frame phase with its live controls, the export, the success
// question and the output options dialog, and closing the window in each
// phase. Every movie is read back with ffprobe.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <vector>

#include "convert/conversion_driver.h"
#include "tests/capture_output.h"
#include "tests/ui/convert_script.h"
#include "ui/export_progress_window.h"
#include "video/encoder_program.h"
#include "ui/position_bar.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;
using testing::ConvertScript;
using testing::CountLines;
using testing::Desktop;
using testing::FfmpegClip;
using testing::FisheyeClip;
using testing::HasSound;
using testing::InOrder;
using testing::InstallEncoderWrapper;
using testing::Pick;
using testing::ProbeInt;
using testing::ProbeVideoEntry;
using testing::TemporaryFiles;
using testing::WaitUntil;

// The output size the run showed in its label " WxH".
QSize ShownOutputSize(const ConvertScript& script) {
    const QStringList parts = script.shownSize.split('x');
    return parts.size() == 2 ? QSize(parts[0].toInt(), parts[1].toInt()) : QSize();
}

void Load(Desktop& d, const std::string& clip) { ASSERT_TRUE(testing::LoadAndWait(d, clip)); }

TEST(DesktopConversion, ConvertsThenEncodesAgainWithAnotherQualityAndSize) {
    Desktop d;
    Load(d, FisheyeClip("fish-h264.mp4"));
    const std::string first = d.dir + "/first out.mp4";
    const std::string second = d.dir + "/second ü.avi";
    const std::string temp = d.app.settings->APATH;

    ConvertScript script(d, first);
    script.answers = {true, false};
    bool engineRan = false;  // a conversion job running while a question is open
    script.onQuestion = [&](const QString&) { engineRan |= d.session->job.Running(); };
    script.options.push_back([&](QDialog* dialog) {
        Pick(dialog, 213, 5);
        Pick(dialog, 870, 5);  // "Resize 50%"
        dialog->findChild<QLineEdit*>("id_101")->setText(QString::fromStdString(second));
        dialog->findChild<QPushButton*>("id_2002")->click();
    });
    ASSERT_TRUE(testing::ConvertAndWait(d));

    EXPECT_EQ(script.chooserFilters.size(), 5);
    EXPECT_EQ(d.app.settings->OPATH, d.dir);
    EXPECT_EQ(script.optionsOpened, 1);
    EXPECT_FALSE(engineRan);
    ASSERT_EQ(script.boxes.size(), 2) << script.boxes.join("\n").toStdString();
    for (const QString& box : script.boxes) {
        EXPECT_EQ(box, "Successful termination | Movie converted successfully.\n"
                       "Do you want to save it with another compression value ?");
    }

    EXPECT_EQ(script.statusText, "     RECORD");
    // Every frame converted: the bar is whole when the run says so.
    const int frames = ProbeInt(first, "stream=nb_frames");
    ASSERT_GT(frames, 0);
    EXPECT_EQ(script.barWidth, kPositionBarMax);
    const QSize out = ShownOutputSize(script);
    ASSERT_GT(out.width(), 0);
    EXPECT_EQ(ProbeInt(first, "stream=width"), out.width());
    EXPECT_EQ(ProbeInt(first, "stream=height"), out.height());
    EXPECT_EQ(ProbeVideoEntry(first, "format=format_name").find("mp4") != std::string::npos, true);
    EXPECT_EQ(ProbeInt(second, "stream=width"), out.width() / 2 / 16 * 16);
    EXPECT_EQ(ProbeInt(second, "stream=height"), out.height() / 2 / 16 * 16);
    EXPECT_EQ(ProbeVideoEntry(second, "format=format_name"), "avi");
    EXPECT_TRUE(HasSound(first));
    EXPECT_TRUE(HasSound(second));
    EXPECT_EQ(d.session->ui.CompressionLevel(), 5);
    EXPECT_EQ(static_cast<QComboBox*>(d.window->Control(213))->currentIndex(), 5);
    EXPECT_EQ(d.app.run.resizeChoice, 5);

    EXPECT_TRUE(TemporaryFiles(temp).empty());
    const std::vector<std::string> log = d.LogLines();
    EXPECT_TRUE(InOrder(log, {"Convert Movie Begin ", "Set MovieDuration", "Begin Convert Process",
                              "END Convert Process", "ConvertRectExport Begin", "ConvertRectFFMPEG aVideoEXT .mp4",
                              "ConvertRectExport End", "ConvertRectExport Begin",
                              "ConvertRectFFMPEG aVideoEXT .avi", "ConvertRectExport End", "Convert Movie End ",
                              "EXIT11", "EXIT3"}));
    const auto avi = std::find_if(log.begin(), log.end(), [](const std::string& l) {
        return l.rfind("FFMPEG : ", 0) == 0 && l.find(".avi") != std::string::npos;
    });
    ASSERT_NE(avi, log.end());
    EXPECT_NE(avi->find(" -crf 15 "), std::string::npos) << *avi;
    // The run ends the program.
    EXPECT_TRUE(WaitUntil([&] { return !d.window->isVisible(); }));
    EXPECT_TRUE(d.app.run.shutdownDone);
}

// A still: its mean brightness and whether its left half is the brighter one.
struct StillLook {
    double mean = 0;
    bool leftBrighter = false;
};

// Read by Qt's own BMP reader.
StillLook LookAt(const std::string& bmp) {
    const QImage image(QString::fromStdString(bmp));
    double left = 0, right = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) (x < image.width() / 2 ? left : right) += qGray(image.pixel(x, y));
    StillLook look;
    if (!image.isNull()) look.mean = (left + right) / (static_cast<double>(image.width()) * image.height());
    look.leftBrighter = left > right;
    return look;
}

bool SameLook(const StillLook& a, const StillLook& b) {
    return a.leftBrighter == b.leftBrighter && std::abs(a.mean - b.mean) < 2.0;
}

// A still picture, bright on its left half and dark on its right, three
// seconds long.
std::string HalvesClip() {
    return FfmpegClip("halves-static.avi",
                      "-f lavfi -i color=c=0x303030:s=192x144:r=25:d=3 -vf "
                      "drawbox=x=0:y=0:w=96:h=144:color=0xE0E0E0:t=fill -c:v mjpeg -q:v 2 -an");
}

// Each frame waits 20 ms, so a run of 75 frames lasts long enough to be
// changed or closed in its middle.
void SlowDown(Desktop& d) {
    static_cast<QSlider*>(d.window->Control(570))->setValue(98);
    auto* cpu = static_cast<QCheckBox*>(d.window->Control(571));
    if (!cpu->isChecked()) cpu->click();
}

TEST(DesktopConversion, BrightnessAndFlipChangedDuringARunReachTheLaterFrames) {
    Desktop d;
    Load(d, HalvesClip());
    SlowDown(d);
    const std::string temp = d.app.settings->APATH;
    ConvertScript script(d, d.dir + "/out.mp4");

    // Once the eleventh still is written, brighten and flip.
    bool changed = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (changed || !fs::exists(temp + "/mono000010.bmp")) return;
        changed = true;
        static_cast<QSlider*>(d.window->Control(520))->setValue(230);
        static_cast<QCheckBox*>(d.window->Control(523))->click();
        static_cast<QCheckBox*>(d.window->Control(3220))->click();
    });
    watch.start(5);

    std::vector<StillLook> looks;
    script.onQuestion = [&](const QString&) {
        std::vector<std::string> stills;
        for (const auto& e : fs::directory_iterator(temp))
            if (e.path().extension() == ".bmp") stills.push_back(e.path().string());
        std::sort(stills.begin(), stills.end());
        for (const std::string& s : stills) looks.push_back(LookAt(s));
    };
    ASSERT_TRUE(testing::ConvertAndWait(d));

    ASSERT_TRUE(changed);
    ASSERT_GE(looks.size(), 70u);
    const StillLook before = looks.front();
    const StillLook after = looks.back();
    EXPECT_NE(before.leftBrighter, after.leftBrighter) << "the flip never reached a frame";
    EXPECT_GT(after.mean, before.mean + 20) << "the brightness never reached a frame: " << before.mean << " to " << after.mean;
    // Frames up to the eleventh are untouched; from some frame on every
    // frame has both changes (one frame between may have only one).
    size_t firstChanged = 0;
    while (firstChanged < looks.size() && SameLook(looks[firstChanged], before)) ++firstChanged;
    EXPECT_GE(firstChanged, 11u);
    EXPECT_LT(firstChanged, looks.size() - 10);
    for (size_t i = firstChanged + 2; i < looks.size(); ++i) {
        EXPECT_TRUE(SameLook(looks[i], after)) << "still " << i;
    }
    EXPECT_TRUE(TemporaryFiles(temp).empty());
    // The run's log holds the changes as adjustments of its job, from the
    // frame they reached first: enough to run it again.
    const std::string log = testing::ReadFile(d.app.env.logPath);
    const size_t first = log.find("Adjustment at frame ");
    ASSERT_NE(first, std::string::npos) << log;
    EXPECT_GE(std::stoi(log.substr(first + 20)), 11);
    std::string adjustments;
    for (size_t at = first; at != std::string::npos; at = log.find("Adjustment at frame ", at + 1))
        adjustments += log.substr(at, log.find('\n', at) - at) + "\n";
    for (const char* change : {"BRIGHTNESS_CH 1", "BRIGHTNESS 230", "FLIP 1"})
        EXPECT_NE(adjustments.find(change), std::string::npos) << change << " in " << adjustments;
}

// Closing while frames are converted asks first; No lets the run go on to
// its movie (the run goes on while the modal question is open), Yes stops it
// without an export and ends the program.
TEST(DesktopConversion, ClosingDuringTheFramesAsksNoKeepsTheRunYesStopsIt) {
    for (const bool quit : {false, true}) {
        SCOPED_TRACE(quit ? "Yes" : "No");
        Desktop d;
        Load(d, HalvesClip());
        SlowDown(d);
        const std::string temp = d.app.settings->APATH;
        const std::string output = d.dir + "/out.mp4";
        ConvertScript script(d, output);
        script.quitWhileConverting = quit;
        script.answers = {true};  // OK, then Exit/Cancel in the options dialog
        bool asked = false, stayed = false;
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            if (asked || !fs::exists(temp + "/mono000005.bmp")) return;
            asked = true;
            d.window->close();
            stayed = d.window->isVisible() && !d.app.run.shutdownDone;
        });
        watch.start(5);
        ASSERT_TRUE(testing::ConvertAndWait(d));

        ASSERT_TRUE(asked);
        ASSERT_FALSE(script.boxes.isEmpty());
        EXPECT_EQ(script.boxes.front(), QString("Exit | ") + kStopConversionQuestion);
        const std::vector<std::string> log = d.LogLines();
        EXPECT_EQ(CountLines(log, "ConvertRectExport Begin"), quit ? 0 : 1);
        EXPECT_EQ(stayed, !quit);
        if (!quit) {
            EXPECT_EQ(ProbeInt(output, "stream=nb_frames"), 75);
            continue;
        }
        EXPECT_EQ(script.boxes.size(), 1) << script.boxes.join("\n").toStdString();
        EXPECT_FALSE(d.window->isVisible());
        EXPECT_FALSE(fs::exists(output));
        EXPECT_TRUE(TemporaryFiles(temp).empty());
        EXPECT_EQ(CountLines(log, "END Convert Process"), 0);
        EXPECT_TRUE(InOrder(log, {"Begin Convert Process", "EXIT11", "Convert Movie End "}));
    }
}

// A sound extraction that fails keeps the converted frames until the user
// has chosen, asked once the engine has returned: OK saves the movie without
// sound, Cancel saves none.
TEST(DesktopConversion, AFailedSoundExtractionOffersAMovieWithoutSound) {
    for (const bool save : {true, false}) {
        SCOPED_TRACE(save ? "save without sound" : "cancel");
        Desktop d;
        InstallEncoderWrapper(d, "echo 'Invalid data found when processing input' >&2; exit 1", "*temp.wav*");
        const std::string clip = FisheyeClip("fish-h264.mp4");
        ASSERT_TRUE(HasSound(clip));
        Load(d, clip);
        const std::string output = d.dir + "/silent.mp4";
        ConvertScript script(d, output);
        script.answers = {save, false};  // the sound question, then the success question
        bool engineRan = false;
        script.onQuestion = [&](const QString&) { engineRan |= d.session->job.Running(); };
        ASSERT_TRUE(testing::ConvertAndWait(d));
        EXPECT_FALSE(engineRan);

        ASSERT_FALSE(script.boxes.isEmpty());
        EXPECT_TRUE(script.boxes.front().startsWith("Error | The sound could not be extracted: "))
            << script.boxes.front().toStdString();
        EXPECT_TRUE(script.boxes.front().contains("without sound"));
        const std::vector<std::string> log = d.LogLines();
        EXPECT_EQ(CountLines(log, "Sound extraction failed: "), 1);
        if (save) {
            EXPECT_GT(ProbeInt(output, "stream=width"), 0);
            EXPECT_FALSE(HasSound(output));
            EXPECT_TRUE(InOrder(log, {"Sound extraction failed: ", "Exported without sound", "END Convert Process",
                                      "ConvertRectExport Begin"}));
        } else {
            EXPECT_FALSE(fs::exists(output));
            EXPECT_EQ(CountLines(log, "ConvertRectExport Begin"), 0);
        }
        EXPECT_TRUE(TemporaryFiles(d.app.settings->APATH).empty());
    }
}

// The "Please wait..." window shows while the encoder runs, its clock going
// on; Exit and the close box are refused meanwhile.
TEST(DesktopConversion, ExitAndCloseAreRefusedWhileEncoding) {
    Desktop d;
    const std::string gate = d.dir + "/encode-now";
    InstallEncoderWrapper(d, "while [ ! -e '" + gate + "' ]; do sleep 0.02; done");
    Load(d, FisheyeClip("fish-h264.mp4"));
    const std::string output = d.dir + "/out.mp4";
    ConvertScript script(d, output);
    script.answers = {true};  // OK, then Exit/Cancel in the options dialog

    bool tried = false;
    bool stayed = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        const ExportProgressWindow* progress = d.window->ExportProgress();
        if (tried || !d.app.run.encoderBusy.load() || progress == nullptr || !progress->isVisible() ||
            !progress->TimeLabel()->text().startsWith("Processing time: 00:0") ||
            progress->TimeLabel()->text() == "Processing time: 00:00:00")
            return;
        tried = true;
        d.window->Command(107);
        d.window->close();
        stayed = d.window->isVisible() && d.app.run.encoderBusy.load() && !d.app.run.shutdownDone.load();
        std::ofstream(gate) << "go";
    });
    watch.start(5);
    ASSERT_TRUE(testing::ConvertAndWait(d));

    EXPECT_TRUE(tried);
    EXPECT_TRUE(stayed);
    EXPECT_EQ(script.optionsOpened, 1);
    EXPECT_EQ(ProbeInt(output, "stream=width"), ShownOutputSize(script).width());
    const std::vector<std::string> log = d.LogLines();
    EXPECT_EQ(CountLines(log, "ConvertRectExport Begin"), 1);
    EXPECT_TRUE(InOrder(log, {"ConvertRectExport End", "Convert Movie End ", "EXIT11"}));
    EXPECT_TRUE(TemporaryFiles(d.app.settings->APATH).empty());
    EXPECT_FALSE(d.window->isVisible());
    EXPECT_EQ(d.window->ExportProgress(), nullptr);
}

TEST(DesktopConversion, AFailingEncoderIsReportedWithTheFileAndItsReason) {
    Desktop d;
    InstallEncoderWrapper(d, "echo 'Error opening output files: Disk quota exceeded' >&2; exit 1");
    Load(d, FisheyeClip("fish-h264.mp4"));
    const std::string output = d.dir + "/failed.mp4";
    ConvertScript script(d, output);
    ASSERT_TRUE(testing::ConvertAndWait(d));

    ASSERT_EQ(script.boxes.size(), 1);
    const QString box = script.boxes.front();
    EXPECT_TRUE(box.startsWith("Error | The movie was not saved: ")) << box.toStdString();
    EXPECT_TRUE(box.contains(QString::fromStdString(output))) << box.toStdString();
    EXPECT_TRUE(box.contains("disk quota exceeded (" + QString::fromStdString(output) + ")")) << box.toStdString();
    EXPECT_FALSE(box.contains("Successful"));
    EXPECT_FALSE(fs::exists(output));
    EXPECT_TRUE(TemporaryFiles(d.app.settings->APATH).empty());
    EXPECT_FALSE(d.window->isVisible());
}

// Files that already have an output's name: a failed export leaves them
// byte for byte, a good one replaces them, and the encode-again dialog asks
// before it names one. No temporary file stays beside them.
TEST(DesktopConversion, ExistingMoviesSurviveFailedExportsAndAreReplacedOnlyWhenAsked) {
    Desktop d;
    // Every .avi encoding writes garbage and fails.
    InstallEncoderWrapper(d, "case \"$*\" in *.avi*) for a; do out=\"${a#file:}\"; done; "
                             "head -c 3000 /dev/urandom > \"$out\"; echo 'simulated failure' >&2; exit 1;; esac");
    Load(d, FisheyeClip("fish-h264.mp4"));
    const std::string avi = d.dir + "/keep.avi";
    const std::string mp4 = d.dir + "/keep.mp4";
    const std::string mine = "the user's own movie";
    std::ofstream(avi, std::ios::binary) << mine;
    std::ofstream(mp4, std::ios::binary) << mine;

    ConvertScript script(d, avi);
    // The chooser's own question for keep.avi, keep.mp4 in the dialog, then
    // keep.avi in the dialog once more: declined.
    script.replace = {true, true, false};
    script.answers = {true, true};
    auto typeAndSave = [](const std::string& path, bool cancelAfter) {
        return [path, cancelAfter](QDialog* dialog) {
            dialog->findChild<QLineEdit*>("id_101")->setText(QString::fromStdString(path));
            dialog->findChild<QPushButton*>("id_2002")->click();
            // A declined question leaves the dialog open.
            if (cancelAfter && dialog->isVisible()) dialog->findChild<QPushButton*>("id_2004")->click();
        };
    };
    script.options.push_back(typeAndSave(mp4, false));
    script.options.push_back(typeAndSave(avi, true));
    ASSERT_TRUE(testing::ConvertAndWait(d));

    const QStringList& boxes = script.boxes;
    ASSERT_GE(boxes.size(), 4) << boxes.join("\n").toStdString();
    EXPECT_TRUE(boxes.filter("Error | The movie was not saved: cannot write " + QString::fromStdString(avi)).size() == 1)
        << boxes.join("\n").toStdString();
    const QString question = "Save Rectangular Video | %1 already exists.\nDo you want to replace it?";
    EXPECT_EQ(boxes.filter(question.arg("keep.mp4")).size(), 1) << boxes.join("\n").toStdString();
    EXPECT_EQ(boxes.filter(question.arg("keep.avi")).size(), 1) << boxes.join("\n").toStdString();
    EXPECT_EQ(testing::ReadFile(avi), mine);
    EXPECT_GT(ProbeInt(mp4, "stream=width"), 0);
    EXPECT_EQ(CountLines(d.LogLines(), "ConvertRectFFMPEG aVideoEXT .avi"), 1);
    for (const auto& entry : fs::directory_iterator(d.dir)) {
        EXPECT_NE(entry.path().filename().string()[0], '.') << entry.path();
    }
}

bool ControlsUnlocked(const Desktop& d) {
    for (int id : {100, 101, 102, 104, 3904})
        if (!d.window->Control(id)->isEnabled()) return false;
    return d.window->MenuItem(104)->isEnabled();
}

TEST(DesktopConversion, RunsThatNeverStartLeaveTheProgramOpenAndUnlocked) {
    Desktop d;
    const std::string copy = d.dir + "/going away.mp4";
    fs::copy_file(FisheyeClip("fish-h264.mp4"), copy);
    Load(d, copy);
    {
        // A cancelled save chooser: no run at all. Convert saved the
        // parameters with the windows where they are now, and no output
        // window means no position of it.
        d.window->move(120, 90);
        if (d.window->Output() != nullptr) d.window->EndOutputWindow();
        d.session->app.settings.Change([](AppSettings& s) { s.V_X = 300, s.V_Y = 200; });
        ConvertScript script(d, "");
        ASSERT_TRUE(testing::ConvertAndWait(d));
        EXPECT_TRUE(script.boxes.isEmpty());
        const std::string saved = testing::ReadFile(d.app.env.iniPath);
        EXPECT_NE(saved.find("<M_X>" + std::to_string(d.window->pos().x()) + "</M_X>"), std::string::npos) << saved;
        EXPECT_NE(saved.find("<M_X>120</M_X>"), std::string::npos) << saved;
        EXPECT_NE(saved.find("<V_X>0</V_X>"), std::string::npos) << saved;
        EXPECT_NE(saved.find("<V_Y>0</V_Y>"), std::string::npos) << saved;
        EXPECT_TRUE(ControlsUnlocked(d));
        EXPECT_EQ(CountLines(d.LogLines(), "Convert Movie Begin"), 0);
    }
    {
        // The movie's file went after it was opened.
        fs::remove(copy);
        ConvertScript script(d, d.dir + "/out.mp4");
        ASSERT_TRUE(testing::ConvertAndWait(d));
        EXPECT_EQ(script.boxes, QStringList{"Error Monitoring | Video file not found!"});
        EXPECT_TRUE(ControlsUnlocked(d));
        EXPECT_TRUE(d.window->isVisible());
        EXPECT_FALSE(fs::exists(d.dir + "/out.mp4"));
        EXPECT_FALSE(d.app.run.converting);
        EXPECT_EQ(CountLines(d.LogLines(), "Begin Convert Process"), 0);
    }
}

}  // namespace
}  // namespace tessaly
