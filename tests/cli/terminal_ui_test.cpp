#include "cli/terminal_ui.h"

#include <gtest/gtest.h>

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

TEST(TerminalUi, FurtherOutputsAnswerTheQuestionInOrder) {
    TerminalUserInterface ui(stderr, false, 7, {"a.mp4", "b.avi", "c.webm"});
    EXPECT_EQ(ui.CompressionLevel(), 7);
    EXPECT_TRUE(ui.AskOkCancel("Successful termination", "x", MessageIcon::Information));
    EXPECT_EQ(ui.OutputOptionsDialog("a.mp4"), "b.avi");
    EXPECT_TRUE(ui.AskOkCancel("Error", "x", MessageIcon::Error));
    EXPECT_EQ(ui.OutputOptionsDialog("b.avi"), "c.webm");
    EXPECT_FALSE(ui.AskOkCancel("Successful termination", "x", MessageIcon::Information));
    EXPECT_EQ(ui.OutputOptionsDialog("c.webm"), "");

    ui.ShowMessage("Error Monitoring", "Format of the file is not support,\r\nor the movie can be opened by another app.\r\n ",
                   MessageIcon::Information, true);
    EXPECT_EQ(ui.LastMessage(),
              "Format of the file is not support, or the movie can be opened by another app.");
}

}  // namespace
}  // namespace tessaly
