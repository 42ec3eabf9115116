// The one window. It holds only its form and its views; the state of a run is
// the module-level analysisState and windowRun that its slots share.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QStringList>

#include <memory>

class ExportDialog;
class FilmOverview;
class OverviewRun;
class ProgressView;
class QLabel;
class QAction;
struct VideoExport;
class StripView;
class VideoRun;
struct MainWindowForm;

class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // The form, for code that reaches widgets by their object names.
    MainWindowForm *form() const { return ui.get(); }
    // Starts a run on path as if it had been chosen in the file dialog.
    void startRun(const QString &path);
    // Starts a run on the file the command line names, once the event loop
    // runs: arguments are the program's (Qt's own options already taken), the
    // first after the program's name is the file (after --full-speed, which
    // reads at full speed), the rest is ignored.
    void startFromArguments(const QStringList &arguments);
    // Whether a run is going on (the toggle reads "Stop Analysis").
    bool isRunning() const;

    // The strips on screen and the video they belong to.
    const StripView *strips() const { return stripView; }

protected:
    void changeEvent(QEvent *event) override;

private slots:
    // The order fixes the meta-object indices 0..3.
    void on_pushButton_clicked();
    void on_saveButton_clicked();
    void on_pushButton_2_clicked();
    void timerDone();

private:
    // The toggle's text and the enabled states of skip and save, from windowRun.
    void updateControls();
    // The resets every Start makes before it asks for a file.
    void prepareRun();
    // Stops the ticks (a press of Stop or the video's end); closes nothing.
    void stopRun();
    // Opens path and starts the timer, or reports the failure.
    void openRun(const QString &path);
    // The file dialog: the chosen path, null when cancelled.
    QString askForVideo();
    // Stop pressed: stops the ticks and shows what the run measured.
    void stopAndShow();
    // Shows picture index (from 0) of the shown strips in the preview.
    void showPicture(int index);
    void addShortcuts();

    std::unique_ptr<MainWindowForm> ui;
    StripView *stripView;       // child of the window
    ProgressView *progressView; // child of the window
    QLabel *startHint;          // how to begin, over the preview until a run starts

    // The menu bar (windowmenus.cpp).
public:
    // View > Full Speed: stored in windowRun.fullSpeed, the action kept in step.
    void setFullSpeed(bool on);
    QAction *fullSpeedAction() const { return fullSpeedToggle; }

protected:
    // Cancels an export and waits for its thread.
    void closeEvent(QCloseEvent *event) override;

private:
    void addMenus();
    // File > Export...: one dialog at a time, on the window's video.
    void openExport();
    // The status bar names the files written; a box says what failed and why.
    // fromWindowRun: drawn from the window's own measurements.
    void reportExport(const QString &video, const VideoExport &outcome, bool fromWindowRun);

    QAction *fullSpeedToggle = nullptr;  // child of the window
    QPointer<ExportDialog> exportDialog; // child of the window, while open

public:
    // The whole film below the strips.
    FilmOverview *overview() const { return filmOverview; }

private:
    // Puts the film overview below the strips.
    void addOverview();
    // Empties the overview and, for a path, starts reading its key pictures.
    void startOverview(const QString &path);
    // The run has read every picture: the overview shows its measurements.
    void showExactOverview(VideoRun *run);
    // Shows the picture at time (as a run recorded it) in the preview, names
    // it in the status bar and marks it: index in the strips, -1 when not
    // known.
    void showPictureAt(double time, const QString &name, int index = -1);

    FilmOverview *filmOverview; // child of the window

    // The playhead (windowplayhead.cpp).
    void addPlayhead();
    // Left and Right: shows the next or previous picture, or one a second
    // away, of the strips on screen.
    void stepPicture(int direction, bool bySecond);
    // The strips mark picture index (-1: none of theirs), the overview time.
    void markShown(int index, double time);
    // Stopped and joined with the window, before its children go.
    std::unique_ptr<OverviewRun> overviewRun;
};
