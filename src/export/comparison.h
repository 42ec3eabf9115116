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
#include <optional>

struct ComparisonRow {
    QString name;         // drawn as given
    QList<QImage> strips; // top to bottom; none for a video without strips
    double seconds = -1;  // the video's duration, shown after its name; negative: unknown
};

// How long each row's strips are drawn: all the width, or in proportion to
// their videos' durations (the longest the width; a row of unknown
// duration the width).
enum class ComparisonScale { Width, Time };
// "width" or "time", as --compare-scale takes it.
std::optional<ComparisonScale> parseComparisonScale(const QString &text);

// What each strip of a row shows, top to bottom, for the sheet's legend.
QString comparisonLegend(const QList<StripKind> &kinds);

// Gap between two videos' rows, in pixels.
constexpr int comparisonGap = 4;

// rows, each rowHeight pixels high and width strip columns wide (or less, as
// scale says) after a label column that fits the longest name and duration
// (within reason), on a dark ground, with legend (none when empty) under
// them. A strip of another size than its place is scaled into it. Text needs
// a QGuiApplication. Null when the image would be larger than
// Strip::largestPixels, or its memory cannot be had.
QImage comparisonImage(const QList<ComparisonRow> &rows, int width, int rowHeight,
                       ComparisonScale scale = ComparisonScale::Width,
                       const QString &legend = QString());

// The format of a comparison file from its extension: png, jpg (also for
// .jpeg) or bmp; empty for any other.
QString comparisonFormat(const QString &fileName);

// Writes the comparisonImage of videos, a row each, from the strip files
// choice writes (under outputDir when not empty) as they are now: written by
// this run or found up to date; a video without hasStrips gets an empty row.
// Each row shows its video's duration as the file says it. The format is the
// one fileName's extension names; false with the reason in why.
bool writeComparison(const QString &fileName, const QStringList &videos,
                     const std::function<bool(qsizetype)> &hasStrips, const OutputChoice &choice,
                     const QString &outputDir, QString *why,
                     ComparisonScale scale = ComparisonScale::Width);

// The application of a tool without a display: a QCoreApplication, or when
// it draws text, a QGuiApplication on the offscreen platform that keeps the
// platform's start-up notes to itself.
std::unique_ptr<QCoreApplication> displayFreeApplication(int &argc, char **argv, bool drawsText);
