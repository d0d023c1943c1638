// Start-up on a desktop of a given size (ctest runs this once per size with
// an offscreen screen made to measure): lower than 768 pixels shows the
// warning and creates nothing; 768 and more shows the splash, then the main
// window and the output window.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include <cstdlib>
#include <filesystem>

#include "tests/ui/ui_test_support.h"
#include "ui/desktop_app.h"
#include "ui/output_window.h"

namespace tessaly {
namespace {

TEST(StartUp, ScreenCheckThenSplashThenMainWindow) {
    const char* size = std::getenv("TESSALY_TEST_SCREEN");
    ASSERT_NE(size, nullptr);
    int width = 0, height = 0;
    ASSERT_EQ(std::sscanf(size, "%dx%d", &width, &height), 2);
    ASSERT_EQ(QGuiApplication::primaryScreen()->geometry().size(), QSize(width, height));

    const std::string dir = testing::TempFolder("screen");
    std::vector<std::string> messages;
    bool splashSeen = false;
    std::vector<std::string> cutTexts;  // splash texts wider than their boxes
    testing::ModalAnswerer answer([&](QWidget* modal) {
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            messages.push_back(box->windowTitle().toStdString() + "|" + box->text().toStdString());
            box->accept();
            return true;
        }
        if (modal->objectName() == "Splash") {
            splashSeen = true;
            for (const QLabel* label : modal->findChildren<QLabel*>()) {
                const int need = label->fontMetrics().horizontalAdvance(label->text());
                if (!label->text().isEmpty() && need > label->contentsRect().width())
                    cutTexts.push_back(label->text().toStdString() + " needs " + std::to_string(need) + " of " +
                                       std::to_string(label->contentsRect().width()) + " pixels");
            }
            modal->findChild<QPushButton*>("id_2005")->click();
            return true;
        }
        return false;
    });
    bool mainWindow = false, outputWindow = false;
    DesktopOptions options;
    options.programDir = dir + "/";
    options.onMainWindow = [&](MainWindow& w, DesktopSession&) {
        mainWindow = w.isVisible();
        outputWindow = w.Output() != nullptr && w.Output()->isVisible();
        QTimer::singleShot(50, &w, [&w] { w.close(); });
    };
    EXPECT_EQ(RunDesktop(options), 0);

    if (height < 768) {
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0], "Warning !|Current Screen resolution: " + std::to_string(width) + "x" +
                                   std::to_string(height) +
                                   " pixels.\nTessaly Fisheye Publisher require Screen resolution with "
                                   "height >= 768 pixels.\nPlease change the Screen resolution. The "
                                   "programm cannot be run.");
        EXPECT_FALSE(splashSeen);
        EXPECT_FALSE(mainWindow);
        EXPECT_TRUE(std::filesystem::is_empty(dir));  // no log, no TEMP folder
    } else {
        EXPECT_TRUE(messages.empty());
        EXPECT_TRUE(splashSeen);
        EXPECT_TRUE(cutTexts.empty()) << cutTexts.front();
        EXPECT_TRUE(mainWindow);
        EXPECT_TRUE(outputWindow);
        const std::string log = testing::ReadFile(dir + "/Tessaly_mono.log");
        EXPECT_NE(log.find("Main Form Created Ok\r\n"), std::string::npos);
        EXPECT_NE(log.find("EXIT3\r\n"), std::string::npos);
        EXPECT_TRUE(std::filesystem::is_directory(dir + "/TEMP"));
    }
    EXPECT_EQ(ScreenCheckMessage(1024, 768), "");
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace tessaly
