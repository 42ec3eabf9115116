// How long File > Export... takes on a video the window has run to its end:
// strips the window drew, written from its measurements, against the
// dialog's defaults (the frames strip and posters), which read the video
// again on the export's thread.
// Usage: QT_QPA_PLATFORM=offscreen bench_export VIDEO   (writes next to VIDEO)
#include "app/exportdialog.h"
#include "app/mainwindow.h"
#include "app/mainwindowform.h"
#include "app/windowrun.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QStatusBar>

#include <cstdio>

namespace {

// Opens the dialog through its action, lets setUp change it, presses Export
// and waits for the dialog to go; the seconds it took.
double timedExport(MainWindow &window, const std::function<void(ExportDialog *)> &setUp)
{
    window.findChild<QAction *>(QStringLiteral("actionExport"))->trigger();
    QPointer<ExportDialog> dialog = window.findChild<ExportDialog *>();
    setUp(dialog);
    QElapsedTimer clock;
    clock.start();
    dialog->findChild<QPushButton *>(QStringLiteral("exportButton"))->click();
    while (dialog)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    const double seconds = clock.nsecsElapsed() / 1e9;
    std::printf("  %s\n", qPrintable(window.form()->statusBar->currentMessage().left(120)));
    return seconds;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_export VIDEO\n");
        return 2;
    }
    MainWindow window;
    window.show();
    // The window's run, a tick at a time without the timer's pace.
    QElapsedTimer clock;
    clock.start();
    window.startRun(QString::fromLocal8Bit(argv[1]));
    if (!windowRun.run)
        return 1;
    windowRun.tickTimer->stop();
    while (window.isRunning())
        QMetaObject::invokeMethod(&window, "timerDone");
    std::printf("window's run: %.1f s, %.0f pictures\n", clock.nsecsElapsed() / 1e9,
                analysisState.frameCount);

    const double fromWindow = timedExport(window, [](ExportDialog *dialog) {
        for (const char *name : {"strip_quadrant", "strip_brightness", "strip_mood"})
            dialog->findChild<QCheckBox *>(QLatin1String(name))->setChecked(true);
        dialog->findChild<QCheckBox *>(QStringLiteral("strip_frames"))->setChecked(false);
        dialog->findChild<QComboBox *>(QStringLiteral("sizeBox"))->setCurrentIndex(3);
        dialog->findChild<QLineEdit *>(QStringLiteral("widthEdit"))->clear();
        dialog->findChild<QLineEdit *>(QStringLiteral("heightEdit"))->clear();
    });
    std::printf("average, quadrant, brightness, mood, one column per picture, PNG: %.2f s\n",
                fromWindow);
    const double again = timedExport(window, [](ExportDialog *) {});
    std::printf("defaults (average, frames, 1920 x 1080, PNG): %.2f s\n", again);
    return 0;
}
