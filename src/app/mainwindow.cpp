#include "app/mainwindow.h"

#include "app/mainwindowform.h"

#include <QEvent>

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent, Qt::WindowFlags()), ui(std::make_unique<MainWindowForm>())
{
    ui->setupForm(this);
}

MainWindow::~MainWindow()
{
    ui.reset();
}

void MainWindow::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::LanguageChange)
        ui->retranslateForm(this);
}

void MainWindow::on_pushButton_clicked() {}

void MainWindow::on_saveButton_clicked() {}

void MainWindow::on_pushButton_2_clicked() {}

void MainWindow::timerDone() {}
