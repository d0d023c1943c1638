// The desktop's job queue: movies added one after another with their own
// circles convert in one session as v360 converts their circles, whatever
// the live cut is meanwhile; the queue survives a restart and skips what it
// cannot read, saying so; a job is removed, the running one cancelled, a
// failed one marked with its reason, and the queue goes on.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "convert/transform_adapters.h"
#include "tests/ui/ui_test_support.h"
#include "tests/video/test_clips.h"
#include "tests/video/v360_compare.h"
#include "transform/cut_geometry.h"
#include "transform/lens_circle.h"
#include "ui/queue_window.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;
using testing::Desktop;
using testing::FisheyeClip;
using testing::ModalAnswerer;
using testing::WaitUntil;

void Load(Desktop& d, const std::string& clip) {
    const int64_t searches = d.session->circleSearchesDone.load();
    d.session->StartLoadWorker(clip);
    ASSERT_TRUE(WaitUntil([&] { return d.session->source.VideoPath() == clip && d.session->previewPasses.load() > 2; }));
    if (d.session->findCircleOnLoad.load() != 0) {
        ASSERT_TRUE(WaitUntil([&] { return d.session->circleSearchesDone.load() > searches; }));
    }
}

// Answers the output chooser of "Add to queue" with `output`.
struct OutputAnswer {
    std::string output;
    ModalAnswerer answerer{[this](QWidget* modal) {
        auto* chooser = qobject_cast<QFileDialog*>(modal);
        if (chooser == nullptr || chooser->windowTitle() != "Save Stereo Video") return false;
        testing::FillChooser(chooser, output);
        return true;
    }};
};

std::vector<QueueState> States(const Desktop& d) {
    std::vector<QueueState> states;
    for (const QueueEntry& e : d.session->queue.Entries()) states.push_back(e.state);
    return states;
}

bool Settled(const Desktop& d) {
    const std::vector<QueueState> s = States(d);
    return !d.session->queue.Running() && std::none_of(s.begin(), s.end(), [](QueueState q) {
        return q == QueueState::kWaiting || q == QueueState::kConverting;
    });
}

QPushButton* QueueButton(const Desktop& d, const char* name) { return d.window->Queue()->findChild<QPushButton*>(name); }

// Three movies whose circles differ in size and place, each added with the
// circle found on load, then the live cut reset: the queue converts each
// with its own cut, as v360 converts its circle, in one session.
TEST(JobQueue, ThreeMoviesEachConvertWithTheirOwnCircle) {
    Desktop d;
    d.session->findCircleOnLoad = 1;
    const struct { const char* clip; int w, h; } movies[] = {
        {"fish-640x480.mp4", 640, 480}, {"fish-800x450.mp4", 800, 450}, {"fish-960x540.mp4", 960, 540}};
    // "1:Max size": the job keeps the list's choice; the encoder's loss stays small.
    static_cast<QComboBox*>(d.window->Control(control::kCompressionList))->setCurrentIndex(1);
    OutputAnswer answer;
    for (size_t i = 0; i < std::size(movies); ++i) {
        Load(d, FisheyeClip(movies[i].clip));
        answer.output = d.dir + "/panorama " + std::to_string(i) + ".mp4";
        d.window->Command(control::kAddToQueue);
        ASSERT_EQ(d.session->queue.Entries().size(), i + 1) << d.session->queue.Notes().size();
        const MovieJob& job = d.session->queue.Entries().back().job;
        EXPECT_EQ(job.geometry.cut, CutOf(d.session->app.settings.Copy()));
        EXPECT_NE(job.geometry.cut, kDefaultCut);
        EXPECT_EQ(job.outputs.paths, std::vector<std::string>{answer.output});
        EXPECT_EQ(job.outputs.quality, 1);
    }
    ASSERT_NE(d.window->Queue(), nullptr);
    EXPECT_EQ(d.window->Queue()->Table()->rowCount(), 3);
    d.window->Command(control::kCutReset);
    d.window->Command(control::kRunQueue);
    ASSERT_TRUE(WaitUntil([&] { return Settled(d); }, 300000));
    for (size_t i = 0; i < std::size(movies); ++i) {
        const QueueEntry& e = d.session->queue.Entries()[i];
        ASSERT_EQ(e.state, QueueState::kDone) << QueueStateText(e);
        const int side = BuildCutGeometry(movies[i].w, movies[i].h, e.job.geometry.cut).geometry.outW;
        const std::string out = e.job.outputs.paths.front();
        ASSERT_EQ(testing::ProbeVideoEntry(out, "stream=width"), std::to_string(side)) << out;
        const int circle = movies[i].h;  // make-fisheye-clip: as tall as the frame, centred
        const std::vector<uint8_t> ours = testing::FirstFrame("'" + out + "'", "", d.dir + "/ours.bgra");
        const std::vector<uint8_t> ideal = testing::FirstFrame(
            FisheyeClip(movies[i].clip), testing::V360Panorama(circle, (movies[i].w - circle) / 2, 0, side),
            d.dir + "/v360.bgra");
        ASSERT_EQ(ours.size(), ideal.size());
        const double psnr = testing::PsnrWhereCovered(ours, ideal);
        std::printf("queued %s: %.1f dB against v360\n", movies[i].clip, psnr);
        EXPECT_GE(psnr, 26.0) << movies[i].clip;
        EXPECT_EQ(d.window->Queue()->Table()->item(static_cast<int>(i), 2)->text(), "done");
    }
    EXPECT_EQ(CutOf(d.session->app.settings.Copy()), kDefaultCut);
}

// Jobs added, the program ended, the index damaged: a new desktop over the
// same settings folder shows the jobs as they were and says what it skipped.
TEST(JobQueue, SurvivesARestartAndSkipsWhatItCannotRead) {
    std::string folder;
    std::vector<MovieJob> added;
    {
        Desktop first;
        first.session->findCircleOnLoad = 0;
        folder = first.dir;
        Load(first, FisheyeClip("fish-2s.mp4"));
        for (const char* name : {"a.mp4", "b é.mp4", "c.mp4"}) {
            ASSERT_EQ(first.session->AddToQueue(first.dir + "/" + name), "");
            added.push_back(first.session->queue.Entries().back().job);
        }
        first.keepFolder = true;
    }
    const fs::path queueDir = fs::path(folder) / kQueueFolderName;
    std::ofstream(queueDir / "job-0003.job") << "TESSALY-JOB 1\nMOVIE";
    const struct { const char* line; const char* said; } damaged[] = {
        {"bogus job-0009.job", "unknown state 'bogus'"},
        {"waiting job-0042.job", "job-0042.job"},
        {"waiting ../Tessaly.ini", "no job file name"},
        {"waiting job-0001.job", "job-0001.job is listed twice"},
    };
    {
        // The second job ran to its end before the restart.
        std::string text = testing::ReadFile((queueDir / kQueueIndexName).string());
        text.replace(text.find("waiting job-0002.job"), 7, "done");
        std::ofstream index(queueDir / kQueueIndexName);
        index << text;
        for (const auto& c : damaged) index << c.line << "\n";
    }
    Desktop again(folder, false);
    const std::vector<QueueEntry>& entries = again.session->queue.Entries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].job, added[0]);
    EXPECT_EQ(entries[1].job, added[1]);
    EXPECT_EQ(States(again), (std::vector<QueueState>{QueueState::kWaiting, QueueState::kDone}));
    EXPECT_EQ(entries[1].percent, 100);
    const std::vector<std::string>& notes = again.session->queue.Notes();
    ASSERT_EQ(notes.size(), std::size(damaged) + 1);
    EXPECT_NE(notes[0].find("line 4 of the queue index"), std::string::npos) << notes[0];
    for (size_t i = 0; i < std::size(damaged); ++i) {
        EXPECT_NE(notes[i + 1].find("line " + std::to_string(i + 5) + " "), std::string::npos) << notes[i + 1];
        EXPECT_NE(notes[i + 1].find(damaged[i].said), std::string::npos) << notes[i + 1];
        EXPECT_NE(notes[i + 1].find("; skipped"), std::string::npos);
    }
    again.window->Command(control::kQueueWindow);
    ASSERT_NE(again.window->Queue(), nullptr);
    EXPECT_EQ(again.window->Queue()->Table()->rowCount(), 2);
    EXPECT_EQ(again.window->Queue()->Table()->item(1, 0)->text(), "fish-2s.mp4");
    EXPECT_EQ(again.window->Queue()->Table()->item(1, 1)->text(), QString::fromUtf8("b é.mp4"));
    EXPECT_TRUE(again.window->Queue()->Notes()->text().contains("line 5 of the queue index"));
    EXPECT_TRUE(fs::exists(queueDir / "job-0003.job"));  // skipped, not lost
}

// Remove, cancel and a failure: the running job refuses removal, a waiting
// one goes with its file; the running one is cancelled and its output never
// appears; a job whose movie went fails with the reason; the last one is done.
TEST(JobQueue, RemoveCancelAndAFailureLetTheQueueGoOn) {
    Desktop d;
    d.session->findCircleOnLoad = 0;
    Load(d, FisheyeClip("fish-6s.mp4"));
    ASSERT_EQ(d.session->AddToQueue(d.dir + "/long.mp4"), "");
    const std::string gone = d.dir + "/gone.mp4";
    fs::copy_file(FisheyeClip("fish-2s.mp4"), gone);
    Load(d, gone);
    for (const char* out : {"/removed.mp4", "/failed.mp4"}) ASSERT_EQ(d.session->AddToQueue(d.dir + out), "");
    Load(d, FisheyeClip("fish-2s.mp4"));
    ASSERT_EQ(d.session->AddToQueue(d.dir + "/last.mp4"), "");
    fs::remove(gone);

    int progressed = 0;
    QObject::connect(&d.session->queue, &JobQueue::progressed, [&](int row) { progressed += row == 0; });
    d.window->Command(control::kRunQueue);
    QTableWidget* table = d.window->Queue()->Table();
    table->selectRow(0);
    EXPECT_FALSE(QueueButton(d, "removeJob")->isEnabled());
    EXPECT_FALSE(d.session->queue.Remove(0));
    table->selectRow(1);
    QueueButton(d, "removeJob")->click();
    ASSERT_EQ(d.session->queue.Entries().size(), 3u);
    ASSERT_TRUE(WaitUntil([&] { return progressed > 0; }, 60000));
    QueueButton(d, "cancelJob")->click();
    ASSERT_TRUE(WaitUntil([&] { return Settled(d); }, 300000));

    EXPECT_EQ(States(d), (std::vector<QueueState>{QueueState::kCancelled, QueueState::kFailed, QueueState::kDone}));
    EXPECT_FALSE(fs::exists(d.dir + "/long.mp4"));
    EXPECT_FALSE(fs::exists(d.dir + "/removed.mp4"));
    EXPECT_FALSE(fs::exists(d.session->queue.Folder() + "/job-0002.job"));
    const QueueEntry& failed = d.session->queue.Entries()[1];
    EXPECT_EQ(QueueStateText(failed), "failed: the movie " + gone + " is missing or has changed since the job was made");
    EXPECT_EQ(table->item(1, 2)->text().toStdString(), QueueStateText(failed));
    EXPECT_EQ(testing::ProbeVideoEntry(d.dir + "/last.mp4", "stream=codec_type"), "video");
    for (const auto& entry : fs::directory_iterator(d.dir))
        EXPECT_NE(entry.path().filename().string().rfind(".long", 0), 0u) << entry.path();
}

}  // namespace
}  // namespace tessaly
