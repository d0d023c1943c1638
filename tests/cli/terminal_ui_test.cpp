#include "cli/terminal_ui.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

namespace tessaly {
namespace {

TEST(TerminalUi, ProgressLine) {
    EXPECT_EQ(ProgressLine(150, 300, 10),
              "[############............] 150/300 frames  15.0 fps  elapsed 00:00:10  left 00:00:10");
    EXPECT_EQ(ProgressLine(0, 300, 0),
              "[........................] 0/300 frames  0.0 fps  elapsed 00:00:00  left --:--:--");
    // More frames than the movie announced: the bar stays full.
    EXPECT_EQ(ProgressLine(320, 300, 10).substr(0, 26), "[########################]");
    EXPECT_NE(ProgressLine(5, 0, 1).find("5/0 frames"), std::string::npos);
}

// A stop says what it left: nothing, or the outputs already in place.
TEST(TerminalUi, StopReportSaysWhatWasWritten) {
    EXPECT_EQ(StopReport("SIGINT", {}),
              "stopped by SIGINT; the partial output and the temporary files were removed");
    EXPECT_EQ(StopReport("SIGTERM", {"o.mp4"}),
              "stopped by SIGTERM after o.mp4 was written in full and checked; the temporary files and "
              "any unfinished output were removed");
    EXPECT_EQ(StopReport("SIGHUP", {"a.mp4", "b.webm"}).substr(0, 50),
              "stopped by SIGHUP after a.mp4, b.webm were written");
}

// The still path encodes the outputs in their order: each encoding names the next.
TEST(TerminalUi, EachEncodingNamesTheNextOutput) {
    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    TerminalUserInterface ui(out, true, 7, {"a.mp4", "b.avi"});
    for (int i = 0; i < 3; ++i) ui.OpenExportProgress();
    std::rewind(out);
    char text[256] = {};
    EXPECT_GT(std::fread(text, 1, sizeof text - 1, out), 0u);
    std::fclose(out);
    EXPECT_NE(std::strstr(text, "\rEncoding a.mp4 ...\033[K\n\rEncoding b.avi ...\033[K\n\rEncoding b.avi"), nullptr) << text;

    ui.ShowMessage("Error Monitoring", "Format of the file is not support,\r\nor the movie can be opened by another app.\r\n ",
                   MessageIcon::Information, true);
    EXPECT_EQ(ui.LastMessage(),
              "Format of the file is not support, or the movie can be opened by another app.");
}

}  // namespace
}  // namespace tessaly
