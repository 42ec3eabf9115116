// Films side by side: one row per video, its strips stacked under each other
// and its name at the left.
#pragma once

#include "export/outputs.h"

#include <QCoreApplication>
#include <QImage>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

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

// The format of a comparison file from its extension: png, jpg (also for
// .jpeg) or bmp; empty for any other.
QString comparisonFormat(const QString &fileName);

// Writes the comparisonImage of videos, a row each, from the strip files
// choice writes (under outputDir when not empty) as they are now: written by
// this run or found up to date; a video without hasStrips gets an empty row.
// The format is the one fileName's extension names; false with the reason in
// why.
bool writeComparison(const QString &fileName, const QStringList &videos,
                     const std::function<bool(qsizetype)> &hasStrips, const OutputChoice &choice,
                     const QString &outputDir, QString *why);

// The application of a tool without a display: a QCoreApplication, or when
// it draws text, a QGuiApplication on the offscreen platform that keeps the
// platform's start-up notes to itself.
std::unique_ptr<QCoreApplication> displayFreeApplication(int &argc, char **argv, bool drawsText);
