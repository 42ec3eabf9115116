// How far through the video a run is, as a progress bar at the right of the
// status bar, beside the picture count. Hidden until the first run starts.
#pragma once

#include <QObject>

#include <cstdint>

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
    // After each picture of source.
    void pictureShown(const FrameSource *source);
    // The video has ended: 100%.
    void videoEnded();

private:
    QProgressBar *m_bar; // child of the status bar
};
