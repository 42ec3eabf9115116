#include "app/mainwindow.h"

#include "analysis/analysisstate.h"
#include "analysis/measure.h"
#include "app/droptarget.h"
#include "app/mainwindowform.h"
#include "app/progressview.h"
#include "app/stripview.h"
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

extern "C" {
#include <libavutil/pixfmt.h>
}

namespace {

const QString startText = QStringLiteral("Start Analysis");
const QString stopText = QStringLiteral("Stop Analysis");

QImage frameImage(const FrameSource *source)
{
    // Read-only view of the source's buffer: no copy, valid until the next read.
    const int width = outputWidth(source);
    return QImage(outputPixels(source), width, outputHeight(source), qsizetype(width) * 4,
                  QImage::Format_RGB32);
}

} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent, Qt::WindowFlags()), ui(std::make_unique<MainWindowForm>())
{
    ui->setupForm(this);
    stripView = new StripView(ui.get(), this);
    progressView = new ProgressView(ui->statusBar, this);
    new DropTarget(this); // child of the window
}

MainWindow::~MainWindow()
{
    if (analysisState.tickTimer)
        analysisState.tickTimer->stop();
    analysisState.currentSource.reset();
    ui.reset();
}

bool MainWindow::isRunning() const
{
    return ui->pushButton_2->text() != startText;
}

void MainWindow::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::LanguageChange)
        ui->retranslateForm(this);
}

void MainWindow::on_pushButton_clicked()
{
    AnalysisState &state = analysisState;
    ui->pushButton->setEnabled(false);
    // After a cancelled first Start the button is enabled with nothing to read.
    if (state.currentSource) {
        for (int i = 0; i < ui->spinBox->value(); ++i) {
            // Past the end every read is EndOfStream and changes nothing.
            if (readFrame(state.currentSource.get()) == EndOfStream)
                break;
        }
    }
    ui->pushButton->setEnabled(true);
}

void MainWindow::on_saveButton_clicked()
{
    const QStringList failed =
        writeStrips(stripView->strips(), stripView->videoPath(), savedStripKinds());
    if (failed.isEmpty())
        return;
    QString text = QStringLiteral("These files could not be saved:");
    for (const QString &name : failed)
        text += QLatin1Char('\n') + name;
    QMessageBox::critical(this, QStringLiteral("Error"), text, QMessageBox::Ok,
                          QMessageBox::NoButton);
}

void MainWindow::on_pushButton_2_clicked()
{
    AnalysisState &state = analysisState;
    if (isRunning()) {
        ui->pushButton->setEnabled(false);
        if (state.tickTimer)
            state.tickTimer->stop();
        ui->pushButton_2->setText(startText);
        stripView->refresh();
        return;
    }

    prepareRun();
    const QString path = QFileDialog::getOpenFileName(this, tr("Open any Video File"),
                                                      QStringLiteral("."), tr("All Files (*.*)"));
    analysisState.videoPath = path;
    if (path.isNull())
        return;
    openRun(path);
}

void MainWindow::startRun(const QString &path)
{
    prepareRun();
    analysisState.videoPath = path;
    openRun(path);
}

void MainWindow::prepareRun()
{
    AnalysisState &state = analysisState;
    ui->pushButton->setEnabled(true);
    state.frameCount = 0;
    clearHistories(state);
    state.tickBusy = false;
    // One timer at a time: the old one may still run if a language change
    // reset the toggle's text during a run.
    if (state.tickTimer) {
        state.tickTimer->stop();
        state.tickTimer->deleteLater();
    }
    state.tickTimer = new QTimer(this);
}

void MainWindow::openRun(const QString &path)
{
    AnalysisState &state = analysisState;
    state.currentSource.reset();
    state.currentSource =
        openFrameSource(QFile::encodeName(path).constData(), 0, 0, AV_PIX_FMT_RGB32);
    if (state.currentSource) {
        ui->saveButton->setEnabled(true);
        connect(state.tickTimer, &QTimer::timeout, this, &MainWindow::timerDone);
        state.tickTimer->start(10);
        ui->pushButton_2->setText(stopText);
        progressView->runStarted();
    } else {
        progressView->runFailed();
        ui->pushButton->setEnabled(false);
        ui->pushButton_2->setText(startText);
        QMessageBox::critical(this, QStringLiteral("Error"),
                              QStringLiteral("This is not a video or image file.\n"
                                             "Could not initialize video."),
                              QMessageBox::Ok, QMessageBox::NoButton);
    }
}

void MainWindow::timerDone()
{
    AnalysisState &state = analysisState;
    if (state.tickBusy)
        return;
    state.tickBusy = true;

    FrameSource *source = state.currentSource.get();
    FrameStatus status = EndOfStream;
    if (source) {
        do
            status = readFrame(source);
        while (status < EndOfStream);
    }

    if (status == EndOfStream) {
        ui->pushButton_2->setText(startText);
        ui->pushButton->setEnabled(false);
        state.tickBusy = false;
        if (state.tickTimer)
            state.tickTimer->stop();
        progressView->videoEnded();
        // The last picture is still in the buffer: leave it and the strips exact.
        if (source && state.frameCount > 0) {
            const QImage last = frameImage(source);
            stripView->refresh(&last);
        }
        return;
    }
    if (status != FrameReady) {
        state.tickBusy = false;
        return;
    }

    state.frameCount += 1.0;
    ui->statusBar->showMessage(
        QStringLiteral("%1").arg(state.frameCount, 0, 'g', -1, QLatin1Char(' ')) +
            QStringLiteral(" frames processed."),
        0);

    const QImage frame = frameImage(source);
    measureFrame(state, frame);
    if (state.frameCount == 1.0)
        stripView->beginRun(state.videoPath);
    stripView->addPicture(state, frame);
    progressView->pictureShown(source);

    ui->pushButton_2->update();
    ui->label->update();

    if (static_cast<qint32>(state.frameCount) % 2 == 1)
        storePreviousFrame(state, frame);

    QCoreApplication::processEvents();
    state.tickBusy = false;
}
