// Opens a video in the window, offscreen, and times how long the film
// overview takes to show the whole film from its key pictures, while the
// window's own run reads every picture beside it, as it does for a user.
// Also tells the window's pace while the overview's reader ran and for as
// long again after it.
//
//   QT_QPA_PLATFORM=offscreen build/bench/bench_overview VIDEO [PNG]
//
// With PNG, the complete overview is saved there as it is drawn.
#include "analysis/analysisstate.h"
#include "app/filmoverview.h"
#include "app/mainwindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_overview VIDEO [PNG]\n");
        return 2;
    }
    MainWindow window;
    window.resize(1200, 900);
    window.show();
    QElapsedTimer clock;
    clock.start();
    window.startRun(QString::fromLocal8Bit(argv[1]));
    if (!window.isRunning()) {
        std::fprintf(stderr, "could not open %s\n", argv[1]);
        return 1;
    }
    FilmOverview *overview = window.overview();
    QTimer poll;
    double seconds = 0;
    double during = 0;
    QObject::connect(&poll, &QTimer::timeout, &app, [&] {
        if (seconds == 0 && overview->isComplete()) {
            seconds = clock.elapsed() / 1000.0;
            during = analysisState.frameCount;
        }
        if (seconds > 0 && (clock.elapsed() / 1000.0 >= 2 * seconds || !window.isRunning()))
            app.quit();
    });
    poll.start(5);
    app.exec();
    const double after = analysisState.frameCount - during;
    const double afterSeconds = clock.elapsed() / 1000.0 - seconds;
    std::printf("%.3f s to a complete overview: %d key pictures, %zu cuts, %d columns; the "
                "window's run meanwhile %.1f pictures/s, then %.1f\n",
                seconds, overview->pictureCount(), overview->cuts().size(), overview->width(),
                during / seconds, after / afterSeconds);
    if (argc > 2 && !overview->grab().save(QString::fromLocal8Bit(argv[2]), "PNG")) {
        std::fprintf(stderr, "could not save %s\n", argv[2]);
        return 1;
    }
    return overview->pictureCount() > 0 ? 0 : 1;
}
