// Plays a generated 1280x720 H.264 video through the window with its real
// 10 ms timer and reports pictures per second. The window keeps the pace when
// it reaches about 90 pictures a second or more. With --full-speed the window
// reads at full speed, and the same file is also read by reelmeter-batch for
// the ratio of the two rates. Either way a thread posts a key press every
// 50 ms and the time until the window gets it is reported: how long a key
// waits during a run. With --export no run goes on: File > Export... writes
// the dialog's defaults for the file on its worker thread while the keys come.
//
//   QT_QPA_PLATFORM=offscreen build/bench/bench_tickpace [pictures] [--full-speed|--export]
#include "analysis/analysisstate.h"
#include "app/exportdialog.h"
#include "app/mainwindow.h"
#include "app/windowrun.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Notes how long each posted key press took to reach the window.
class KeyWatch : public QObject
{
public:
    std::mutex mutex;
    std::vector<Clock::time_point> posted;
    std::vector<double> waits; // milliseconds

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::KeyPress &&
            static_cast<QKeyEvent *>(event)->key() == Qt::Key_F24) {
            std::lock_guard lock(mutex);
            if (waits.size() < posted.size())
                waits.push_back(
                    std::chrono::duration<double, std::milli>(Clock::now() - posted[waits.size()])
                        .count());
            return true;
        }
        return QObject::eventFilter(watched, event);
    }
};

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(p * double(values.size())))];
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    const bool fullSpeed = arguments.contains(QStringLiteral("--full-speed"));
    const bool exporting = arguments.contains(QStringLiteral("--export"));
    int pictures = 1500;
    for (const QString &argument : arguments.mid(1)) {
        if (argument.toInt() > 0)
            pictures = argument.toInt();
    }

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
    KeyWatch keys;
    window.installEventFilter(&keys);
    QElapsedTimer clock;
    clock.start();
    QPointer<ExportDialog> dialog;
    if (exporting) {
        window.findChild<QAction *>(QStringLiteral("actionExport"))->trigger();
        dialog = window.findChild<ExportDialog *>();
        dialog->findChild<QLineEdit *>(QStringLiteral("videoEdit"))->setText(video);
        dialog->findChild<QLineEdit *>(QStringLiteral("folderEdit"))->setText(dir.path());
        dialog->findChild<QPushButton *>(QStringLiteral("exportButton"))->click();
    } else {
        windowRun.fullSpeed = fullSpeed;
        window.startRun(video);
    }
    std::atomic<bool> done = false;
    // The first key event makes Qt's keyboard device, which must belong to
    // this thread rather than to the presser's.
    QKeyEvent(QEvent::KeyPress, Qt::Key_F24, {});
    std::thread presser([&] {
        while (!done) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            {
                std::lock_guard lock(keys.mutex);
                keys.posted.push_back(Clock::now());
            }
            QCoreApplication::postEvent(&window, new QKeyEvent(QEvent::KeyPress, Qt::Key_F24, {}));
        }
    });
    // Ends with the run (the toggle reads "Start Analysis" again) or with
    // the export, whose dialog then closes.
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &app, [&] {
        if (exporting ? !dialog || !dialog->isVisible() : !window.isRunning())
            app.quit();
    });
    poll.start(5);
    app.exec();
    const double seconds = clock.elapsed() / 1000.0;
    done = true;
    presser.join();

    if (exporting) {
        std::printf("export of 1280x720 H.264, %d pictures (average and frames, 1920 x 1080, "
                    "PNG): %.2f s\n",
                    pictures, seconds);
        std::lock_guard lock(keys.mutex);
        std::printf("key presses during the export: %zu, waited median %.1f ms, 95%% %.1f ms, "
                    "longest %.1f ms\n",
                    keys.waits.size(), percentile(keys.waits, 0.5), percentile(keys.waits, 0.95),
                    percentile(keys.waits, 1.0));
        return QDir(dir.path()).entryList({QStringLiteral("*.png")}).size() == 2 ? 0 : 1;
    }
    const double counted = analysisState.frameCount;
    const double rate = counted / seconds;
    std::printf("1280x720 H.264, %d pictures: %.0f counted in %.2f s = %.1f pictures/s (%s)\n",
                pictures, counted, seconds, rate,
                fullSpeed ? "full speed" : "pace of the 10 ms timer: 100");
    {
        std::lock_guard lock(keys.mutex);
        std::printf("key presses during the run: %zu, waited median %.1f ms, 95%% %.1f ms, "
                    "longest %.1f ms\n",
                    keys.waits.size(), percentile(keys.waits, 0.5), percentile(keys.waits, 0.95),
                    percentile(keys.waits, 1.0));
    }
    if (fullSpeed) {
        const QString batch = QCoreApplication::applicationDirPath() +
                              QStringLiteral("/../src/batch/reelmeter-batch");
        QElapsedTimer batchClock;
        batchClock.start();
        QProcess tool;
        tool.start(batch, {QStringLiteral("-q"), QStringLiteral("-o"), dir.filePath("out"), video});
        if (!tool.waitForFinished(-1) || tool.exitCode() != 0) {
            std::fprintf(stderr, "could not run %s\n", qPrintable(batch));
            return 1;
        }
        const double batchRate = pictures / (batchClock.elapsed() / 1000.0);
        std::printf("reelmeter-batch on the same file: %.1f pictures/s; the window at full speed "
                    "reads at %.2f times its rate\n",
                    batchRate, rate / batchRate);
    }
    return counted == pictures ? 0 : 1;
}
