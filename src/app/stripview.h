// What the window shows of a run: the five strips and the preview. While a
// run goes on it hands the labels images already scaled to their size, at
// most about 30 times a second, so a picture costs the same at the end of a
// feature film as at its start; after a run or a stop they show the exact
// smooth scaling of the whole strips. The preview keeps the picture's own
// shape. Hovering a strip tells which picture a column is; a click on one
// is passed on as pictureClicked. A playhead marks the picture shown.
#pragma once

#include "analysis/strip.h"

#include <QElapsedTimer>
#include <QImage>
#include <QObject>
#include <QString>

#include <array>
#include <utility>
#include <vector>

class PlayheadLine;
class QLabel;
class QWidget;
struct MainWindowForm;

// "Picture 12 at 0:01:02.345": a picture's number (from 1) and its time in
// seconds (h:mm:ss.mmm), "Picture 12" alone when the time is unknown (negative).
QString pictureText(int number, double time);

class StripView : public QObject
{
    Q_OBJECT

public:
    // Shows strips (which outlive the view) in form's labels, with times
    // holding each strip column's picture time; parent is the main window.
    StripView(const StripSet *strips, const std::vector<double> *times, MainWindowForm *form,
              QWidget *parent);

    // The first picture of a run has replaced the strips of the run before;
    // its pictures' pixels are sampleAspect times as wide as high.
    void beginRun(const QString &videoPath, double sampleAspect = 1.0);
    // After a picture was recorded: caps the labels and, when due, redraws
    // them and the preview from frame.
    void addPicture(const QImage &frame);
    // The run has ended or stopped: redraws everything exactly, now; frame,
    // when given and not null, becomes the preview.
    void refresh(const QImage *frame = nullptr);
    // Shows picture (copied) in the preview, its pixels sampleAspect times as
    // wide as high; the strips stay as they are.
    void showPicture(const QImage &picture, double sampleAspect);

    // Marks picture index (from 0) on every strip; -1 marks none. A run's
    // redraws mark its newest picture, its end and a stop the last one.
    void setPlayhead(int index);
    int playhead() const { return m_playhead; }

    const StripSet &strips() const { return *m_strips; }
    // The video the shown strips were drawn from; null before the first picture.
    const QString &videoPath() const { return m_videoPath; }

signals:
    // A strip was clicked on the column of picture index (from 0).
    void pictureClicked(int index);
    // The playhead moved to picture index (-1: none).
    void playheadMoved(int index);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // The strips in display order beside the labels that show them.
    std::array<std::pair<const Strip *, QLabel *>, 5> shownStrips() const;
    int stripIndexOf(const QObject *label) const;
    void showPreview(const QImage &frame);
    // Gives the preview margins that leave the picture's shape inside them.
    void fitPreview();
    void showStrip(int which);
    void recap();
    // The picture under x in strip which's label as it is drawn; -1 if none.
    int pictureAt(int which, int x) const;
    bool showToolTip(int which, QEvent *event);
    // Puts the playhead's lines where the marked picture is drawn.
    void placePlayhead();

    const StripSet *m_strips;
    const std::vector<double> *m_times;
    MainWindowForm *m_form;
    QString m_videoPath;
    QElapsedTimer m_sinceShown;
    // No run adds to the strips: they are shown exactly.
    bool m_exact = true;
    // Strip columns in each label's image when it was drawn.
    std::array<int, 5> m_drawnColumns{};
    // Of the run's pictures, and of the picture in the preview.
    double m_runSampleAspect = 1.0;
    double m_previewAspect = 0.0; // width over height as displayed; 0: nothing shown
    // The preview's picture while no run is going, for redrawing it at a new size.
    QImage m_previewPicture;
    std::array<PlayheadLine *, 5> m_lines{}; // children of the strips' labels
    int m_playhead = -1;
};
