// Films side by side: one row per video, its strips stacked under each other
// and its name at the left.
#pragma once

#include <QImage>
#include <QList>
#include <QString>

struct ComparisonRow {
    QString name;         // drawn as given
    QList<QImage> strips; // top to bottom; none for a video without strips
};

// Gap between two videos' rows, in pixels.
constexpr int comparisonGap = 4;

// rows, each rowHeight pixels high and width strip columns wide after a label
// column that fits the longest name (within reason), on a dark ground. A
// strip of another size than its place is scaled into it. Text needs a
// QGuiApplication. Null when the image would be larger than
// Strip::largestPixels, or its memory cannot be had.
QImage comparisonImage(const QList<ComparisonRow> &rows, int width, int rowHeight);
