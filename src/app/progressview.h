// How far through the video a run is, as a progress bar at the right of the
// status bar, beside the picture count, and the run's figures beside it
// (time taken, pictures a second, time left). Hidden until the first run
// starts.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <cstdint>

class QLabel;
class QProgressBar;
class QStatusBar;
class QWidget;
struct FrameSource;

// Percent (0..100) of the video read: from the picture's time and the
// stream's duration when both are known, otherwise from the read position and
// the file size; -1 when neither pair is known. Never 100: that is for the end.
int progressPercent(double pictureTime, double duration, int64_t position, int64_t size);

class ProgressView : public QObject
{
    Q_OBJECT

public:
    // Adds the bar to statusBar; parent is the main window.
    ProgressView(QStatusBar *statusBar, QWidget *parent);

    // A run has started: the bar shows, at 0.
    void runStarted();
    // The start failed: no run, no bar.
    void runFailed();
    // After a tick's pictures of source: pictures recorded so far.
    void pictureShown(const FrameSource *source, int64_t pictures);
    // The video has ended, pictures recorded: 100%, and nothing left.
    void videoEnded(int64_t pictures);

    // "0:05  283.1 pictures/s  0:12 left"; the time left only while the
    // fraction (0..1) is known and above 0, the rate only after some time.
    static QString figures(int64_t pictures, double fraction, double elapsedSeconds);

private:
    QProgressBar *m_bar;          // child of the status bar
    QLabel *m_figures;            // child of the status bar
    QElapsedTimer m_clock;        // since the run started
    QElapsedTimer m_sinceFigures; // since the figures were last shown
};
