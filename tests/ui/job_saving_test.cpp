// "Save job..." in the File menu: the desktop's settings for the loaded
// movie, written as a job file that tessaly-convert --job runs.
#include <gtest/gtest.h>

#include <QAction>
#include <QMessageBox>

#include <filesystem>

#include "ui/control_ids.h"
#include "convert/movie_job_file.h"
#include "tests/capture_output.h"
#include "tests/ui/ui_test_support.h"
#include "tests/video/test_clips.h"

namespace tessaly {
namespace {

using testing::Desktop;
using testing::WaitUntil;

TEST(SaveJob, TheDesktopsSettingsRunInTheConverter) {
    Desktop d;
    const std::string clip = testing::FisheyeClip("fish-2s.mp4");
    ASSERT_TRUE(testing::LoadAndWait(d, clip));
    d.app.settings.Change([](AppSettings& s) {
        s.XL1 = 30;
        s.SHARPEN = 3;
        s.BRIGHTNESS_CH = 1;
        s.BRIGHTNESS = 99;
        s.lens.yaw = 7.5;
    });
    d.app.run.horizontalFlip = true;
    const std::string output = d.dir + "/out put.mp4";
    const std::string jobPath = d.dir + "/film.job";
    // The output chooser, then the job file's; a message says what failed.
    QString message;
    testing::ModalAnswerer answerer([&](QWidget* modal) {
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            message = box->text();
            box->accept();
            return true;
        }
        auto* chooser = qobject_cast<QFileDialog*>(modal);
        if (chooser == nullptr || chooser->property("answered").toBool()) return false;
        chooser->setProperty("answered", true);
        testing::FillChooser(chooser, chooser->windowTitle() == "Save job" ? jobPath : output);
        return true;
    });
    d.window->MenuItem(control::kSaveJob)->trigger();
    ASSERT_TRUE(WaitUntil([&] { return std::filesystem::exists(jobPath); })) << message.toStdString();
    const Result<MovieJob> read = ReadJobFile(jobPath);
    ASSERT_TRUE(read.ok()) << read.reason();
    const AppSettings s = d.app.settings.Copy();
    EXPECT_EQ(read->movie.path, clip);
    EXPECT_EQ(read->movie.width, 160);
    EXPECT_EQ(read->geometry.cut, (CutRect{30, s.YL1, s.XL2, s.YL2}));
    EXPECT_EQ(read->filters.sharpen, 3);
    EXPECT_EQ(read->filters.brightnessOn, 1);
    EXPECT_EQ(read->filters.brightness, 99);
    EXPECT_EQ(read->lens.yaw, 7.5);
    EXPECT_TRUE(read->flip);
    EXPECT_EQ(read->outputs.paths, std::vector<std::string>{output});
    EXPECT_TRUE(read->outputs.stills.has_value());

    const testing::ShellOutcome run = testing::RunShellCommand(
        testing::ShellQuote(std::string(TESSALY_BINARY_DIR) + "/cli/tessaly-convert") + " --job " +
        testing::ShellQuote(jobPath));
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_TRUE(std::filesystem::exists(output));
}

}  // namespace
}  // namespace tessaly
