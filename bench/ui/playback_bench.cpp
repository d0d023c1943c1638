// Playback speed of the desktop program: a movie plays with both previews
// shown; reports the preview passes and drawn previews per second, the CPU
// used, and the main thread's longest stall while playing and while a
// slider is dragged.
//
//   tessaly-playback-bench CLIP [SECONDS]

#include <sys/resource.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QSlider>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "app/startup.h"
#include "ui/desktop_session.h"
#include "ui/main_window.h"
#include "ui/output_window.h"
#include "ui/preview_panel.h"
#include "video/stream_text.h"

namespace {

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The longest gap between two turns of the GUI thread's event loop, seen by
// a 1 ms timer.
struct StallProbe {
    QTimer timer;
    QElapsedTimer clock;
    qint64 last = 0;
    qint64 longest = 0;
    StallProbe() {
        clock.start();
        QObject::connect(&timer, &QTimer::timeout, [this] {
            const qint64 now = clock.nsecsElapsed();
            if (last != 0) longest = std::max(longest, now - last);
            last = now;
        });
        timer.setTimerType(Qt::PreciseTimer);
        timer.start(1);
    }
    void Reset() {
        last = 0;
        longest = 0;
    }
    double LongestMs() const { return longest / 1e6; }
};

struct Phase {
    double seconds, passes, drawn, shown, cpu, stallMs;
};

}  // namespace

int main(int argc, char** argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication qt(argc, argv);
    QApplication::setStyle(QStyleFactory::create("Fusion"));
    if (argc < 2) {
        std::fprintf(stderr, "usage: tessaly-playback-bench CLIP [SECONDS]\n");
        return 2;
    }
    const double seconds = argc > 2 ? std::atof(argv[2]) : 5.0;
    QTemporaryDir dir;
    tessaly::FisheyeApp app;
    tessaly::StartUpOptions options;
    options.programDir = dir.path().toStdString() + "/";
    tessaly::StartUpCore(app, options);
    tessaly::DesktopSession session(app);
    tessaly::MainWindow window(session);
    session.AttachWindow(&window);
    window.show();
    window.OpenOutputWindow();

    session.StartLoadWorker(argv[1]);
    QElapsedTimer wait;
    wait.start();
    while (!(app.run.streamState == tessaly::StreamState::Running && session.previewPasses > 5) && wait.elapsed() < 20000) QTest::qWait(10);
    if (app.run.streamState != tessaly::StreamState::Running) {
        std::fprintf(stderr, "tessaly-playback-bench: the movie did not open\n");
        return 1;
    }
    StallProbe probe;
    auto measure = [&](const std::function<void()>& during) {
        probe.Reset();
        const int64_t passes0 = session.previewPasses, drawn0 = session.painter.Drawn();
        const int64_t shown0 = window.InputPanel()->Shown();
        const double cpu0 = CpuSeconds();
        QElapsedTimer clock;
        clock.start();
        during();
        const double s = clock.nsecsElapsed() / 1e9;
        return Phase{s,
                     (session.previewPasses - passes0) / s,
                     (session.painter.Drawn() - drawn0) / s,
                     (window.InputPanel()->Shown() - shown0) / s,
                     100.0 * (CpuSeconds() - cpu0) / s,
                     probe.LongestMs()};
    };
    const Phase playing = measure([&] { QTest::qWait(static_cast<int>(seconds * 1000)); });

    auto* slider = static_cast<QSlider*>(window.Control(tessaly::control::kBrightnessSlider));
    const Phase dragging = measure([&] {
        QTest::mousePress(slider, Qt::LeftButton, {}, QPoint(4, 9));
        QElapsedTimer clock;
        clock.start();
        int step = 0;
        while (clock.elapsed() < seconds * 1000 / 2) {
            QTest::mouseMove(slider, QPoint(4 + (step++ * 3) % 82, 9));
            QTest::qWait(15);
        }
        QTest::mouseRelease(slider, Qt::LeftButton, {}, QPoint(40, 9));
    });

    const tessaly::MediaInfo info = session.source.Info();
    std::printf("movie: %dx%d at %.2f fps; both previews shown; %d cores\n", info.frameWidth,
                info.frameHeight, tessaly::FrameRateOf(info.timePerFrame),
                QThread::idealThreadCount());
    for (const auto& [name, p] : {std::pair{"playing", playing}, std::pair{"dragging a slider", dragging}}) {
        std::printf("%-20s preview passes %5.1f/s, previews drawn %5.1f/s (every second pass), shown %5.1f/s, "
                    "CPU %5.1f%% of one core, longest main-thread stall %5.1f ms\n",
                    name, p.passes, p.drawn, p.shown, p.cpu, p.stallMs);
    }
    window.close();
    return 0;
}
