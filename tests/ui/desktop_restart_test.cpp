// The same job from the desktop before and after a restart (a new window
// over the same Tessaly.ini) and from tessaly-convert with that parameter
// file and the same options: the same stills, byte for byte, and the same
// encoded picture (ffmpeg's framemd5), for five settings sets. After the
// restart every slider shows exactly the stored value.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <vector>

#include "tests/capture_output.h"
#include "tests/cli/converter_copy.h"
#include "tests/ui/convert_script.h"
#include "ui/control_ids.h"
#include "ui/parameter_controls.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;
using testing::Desktop;

std::string Quote(const std::string& text) { return testing::ShellQuote(text); }

// The stills of a folder (mono*.bmp), in order, as one text.
std::string Stills(const fs::path& folder) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().filename().string().rfind("mono", 0) == 0) files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    std::string all;
    for (const fs::path& file : files) {
        std::ifstream in(file, std::ios::binary);
        all += file.filename().string() + ":" + std::string(std::istreambuf_iterator<char>(in), {});
    }
    return all;
}

std::string FrameHashes(const std::string& movie) {
    return testing::CaptureOutput("ffmpeg -v error -i " + Quote("file:" + movie) +
                                  " -map 0:v -f framemd5 - 2>/dev/null | grep -v '^#'");
}

// The encoder beside the desktop program: ffmpeg, which also copies the
// stills it encodes into `capture`.
void CaptureStills(const Desktop& d, const fs::path& capture) {
    testing::InstallEncoderWrapper(d, "for a; do case \"$a\" in *mono%06d*) mkdir -p " + Quote(capture.string()) +
                                          " && cp \"$(dirname \"${a#file:}\")\"/mono* " + Quote(capture.string()) +
                                          "/ ;; esac; done");
}

// The windows of one desktop conversion: the save chooser gets `first`; when
// `resize` is set, the success question's OK opens the options dialog, which
// encodes `second` at that size choice.
void AnswerRun(testing::ConvertScript& script, const std::string& second, int resize) {
    if (resize == 0) return;
    script.answers = {true};
    script.options.push_back([second, resize](QDialog* dialog) {
        testing::Pick(dialog, 870, resize);
        dialog->findChild<QLineEdit*>("id_101")->setText(QString::fromStdString(second));
        dialog->findChild<QPushButton*>("id_2002")->click();
    });
}

void SetSlider(Desktop& d, int id, int value) { static_cast<QSlider*>(d.window->Control(id))->setValue(value); }
// A click, as the user checks a box.
void Check(Desktop& d, int id) {
    auto* box = static_cast<QCheckBox*>(d.window->Control(id));
    if (!box->isChecked()) box->click();
}

// Each slider's position beside its stored field.
std::vector<std::pair<int, int>> SlidersAndFields(Desktop& d) {
    std::vector<std::pair<int, int>> shown;
    for (const ParameterControl& c : kParameterControls) {
        if (c.kind != ControlKind::kSlider) continue;
        shown.push_back({static_cast<QSlider*>(d.window->Control(c.control))->value(), (*d.app.settings).*FieldOf(c)});
    }
    return shown;
}

struct SettingsSet {
    const char* name;
    std::function<void(Desktop&)> stored;       // kept in Tessaly.ini
    std::function<void(Desktop&)> runSwitches;  // the run's own, given again after a restart
    std::string options;                        // tessaly-convert's
    int resize = 0;                             // the desktop encodes again at this size choice
};

TEST(DesktopRestart, TheSameJobBeforeAndAfterARestartAndFromTessalyConvert) {
    const std::string clip = testing::FisheyeClip("fish-h264.mp4");
    const SettingsSet sets[] = {
        {"lens",
         [](Desktop& d) {
             LensSettings lens;
             lens.model = LensModel::kStereographic;
             lens.fov = 200;
             lens.yaw = 10.5;
             lens.pitch = -5.25;
             lens.roll = 3;
             ASSERT_EQ(d.session->commands.SetLens(lens), "");
         },
         {}, "--lens stereographic --fov 200 --yaw 10.5 --pitch -5.25 --roll 3"},
        {"filters",
         [](Desktop& d) {
             const std::pair<int, int> moves[] = {{control::kSharpenSlider, 4}, {control::kRadiusSlider, 2},
                                                  {control::kBrightnessSlider, 150}, {control::kContrastSlider, 90},
                                                  {control::kNoiseSlider, 2}};
             for (const auto& [id, value] : moves) SetSlider(d, id, value);
             for (int id : {control::kBrightnessCheck, control::kContrastCheck, control::kNoiseCheck}) Check(d, id);
         },
         {}, "--sharpen 4,2 --brightness 150 --contrast 90 --noise 2"},
        {"flip", {}, [](Desktop& d) { Check(d, control::kFlipCheck); }, "--flip"},
        {"quality", {},
         [](Desktop& d) { static_cast<QComboBox*>(d.window->Control(control::kCompressionList))->setCurrentIndex(15); },
         "--quality 15"},
        {"resize", {}, {}, "--resize 2", 2},
    };
    const fs::path root = testing::TempFolder("restart");
    const fs::path converter = testing::ConverterCopyIn(root / "cli");
    for (const SettingsSet& set : sets) {
        SCOPED_TRACE(set.name);
        const fs::path run = root / set.name;
        fs::create_directories(run / "temp");
        fs::create_directories(run / "desktop");  // a writable program folder keeps Tessaly.ini beside it
        std::vector<std::pair<int, int>> stored;
        std::string outputs[2], stills[2];
        for (int round = 0; round < 2; ++round) {
            Desktop d((run / "desktop").string(), true);
            if (round == 0 && set.stored) set.stored(d);
            const auto shown = SlidersAndFields(d);
            for (const auto& [slider, field] : shown) EXPECT_EQ(slider, field) << "round " << round;
            if (round == 0) stored = shown;
            EXPECT_EQ(shown, stored) << "the sliders after the restart";
            if (set.runSwitches) set.runSwitches(d);
            const fs::path capture = run / ("stills" + std::to_string(round));
            CaptureStills(d, capture);
            d.session->StartLoadWorker(clip);
            ASSERT_TRUE(testing::WaitUntil([&] { return d.session->source.videoOpen == 1 && d.session->previewPasses > 2; }));
            const std::string first = (run / ("first" + std::to_string(round) + ".mp4")).string();
            const std::string second = (run / ("second" + std::to_string(round) + ".mp4")).string();
            testing::ConvertScript script(d, first);
            AnswerRun(script, second, set.resize);
            ASSERT_TRUE(testing::ConvertAndWait(d));
            outputs[round] = FrameHashes(set.resize > 0 ? second : first);
            stills[round] = Stills(capture);
        }
        const std::string out = (run / "cli.mp4").string();
        const testing::ShellOutcome cli = testing::RunShellCommand(
            Quote(converter.string()) + " --params " + Quote((run / "desktop" / "Tessaly.ini").string()) +
            " --stills bmp --keep-stills --temp " + Quote((run / "temp").string()) + " " + set.options + " " +
            Quote(clip) + " " + Quote(out));
        ASSERT_EQ(cli.status, 0) << cli.output;
        fs::path kept;
        for (const auto& entry : fs::directory_iterator(run / "temp")) {
            if (entry.path().filename().string().rfind("tessaly-stills-", 0) == 0) kept = entry.path();
        }
        ASSERT_FALSE(kept.empty());
        ASSERT_FALSE(stills[0].empty());
        EXPECT_TRUE(stills[0] == stills[1]) << "the desktop's stills after the restart";
        EXPECT_TRUE(stills[0] == Stills(kept)) << "tessaly-convert's stills";
        ASSERT_FALSE(outputs[0].empty());
        EXPECT_EQ(outputs[0], outputs[1]);
        EXPECT_EQ(outputs[0], FrameHashes(out));
    }
    fs::remove_all(root);
}

}  // namespace
}  // namespace tessaly
