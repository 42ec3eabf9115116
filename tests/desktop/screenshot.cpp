// reelmeter-screenshot VIDEO PNG: runs the window over VIDEO to its end and
// saves a picture of the window as PNG. Used by scripts/screenshot; runs on
// the offscreen platform, so it needs no display.
#include "app/mainwindow.h"
#include "video/framesource.h"

#include <QApplication>
#include <QFile>
#include <QPixmap>
#include <QTimer>

#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 3) {
        std::fprintf(stderr, "usage: reelmeter-screenshot VIDEO PNG\n");
        return 2;
    }
    const QString video = arguments.at(1);
    const QString png = arguments.at(2);
    // A file the window cannot open would stop here at its modal error box.
    if (!openFrameSource(QFile::encodeName(video).constData())) {
        std::fprintf(stderr, "reelmeter-screenshot: %s is not a readable video\n",
                     qPrintable(video));
        return 1;
    }

    int result = 0;
    {
        MainWindow window;
        window.show();
        window.startRun(video);
        // The window has no signal for the end of a run; its toggle tells.
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &window, [&window, &png, &result] {
            if (window.isRunning())
                return;
            if (!window.grab().save(png, "PNG")) {
                std::fprintf(stderr, "reelmeter-screenshot: cannot write %s\n", qPrintable(png));
                result = 1;
            }
            QCoreApplication::quit();
        });
        poll.start(50);
        application.exec();
    }
    return result;
}
