// When the marking step acts after an encoding, and what the user sees when
// it cannot.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "../app/temp_dir.h"
#include "tests/recording_user_interface.h"
#include "convert/vr_marking.h"

namespace tessaly {
namespace {

using testing::ReadFile;
using testing::TempDir;

size_t Count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

TEST(VrMarkingTest, ActsOnlyOnWrittenMoviesAndWarnsWhenItFails) {
    TempDir dir("vrmark");
    const std::string junk = (dir.path() / "junk.mp4").string();
    std::ofstream(junk, std::ios::binary) << "not a movie";

    struct Case {
        const char* name;
        std::string path, ext;
        bool written;
        int32_t enabled;
        const char* logged;   // expected in the log, "" for nothing
        bool warned;
    };
    const Case kCases[] = {
        {"encoder failed", junk, ".mp4", false, 1, "", false},
        {"switched off", junk, ".mp4", true, 0, "", false},
        {"damaged movie", junk, ".mp4", true, 1, "left unmarked: cannot open", true},
        {"avi", junk, ".avi", true, 1, "cannot carry the 180-degree VR marking", false},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        FisheyeApp app;
        const std::string logPath = (dir.path() / "log.txt").string();
        std::remove(logPath.c_str());
        app.log.SetPath(logPath);
        app.markVrOutput = c.enabled;
        RecordingUserInterface ui;
        ExportResult exported;
        exported.outputPath = c.path;
        exported.videoExt = c.ext;
        exported.written = c.written;

        EXPECT_FALSE(MarkExportedMovie(app, ui, exported));
        EXPECT_FALSE(MarkExportedMovie(app, ui, exported));  // an encoding again
        const std::string log = ReadFile(logPath);
        if (*c.logged == '\0') {
            EXPECT_EQ(log, "");
        } else {
            // The note on containers comes once per run, a failure each time.
            EXPECT_EQ(Count(log, c.logged), c.warned ? 2u : 1u) << log;
        }
        size_t warnings = 0;
        for (const std::string& call : ui.Calls()) {
            if (call.rfind("message Warning | The movie " + junk +
                               " was saved, but without the 180° VR marking:\ncannot open",
                           0) == 0) {
                ++warnings;
            }
        }
        EXPECT_EQ(warnings, c.warned ? 2u : 0u);
        EXPECT_EQ(ReadFile(junk), "not a movie");
    }
}

}  // namespace
}  // namespace tessaly
