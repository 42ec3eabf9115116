// The files a run writes for one video, in one table: each file's suffix,
// the choice that asks for it and its writer. Writing, finding files that
// are up to date, the clash checks and the report all read the list here.
#pragma once

#include "analysis/analysisstate.h"
#include "analysis/videorun.h"
#include "export/stripexport.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

// How pictures become RGB: Default is the fast conversion the window uses;
// Exact rounds accurately (see FrameSourceOptions::exactColours).
enum class ColourConversion { Default, Exact };
// "default" and "exact", as --colour takes them.
QString colourConversionText(ColourConversion conversion);
std::optional<ColourConversion> parseColourConversion(const QString &text);

// Which files are asked for, and the run settings that shape them.
struct OutputChoice {
    QList<StripKind> kinds = savedStripKinds();
    StripLayout layout;   // format and size; its span is the run's own
    bool colours = false; // -colours.csv: a row a picture
    bool shots = false;   // -shots.csv: a row a shot
    Sampling sampling;
    Crop crop;           // any but None also writes -crop.txt, "crop=W:H:X:Y"
    bool record = false; // .reelmeter.json: what the files were made from
    ColourConversion colour = ColourConversion::Default;
};

// The run options that gather what choice writes (its sampling and crop,
// and only the measurements its files need).
RunOptions runOptionsFor(const OutputChoice &choice);

// A video file as it was when read: its size and modification time.
struct VideoStamp {
    int64_t size = 0;
    int64_t seconds = 0;
    int64_t nanoseconds = 0;
    bool operator==(const VideoStamp &) const = default;
};
// Nothing when path cannot be looked up.
std::optional<VideoStamp> videoStamp(const QString &path);

// "-colours.csv", "-shots.csv" and "-crop.txt": appended like the strips'
// suffixes.
QString csvSuffix();
QString shotsSuffix();
QString cropSuffix();
// ".reelmeter.json": the record of the video and settings the files were
// made from, written last.
QString recordSuffix();

// The files choice asks for, named base + suffix: the strips in their
// order, then the CSVs and the crop.
QStringList outputNames(const QString &base, const OutputChoice &choice);

// Writes them from a finished run (state and what finish() gave), each as
// writeFileAtomically does: a strip that holds nothing writes no file and is
// no failure. Returns the files that could not be written; the others are
// written all the same. The record goes first and comes back last, only
// when every other file was written and video (as it was before the run) is
// known, so that it never vouches for files of another run.
QList<WriteFailure> writeOutputs(const QString &base, const OutputChoice &choice,
                                 const AnalysisState &state, const RunResult &result,
                                 const std::optional<VideoStamp> &video = std::nullopt);

// True when base's record says its files were made from video as it is now
// with the settings of choice, and each file choice asks for is a regular
// file (not a link to one), not empty and readable.
bool outputsAreCurrent(const QString &videoPath, const QString &base, const OutputChoice &choice);
