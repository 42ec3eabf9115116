#include "app/mainwindow.h"
#include "export/filename.h"
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
        // "Open with": QApplication has taken Qt's own options out of argv by
        // now. arguments() would turn a name's bytes that are not UTF-8 into
        // U+FFFD, naming another file.
        QStringList arguments;
        for (int i = 0; i < argc; ++i)
            arguments << fileNameFromBytes(argv[i]);
        window.startFromArguments(arguments);
        result = application.exec();
    } // the window goes before the application object
    return result;
}
