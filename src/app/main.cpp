#include "app/mainwindow.h"
#include "video/framesource.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    // The window reports what matters in its error box; FFmpeg's own chatter
    // about damaged packets would only fill the terminal.
    quietVideoLibraries(false);
    QApplication application(argc, argv);
    int result;
    {
        MainWindow window;
        window.show();
        // "Open with": QApplication has taken Qt's own options by now.
        window.startFromArguments(QCoreApplication::arguments());
        result = application.exec();
    } // the window goes before the application object
    return result;
}
