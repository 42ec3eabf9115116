// The window's menu bar and what its actions open: the export dialog, the
// about and keys boxes.
#include "app/exportdialog.h"
#include "app/mainwindow.h"
#include "app/mainwindowform.h"
#include "app/stripview.h"
#include "app/versionsdialog.h"
#include "app/windowrun.h"
#include "video/videolibrary.h"

#include <QAction>
#include <QCloseEvent>
#include <QEvent>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>

namespace {

// Keeps an action enabled exactly when a widget is, so a menu item and its
// shortcut follow the button they stand for.
class EnabledFollower : public QObject
{
public:
    EnabledFollower(QWidget *widget, QAction *action) : QObject(action), m_action(action)
    {
        widget->installEventFilter(this);
        action->setEnabled(widget->isEnabled());
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::EnabledChange)
            m_action->setEnabled(static_cast<QWidget *>(watched)->isEnabled());
        return false;
    }

private:
    QAction *m_action;
};

QAction *menuAction(QMenu *menu, const QString &name, const QString &text,
                    const QKeySequence &keys = {})
{
    QAction *action = menu->addAction(text);
    action->setObjectName(name);
    action->setShortcut(keys);
    return action;
}

} // namespace

void MainWindow::addMenus()
{
    QMenu *file = menuBar()->addMenu(tr("&File"));
    connect(menuAction(file, QStringLiteral("actionOpen"), tr("&Open..."),
                       QKeySequence(Qt::CTRL | Qt::Key_O)),
            &QAction::triggered, this, [this] {
                if (!isRunning())
                    on_pushButton_2_clicked();
            });
    connect(menuAction(file, QStringLiteral("actionExport"), tr("&Export..."),
                       QKeySequence(Qt::CTRL | Qt::Key_E)),
            &QAction::triggered, this, &MainWindow::openExport);
    connect(menuAction(file, QStringLiteral("actionCompareVersions"), tr("Compare &Versions...")),
            &QAction::triggered, this, [this] {
                if (auto *open = findChild<VersionsDialog *>()) {
                    open->raise();
                    open->activateWindow();
                    return;
                }
                QString video = stripView->videoPath();
                if (video.isEmpty())
                    video = windowRun.videoPath;
                auto *dialog = new VersionsDialog(video, this);
                dialog->setAttribute(Qt::WA_DeleteOnClose);
                dialog->show();
            });
    QAction *save = menuAction(file, QStringLiteral("actionSave"), tr("&Save Strips"),
                               QKeySequence(Qt::CTRL | Qt::Key_S));
    new EnabledFollower(ui->saveButton, save);
    connect(save, &QAction::triggered, this, [this] {
        if (ui->saveButton->isEnabled())
            on_saveButton_clicked();
    });
    // Skipped packets leave pictures out of the run's measurements.
    connect(ui->pushButton, &QPushButton::clicked, this, [] {
        if (windowRun.run)
            windowRun.packetsSkipped = true;
    });
    file->addSeparator();
    connect(menuAction(file, QStringLiteral("actionQuit"), tr("&Quit"),
                       QKeySequence(Qt::CTRL | Qt::Key_Q)),
            &QAction::triggered, this, &QWidget::close);

    QMenu *view = menuBar()->addMenu(tr("&View"));
    fullSpeedToggle = menuAction(view, QStringLiteral("actionFullSpeed"), tr("&Full Speed"));
    fullSpeedToggle->setCheckable(true);
    fullSpeedToggle->setChecked(windowRun.fullSpeed);
    connect(fullSpeedToggle, &QAction::toggled, this, &MainWindow::setFullSpeed);

    QMenu *help = menuBar()->addMenu(tr("&Help"));
    connect(menuAction(help, QStringLiteral("actionAbout"), tr("&About Reelmeter")),
            &QAction::triggered, this, [this] {
                QMessageBox::about(this, tr("About Reelmeter"),
                                   tr("Reelmeter %1\nColour strips of videos.\n\nFFmpeg %2\nQt %3")
                                       .arg(QStringLiteral(REELMETER_VERSION),
                                            QString::fromStdString(ffmpegVersion()),
                                            QString::fromLatin1(qVersion())));
            });
    connect(menuAction(help, QStringLiteral("actionKeys"), tr("&Keys")), &QAction::triggered, this,
            [this] {
                QMessageBox::information(
                    this, tr("Keys"),
                    tr("Ctrl+O\tOpen a video and start a run (when none goes on)\n"
                       "Escape\tStop the run\n"
                       "Left, Right\tShow the picture before or after (after a run or a stop)\n"
                       "Shift+Left, Shift+Right\tShow the picture a second before or after\n"
                       "Ctrl+S\tSave the strips next to the video\n"
                       "Ctrl+E\tExport strips and CSV files\n"
                       "Ctrl+Q\tQuit"));
            });
}

void MainWindow::setFullSpeed(bool on)
{
    windowRun.fullSpeed = on;
    if (fullSpeedToggle && fullSpeedToggle->isChecked() != on)
        fullSpeedToggle->setChecked(on);
}

void MainWindow::openExport()
{
    if (exportDialog) {
        exportDialog->raise();
        exportDialog->activateWindow();
        return;
    }
    // The video of the strips shown, else the one chosen last.
    QString video = stripView->videoPath();
    if (video.isEmpty())
        video = windowRun.videoPath;
    exportDialog = new ExportDialog(video, this);
    exportDialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(exportDialog, &ExportDialog::exportEnded, this, &MainWindow::reportExport);
    connect(exportDialog, &ExportDialog::exportCancelled, this, [this](const QString &video) {
        ui->statusBar->showMessage(tr("Export of %1 cancelled: nothing written.").arg(video), 0);
    });
    // Not modal: the window stays usable while the export runs.
    exportDialog->show();
    exportDialog->activateWindow();
}

void MainWindow::reportExport(const QString &video, const VideoExport &outcome, bool fromWindowRun)
{
    if (!outcome.written.isEmpty())
        ui->statusBar->showMessage(
            (fromWindowRun ? tr("Written from the window's run: %1") : tr("Written: %1"))
                .arg(outcome.written.join(QStringLiteral(", "))),
            0);
    if (outcome.status == VideoExport::Written)
        return;
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Error"), QString(), QMessageBox::Ok,
                    this);
    if (outcome.status == VideoExport::Failed) {
        QStringList files;
        QStringList reasons;
        for (const WriteFailure &failure : outcome.failed) {
            files << failure.file;
            reasons << failure.file + QStringLiteral(": ") + failure.reason;
        }
        box.setText(tr("These files could not be written:\n%1").arg(files.join(QLatin1Char('\n'))));
        box.setInformativeText(reasons.join(QLatin1Char('\n')));
    } else {
        ui->statusBar->showMessage(tr("%1 could not be exported.").arg(video), 0);
        box.setText(tr("%1 could not be exported: nothing was written.").arg(video));
        box.setInformativeText(outcome.error);
    }
    box.exec();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    // Deleting the dialog cancels its export and joins the thread.
    delete exportDialog;
    QMainWindow::closeEvent(event);
}
