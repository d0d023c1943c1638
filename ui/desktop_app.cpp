#include "ui/desktop_app.h"

#include <QEventLoop>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>

#include "app/app_state.h"
#include "app/startup.h"
#include "ui/about_splash.h"
#include "ui/desktop_session.h"
#include "ui/main_window.h"

namespace tessaly {

std::string ScreenCheckMessage(int width, int height) {
    if (height >= 768) return {};
    return "Current Screen resolution: " + std::to_string(width) + "x" + std::to_string(height) +
           " pixels.\nTessaly Fisheye Publisher require Screen resolution with height >= 768 pixels.\n"
           "Please change the Screen resolution. The programm cannot be run.";
}

int RunDesktop(const DesktopOptions& options) {
    const QSize desktop = QGuiApplication::primaryScreen()->geometry().size();
    const std::string warning = ScreenCheckMessage(desktop.width(), desktop.height());
    if (!warning.empty()) {
        QMessageBox box(QMessageBox::Warning, "Warning !", QString::fromStdString(warning), QMessageBox::Ok);
        box.setObjectName("ScreenWarning");
        box.exec();
        return 0;
    }

    FisheyeApp app;
    app.env.screen = ScreenSize{desktop.width(), desktop.height()};
    StartUpOptions startUp;
    startUp.programDir =
        options.programDir.empty() ? ProgramFolder(options.argv0 ? options.argv0 : "") : options.programDir;
    startUp.firstArgument = options.firstArgument;
    StartUpCore(app, startUp);

    DesktopSession session(app);
    ShowSplash(session);

    MainWindow window(session);
    session.AttachWindow(&window);
    if (app.settings->M_X != 0 && app.settings->M_Y != 0) window.move(app.settings->M_X, app.settings->M_Y);
    window.show();
    window.activateWindow();
    if (app.run.showOutputVideo.load()) window.OpenOutputWindow();
    app.env.log.WriteLogLine("Main Form Created Ok");

    QEventLoop loop;
    window.onEnded = [&loop] { loop.quit(); };
    if (!options.openMovie.empty()) session.StartLoadWorker(options.openMovie);
    if (options.onMainWindow) options.onMainWindow(window, session);
    if (window.isVisible()) loop.exec();
    return 0;
}

}  // namespace tessaly
