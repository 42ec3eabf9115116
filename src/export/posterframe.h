// A poster made to hang or print: a title above the strip and a time axis
// under it, drawn in DejaVu Sans (Debian's fonts-dejavu-core).
#pragma once

#include "analysis/poster.h"

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QString>

#include <vector>

// The column of a strip columns wide over span whose time span holds t: a
// poster's equal parts of the time from the first picture to the end, or
// with columns 0, one column per picture (from its time to the next one's).
int axisColumn(const PictureSpan &span, int columns, double t);

struct AxisMark {
    int column;
    double seconds;
};

// The ticks of an axis under a strip columns wide (0: one per picture) over
// span: multiples of a readable step (see axisStep) at least leastSpacing
// pixels apart, from the first picture's time to before the end.
std::vector<AxisMark> axisMarks(const PictureSpan &span, int columns, double leastSpacing);

// Rows a title and an axis add above and below a strip of that width.
int titleRows(int width);
int axisRows(int width);

// strip with title (none when empty) above and, when axis, the time axis of
// span under it, on a dark ground; a title wider than the strip is cut short
// with an ellipsis. Text needs a QGuiApplication. Null when the memory
// cannot be had.
QImage framedPoster(const QImage &strip, const PictureSpan &span, int columns, bool axis,
                    const QString &title);

// The poster's dark ground.
QColor posterGround();

// Draws title (none when empty) above a strip from stripTop to stripBottom
// and, when axis, the time axis of span under it, on a poster width pixels
// wide whose strip columns are columnWidth pixels each (painted in any
// device's pixels: an image or a PDF page).
void drawPosterFrame(QPainter &painter, int width, int stripTop, int stripBottom,
                     const PictureSpan &span, int columns, double columnWidth, bool axis,
                     const QString &title);
