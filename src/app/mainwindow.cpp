#include "app/mainwindow.h"

#include "analysis/analysisstate.h"
#include "analysis/framereading.h"
#include "app/droptarget.h"
#include "app/mainwindowform.h"
#include "app/progressview.h"
#include "app/stripview.h"
#include "app/windowrun.h"
#include "export/stripexport.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QTimer>

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent, Qt::WindowFlags()), ui(std::make_unique<MainWindowForm>())
{
    ui->setupForm(this);
    stripView = new StripView(&analysisState.strips, ui.get(), this);
    progressView = new ProgressView(ui->statusBar, this);
    new DropTarget(this); // child of the window
}

MainWindow::~MainWindow()
{
    if (windowRun.tickTimer)
        windowRun.tickTimer->stop();
    // The run, its open video included, ends with its window.
    windowRun = WindowRun();
    ui.reset();
}

bool MainWindow::isRunning() const
{
    return windowRun.running;
}

void MainWindow::updateControls()
{
    ui->pushButton_2->setText(windowRun.running ? tr("Stop Analysis") : tr("Start Analysis"));
    ui->pushButton->setEnabled(windowRun.skipOffered);
    ui->saveButton->setEnabled(windowRun.saveOffered);
}

void MainWindow::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::LanguageChange) {
        ui->retranslateForm(this);
        // The form's texts are those of an idle window.
        updateControls();
    }
}

void MainWindow::on_pushButton_clicked()
{
    ui->pushButton->setEnabled(false);
    // After a cancelled first Start skipping is offered with nothing to read.
    if (FrameSource *source = windowRun.source.get()) {
        for (int i = 0; i < ui->spinBox->value(); ++i) {
            // Past the end every read is EndOfStream and changes nothing.
            if (readFrame(source) == EndOfStream)
                break;
        }
    }
    updateControls();
}

void MainWindow::on_saveButton_clicked()
{
    const QList<WriteFailure> failed =
        writeStrips(analysisState.strips, stripView->videoPath(), savedStripKinds());
    if (failed.isEmpty())
        return;
    QString text = QStringLiteral("These files could not be saved:");
    for (const WriteFailure &failure : failed)
        text += QLatin1Char('\n') + failure.file + QStringLiteral(" (") + failure.reason +
                QLatin1Char(')');
    QMessageBox::critical(this, QStringLiteral("Error"), text, QMessageBox::Ok,
                          QMessageBox::NoButton);
}

void MainWindow::on_pushButton_2_clicked()
{
    if (isRunning()) {
        stopRun();
        stripView->refresh();
        return;
    }

    prepareRun();
    const QString path = QFileDialog::getOpenFileName(this, tr("Open any Video File"),
                                                      QStringLiteral("."), tr("All Files (*.*)"));
    windowRun.videoPath = path;
    if (path.isNull())
        return;
    openRun(path);
}

void MainWindow::startRun(const QString &path)
{
    prepareRun();
    windowRun.videoPath = path;
    openRun(path);
}

void MainWindow::stopRun()
{
    windowRun.running = false;
    windowRun.skipOffered = false;
    if (windowRun.tickTimer)
        windowRun.tickTimer->stop();
    updateControls();
}

void MainWindow::prepareRun()
{
    resetForNewRun(analysisState);
    windowRun.tickBusy = false;
    windowRun.skipOffered = true;
    // One timer at a time.
    if (windowRun.tickTimer) {
        windowRun.tickTimer->stop();
        windowRun.tickTimer->deleteLater();
    }
    windowRun.tickTimer = new QTimer(this);
    updateControls();
}

void MainWindow::openRun(const QString &path)
{
    windowRun.source.reset();
    std::string why;
    windowRun.source =
        openFrameSource(QFile::encodeName(path).constData(), 0, 0, rgb32PixelFormat(), &why);
    if (windowRun.source) {
        gatherRowSums(windowRun.source.get(), windowRun.rowSums);
        windowRun.running = true;
        windowRun.saveOffered = true;
        connect(windowRun.tickTimer, &QTimer::timeout, this, &MainWindow::timerDone);
        windowRun.tickTimer->start(10);
        updateControls();
        progressView->runStarted();
    } else {
        windowRun.skipOffered = false;
        updateControls();
        progressView->runFailed();
        QMessageBox::critical(this, QStringLiteral("Error"),
                              QStringLiteral("This is not a video or image file.\n"
                                             "Could not initialize video."),
                              QMessageBox::Ok, QMessageBox::NoButton);
        // The box says that; the status bar says why.
        ui->statusBar->showMessage(QString::fromLocal8Bit(why.data(), qsizetype(why.size())), 0);
    }
}

void MainWindow::timerDone()
{
    if (windowRun.tickBusy)
        return;
    windowRun.tickBusy = true;

    FrameSource *source = windowRun.source.get();
    const FrameStatus status = source ? readPicture(source) : EndOfStream;
    if (status == EndOfStream) {
        stopRun();
        windowRun.tickBusy = false;
        progressView->videoEnded();
        // The last picture is still in the buffer: leave it and the strips exact.
        if (source && analysisState.frameCount > 0) {
            const QImage last = frameView(source);
            stripView->refresh(&last);
        }
        return;
    }

    AnalysisState &state = analysisState;
    const QImage frame = frameView(source);
    recordPicture(state, frame, currentPictureTime(source), windowRun.rowSums);
    ui->statusBar->showMessage(
        QStringLiteral("%1").arg(state.frameCount, 0, 'g', -1, QLatin1Char(' ')) +
            QStringLiteral(" frames processed."),
        0);
    if (state.frameCount == 1.0)
        stripView->beginRun(windowRun.videoPath);
    stripView->addPicture(frame);
    progressView->pictureShown(source);

    ui->pushButton_2->update();
    ui->label->update();

    QCoreApplication::processEvents();
    windowRun.tickBusy = false;
}
