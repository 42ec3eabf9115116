#include "app/mainwindow.h"

#include "analysis/analysisstate.h"
#include "analysis/framereading.h"
#include "analysis/poster.h"
#include "analysis/timeaxis.h"
#include "app/droptarget.h"
#include "app/filmoverview.h"
#include "app/mainwindowform.h"
#include "app/overviewrun.h"
#include "app/progressview.h"
#include "app/stripview.h"
#include "app/windowrun.h"
#include "export/stripexport.h"
#include "video/framesourceseek.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QGridLayout>
#include <QKeySequence>
#include <QLabel>
#include <QMessageBox>
#include <QMimeDatabase>
#include <QMimeType>
#include <QPushButton>
#include <QShortcut>
#include <QSpinBox>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>

namespace {

// The file name patterns of the video types the desktop entry opens.
QStringList videoPatterns()
{
    QStringList patterns;
    const QMimeDatabase types;
    for (const QMimeType &type : types.allMimeTypes()) {
        if (type.name().startsWith(QLatin1String("video/")))
            patterns << type.globPatterns();
    }
    patterns.removeDuplicates();
    patterns.sort();
    return patterns;
}

} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent, Qt::WindowFlags()), ui(std::make_unique<MainWindowForm>())
{
    ui->setupForm(this);
    stripView = new StripView(&analysisState.strips, &analysisState.pictureTimes, ui.get(), this);
    progressView = new ProgressView(ui->statusBar, this);
    new DropTarget(this); // child of the window
    // During a run a click tells no more than hovering.
    connect(stripView, &StripView::pictureClicked, this, [this](int index) {
        if (!isRunning())
            showPicture(index);
    });
    addShortcuts();
    // Over the empty preview until a run starts; the preview's own text stays empty.
    startHint = new QLabel(tr("Press Ctrl+O to open a video, or drop one here."), ui->label);
    startHint->setObjectName(QStringLiteral("startHint"));
    startHint->setAlignment(Qt::AlignCenter);
    startHint->setWordWrap(true);
    (new QVBoxLayout(ui->label))->addWidget(startHint);
    addMenus();
    addOverview();
    addPlayhead();
}

void MainWindow::addShortcuts()
{
    // Ctrl+O and Ctrl+S belong to the menu's actions.
    connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, this, [this] {
        if (isRunning())
            stopAndShow();
    });
}

void MainWindow::startFromArguments(const QStringList &arguments)
{
    qsizetype file = 1;
    if (arguments.value(file) == QLatin1String("--full-speed")) {
        setFullSpeed(true);
        ++file;
    }
    if (arguments.size() <= file)
        return;
    // From the event loop, so that an error box stands over the shown window.
    QTimer::singleShot(0, this, [this, path = arguments.at(file)] {
        if (!isRunning())
            startRun(path);
    });
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
    if (windowRun.run)
        windowRun.run->skipPackets(ui->spinBox->value());
    updateControls();
}

void MainWindow::on_saveButton_clicked()
{
    const QList<WriteFailure> failed =
        writeStrips(analysisState.strips, stripView->videoPath(), savedStripKinds());
    if (failed.isEmpty()) {
        QStringList saved;
        for (StripKind kind : savedStripKinds()) {
            if (stripOf(analysisState.strips, kind).width() > 0)
                saved << QFileInfo(stripView->videoPath() + stripSuffix(kind)).fileName();
        }
        if (!saved.isEmpty())
            ui->statusBar->showMessage(tr("Saved %1.").arg(saved.join(QStringLiteral(", "))), 0);
        return;
    }
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
        stopAndShow();
        return;
    }

    prepareRun();
    const QString path = askForVideo();
    windowRun.videoPath = path;
    if (path.isNull())
        return;
    openRun(path);
}

QString MainWindow::askForVideo()
{
    // Where the last video was, else where the program started.
    const QString last =
        !windowRun.videoPath.isEmpty() ? windowRun.videoPath : stripView->videoPath();
    const QString folder = last.isEmpty() ? QStringLiteral(".") : QFileInfo(last).absolutePath();
    const QString everyFile = tr("All Files (*.*)");
    QFileDialog dialog(this, tr("Open any Video File"), folder, everyFile);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters(
        {everyFile, tr("Videos (%1)").arg(videoPatterns().join(QLatin1Char(' ')))});
    // "*.*" wants a dot on Linux, and a platform dialog would apply it as
    // written: Qt's own dialog keeps the filter's text but lists every file.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    if (auto *files = dialog.findChild<QFileSystemModel *>()) {
        const auto follow = [files, everyFile](const QString &filter) {
            if (filter == everyFile)
                files->setNameFilters({QStringLiteral("*")});
        };
        follow(everyFile);
        // Choosing the filter again would bring its pattern back.
        connect(&dialog, &QFileDialog::filterSelected, files, follow);
    }
    if (dialog.exec() != QDialog::Accepted)
        return QString();
    return dialog.selectedFiles().value(0);
}

void MainWindow::stopAndShow()
{
    stopRun();
    // The reader holds the last picture read: the preview shows it exactly,
    // like at the end of the video.
    if (windowRun.run && analysisState.frameCount > 0) {
        stripView->refresh(&windowRun.run->frame());
    } else {
        stripView->refresh();
    }
}

void MainWindow::showPicture(int index)
{
    const std::vector<double> &times = analysisState.pictureTimes;
    // The strips of a run whose times a new start has cleared.
    if (index < 0 || size_t(index) >= times.size())
        return;
    const double time = times[size_t(index)];
    showPictureAt(time, pictureText(index + 1, time), index);
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
    filmOverview->followRun(nullptr);
    if (windowRun.tickTimer)
        windowRun.tickTimer->stop();
    updateControls();
}

void MainWindow::prepareRun()
{
    resetForNewRun(analysisState);
    windowRun.pictureFinder.reset();
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
    windowRun.run.reset();
    windowRun.stamp = videoStamp(path);
    windowRun.packetsSkipped = false;
    QString why;
    RunOptions options;
    // The overview's squeezed pictures, from every picture by the end.
    options.framesHeight = FilmOverview::framesRows;
    windowRun.run = VideoRun::open(path, options, analysisState, &why);
    startOverview(windowRun.run ? path : QString());
    if (windowRun.run) {
        filmOverview->followRun(&analysisState);
        startHint->hide();
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
        QMessageBox box(QMessageBox::Critical, QStringLiteral("Error"),
                        QStringLiteral("This is not a video or image file.\n"
                                       "Could not initialize video."),
                        QMessageBox::Ok, this);
        box.setInformativeText(QDir::toNativeSeparators(path) + QStringLiteral(": ") + why);
        box.exec();
        // And after the box, for the record.
        ui->statusBar->showMessage(why, 0);
    }
}

void MainWindow::timerDone()
{
    if (windowRun.tickBusy)
        return;
    windowRun.tickBusy = true;
    // At full speed the timer comes again as soon as the events are done.
    const int interval = windowRun.fullSpeed ? 0 : 10;
    if (windowRun.tickTimer && windowRun.tickTimer->interval() != interval)
        windowRun.tickTimer->setInterval(interval);

    VideoRun *run = windowRun.run.get();
    const AnalysisState &state = analysisState;
    QElapsedTimer tick;
    tick.start();
    do {
        if (!run || run->step() != VideoRun::Step::Picture) {
            stopRun();
            windowRun.tickBusy = false;
            progressView->videoEnded(int64_t(analysisState.frameCount));
            // The last picture is still in the buffer: leave it and the strips exact.
            if (run && analysisState.frameCount > 0) {
                stripView->refresh(&run->frame());
                showExactOverview(run);
            }
            return;
        }
        if (state.frameCount == 1.0)
            stripView->beginRun(windowRun.videoPath, sampleAspectRatio(run->source()));
        stripView->addPicture(run->frame());
    } while (windowRun.fullSpeed && !tick.hasExpired(fullSpeedTickMs));

    ui->statusBar->showMessage(
        QStringLiteral("%1").arg(state.frameCount, 0, 'g', -1, QLatin1Char(' ')) +
            QStringLiteral(" frames processed."),
        0);
    progressView->pictureShown(run->source(), int64_t(state.frameCount));

    ui->pushButton_2->update();
    ui->label->update();

    QCoreApplication::processEvents();
    windowRun.tickBusy = false;
}

void MainWindow::addOverview()
{
    auto *caption =
        new QLabel(tr("Whole Film (Frames, Average Color and Cuts)"), ui->centralWidget);
    caption->setObjectName(QStringLiteral("overviewCaption"));
    filmOverview = new FilmOverview(ui->centralWidget);
    ui->gridLayout->addWidget(caption, 11, 0, 1, 1);
    ui->gridLayout->addWidget(filmOverview, 12, 0, 1, 1);
    // Taller by the panel, so that the preview keeps its room.
    resize(width(), height() + caption->sizeHint().height() + filmOverview->sizeHint().height() +
                        2 * ui->gridLayout->spacing());
    // As on the strips, a click during a run tells no more than hovering.
    connect(filmOverview, &FilmOverview::pictureClicked, this, [this](double time, int number) {
        if (isRunning() || filmOverview->videoPath() != stripView->videoPath())
            return;
        showPictureAt(time,
                      number > 0 ? pictureText(number, time)
                                 : QStringLiteral("Key picture at ") + formatTimestamp(time),
                      number - 1);
    });
}

void MainWindow::startOverview(const QString &path)
{
    // The old film's worker stops after its current picture.
    overviewRun.reset();
    filmOverview->clear(path);
    if (path.isEmpty())
        return;
    overviewRun = std::make_unique<OverviewRun>(path, FilmOverview::framesRows);
    connect(overviewRun.get(), &OverviewRun::batchReady, filmOverview,
            &FilmOverview::addKeyPictures);
}

void MainWindow::showExactOverview(VideoRun *run)
{
    // Only times and the end: the window's run gathers no shots.
    const RunResult result = run->finish();
    filmOverview->showExact(analysisState.strips.frames, analysisState.strips.average, result.times,
                            result.end);
}

void MainWindow::showPictureAt(double time, const QString &name, int index)
{
    if (!windowRun.pictureFinder)
        windowRun.pictureFinder = openRgbSource(stripView->videoPath());
    FrameSource *finder = windowRun.pictureFinder.get();
    if (finder && seekPicture(finder, time) == FrameReady) {
        stripView->showPicture(frameView(finder), sampleAspectRatio(finder));
        // Files without presentation times (AVI with reordered pictures) may
        // time a picture differently once the reader has jumped.
        const bool exact = std::abs(currentPictureTime(finder) - time) < 1e-3;
        // A key picture the strips hold too (not past where a stopped run got).
        const std::vector<double> &times = analysisState.pictureTimes;
        if (index < 0 && !times.empty() && time <= times.back() + 1e-3)
            index = nearestPicture(times, time);
        markShown(index, time);
        ui->statusBar->showMessage(
            name + (exact ? QStringLiteral(".")
                          : QStringLiteral(" (the file's times are unsure: shown is the next "
                                           "picture found).")),
            0);
        return;
    }
    // A reader that has ended cannot seek again: the next click opens another.
    windowRun.pictureFinder.reset();
    ui->statusBar->showMessage(name + QStringLiteral(" could not be read."), 0);
}
