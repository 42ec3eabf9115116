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

// Which files are asked for.
struct OutputChoice {
    QList<StripKind> kinds = savedStripKinds();
    StripLayout layout;   // format and size; its span is the run's own
    bool colours = false; // -colours.csv: a row a picture
    bool shots = false;   // -shots.csv: a row a shot
    bool crop = false;    // -crop.txt: the rectangle measured, as "crop=W:H:X:Y"
};

// "-colours.csv", "-shots.csv" and "-crop.txt": appended like the strips'
// suffixes.
QString csvSuffix();
QString shotsSuffix();
QString cropSuffix();

// The files choice asks for, named base + suffix: the strips in their
// order, then the CSVs and the crop.
QStringList outputNames(const QString &base, const OutputChoice &choice);

// Writes them from a finished run (state and what finish() gave), each as
// writeFileAtomically does: a strip that holds nothing writes no file and is
// no failure. Returns the files that could not be written; the others are
// written all the same.
QList<WriteFailure> writeOutputs(const QString &base, const OutputChoice &choice,
                                 const AnalysisState &state, const RunResult &result);
