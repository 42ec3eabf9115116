#include "app/mainwindow.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    int result;
    {
        MainWindow window;
        window.show();
        result = application.exec();
    } // the window goes before the application object
    return result;
}
