// The whole film at a glance, below the strips: its pictures squeezed into
// columns, its average colour, the cuts found and a time axis, resampled by
// time to the panel's width. First from the key pictures as they are read
// (see OverviewRun), then, once the window's run has read every picture,
// from its exact measurements. It keeps what it shows, so that a resize
// redraws at once without reading the video again. Hovering tells the
// picture under the pointer; a click on one is passed on as pictureClicked.
// A playhead marks the picture shown. The wheel zooms in, down to a column
// a picture: there the columns come from the window's run as far as it has
// read (its squeezed pictures, kept anyway), from the key pictures beyond.
#pragma once

#include "analysis/strip.h"

#include <QImage>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <span>
#include <vector>

struct AnalysisState;
struct OverviewBatch;

class FilmOverview : public QWidget
{
    Q_OBJECT

public:
    // Rows each picture is squeezed into, by either run.
    static constexpr int framesRows = 48;

    explicit FilmOverview(QWidget *parent = nullptr);

    // Empties the panel for videoPath's film (null: none).
    void clear(const QString &videoPath = QString());
    // Key pictures read; once the exact measurements are shown only the
    // last batch's cuts are taken.
    void addKeyPictures(const OverviewBatch &batch);
    // The window's run has read every picture: frames (framesRows bands) and
    // average hold a column for each, times are their places in time
    // (increasing) and end where the last one ends.
    void showExact(const Strip &frames, const Strip &average, std::vector<double> times,
                   double end);

    // The window's run of this film records into state (null: it has
    // stopped, and what it measured is kept for the zoomed panel).
    void followRun(const AnalysisState *state);
    // Marks the picture at time (seconds; negative: none).
    void setPlayhead(double time);
    double playhead() const { return m_playhead; }
    // The part of the film drawn across the panel, in seconds.
    double viewStart() const;
    double viewEnd() const;
    bool isZoomed() const { return m_viewSpan > 0; }
    // The time at x pixels from the panel's left edge, as drawn.
    double timeAt(double x) const;

    const QString &videoPath() const { return m_videoPath; }
    // The whole film is shown: its key pictures all read, or every picture.
    bool isComplete() const { return m_exact || m_keysDone; }
    bool isExact() const { return m_exact; }
    int pictureCount() const { return int(m_times.size()); }
    const std::vector<double> &cuts() const { return m_cuts; }
    // Where the squeezed pictures and the average colour are drawn.
    QRect framesArea() const;
    QRect averageArea() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    // The picture at time was clicked; number counts from 1, 0 for a key
    // picture (whose number is not known).
    void pictureClicked(double time, int number);

protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;

private:
    // Pictures drawn: their strips and times, numbered from 1 when exact.
    struct Pictures {
        const Strip *frames;
        const Strip *average;
        std::span<const double> times;
        bool exact;
    };

    // Draws the strips at the panel's width from what is kept.
    void render();
    // The same for a part of the film, from both runs.
    void renderZoomed();
    double start() const;
    double end() const;
    double xOf(double time) const;
    // The pictures the column at time is drawn from.
    Pictures picturesAt(double time) const;
    // Pictures of the window's run that can be drawn, and until when.
    int runCount() const;
    double runFront() const;
    // Seconds between two pictures, as the window's run measures them.
    double pictureInterval() const;
    // Takes the run's new picture times.
    void syncRun();
    // Shows span seconds from start, within the film; the whole film when
    // that is no smaller.
    void setView(double start, double span);
    // The picture nearest in time to pixel x's centre, in what is drawn
    // there; -1 where nothing is drawn.
    int pictureAt(int x, Pictures *pictures) const;
    int axisTop() const;

    QString m_videoPath;
    Strip m_frames{framesRows, 1};
    Strip m_average{1, 1};
    std::vector<double> m_times; // increasing
    double m_duration = -1;      // where the video ends, as its file says
    double m_end = 0;            // where the last picture ends, once known
    bool m_keysDone = false;
    bool m_exact = false;
    std::vector<double> m_cuts;
    QImage m_framesImage;
    QImage m_averageImage;
    int m_filled = 0; // columns drawn from the left

    double m_playhead = -1;
    // Zoomed: the part drawn; m_viewSpan 0 stands for the whole film.
    double m_viewStart = 0;
    double m_viewSpan = 0;
    // The window's run: its state while it goes, its times placed in order,
    // its strips once it has stopped.
    const AnalysisState *m_live = nullptr;
    std::vector<double> m_runTimes;
    Strip m_runFrames{framesRows, 1};
    Strip m_runAverage{1, 1};
    // A zoomed panel follows the run a few times a second.
    QTimer m_follow;
};
