#include "app/mainwindow.h"

#include <QApplication>

extern "C" {
#include <libavutil/log.h>
}

int main(int argc, char *argv[])
{
    // The window reports what matters in its error box; FFmpeg's own chatter
    // about damaged packets would only fill the terminal.
    av_log_set_level(AV_LOG_QUIET);
    QApplication application(argc, argv);
    int result;
    {
        MainWindow window;
        window.show();
        result = application.exec();
    } // the window goes before the application object
    return result;
}
