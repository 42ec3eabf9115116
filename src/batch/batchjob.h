// What reelmeter-batch does with one video, and the pieces of its command line
// that need more than QCommandLineParser.
#pragma once

#include "analysis/videorun.h"
#include "batch/runreport.h"
#include "export/outputs.h"
#include "export/stripexport.h"
#include "video/framesource.h"

#include <QList>
#include <QString>

#include <optional>
#include <utility>

class ProgressReport;

struct BatchOptions {
    QList<StripKind> kinds = savedStripKinds();
    bool csv = false;
    QString outputDir;  // empty: next to each video
    StripLayout layout; // format and size; its span is each video's own
    Sampling sampling;
    int64_t maxPixels = defaultMaxPixels; // larger pictures are refused
    bool skipExisting = false;            // leave videos whose files are up to date
    bool shots = false;                   // write VIDEO-shots.csv
    Crop crop;                            // the part of each picture measured
};

// "all", "key" or a decimal number of seconds above 0; nothing otherwise.
std::optional<Sampling> parseSampling(const QString &text);

// "none", "auto" or "W:H:X:Y" (whole numbers up to 2^20, width and height at
// least 1); nothing otherwise.
std::optional<Crop> parseCrop(const QString &text);

// "average,quadrant,..." or "all" to kinds in the order given, each once;
// nothing for an empty list or an unknown name.
std::optional<QList<StripKind>> parseStripKinds(const QString &list);
// The name --strips knows kind by.
QString stripName(StripKind kind);

// The largest strips the tool draws: a side of 2^20 and 2^28 pixels (1 GiB).
constexpr int largestStripSide = 1 << 20;
constexpr int64_t largestStripPixels = Strip::largestPixels;
// The first of kinds whose strip layout makes larger than largestStripPixels;
// nothing when all fit or the width is one column per picture.
std::optional<StripKind> oversizedStrip(const QList<StripKind> &kinds, const StripLayout &layout);

// The path the output names are made from: the video path itself, or the
// video's file name in outputDir.
QString outputBase(const QString &videoPath, const QString &outputDir);

// The first two videos, different files, whose outputs would have the same
// names (under one outputDir, the same file name); nothing when all differ.
std::optional<std::pair<QString, QString>> clashingOutputs(const QStringList &videos,
                                                           const QString &outputDir);

// The first video that would be overwritten by a file the run writes (its
// own, another video's or one of others, such as the comparison): the same
// absolute clean path, or for files that exist, the same file reached another
// way. Nothing when there is none.
std::optional<QString> videoAmongOutputs(const QStringList &videos, const BatchOptions &options,
                                         const QStringList &others = {});
// The first of the files the run writes for videos, and of others, that is
// file (the same absolute clean path, or the same existing file reached
// another way); nothing when none is.
std::optional<QString> writtenAmong(const QString &file, const QStringList &videos,
                                    const BatchOptions &options, const QStringList &others = {});

// What options ask to be written of each video.
OutputChoice outputChoice(const BatchOptions &options);

// The files options ask for from videoPath: the strips in their order, then
// the CSVs and the crop.
QStringList outputFiles(const QString &videoPath, const BatchOptions &options);

// True when every file options ask for from videoPath is a regular file (not
// a link to one), not empty, readable, and not older than the video.
bool outputsAreCurrent(const QString &videoPath, const BatchOptions &options);

// Reads videoPath and writes its files, reporting progress and every failure
// ("reelmeter-batch: PATH: REASON") to report. A video that cannot be read,
// or whose pictures do not hold the crop asked for (a usage error), writes
// nothing. With options.skipExisting, a video whose files are current is
// skipped unread.
VideoOutcome processVideo(const QString &videoPath, const BatchOptions &options,
                          ProgressReport &report);
