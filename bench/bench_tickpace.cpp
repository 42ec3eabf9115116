// Plays a generated 1280x720 H.264 video through the window with its real
// 10 ms timer and reports pictures per second and the cost of the ticks.
// The window keeps the pace when it reaches about 90 pictures a second or more.
//
//   QT_QPA_PLATFORM=offscreen build/bench/bench_tickpace [pictures]
#include "analysis/analysisstate.h"
#include "app/mainwindow.h"
#include "app/mainwindowform.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const int pictures = argc > 1 ? QByteArray(argv[1]).toInt() : 1500;

    QTemporaryDir dir;
    const QString video = dir.filePath(QStringLiteral("720p.mp4"));
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"),
                 {"-loglevel", "error", "-f", "lavfi", "-i", "testsrc2=size=1280x720:rate=25",
                  "-frames:v", QString::number(pictures), "-c:v", "libx264", "-preset", "veryfast",
                  "-crf", "23", "-bf", "3", "-pix_fmt", "yuv420p", video});
    if (!ffmpeg.waitForFinished(-1) || ffmpeg.exitCode() != 0) {
        std::fprintf(stderr, "could not generate the video with ffmpeg\n");
        return 1;
    }

    MainWindow window;
    window.show();
    QElapsedTimer clock;
    clock.start();
    window.startRun(video);
    // Ends with the run: the toggle reads "Start Analysis" again.
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &app, [&] {
        if (!window.isRunning())
            app.quit();
    });
    poll.start(5);
    app.exec();
    const double seconds = clock.elapsed() / 1000.0;

    const double counted = analysisState.frameCount;
    std::printf("1280x720 H.264, %d pictures: %.0f counted in %.2f s = %.1f pictures/s "
                "(pace of the 10 ms timer: 100)\n",
                pictures, counted, seconds, counted / seconds);
    return counted == pictures ? 0 : 1;
}
