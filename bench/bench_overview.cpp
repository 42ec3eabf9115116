// Opens a video in the window, offscreen, and times how long the film
// overview takes to show the whole film from its key pictures, while the
// window's own run reads every picture beside it, as it does for a user.
// Also tells the window's pace while the overview's reader ran and for as
// long again after it.
//
//   QT_QPA_PLATFORM=offscreen build/bench/bench_overview VIDEO [PNG]
//
// With PNG, the window is saved there as it is at the end.
//
//   build/bench/bench_overview --readers VIDEO [RUNS]
//
// times the overview's reader alone, without the window, taking turns with
// and without the quick look (loop filter and full-size conversion kept).
#include "analysis/analysisstate.h"
#include "analysis/videorun.h"
#include "app/filmoverview.h"
#include "app/mainwindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

double processCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// CPU seconds (all threads; the wall clock on a shared machine says more
// about the others) for the overview's key-picture run over path; -1 if it
// fails.
double readerSeconds(const QString &path, int glanceWidth)
{
    AnalysisState state;
    RunOptions options;
    options.sampling.mode = Sampling::Key;
    options.framesHeight = FilmOverview::framesRows;
    options.shotGrids = true;
    options.oneRowBands = true;
    options.keepHistories = false;
    options.glanceWidth = glanceWidth;
    const double start = processCpuSeconds();
    std::unique_ptr<VideoRun> run = VideoRun::open(path, options, state, nullptr);
    if (!run)
        return -1;
    while (run->step() == VideoRun::Step::Picture) {
    }
    run->finish();
    run.reset();
    return processCpuSeconds() - start;
}

int compareReaders(const QString &path, int runs)
{
    std::vector<double> full;
    std::vector<double> glance;
    for (int i = 0; i < runs; ++i) {
        full.push_back(readerSeconds(path, 0));
        glance.push_back(readerSeconds(path, 480));
        std::printf("run %d: CPU time full %.2f s, quick look %.2f s\n", i + 1, full.back(),
                    glance.back());
    }
    std::sort(full.begin(), full.end());
    std::sort(glance.begin(), glance.end());
    const double a = full[full.size() / 2];
    const double b = glance[glance.size() / 2];
    std::printf("median CPU time: full %.2f s, quick look %.2f s (%.2f times)\n", a, b, b / a);
    return a > 0 && b > 0 ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc > 2 && QByteArray(argv[1]) == "--readers")
        return compareReaders(QString::fromLocal8Bit(argv[2]), argc > 3 ? std::atoi(argv[3]) : 5);
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
    double first = 0; // the first column shown: opening costs the same for any length
    double during = 0;
    QObject::connect(&poll, &QTimer::timeout, &app, [&] {
        if (first == 0 && overview->pictureCount() > 0)
            first = clock.elapsed() / 1000.0;
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
    std::printf("%.3f s to a complete overview (first column at %.3f s): %d key pictures, %zu "
                "cuts, %d columns; the window's run meanwhile %.1f pictures/s, then %.1f\n",
                seconds, first, overview->pictureCount(), overview->cuts().size(),
                overview->width(), during / seconds, after / afterSeconds);
    if (argc > 2 && !window.grab().save(QString::fromLocal8Bit(argv[2]), "PNG")) {
        std::fprintf(stderr, "could not save %s\n", argv[2]);
        return 1;
    }
    return overview->pictureCount() > 0 ? 0 : 1;
}
