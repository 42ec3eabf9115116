// The whole film at a glance, below the strips: its pictures squeezed into
// columns, its average colour, the cuts found and a time axis, resampled by
// time to the panel's width. First from the key pictures as they are read
// (see OverviewRun), then, once the window's run has read every picture,
// from its exact measurements. It keeps what it shows, so that a resize
// redraws at once without reading the video again. Hovering tells the
// picture under the pointer; a click on one is passed on as pictureClicked.
#pragma once

#include "analysis/strip.h"

#include <QImage>
#include <QString>
#include <QWidget>

#include <vector>

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

private:
    // Draws the strips at the panel's width from what is kept.
    void render();
    double start() const;
    double end() const;
    double xOf(double time) const;
    // The picture nearest in time to pixel x's centre; -1 where nothing is
    // drawn.
    int pictureAt(int x) const;
    QString pictureName(int index) const;
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
};
