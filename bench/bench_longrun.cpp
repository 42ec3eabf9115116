// A long run played through the window offscreen, one tick at a time: peak
// memory, growth per picture and the cost of a tick early and late in the run.
// The film overview's worker runs beside it, as in the window.
// Usage: bench_longrun [pictures [video]]  (default 30000 pictures at 640x360
// in a temporary file; a given video path is made once and then reused)
#include "analysis/analysisstate.h"
#include "app/filmoverview.h"
#include "app/mainwindow.h"
#include "app/windowrun.h"
#include "testvideo.h"
#include "video/framesource.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <numeric>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr QSize pictureSize(640, 360);
// Ticks timed around each sample point; redraws come every 33 ms, so a window
// of several hundred ticks averages them in.
constexpr int sampleTicks = 500;
constexpr int earlyPicture = 1000;
constexpr int latePicture = 20000;
constexpr int rssEarlyPicture = 5000;
// The profile of the whole run, one median per block of pictures.
constexpr int blockTicks = 2500;

// A "Name:   value kB" line of /proc/self/status, in kB; -1 if missing.
qint64 statusKb(const char *name)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly | QIODevice::Text))
        return -1;
    const QByteArray key = QByteArray(name) + ':';
    for (QByteArray line = status.readLine(); !line.isEmpty(); line = status.readLine()) {
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// CPU time of the GUI thread, which the load of other processes disturbs less
// than the wall clock does.
double threadCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

struct Ticks {
    std::vector<double> ms;

    double mean() const
    {
        return ms.empty() ? 0.0 : std::accumulate(ms.begin(), ms.end(), 0.0) / double(ms.size());
    }
    double median() const
    {
        if (ms.empty())
            return 0.0;
        std::vector<double> sorted = ms;
        std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
        return sorted[sorted.size() / 2];
    }
};

// Writes the video in a child process, so that the encoder's memory is not
// reused by the run and hidden from the growth figures.
bool generate(const QString &path, int pictures)
{
    QElapsedTimer clock;
    clock.start();
    std::fflush(stdout);
    const pid_t child = fork();
    if (child < 0)
        return false;
    if (child == 0) {
        testvideo::VideoStream video;
        video.codec = testvideo::Codec::Mpeg4;
        video.pictureCount = pictures;
        video.gopSize = 250;
        video.picture = [](int index) {
            return testvideo::uniformPicture(pictureSize, testvideo::paletteColour(index));
        };
        QString error;
        if (testvideo::writeVideo(path, video, &error))
            _exit(0);
        std::fprintf(stderr, "cannot write the video: %s\n", qPrintable(error));
        _exit(1);
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return false;
    std::printf("generated %d pictures of %dx%d (MPEG-4, %lld bytes) in %.1f s\n", pictures,
                pictureSize.width(), pictureSize.height(), QFileInfo(path).size(),
                double(clock.elapsed()) / 1000.0);
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    const int pictures = argc > 1 ? std::max(1, atoi(argv[1])) : 30000;
    // Made before the application, whose threads a fork should not copy. A
    // given path is kept, and reused when it exists.
    QTemporaryDir dir;
    const QString path =
        argc > 2 ? QString::fromLocal8Bit(argv[2]) : dir.filePath(QStringLiteral("long.avi"));
    if (!QFileInfo::exists(path) && !generate(path, pictures))
        return 1;

    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    quietVideoLibraries(false);

    const qint64 rssBefore = statusKb("VmRSS");
    MainWindow window;
    window.show();
    window.startRun(path);
    if (!window.isRunning()) {
        std::fprintf(stderr, "the run did not start\n");
        return 1;
    }
    // Ticks are called here one by one and timed, not left to the 10 ms timer.
    windowRun.tickTimer->stop();

    QElapsedTimer clock;
    Ticks early;
    Ticks late;
    Ticks earlyCpu;
    Ticks lateCpu;
    std::vector<Ticks> blocks(size_t(pictures / blockTicks + 1));
    qint64 rssEarly = -1;
    clock.start();
    QElapsedTimer tick;
    while (window.isRunning()) {
        const int picture = int(analysisState.frameCount) + 1; // counted by this tick
        const double cpuStart = threadCpuMs();
        tick.start();
        QMetaObject::invokeMethod(&window, "timerDone");
        const double ms = double(tick.nsecsElapsed()) / 1e6;
        const double cpuMs = threadCpuMs() - cpuStart;
        if (picture > earlyPicture && picture <= earlyPicture + sampleTicks) {
            early.ms.push_back(ms);
            earlyCpu.ms.push_back(cpuMs);
        }
        if (picture > latePicture && picture <= latePicture + sampleTicks) {
            late.ms.push_back(ms);
            lateCpu.ms.push_back(cpuMs);
        }
        blocks[size_t((picture - 1) / blockTicks)].ms.push_back(ms);
        if (picture == rssEarlyPicture)
            rssEarly = statusKb("VmRSS");
    }
    const double runSeconds = double(clock.elapsed()) / 1000.0;
    const qint64 rssEnd = statusKb("VmRSS");
    const int counted = int(analysisState.frameCount);

    std::printf("played %d pictures in %.1f s (%.3f ms per picture)\n", counted, runSeconds,
                runSeconds * 1000.0 / std::max(1, counted));
    // The overview's worker read the key pictures alongside; at the end the
    // panel holds the run's own columns.
    const FilmOverview *overview = window.findChild<FilmOverview *>();
    std::printf("overview: %s, %d pictures\n",
                overview->isExact() ? "from every picture" : "from the key pictures",
                overview->pictureCount());
    std::printf("peak memory (VmHWM): %.1f MB; VmRSS before the run %.1f MB, at the end %.1f MB\n",
                double(statusKb("VmHWM")) / 1024.0, double(rssBefore) / 1024.0,
                double(rssEnd) / 1024.0);
    if (rssEarly >= 0 && counted > rssEarlyPicture)
        std::printf("growth from picture %d to %d: %.0f bytes per picture\n", rssEarlyPicture,
                    counted,
                    double(rssEnd - rssEarly) * 1024.0 / double(counted - rssEarlyPicture));
    const auto report = [](const char *what, const Ticks &ticks, int first) {
        std::printf("%s at pictures %d..%d: mean %.3f ms, median %.3f ms\n", what, first + 1,
                    first + sampleTicks, ticks.mean(), ticks.median());
    };
    report("tick (wall)", early, earlyPicture);
    report("tick (GUI thread CPU)", earlyCpu, earlyPicture);
    if (!late.ms.empty()) {
        report("tick (wall)", late, latePicture);
        report("tick (GUI thread CPU)", lateCpu, latePicture);
        std::printf("late/early, wall: mean %.2fx, median %.2fx; GUI thread CPU: mean %.2fx, "
                    "median %.2fx (target: at most 1.2x)\n",
                    late.mean() / early.mean(), late.median() / early.median(),
                    lateCpu.mean() / earlyCpu.mean(), lateCpu.median() / earlyCpu.median());
    }
    std::printf("median tick per %d pictures (ms):", blockTicks);
    for (const Ticks &block : blocks)
        if (!block.ms.empty())
            std::printf(" %.3f", block.median());
    std::printf("\n");
    return counted == pictures ? 0 : 1;
}
