// The steps after an encoding: when the marking acts, what the user sees
// when it cannot, and that only a verified movie ever reaches the output's
// name while a file of that name keeps its bytes otherwise.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

#include "../app/temp_dir.h"
#include "tests/recording_user_interface.h"
#include "convert/vr_marking.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::TempDir;

size_t Count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

// Files of the folder other than the ones named.
size_t OtherFiles(const fs::path& dir, const std::string& a, const std::string& b) {
    size_t n = 0;
    for (const auto& entry : fs::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        if (name != a && name != b) ++n;
    }
    return n;
}

TEST(VrMarkingTest, OnlyAVerifiedMovieIsPlacedAndAFailedMarkingIsAWarning) {
    TempDir dir("vrmark");
    // `logged`: expected in the log, "" for nothing.
    struct Case { const char* name; std::string file, ext; bool verified; int32_t enabled, stop; const char* logged; bool warned; };
    const Case kCases[] = {
        {"encoder failed", "a.mp4", ".mp4", false, 1, 0, "", false},
        {"switched off", "b.mp4", ".mp4", true, 0, 0, "", false},
        {"damaged movie", "c.mp4", ".mp4", true, 1, 0, "left unmarked: cannot open", true},
        {"avi", "d.avi", ".avi", true, 1, 0, "cannot carry the 180-degree VR marking", false},
        {"stopped before the rename", "e.mp4", ".mp4", true, 0, 1, "stopped before it was put in place", false},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        FisheyeApp app;
        const std::string logPath = (dir.path() / "log.txt").string();
        std::remove(logPath.c_str());
        app.env.log.SetPath(logPath);
        app.run.markVrOutput = c.enabled != 0;
        app.run.stopRequested = c.stop != 0;
        RecordingUserInterface ui;
        const std::string output = (dir.path() / c.file).string();
        const bool placed = c.verified && c.stop == 0;
        for (int encoding = 0; encoding < 2; ++encoding) {  // an encoding again
            std::ofstream(output, std::ios::binary) << "the user's movie";
            ExportResult exported;
            exported.outputPath = output, exported.videoExt = c.ext, exported.verified = c.verified;
            exported.pending = CreatePendingFile(output).value();
            std::ofstream(exported.pending.tempPath, std::ios::binary) << "not a movie";

            PlaceExportedMovie(app, ui, exported);
            EXPECT_EQ(exported.written, placed);
            EXPECT_EQ(exported.stopped, c.stop == 1);
            EXPECT_EQ(ReadFile(output), placed ? "not a movie" : "the user's movie");
            EXPECT_EQ(OtherFiles(dir.path(), c.file, "log.txt"), 0u) << "a temporary file was left";
        }
        const std::string log = ReadFile(logPath);
        if (*c.logged == '\0') {
            EXPECT_EQ(log, "");
        } else {
            // The note on containers comes once per run, a failure each time.
            EXPECT_EQ(Count(log, c.logged), c.warned || c.stop ? 2u : 1u) << log;
        }
        const std::string warning =
            "message Warning | The movie " + output + " was saved, but without the 180° VR marking:\ncannot open";
        const auto calls = ui.Calls();
        EXPECT_EQ(std::count_if(calls.begin(), calls.end(), [&](const std::string& s) { return s.starts_with(warning); }),
                  c.warned ? 2 : 0);
        fs::remove(output);
    }
}

}  // namespace
}  // namespace tessaly
